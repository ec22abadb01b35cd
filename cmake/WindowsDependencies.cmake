# The Windows cross-build (scripts/windows) links the kit's static C libraries and has no OpenSSL:
# storage hashes with QtCore there. pkg-config must read the kit's .pc files (PKG_CONFIG_LIBDIR).
# PCRE2's headers declare DLL imports unless told that the library is static.
set_property(TARGET PkgConfig::PCRE2 APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS PCRE2_STATIC)
# zlib comes from Debian's libz-mingw-w64-dev (tools/windows/kit.sh installs it), which the cross
# toolchain's search root /usr/x86_64-w64-mingw32 holds; linked statically like the kit's libraries, so
# no zlib1.dll has to go beside corvane.exe.
set(ZLIB_USE_STATIC_LIBS ON)
