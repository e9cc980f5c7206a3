#include "app/program_start.h"

int main(int argc, char** argv) { return tovrel::app::StartProgram(argc, argv); }
