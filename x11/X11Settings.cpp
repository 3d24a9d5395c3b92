#include "x11/X11Settings.h"

#include <ini.h>
#include <strings.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <map>

#include "app/Settings.h"
#include "host/HostLogic.h"

namespace {

constexpr char kSection[] = "Glidescape";
constexpr char kFileName[] = "Glidescp.ini";

struct Caseless {
    bool operator()(const std::string& a, const std::string& b) const {
        return strcasecmp(a.c_str(), b.c_str()) < 0;
    }
};

using IniValues = std::map<std::string, std::string, Caseless>;

int CollectValue(void* user, const char* section, const char* name, const char* value) {
    if (strcasecmp(section, kSection) != 0 || name == nullptr) return 1;
    // emplace keeps the first value of a repeated key (and ignores the
    // continuation lines inih hands over under the same name).
    static_cast<IniValues*>(user)->emplace(name, value != nullptr ? value : "");
    return 1;  // a malformed line elsewhere is no reason to stop reading
}

int32_t ReadIniValue(const char* key, int32_t defaultValue, void* context) {
    const IniValues& values = *static_cast<const IniValues*>(context);
    const auto found = values.find(key);
    if (found == values.end()) return defaultValue;
    int32_t value = 0;
    return hostlogic::ParseSettingText(found->second.c_str(), &value) ? value : defaultValue;
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

bool LoadX11Settings(const std::string& path, Settings& settings) {
    IniValues values;
    bool readable = true;
    if (!path.empty()) {
        std::FILE* file = std::fopen(path.c_str(), "r");
        if (file != nullptr) {
            // A line inih cannot read is skipped; the other lines still count.
            readable = ini_parse_file(file, CollectValue, &values) >= 0;
            std::fclose(file);
        } else if (errno != ENOENT && errno != ENOTDIR) {
            readable = false;
        }
    }
    settings = LoadSettingsFrom(ReadIniValue, &values);
    return readable;
}
