// SettingsStore.cpp - the settings store on the private-profile functions.
// windows.h first: the shell's header builds on it.
#include <windows.h>

#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "app/History.h"
#include "win32/SaverApp.h"
#include "app/Settings.h"
#include "win32/HostLogic.h"

namespace {

const char kIniName[] = "Glidescp.ini";
const char kHistoryName[] = "history.txt";
const char kSection[] = "Glidescape";
const char kFolderName[] = "Glidescape";

int32_t ReadIniInteger(const char* key, int32_t defaultValue, void* context) {
    const char* file = static_cast<const char*>(context);
    char text[64] = {};
    GetPrivateProfileStringA(kSection, key, "", text, sizeof(text), file);
    int32_t value = 0;
    return ParseSettingText(text, &value) ? value : defaultValue;
}

bool IsFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool UserFilePath(const char* name, char* path, std::size_t size, bool createFolder) {
    char appData[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, CSIDL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, appData))) {
        return false;
    }
    char folder[MAX_PATH];
    const int folderLength = std::snprintf(folder, sizeof(folder), "%s\\%s", appData, kFolderName);
    if (folderLength <= 0 || static_cast<std::size_t>(folderLength) >= sizeof(folder)) return false;
    if (createFolder && !IsFolder(folder)) {
        CreateDirectoryA(folder, nullptr);
        if (!IsFolder(folder)) return false;
    }
    const int length = std::snprintf(path, size, "%s\\%s", folder, name);
    return length > 0 && static_cast<std::size_t>(length) < size;
}

bool UserSettingsPath(char* path, std::size_t size, bool createFolder) {
    return UserFilePath(kIniName, path, size, createFolder);
}

namespace {

// A history longer than this is not ours to read.
constexpr DWORD kMaxHistoryBytes = 256 * 1024;

std::string ReadSmallFile(const char* path) {
    std::string text;
    HANDLE file = CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    const DWORD size = GetFileSize(file, nullptr);
    if (size != INVALID_FILE_SIZE && size <= kMaxHistoryBytes) {
        text.resize(size);
        DWORD got = 0;
        if (size == 0 || !ReadFile(file, &text[0], size, &got, nullptr)) got = 0;
        text.resize(got);
    }
    CloseHandle(file);
    return text;
}

}  // namespace

bool AddToHistory(const std::string& line) {
    char path[MAX_PATH];
    if (!UserFilePath(kHistoryName, path, sizeof(path), true)) return false;
    char folder[MAX_PATH];
    std::snprintf(folder, sizeof(folder), "%s", path);
    char* slash = std::strrchr(folder, '\\');
    if (slash == nullptr) return false;
    *slash = '\0';
    const std::string text = AddHistoryLine(ReadSmallFile(path), line);
    char temporary[MAX_PATH];
    if (GetTempFileNameA(folder, "glh", 0, temporary) == 0) return false;
    HANDLE file = CreateFileA(temporary, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    bool written = file != INVALID_HANDLE_VALUE;
    if (written) {
        DWORD put = 0;
        written = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
                  put == text.size() && FlushFileBuffers(file);
        written = CloseHandle(file) && written;
    }
    if (!written ||
        !MoveFileExA(temporary, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary);
        return false;
    }
    return true;
}

Settings LoadSettings() {
    char userFile[MAX_PATH];
    const char* file = kIniName;  // bare name: the Windows folder
    if (UserSettingsPath(userFile, sizeof(userFile), false) &&
        GetFileAttributesA(userFile) != INVALID_FILE_ATTRIBUTES) {
        file = userFile;
    }
    return LoadSettingsFrom(ReadIniInteger, const_cast<char*>(file));
}

// The keys go into a copy of the file beside it, which then replaces the file
// in one step: a failure half way leaves the old settings whole, and every
// other line of the file is kept.
bool SaveSettings(const Settings& settings) {
    char userFile[MAX_PATH];
    if (!UserSettingsPath(userFile, sizeof(userFile), true)) return false;
    char folder[MAX_PATH];
    std::snprintf(folder, sizeof(folder), "%s", userFile);
    char* slash = std::strrchr(folder, '\\');
    if (slash == nullptr) return false;
    *slash = '\0';
    char temporary[MAX_PATH];
    if (GetTempFileNameA(folder, "gls", 0, temporary) == 0) return false;
    const DWORD existing = GetFileAttributesA(userFile);
    if (existing != INVALID_FILE_ATTRIBUTES) {
        // A read-only file stays as it is: the replace below is refused.
        if ((existing & FILE_ATTRIBUTE_READONLY) != 0 || !CopyFileA(userFile, temporary, FALSE)) {
            DeleteFileA(temporary);
            return false;
        }
        SetFileAttributesA(temporary, FILE_ATTRIBUTE_NORMAL);
    }
    bool written = true;
    for (int i = 0; written && i < kSettingCount; ++i) {
        const SettingEntry& entry = kSettings[kSettingsWriteOrder[i]];
        char text[16];
        std::snprintf(text, sizeof(text), "%ld", static_cast<long>(settings.*entry.field));
        written = WritePrivateProfileStringA(kSection, entry.key, text, temporary) != 0;
    }
    // Flushes the profile cache to the copy before it is moved.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, temporary);
    if (!written ||
        !MoveFileExA(temporary, userFile, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        DeleteFileA(temporary);
        return false;
    }
    return true;
}
