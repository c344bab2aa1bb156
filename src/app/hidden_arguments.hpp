#pragma once

namespace sonda {

// Overwrites, in this process's own argument memory, the arguments of the full form that carry
// a password, so that ps and /proc/PID/cmdline no longer show them. Call it once the settings
// hold their own copies. Other forms are left as they are.
void hide_password_arguments(int argc, char** argv);

}  // namespace sonda
