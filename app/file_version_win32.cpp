#include "app/file_version_win32.h"

#include <cstring>
#include <vector>

#include <windows.h>

namespace {

constexpr const char* kTranslationBlock = "\\VarFileInfo\\Translation";
constexpr const char* kStringTemplate = "\\StringFileInfo\\%08lx\\%s";
// One language and code-page pair.
constexpr UINT kOneTranslation = 4;
constexpr int kSubBlockLimit = 256;

} // namespace

cFileVersion::cFileVersion(const std::string& path) {
    Load(path.empty() ? GetModulePath() : path);
}

bool cFileVersion::Load(const std::string& path) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(path.c_str(), &ignored);
    if (size == 0)
        return false;
    std::vector<char> block(size, '\0');
    if (!GetFileVersionInfoA(path.c_str(), 0, size, block.data()))
        return false;
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block.data(), kTranslationBlock, &value, &length))
        return false;
    if (length != kOneTranslation)
        return false;
    const WORD* pair = static_cast<const WORD*>(value);
    const unsigned long translation = (static_cast<unsigned long>(pair[0]) << 16) | pair[1];
    productName = QueryString(block.data(), translation, "ProductName");
    productVersion = QueryString(block.data(), translation, "ProductVersion");
    fileVersion = QueryString(block.data(), translation, "FileVersion");
    return true;
}

std::string cFileVersion::QueryString(const void* block, unsigned long translation,
                                      const char* key) {
    char subBlock[kSubBlockLimit];
    wsprintfA(subBlock, kStringTemplate, translation, key);
    void* value = nullptr;
    UINT length = 0;
    if (!VerQueryValueA(block, subBlock, &value, &length) || !value)
        return std::string();
    // The reported length may count the terminator; it is not part of the text.
    const char* text = static_cast<const char*>(value);
    return std::string(text, strnlen(text, length));
}

std::string GetModulePath() {
    char path[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
    return std::string(path, length);
}
