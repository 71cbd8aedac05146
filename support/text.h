#pragma once

#include <string>
#include <vector>

// Byte-string helpers for building request texts and taking apart the plain-text
// protocols. White space is the C locale's: tab, LF, VT, FF, CR and space.

#if defined(__GNUC__)
#define WENDREL_PRINTF(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define WENDREL_PRINTF(fmt, args)
#endif

std::string FormatString(const char* format, ...) WENDREL_PRINTF(1, 2);
std::string Trim(const std::string& text);
std::vector<std::string> Split(const std::string& text, const std::string& delimiters);
std::vector<std::string> SplitLines(const std::string& text);
// Cuts `line` at its first delimiter: returns the trimmed name and leaves the
// trimmed value in `line`. Without a delimiter the whole line is the name.
std::string SplitPair(std::string& line, const std::string& delimiters);
int CompareNoCase(const char* a, const char* b);

// atoi's reading (leading white space, optional sign, digits up to the first
// other byte, none gives 0), but saturating at INT_MIN / INT_MAX instead of
// overflowing, so an overlong port text can never wrap into the valid range.
int ReadInt(const std::string& text);
std::string DecimalText(int value);

// Replaces every byte sequence that is not valid UTF-8 with U+FFFD, so that
// text from the network can be handed to GTK or JSON without loss of the rest.
std::string MakeValidUtf8(const std::string& text);
