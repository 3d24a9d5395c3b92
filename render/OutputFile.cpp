#include "render/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace {

// Symbolic links are followed hop by hop (a dangling one too), so that the
// rename replaces the file a link names and never the link itself.
std::string ResolveLinks(const std::string& path) {
    std::string current = path;
    for (int hop = 0; hop < 40; ++hop) {
        struct stat status;
        if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode)) return current;
        char target[PATH_MAX];
        const ssize_t length = readlink(current.c_str(), target, sizeof target - 1);
        if (length <= 0) return current;
        target[length] = '\0';
        const auto slash = current.rfind('/');
        current = target[0] == '/' || slash == std::string::npos
                      ? std::string(target)
                      : current.substr(0, slash + 1) + target;
    }
    return current;
}

// Permissions a new file gets from fopen: 0666 less the umask.
mode_t NewFileMode() {
    const mode_t mask = umask(0);
    umask(mask);
    return 0666 & ~mask;
}

// Makes the rename itself durable; a folder that cannot be synced (some file
// systems refuse) leaves the file written all the same.
void SyncFolder(const std::string& folder) {
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    (void)fsync(fd);
    close(fd);
}

std::string FolderOf(const std::string& path) {
    const auto slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

}  // namespace

bool IsSpecialFile(const std::string& path) {
    struct stat status;
    return stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode);
}

OutputFile::~OutputFile() {
    Abandon();
}

void OutputFile::Abandon() {
    if (stream_ != nullptr) std::fclose(stream_);
    stream_ = nullptr;
    if (!temporary_.empty()) unlink(temporary_.c_str());
    temporary_.clear();
}

bool OutputFile::Open(const std::string& path, std::string& error) {
    Abandon();
    path_ = path;
    struct stat status;
    if (stat(path.c_str(), &status) == 0 && !S_ISREG(status.st_mode)) {
        if (S_ISDIR(status.st_mode)) {
            error = "cannot write " + path + ": it is a folder";
            return false;
        }
        stream_ = std::fopen(path.c_str(), "wb");
        if (stream_ == nullptr) {
            error = "cannot write " + path + ": " + std::strerror(errno);
            return false;
        }
        return true;
    }
    destination_ = ResolveLinks(path);
    const auto slash = destination_.rfind('/');
    const std::string name =
        slash == std::string::npos ? destination_ : destination_.substr(slash + 1);
    std::string pattern = FolderOf(destination_) + "/." + name + ".XXXXXX";
    const int fd = mkostemp(pattern.data(), O_CLOEXEC);
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    temporary_ = pattern;
    // A replaced file keeps its permissions; a new one gets fopen's.
    const mode_t mode = stat(destination_.c_str(), &status) == 0 && S_ISREG(status.st_mode)
                            ? status.st_mode & 07777
                            : NewFileMode();
    (void)fchmod(fd, mode);
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr) {
        const int code = errno;
        close(fd);
        Abandon();
        error = "cannot write " + path + ": " + std::strerror(code);
        return false;
    }
    return true;
}

bool OutputFile::Commit(bool writeOk, const std::string& reason, std::string& error) {
    int code = errno;
    bool ok = writeOk && stream_ != nullptr;
    if (ok && std::fflush(stream_) != 0) {
        ok = false;
        code = errno;
    }
    // A device may refuse fsync; only the temporary file needs it.
    if (ok && !temporary_.empty() && fsync(fileno(stream_)) != 0) {
        ok = false;
        code = errno;
    }
    if (stream_ != nullptr) {
        if (std::fclose(stream_) != 0 && ok) {
            ok = false;
            code = errno;
        }
        stream_ = nullptr;
    }
    if (ok && !temporary_.empty()) {
        if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
            ok = false;
            code = errno;
        } else {
            temporary_.clear();
            SyncFolder(FolderOf(destination_));
        }
    }
    if (!ok) {
        Abandon();
        error = "cannot write " + path_ + ": " +
                (!writeOk && !reason.empty() ? reason : std::string(std::strerror(code)));
        return false;
    }
    return true;
}
