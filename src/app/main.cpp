#include "app/entry.hpp"

int main(int argc, char** argv) { return sonda::run_program(argc, argv); }
