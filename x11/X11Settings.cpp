#include "x11/X11Settings.h"

#include <fcntl.h>
#include <ini.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "app/Settings.h"

namespace {

constexpr char kSection[] = "Glidescape";
constexpr char kFileName[] = "Glidescp.ini";

// The values of the table's keys as first found in the section; nothing
// else in the file is kept.
struct IniValues {
    bool found[kSettingCount] = {};
    std::string text[kSettingCount];
};

int CollectValue(void* user, const char* section, const char* name, const char* value) {
    if (strcasecmp(section, kSection) != 0 || name == nullptr) return 1;
    auto& values = *static_cast<IniValues*>(user);
    for (int i = 0; i < kSettingCount; ++i) {
        // The first value of a repeated key counts (continuation lines come
        // under the same name and are ignored with it).
        if (strcasecmp(name, kSettings[i].key) != 0 || values.found[i]) continue;
        values.found[i] = true;
        values.text[i] = value != nullptr ? value : "";
    }
    return 1;  // a malformed line elsewhere is no reason to stop reading
}

int32_t ReadIniValue(const char* key, int32_t defaultValue, void* context) {
    const auto& values = *static_cast<const IniValues*>(context);
    const SettingEntry* entry = FindSetting(key);
    if (entry == nullptr) return defaultValue;
    const int index = SettingIndex(*entry);
    if (!values.found[index]) return defaultValue;
    int32_t value = 0;
    return ParseSettingText(values.text[index].c_str(), &value) ? value : defaultValue;
}

// The file's text in memory, handed to libinih a line at a time.
struct LineSource {
    const char* next;
    const char* end;
    int lineNumber = 0;
    int longLines = 0;       // lines ignored for their length
    int firstLongLine = 0;   // the number of the first of them
    int longestFitting = 0;  // bytes of the longest line libinih's buffer takes
};

// libinih's reader: hands over one whole line (without its newline) each
// call. libinih reads lines into a buffer of `size` bytes and would take the
// rest of a longer line as a line of its own; such a line is given as an
// empty line instead, so that the numbering stays.
char* ReadLine(char* buffer, int size, void* stream) {
    auto& source = *static_cast<LineSource*>(stream);
    if (source.next == source.end || size < 1) return nullptr;
    const char* start = source.next;
    const auto* newline =
        static_cast<const char*>(std::memchr(start, '\n', static_cast<size_t>(source.end - start)));
    const char* stop = newline != nullptr ? newline : source.end;
    source.next = newline != nullptr ? newline + 1 : source.end;
    ++source.lineNumber;
    source.longestFitting = size - 1;
    const auto length = static_cast<size_t>(stop - start);
    if (length > static_cast<size_t>(size - 1)) {
        if (source.longLines++ == 0) source.firstLongLine = source.lineNumber;
        buffer[0] = '\0';
    } else {
        std::memcpy(buffer, start, length);
        buffer[length] = '\0';
    }
    return buffer;
}

enum class FileRead { Read, Missing, Refused };

// Reads the whole of a regular file of at most kMaxX11SettingsBytes into
// `text`; `reason` says why a file that is there was refused.
FileRead ReadSettingsFile(const std::string& path, std::vector<char>& text, std::string& reason) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) {
        // A missing folder on the way (or a file in place of one) is a
        // missing settings file too.
        if (errno == ENOENT || errno == ENOTDIR) return FileRead::Missing;
        reason = std::strerror(errno);
        return FileRead::Refused;
    }
    FileRead result = FileRead::Read;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        reason = std::strerror(errno);
        result = FileRead::Refused;
    } else if (S_ISDIR(info.st_mode)) {
        reason = std::strerror(EISDIR);
        result = FileRead::Refused;
    } else if (!S_ISREG(info.st_mode)) {
        reason = "not a regular file";
        result = FileRead::Refused;
    } else if (static_cast<uint64_t>(info.st_size) > kMaxX11SettingsBytes) {
        reason = "larger than 1 MiB";
        result = FileRead::Refused;
    } else {
        // The size may change while the file is read (and files such as
        // those in /proc state none): read up to one byte beyond the limit.
        text.resize(static_cast<size_t>(info.st_size) + 1);
        size_t used = 0;
        for (;;) {
            if (used == text.size()) {
                if (text.size() > kMaxX11SettingsBytes) {
                    reason = "larger than 1 MiB";
                    result = FileRead::Refused;
                    break;
                }
                text.resize(std::min(text.size() * 2 + 4096, kMaxX11SettingsBytes + 1));
            }
            const ssize_t got = read(fd, text.data() + used, text.size() - used);
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                reason = std::strerror(errno);
                result = FileRead::Refused;
                break;
            }
            if (got == 0) break;
            used += static_cast<size_t>(got);
        }
        text.resize(result == FileRead::Read ? used : 0);
    }
    close(fd);
    return result;
}

}  // namespace

std::string X11SettingsPath(const char* xdgConfigHome, const char* home) {
    std::string folder;
    if (xdgConfigHome != nullptr && xdgConfigHome[0] == '/') {
        folder = xdgConfigHome;
    } else if (home != nullptr && home[0] != '\0') {
        folder = std::string(home) + "/.config";
    } else {
        return std::string();
    }
    return folder + "/glidescape/" + kFileName;
}

X11SettingsLoad LoadX11Settings(const std::string& path, Settings& settings) {
    X11SettingsLoad load;
    IniValues values;
    if (!path.empty()) {
        std::vector<char> text;
        std::string reason;
        switch (ReadSettingsFile(path, text, reason)) {
            case FileRead::Missing:
                break;
            case FileRead::Refused:
                load.readable = false;
                load.notices.push_back("cannot read " + path + ": " + reason +
                                       "; using the defaults");
                break;
            case FileRead::Read: {
                LineSource source{text.data(), text.data() + text.size()};
                // A line libinih cannot read is skipped; the other lines
                // still count.
                ini_parse_stream(ReadLine, &source, CollectValue, &values);
                if (source.longLines == 1) {
                    load.notices.push_back("ignored line " + std::to_string(source.firstLongLine) +
                                           " of " + path + ": longer than " +
                                           std::to_string(source.longestFitting) + " bytes");
                } else if (source.longLines > 1) {
                    load.notices.push_back(
                        "ignored " + std::to_string(source.longLines) + " lines of " + path +
                        " longer than " + std::to_string(source.longestFitting) +
                        " bytes (the first is line " + std::to_string(source.firstLongLine) + ")");
                }
                break;
            }
        }
    }
    settings = LoadSettingsFrom(ReadIniValue, &values);
    return load;
}
