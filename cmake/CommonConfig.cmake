# Settings every target of the project shares: language level, warnings, Qt strictness.
set(CMAKE_CXX_STANDARD 20)
set(CMAKE_CXX_STANDARD_REQUIRED ON)
set(CMAKE_CXX_EXTENSIONS OFF)
set(CMAKE_AUTOMOC ON)
set(CMAKE_AUTOUIC ON)
set(CMAKE_EXPORT_COMPILE_COMMANDS ON)

find_program(CCACHE_PROGRAM ccache)
if(CCACHE_PROGRAM)
  set(CMAKE_CXX_COMPILER_LAUNCHER ${CCACHE_PROGRAM})
endif()

add_library(corvane_common INTERFACE)
# Includes name their layer: #include "storage/S3StorageService.h".
target_include_directories(corvane_common INTERFACE ${PROJECT_SOURCE_DIR}/src)
target_compile_options(corvane_common INTERFACE -Wall -Wextra -Wpedantic)
target_compile_definitions(corvane_common INTERFACE
  QT_NO_CAST_TO_ASCII
  QT_NO_URL_CAST_FROM_STRING
  QT_NO_NARROWING_CONVERSIONS_IN_CONNECT
  QT_USE_QSTRINGBUILDER)

# The product's own sources are held to Qt's strictest text rules (every conversion between bytes and
# text is spelled out) and to the warnings that catch C casts and hidden overloads, and a warning there
# fails the build. The tests keep the base set, as warnings: their data tables read better with plain
# literals.
add_library(corvane_strict INTERFACE)
target_compile_options(corvane_strict INTERFACE -Wold-style-cast -Woverloaded-virtual -Werror)
target_compile_definitions(corvane_strict INTERFACE QT_NO_CAST_FROM_ASCII QT_NO_CAST_FROM_BYTEARRAY)

# The sanitizer builds (presets asan and tsan): the first finding ends the program, so a test fails on it.
# Their instrumentation misleads GCC's flow analysis into false "may be used uninitialized" warnings (on a
# std::optional checked before use), so that warning is left to the plain builds.
option(CORVANE_SANITIZE "Build with AddressSanitizer and UndefinedBehaviorSanitizer" OFF)
option(CORVANE_SANITIZE_THREAD "Build with ThreadSanitizer" OFF)
if(CORVANE_SANITIZE AND CORVANE_SANITIZE_THREAD)
  message(FATAL_ERROR "ThreadSanitizer cannot be combined with AddressSanitizer: choose one")
endif()
if(CORVANE_SANITIZE OR CORVANE_SANITIZE_THREAD)
  target_compile_options(corvane_common INTERFACE $<$<CXX_COMPILER_ID:GNU>:-Wno-maybe-uninitialized>)
endif()
if(CORVANE_SANITIZE)
  target_compile_options(corvane_common INTERFACE
    -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
  target_link_options(corvane_common INTERFACE -fsanitize=address,undefined)
endif()
if(CORVANE_SANITIZE_THREAD)
  target_compile_options(corvane_common INTERFACE -fsanitize=thread -fno-omit-frame-pointer)
  target_link_options(corvane_common INTERFACE -fsanitize=thread)
endif()
