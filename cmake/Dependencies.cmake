# Every outside library and program the build uses, found here and nowhere else. All come from Debian's
# packages (scripts/setup installs them; s3rver from npm).
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Test)
# The system keyring: Debian's qtkeychain-qt6-dev on Linux, the Windows kit's QtKeychain on Windows.
find_package(Qt6Keychain REQUIRED)
find_package(CURL REQUIRED)
find_package(pugixml REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsDependencies.cmake)
else()
  find_package(OpenSSL REQUIRED COMPONENTS Crypto)
endif()
find_package(ZLIB REQUIRED)

if(BUILD_TESTING)
  # The tests' own servers: the account service and the fault server (Python), s3rver (Node).
  find_package(Python3 REQUIRED COMPONENTS Interpreter)
  find_program(CORVANE_NODE node REQUIRED)
endif()
