#pragma once

#include <string>

// Product name, product version and file version from a file's version
// resource; each stays empty when it cannot be read.
class cFileVersion {
  public:
    // An empty path reads the running executable.
    explicit cFileVersion(const std::string& path = std::string());

    // True when the version block was read and holds exactly one translation.
    bool Load(const std::string& path);
    // The value of `key` in the string table of `translation` (language in the
    // upper 16 bits, code page in the lower), or empty.
    static std::string QueryString(const void* block, unsigned long translation, const char* key);

    std::string productName;
    std::string productVersion;
    std::string fileVersion;
};

// The full path of the running executable.
std::string GetModulePath();
