// The update check's tests use the HTTP layer's scripted server; it is built into this test
// program as well rather than kept twice.
#include "http/scripted_server.cpp"  // NOLINT(bugprone-suspicious-include)
