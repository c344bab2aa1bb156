#pragma once

namespace sonda {

// The whole run, from the argument vector to the exit status: 0 for a completed run (the
// version banner, a mode without action and an expired time limit included), 1 for a wrong
// argument count and for any unexpected failure, 2 when standard output cannot be flushed at a
// normal end. Every failure is caught here.
int run_program(int argc, char** argv);

}  // namespace sonda
