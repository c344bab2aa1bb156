# Options shared by every target of ours: C++20, warnings and, on request, warnings as errors
# (on in CI and in scripts/test.sh; off by default, so a newer compiler's new warning never
# stops someone building a release) and sanitizers.
add_library(sonda_settings INTERFACE)
target_compile_features(sonda_settings INTERFACE cxx_std_20)
target_compile_options(sonda_settings INTERFACE -Wall -Wextra -Wpedantic)

option(SONDA_WERROR "Treat compiler warnings as errors" OFF)
if(SONDA_WERROR)
  target_compile_options(sonda_settings INTERFACE -Werror)
endif()

option(SONDA_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
if(SONDA_SANITIZE)
  target_compile_options(sonda_settings INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(sonda_settings INTERFACE -fsanitize=address,undefined)
endif()
