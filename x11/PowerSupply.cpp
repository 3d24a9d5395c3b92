#include "x11/PowerSupply.h"

#include <dirent.h>

#include <cstdio>
#include <utility>

namespace {

// The first line of a small sysfs file, without its newline; empty when it
// cannot be read.
std::string FirstLine(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "r");
    if (file == nullptr) return std::string();
    char line[64] = {};
    const bool read = std::fgets(line, sizeof line, file) != nullptr;
    std::fclose(file);
    if (!read) return std::string();
    std::string text(line);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) {
        text.pop_back();
    }
    return text;
}

}  // namespace

std::string PowerSupplyFolder(const char* fromEnvironment) {
    if (fromEnvironment != nullptr && fromEnvironment[0] != '\0') return fromEnvironment;
    return "/sys/class/power_supply";
}

bool ReadOnBattery(const std::string& folder) {
    DIR* directory = opendir(folder.c_str());
    if (directory == nullptr) return false;
    bool externalListed = false;
    bool externalOnline = false;
    bool battery = false;
    bool discharging = false;
    while (const dirent* entry = readdir(directory)) {
        const std::string name = entry->d_name;
        if (name.empty() || name[0] == '.') continue;
        const std::string supply = folder + "/" + name;
        const std::string type = FirstLine(supply + "/type");
        if (type == "Mains" || type == "USB") {
            externalListed = true;
            if (FirstLine(supply + "/online") == "1") externalOnline = true;
        } else if (type == "Battery") {
            if (FirstLine(supply + "/scope") == "Device") continue;
            battery = true;
            if (FirstLine(supply + "/status") == "Discharging") discharging = true;
        }
    }
    closedir(directory);
    if (!battery || externalOnline) return false;
    return externalListed || discharging;
}

bool PowerSupplyWatch::OnBattery(int64_t nowMicroseconds) {
    if (!read_ || nowMicroseconds - lastRead_ >= kReadMicroseconds) {
        read_ = true;
        lastRead_ = nowMicroseconds;
        onBattery_ = ReadOnBattery(folder_);
    }
    return onBattery_;
}
