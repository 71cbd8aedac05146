#include "support/app_files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

constexpr mode_t kPrivateFile = 0600;
constexpr mode_t kPrivateFolder = 0700;

// A file descriptor closed when it goes out of scope.
class cFile {
public:
    explicit cFile(int fd) : fd(fd) {}
    ~cFile() {
        if (fd >= 0)
            close(fd);
    }
    cFile(const cFile&) = delete;
    cFile& operator=(const cFile&) = delete;
    const int fd;
};

// Makes every missing folder of path, as `mkdir -p` does.
bool MakeFolders(const std::string& path) {
    for (std::size_t slash = path.find('/', 1); ; slash = path.find('/', slash + 1)) {
        const std::string prefix = path.substr(0, slash);
        if (mkdir(prefix.c_str(), kPrivateFolder) != 0 && errno != EEXIST)
            return false;
        if (slash == std::string::npos)
            return true;
    }
}

} // namespace

std::string UserCacheDirectory() {
    const char* cache = std::getenv("XDG_CACHE_HOME");
    if (cache && cache[0] == '/')
        return std::string(cache) + "/wendrel";
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/')
        return std::string(home) + "/.cache/wendrel";
    return "";
}

std::string JoinPath(const std::string& directory, const std::string& name) {
    return directory + "/" + name;
}

bool ReadSmallFile(const std::string& path, std::size_t maxBytes, std::string& out) {
    const cFile file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW));
    struct stat info {};
    if (file.fd < 0 || fstat(file.fd, &info) != 0 || !S_ISREG(info.st_mode) ||
        static_cast<std::size_t>(info.st_size) > maxBytes)
        return false;
    std::string content(maxBytes + 1, '\0');
    std::size_t got = 0;
    for (ssize_t n; got < content.size() && (n = read(file.fd, &content[got], content.size() - got)) > 0;)
        got += static_cast<std::size_t>(n);
    if (got > maxBytes)
        return false;
    content.resize(got);
    out = content;
    return true;
}

bool WriteFileAtomically(const std::string& path, const std::string& content) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos || slash == 0 || !MakeFolders(path.substr(0, slash)))
        return false;
    const std::string temporary = path + ".tmp" + std::to_string(getpid());
    bool written = false;
    {
        const cFile file(
            open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW,
                 kPrivateFile));
        written = file.fd >= 0 && fchmod(file.fd, kPrivateFile) == 0 &&
                  write(file.fd, content.data(), content.size()) ==
                      static_cast<ssize_t>(content.size()) &&
                  fsync(file.fd) == 0;
    }
    if (written && std::rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    unlink(temporary.c_str());
    return false;
}
