#include "support/text.h"

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <sstream>

namespace {

bool IsSpace(unsigned char c) { return c == ' ' || (c >= '\t' && c <= '\r'); }

} // namespace

std::string FormatString(const char* format, ...) {
    va_list args;
    va_start(args, format);
    va_list again;
    va_copy(again, args);
    const int needed = std::vsnprintf(nullptr, 0, format, args);
    va_end(args);
    if (needed < 0) {
        va_end(again);
        return std::string();
    }
    std::string buffer(static_cast<size_t>(needed) + 1, '\0');
    std::vsnprintf(&buffer[0], buffer.size(), format, again);
    va_end(again);
    // The formatter may have written a NUL of its own (a %c of 0): stop there.
    return std::string(buffer.c_str());
}

std::string Trim(const std::string& text) {
    size_t first = 0;
    while (first < text.size() && IsSpace(text[first]))
        ++first;
    size_t last = text.size();
    while (last > first && IsSpace(text[last - 1]))
        --last;
    return text.substr(first, last - first);
}

std::vector<std::string> Split(const std::string& text, const std::string& delimiters) {
    std::vector<std::string> pieces;
    size_t start = text.find_first_not_of(delimiters);
    while (start != std::string::npos) {
        const size_t end = text.find_first_of(delimiters, start);
        pieces.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        start = end == std::string::npos ? end : text.find_first_not_of(delimiters, end);
    }
    return pieces;
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        lines.push_back(std::move(line));
        start = end + 1;
    }
    return lines;
}

std::string SplitPair(std::string& line, const std::string& delimiters) {
    const size_t at = line.find_first_of(delimiters);
    if (at == std::string::npos) {
        std::string name;
        name.swap(line);
        return name;
    }
    std::string name = Trim(line.substr(0, at));
    line = Trim(line.substr(at + 1));
    return name;
}

int CompareNoCase(const char* a, const char* b) {
    const unsigned char* x = reinterpret_cast<const unsigned char*>(a);
    const unsigned char* y = reinterpret_cast<const unsigned char*>(b);
    for (;; ++x, ++y) {
        const int difference = std::toupper(*x) - std::toupper(*y);
        if (difference != 0 || *x == 0)
            return difference;
    }
}

int ReadInt(const std::string& text) {
    size_t at = 0;
    while (at < text.size() && IsSpace(text[at]))
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-'))
        negative = text[at++] == '-';
    long long value = 0;
    for (; at < text.size() && text[at] >= '0' && text[at] <= '9'; ++at) {
        value = value * 10 + (text[at] - '0');
        if (value > static_cast<long long>(INT_MAX) + 1)
            value = static_cast<long long>(INT_MAX) + 1; // saturate, keep reading digits
    }
    if (negative)
        return value > INT_MAX ? INT_MIN : static_cast<int>(-value);
    return value > INT_MAX ? INT_MAX : static_cast<int>(value);
}

std::string DecimalText(int value) {
    std::ostringstream stream;
    stream << value;
    return stream.str();
}

std::string MakeValidUtf8(const std::string& text) {
    static const char kReplacement[] = "\xEF\xBF\xBD";
    std::string valid;
    valid.reserve(text.size());
    const size_t size = text.size();
    for (size_t at = 0; at < size;) {
        const unsigned char lead = text[at];
        size_t length = 0;
        unsigned min = 0;
        if (lead < 0x80)
            length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = 2, min = 0x80;
        else if (lead >= 0xE0 && lead <= 0xEF)
            length = 3, min = 0x800;
        else if (lead >= 0xF0 && lead <= 0xF4)
            length = 4, min = 0x10000;
        bool ok = length > 0 && at + length <= size;
        unsigned code = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t i = 1; ok && i < length; ++i) {
            const unsigned char next = text[at + i];
            ok = (next & 0xC0) == 0x80;
            code = (code << 6) | (next & 0x3F);
        }
        // Overlong forms, surrogates and code points past U+10FFFF are invalid too.
        ok = ok && code >= min && code <= 0x10FFFF && !(code >= 0xD800 && code <= 0xDFFF);
        if (ok) {
            valid.append(text, at, length);
            at += length;
        } else {
            valid += kReplacement;
            ++at;
        }
    }
    return valid;
}
