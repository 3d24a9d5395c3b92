#include "render/OutputFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "render/SignalCleanup.h"

namespace {

// Links followed before a chain counts as a loop (the kernel's own limit).
constexpr int kMaxLinks = 40;

std::string Failure(const std::string& path, int code) {
    return "cannot write " + path + ": " + std::strerror(code);
}

// Symbolic links are followed hop by hop (a dangling one too), so that the
// rename replaces the file a link names and never the link itself. False
// with `code` set for a loop (ELOOP) or a link that cannot be read.
bool ResolveLinks(const std::string& path, std::string& resolved, int& code) {
    std::string current = path;
    for (int hop = 0;; ++hop) {
        struct stat status;
        if (lstat(current.c_str(), &status) != 0) {
            if (errno != ENOENT) {
                code = errno;
                return false;
            }
            break;  // made new
        }
        if (!S_ISLNK(status.st_mode)) break;
        if (hop == kMaxLinks) {
            code = ELOOP;
            return false;
        }
        char target[PATH_MAX];
        const ssize_t length = readlink(current.c_str(), target, sizeof target);
        if (length < 0 || static_cast<size_t>(length) >= sizeof target) {
            code = length < 0 ? errno : ENAMETOOLONG;
            return false;
        }
        target[length] = '\0';
        const auto slash = current.rfind('/');
        current = target[0] == '/' || slash == std::string::npos
                      ? std::string(target)
                      : current.substr(0, slash + 1) + target;
    }
    resolved = current;
    return true;
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

// The temporary file's path beside `destination`, as mkostemp's template.
std::string TemporaryPathFor(const std::string& destination) {
    const auto slash = destination.rfind('/');
    const std::string folder = slash == std::string::npos ? "" : destination.substr(0, slash + 1);
    const std::string name = destination.substr(folder.size());
    const long nameMax = pathconf(FolderOf(destination).c_str(), _PC_NAME_MAX);
    return folder + TemporaryNameFor(name, nameMax);
}

}  // namespace

std::string TemporaryNameFor(const std::string& name, long nameMax) {
    constexpr size_t kAdded = 8;  // "." before the name, ".XXXXXX" after it
    size_t keep = name.size();
    if (nameMax > 0 && keep + kAdded > static_cast<size_t>(nameMax)) {
        keep = static_cast<size_t>(nameMax) > kAdded ? static_cast<size_t>(nameMax) - kAdded : 0;
        // A continuation byte at the cut would split a character in two.
        while (keep > 0 && (static_cast<uint8_t>(name[keep]) & 0xC0) == 0x80) --keep;
    }
    if (keep == 0) return ".XXXXXX";
    return "." + name.substr(0, keep) + ".XXXXXX";
}

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
    if (temporary_.empty()) return;
    std::lock_guard<std::mutex> lock(SignalCleanupLock());
    (void)unlink(temporary_.c_str());
    UnwatchFile(&temporary_);
    temporary_.clear();
}

bool OutputFile::Open(const std::string& path, std::string& error) {
    Abandon();
    path_ = path;
    struct stat status;
    if (stat(path.c_str(), &status) == 0) {
        if (S_ISDIR(status.st_mode)) {
            error = "cannot write " + path + ": it is a folder";
            return false;
        }
        if (!S_ISREG(status.st_mode)) {
            stream_ = std::fopen(path.c_str(), "wb");
            if (stream_ == nullptr) {
                error = Failure(path, errno);
                return false;
            }
            return true;
        }
    } else if (errno != ENOENT) {  // a loop of links, a file where a folder should be, ...
        error = Failure(path, errno);
        return false;
    }
    int code = 0;
    if (!ResolveLinks(path, destination_, code)) {
        error = Failure(path, code);
        return false;
    }
    std::string pattern = TemporaryPathFor(destination_);
    int fd = -1;
    {
        // Made and listed for a signal under one lock; the template string
        // becomes the listed name without an allocation in between.
        std::lock_guard<std::mutex> lock(SignalCleanupLock());
        fd = mkostemp(pattern.data(), O_CLOEXEC);
        code = errno;
        if (fd >= 0) {
            temporary_.swap(pattern);
            (void)WatchFile(&temporary_);
        }
    }
    if (fd < 0) {
        error = Failure(path, code);
        return false;
    }
    // A replaced file keeps its permissions; a new one gets fopen's.
    const mode_t mode = stat(destination_.c_str(), &status) == 0 && S_ISREG(status.st_mode)
                            ? status.st_mode & 07777
                            : NewFileMode();
    (void)fchmod(fd, mode);
    stream_ = fdopen(fd, "wb");
    if (stream_ == nullptr) {
        code = errno;
        close(fd);
        Abandon();
        error = Failure(path, code);
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
        {
            // Renamed and taken off the list under one lock: a signal finds
            // either the temporary file or nothing to remove.
            std::lock_guard<std::mutex> lock(SignalCleanupLock());
            if (std::rename(temporary_.c_str(), destination_.c_str()) != 0) {
                ok = false;
                code = errno;
            } else {
                UnwatchFile(&temporary_);
                temporary_.clear();
            }
        }
        if (ok) SyncFolder(FolderOf(destination_));
    }
    if (!ok) {
        Abandon();
        error = "cannot write " + path_ + ": " +
                (!writeOk && !reason.empty() ? reason : std::string(std::strerror(code)));
        return false;
    }
    return true;
}

MadeFolders::~MadeFolders() {
    std::lock_guard<std::mutex> lock(SignalCleanupLock());
    for (auto folder = made_.rbegin(); folder != made_.rend(); ++folder) {
        (void)rmdir(folder->c_str());
    }
    UnwatchFolders(&made_);
    made_.clear();
}

void MadeFolders::Keep() {
    std::lock_guard<std::mutex> lock(SignalCleanupLock());
    UnwatchFolders(&made_);
    made_.clear();
}

bool MadeFolders::Make(const std::string& path, std::string& error) {
    // The missing folders, deepest first, up to the first one that exists.
    std::vector<std::string> missing;
    std::string current = path;
    for (;;) {
        while (current.size() > 1 && current.back() == '/') current.pop_back();
        struct stat status;
        if (current.empty() || stat(current.c_str(), &status) == 0) break;
        if (errno != ENOENT) {
            error = "cannot make folder " + path + ": " + std::strerror(errno);
            return false;
        }
        missing.push_back(current);
        const auto slash = current.rfind('/');
        if (slash == std::string::npos) break;
        current.resize(slash);
    }
    // Listed for a signal as they are made; the room is there beforehand, so
    // nothing is allocated under the lock.
    made_.reserve(made_.size() + missing.size());
    for (auto folder = missing.rbegin(); folder != missing.rend(); ++folder) {
        std::lock_guard<std::mutex> lock(SignalCleanupLock());
        if (mkdir(folder->c_str(), 0777) == 0) {
            made_.push_back(std::move(*folder));
            (void)WatchFolders(&made_);
        } else if (errno != EEXIST) {
            error = "cannot make folder " + path + ": " + std::strerror(errno);
            return false;
        }
    }
    struct stat status;
    const int code = stat(path.c_str(), &status) != 0 ? errno
                     : S_ISDIR(status.st_mode)        ? 0
                                                      : ENOTDIR;
    if (code == 0) return true;
    error = "cannot make folder " + path + ": " + std::strerror(code);
    return false;
}
