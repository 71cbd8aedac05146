#include "support/text_encoding.h"

#include "support/text.h"

std::string NativeToUtf8(const std::string& text) {
    return MakeValidUtf8(text);
}

std::string Utf8ToNative(const std::string& text) {
    return text;
}
