#include "support/app_files.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include <windows.h>

namespace {

bool MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('\\', 3);; slash = path.find('\\', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (!CreateDirectoryA(prefix.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

} // namespace

std::string UserCacheDirectory() {
    const char* local = std::getenv("LOCALAPPDATA");
    return local && *local ? std::string(local) + "\\Wendrel" : std::string();
}

std::string JoinPath(const std::string& directory, const std::string& name) {
    return directory + "\\" + name;
}

bool ReadSmallFile(const std::string& path, std::size_t maxBytes, std::string& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file)
        return false;
    std::string content;
    char buffer[1024];
    while (file.read(buffer, sizeof buffer) || file.gcount() > 0) {
        content.append(buffer, static_cast<std::size_t>(file.gcount()));
        if (content.size() > maxBytes)
            return false;
    }
    out = content;
    return true;
}

// The folder under LOCALAPPDATA is the user's own; the file inherits that.
bool WriteFileAtomically(const std::string& path, const std::string& content) {
    const std::size_t slash = path.rfind('\\');
    if (slash == std::string::npos || !MakeFolders(path.substr(0, slash)))
        return false;
    const std::string temporary = path + ".tmp";
    {
        std::ofstream file(temporary, std::ios::binary | std::ios::trunc);
        if (!file.write(content.data(), static_cast<std::streamsize>(content.size())) ||
            !file.flush())
            return false;
    }
    if (MoveFileExA(temporary.c_str(), path.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileA(temporary.c_str());
    return false;
}
