#include "x11/HistoryFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "app/History.h"

namespace {

// A history longer than this is not ours to read (50 lines of a few hundred
// bytes each).
constexpr off_t kMaxHistoryBytes = 256 * 1024;

// Makes every folder of `folder` that is missing, mode 0700.
bool MakeFolders(const std::string& folder) {
    for (size_t slash = folder.find('/', 1); slash != std::string::npos;
         slash = folder.find('/', slash + 1)) {
        const std::string part = folder.substr(0, slash);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    return mkdir(folder.c_str(), 0700) == 0 || errno == EEXIST;
}

// The file's text, or empty when it is missing, too big or not a file.
std::string ReadHistory(const std::string& path) {
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return std::string();
    struct stat status {};
    std::string text;
    if (fstat(fd, &status) == 0 && S_ISREG(status.st_mode) && status.st_size <= kMaxHistoryBytes) {
        text.resize(static_cast<size_t>(status.st_size));
        size_t got = 0;
        while (got < text.size()) {
            const ssize_t n = read(fd, &text[got], text.size() - got);
            if (n <= 0) break;
            got += static_cast<size_t>(n);
        }
        text.resize(got);
    }
    close(fd);
    return text;
}

bool WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

}  // namespace

std::string HistoryFilePath(const char* xdgStateHome, const char* home) {
    std::string folder;
    if (xdgStateHome != nullptr && xdgStateHome[0] == '/') {
        folder = xdgStateHome;
    } else if (home != nullptr && home[0] != '\0') {
        folder = std::string(home) + "/.local/state";
    } else {
        return std::string();
    }
    return folder + "/glidescape/history";
}

bool AddToHistoryFile(const std::string& path, const std::string& line) {
    const size_t slash = path.rfind('/');
    if (path.empty() || slash == std::string::npos || slash == 0) return false;
    const std::string folder = path.substr(0, slash);
    if (!MakeFolders(folder)) return false;
    const std::string text = AddHistoryLine(ReadHistory(path), line);
    std::string temporary = folder + "/.history.XXXXXX";
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) return false;
    const bool written = WriteAll(fd, text) && fsync(fd) == 0;
    const bool closed = close(fd) == 0;
    if (!written || !closed || rename(temporary.c_str(), path.c_str()) != 0) {
        unlink(temporary.c_str());
        return false;
    }
    return true;
}
