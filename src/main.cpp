#include "app/program.h"

int main(int argc, char** argv) { return tovrel::app::RunProgram(argc, argv); }
