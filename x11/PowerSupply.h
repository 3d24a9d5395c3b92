// PowerSupply.h - whether a Linux machine runs on its battery, from the
// kernel's power supply class (/sys/class/power_supply).
//
// Each supply is a folder with a `type` file ("Mains", "USB", "Battery",
// ...), an `online` file for external supplies (1: power comes in) and,
// for batteries, `status` ("Discharging", "Charging", "Full", ...) and
// `scope` ("Device" for the battery of a mouse or a headset, which says
// nothing about the machine). The machine is on battery when it has a
// battery of its own and no external supply (Mains or USB) is online; a
// machine that lists no external supply at all is on battery only while a
// battery says "Discharging". A folder that cannot be read, or one without
// a battery, means mains power: a desktop, a container or a machine that
// does not say.
//
// PowerSupplyWatch reads the folder at most once every 10 seconds (a front
// end asks at every wake-up). The folder is /sys/class/power_supply unless
// the environment variable GLIDESCAPE_POWER_SUPPLY_DIR names another one
// (tests make a folder of their own). Callers: x11/X11Saver.cpp,
// x11/WaylandSaver.cpp.
#pragma once

#include <cstdint>
#include <string>

// The folder to read: `fromEnvironment` when set and not empty, else
// /sys/class/power_supply.
std::string PowerSupplyFolder(const char* fromEnvironment);

// True when the supplies in `folder` say the machine runs on its battery.
bool ReadOnBattery(const std::string& folder);

class PowerSupplyWatch {
public:
    // Microseconds between two readings.
    static constexpr int64_t kReadMicroseconds = 10000000;

    explicit PowerSupplyWatch(std::string folder) : folder_(std::move(folder)) {}

    // On battery as of the last reading; reads the folder first when it was
    // never read or kReadMicroseconds have passed since (monotonic clock).
    bool OnBattery(int64_t nowMicroseconds);
    // When the next reading falls due.
    int64_t nextReadMicroseconds() const { return read_ ? lastRead_ + kReadMicroseconds : 0; }
    const std::string& folder() const { return folder_; }

private:
    std::string folder_;
    bool read_ = false;
    int64_t lastRead_ = 0;
    bool onBattery_ = false;
};
