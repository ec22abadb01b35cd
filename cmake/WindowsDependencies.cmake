# The Windows cross-build (scripts/windows) links the kit's static C libraries and has no OpenSSL:
# storage hashes with QtCore there. pkg-config must read the kit's .pc files (PKG_CONFIG_LIBDIR).
# PCRE2's headers declare DLL imports unless told that the library is static.
set_property(TARGET PkgConfig::PCRE2 APPEND PROPERTY INTERFACE_COMPILE_DEFINITIONS PCRE2_STATIC)
