#pragma once

#include <string>

// The program's narrow texts (arguments, gateway data) are in the native
// encoding: UTF-8 on Linux, the ANSI code page on Windows. What goes to other
// programs (SOAP requests, JSON) is UTF-8.

// Native text as valid UTF-8; what cannot be read becomes U+FFFD.
std::string NativeToUtf8(const std::string& text);
// UTF-8 text in the native encoding.
std::string Utf8ToNative(const std::string& text);
