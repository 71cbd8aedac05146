#include "support/text_encoding.h"

#include <windows.h>

#include "support/text.h"

namespace {

// Through UTF-16; characters without a counterpart become the code page's
// default character.
std::string Convert(const std::string& text, UINT from, UINT to) {
    if (text.empty())
        return std::string();
    const int size = static_cast<int>(text.size());
    const int wideSize = MultiByteToWideChar(from, 0, text.data(), size, nullptr, 0);
    if (wideSize <= 0)
        return std::string();
    std::wstring wide(static_cast<size_t>(wideSize), L'\0');
    MultiByteToWideChar(from, 0, text.data(), size, &wide[0], wideSize);
    const int outSize =
        WideCharToMultiByte(to, 0, wide.data(), wideSize, nullptr, 0, nullptr, nullptr);
    if (outSize <= 0)
        return std::string();
    std::string out(static_cast<size_t>(outSize), '\0');
    WideCharToMultiByte(to, 0, wide.data(), wideSize, &out[0], outSize, nullptr, nullptr);
    return out;
}

} // namespace

std::string NativeToUtf8(const std::string& text) {
    return MakeValidUtf8(Convert(text, CP_ACP, CP_UTF8));
}

std::string Utf8ToNative(const std::string& text) {
    return Convert(text, CP_UTF8, CP_ACP);
}
