# libFuzzer entry points for the readers of outside input (tests/fuzz), built only with CORVANE_FUZZ=ON
# and clang: scripts/fuzz configures such a build in build/fuzz. The project's libraries are then
# instrumented for coverage and built with AddressSanitizer and UndefinedBehaviorSanitizer; any
# sanitizer report ends the run.
option(CORVANE_FUZZ "Build the libFuzzer entry points under tests/fuzz (clang only)" OFF)
if(CORVANE_FUZZ)
  if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "CORVANE_FUZZ needs clang: configure with -DCMAKE_CXX_COMPILER=clang++")
  endif()
  target_compile_options(corvane_common INTERFACE
    -fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(corvane_common INTERFACE -fsanitize=address,undefined)
  add_subdirectory(tests/fuzz)
endif()
