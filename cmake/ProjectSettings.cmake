# Options shared by every target of ours: warnings as errors and, on request, sanitizers.
add_library(sonda_settings INTERFACE)
target_compile_features(sonda_settings INTERFACE cxx_std_20)
target_compile_options(sonda_settings INTERFACE -Wall -Wextra -Wpedantic -Werror)

option(SONDA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(SONDA_SANITIZE)
  target_compile_options(sonda_settings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(sonda_settings INTERFACE -fsanitize=address,undefined)
endif()
