// The JSON sample-list reader as a processor without SSE2 compiles it, for the sample-list
// tests to run against that road too.
#undef __SSE2__
#include "protocols/json/sample_list.cpp"
