#pragma once

// Debian's libcpp-httplib is built with these; the layout of httplib::Request
// depends on them, so every user must see the same declarations.
#define CPPHTTPLIB_OPENSSL_SUPPORT
#define CPPHTTPLIB_ZLIB_SUPPORT
#define CPPHTTPLIB_BROTLI_SUPPORT
#include <httplib.h>
