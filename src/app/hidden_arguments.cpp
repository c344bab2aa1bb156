#include "app/hidden_arguments.hpp"

#include <cstring>

#include "app/run_settings.hpp"

namespace sonda {

void hide_password_arguments(int argc, char** argv) {
  if (argc - 1 != kFullFormArgumentCount) return;
  for (const int position : secret_positions()) {
    char* argument = argv[position];
    std::memset(argument, 0, std::strlen(argument));
  }
}

}  // namespace sonda
