# Outside libraries, all from Debian's packages (scripts/setup installs them).
find_package(Qt6 6.4 REQUIRED COMPONENTS Core Gui Widgets Test)
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
find_package(CURL REQUIRED)
find_package(pugixml REQUIRED)
find_package(PkgConfig REQUIRED)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
