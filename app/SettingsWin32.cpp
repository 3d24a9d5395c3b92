// SettingsWin32.cpp - the settings store on the private-profile functions.
// windows.h first: the shell's header builds on it.
#include <windows.h>

#include <shlobj.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

#include "app/SaverAppWin32.h"
#include "app/Settings.h"

namespace {

const char kIniName[] = "Glidescp.ini";
const char kSection[] = "Glidescape";
const char kFolderName[] = "Glidescape";

// A signed decimal integer ("%ld"), blanks around it allowed; anything else
// reads as missing. Values beyond 32 bits saturate (and then fall back).
bool ParseIniInteger(const char* text, int32_t* value) {
    const char* p = text;
    while (*p == ' ' || *p == '\t') ++p;
    bool negative = false;
    if (*p == '-' || *p == '+') negative = *p++ == '-';
    if (*p < '0' || *p > '9') return false;
    int64_t magnitude = 0;
    while (*p >= '0' && *p <= '9') {
        if (magnitude <= INT64_C(0xFFFFFFFF)) magnitude = magnitude * 10 + (*p - '0');
        ++p;
    }
    while (*p == ' ' || *p == '\t') ++p;
    if (*p != '\0') return false;
    const int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > INT32_MAX) {
        *value = INT32_MAX;
    } else if (signedValue < INT32_MIN) {
        *value = INT32_MIN;
    } else {
        *value = static_cast<int32_t>(signedValue);
    }
    return true;
}

int32_t ReadIniInteger(const char* key, int32_t defaultValue, void* context) {
    const char* file = static_cast<const char*>(context);
    char text[64] = {};
    GetPrivateProfileStringA(kSection, key, "", text, sizeof(text), file);
    int32_t value = 0;
    return ParseIniInteger(text, &value) ? value : defaultValue;
}

bool IsFolder(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

bool UserSettingsPath(char* path, std::size_t size, bool createFolder) {
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
    const int length = std::snprintf(path, size, "%s\\%s", folder, kIniName);
    return length > 0 && static_cast<std::size_t>(length) < size;
}

void LoadSettings() {
    char userFile[MAX_PATH];
    const char* file = kIniName;  // bare name: the Windows folder
    if (UserSettingsPath(userFile, sizeof(userFile), false) &&
        GetFileAttributesA(userFile) != INVALID_FILE_ATTRIBUTES) {
        file = userFile;
    }
    LoadSettingsFrom(ReadIniInteger, const_cast<char*>(file));
}

bool SaveSettings() {
    char userFile[MAX_PATH];
    if (!UserSettingsPath(userFile, sizeof(userFile), true)) return false;
    for (int i = 0; i < kSettingCount; ++i) {
        const SettingEntry& entry = kSettings[kSettingsWriteOrder[i]];
        char text[16];
        std::snprintf(text, sizeof(text), "%ld", static_cast<long>(*entry.variable));
        if (!WritePrivateProfileStringA(kSection, entry.key, text, userFile)) return false;
    }
    // Flushes the profile cache to the file.
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, userFile);
    return true;
}
