#include <cstddef>

#include "support/text_encoding.h"

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";
constexpr const char* kEllipsis = "\xE2\x80\xA6";

bool IsContinuation(unsigned char c) {
    return (c & 0xC0) == 0x80;
}

} // namespace

std::string PrintableText(const std::string& text, std::size_t maxUtf8Bytes) {
    const std::string valid = NativeToUtf8(text);
    std::string out;
    out.reserve(valid.size());
    for (std::size_t i = 0; i < valid.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(valid[i]);
        const bool c1 = c == 0xC2 && i + 1 < valid.size() &&
                        static_cast<unsigned char>(valid[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(valid[i + 1]) <= 0x9F;
        if (c < 0x20 || c == 0x7F) {
            out += kReplacement;
        } else if (c1) {
            out += kReplacement;
            ++i;
        } else {
            out += static_cast<char>(c);
        }
    }
    if (maxUtf8Bytes && out.size() > maxUtf8Bytes) {
        std::size_t cut = maxUtf8Bytes;
        while (cut > 0 && IsContinuation(static_cast<unsigned char>(out[cut])))
            --cut;
        out.resize(cut);
        out += kEllipsis;
    }
    return Utf8ToNative(out);
}
