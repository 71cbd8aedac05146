#pragma once

#include <cstddef>
#include <string>

// The program's narrow texts (arguments, gateway data) are in the native
// encoding: UTF-8 on Linux, the ANSI code page on Windows. What goes to other
// programs (SOAP requests, JSON) is UTF-8.

// Native text as valid UTF-8; what cannot be read becomes U+FFFD.
std::string NativeToUtf8(const std::string& text);
// UTF-8 text in the native encoding.
std::string Utf8ToNative(const std::string& text);

// Text from the network made safe to show: unreadable bytes and control
// characters (C0, DEL, C1) become U+FFFD (or the code page's default
// character), so a hostile gateway cannot send escape sequences to a
// terminal. Past maxUtf8Bytes (when not 0) the text is cut at a character
// boundary and ends in "…".
std::string PrintableText(const std::string& text, std::size_t maxUtf8Bytes = 0);
