// Reading the kernel's power supplies from a folder made here: laptops on
// mains and on battery, USB-C chargers, peripheral batteries, machines
// without an AC entry, desktops and unreadable folders.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "x11/PowerSupply.h"

namespace {

class PowerSupplyTest : public ::testing::Test {
protected:
    void SetUp() override {
        char pattern[] = "/tmp/glidescape-power.XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        folder = pattern;
    }
    void TearDown() override {
        for (auto it = files.rbegin(); it != files.rend(); ++it) std::remove(it->c_str());
        for (auto it = folders.rbegin(); it != folders.rend(); ++it) rmdir(it->c_str());
        rmdir(folder.c_str());
    }
    // A supply NAME with the files given as name, text pairs.
    void Supply(const std::string& name, std::vector<std::pair<std::string, std::string>> values) {
        const std::string dir = folder + "/" + name;
        if (mkdir(dir.c_str(), 0755) == 0) folders.push_back(dir);
        for (const auto& [file, text] : values) {
            const std::string path = dir + "/" + file;
            std::FILE* out = std::fopen(path.c_str(), "w");
            ASSERT_NE(out, nullptr);
            std::fputs((text + "\n").c_str(), out);
            std::fclose(out);
            files.push_back(path);
        }
    }
    std::string folder;
    std::vector<std::string> folders;
    std::vector<std::string> files;
};

TEST_F(PowerSupplyTest, ALaptopOnMainsAndOnItsBattery) {
    Supply("BAT0", {{"type", "Battery"}, {"status", "Charging"}, {"scope", "System"}});
    Supply("AC", {{"type", "Mains"}, {"online", "1"}});
    EXPECT_FALSE(ReadOnBattery(folder));
    Supply("AC", {{"online", "0"}});
    // "Full" or not: no external power comes in.
    Supply("BAT0", {{"status", "Full"}});
    EXPECT_TRUE(ReadOnBattery(folder));
    // A USB-C charger is external power as well.
    Supply("ucsi-source-psy-1", {{"type", "USB"}, {"online", "1"}});
    EXPECT_FALSE(ReadOnBattery(folder));
}

TEST_F(PowerSupplyTest, DesktopsPeripheralsAndMachinesThatDoNotSay) {
    EXPECT_FALSE(ReadOnBattery(folder));  // empty: a desktop, a container
    EXPECT_FALSE(ReadOnBattery(folder + "/missing"));
    // A wireless mouse's battery says nothing about the machine.
    Supply("hidpp_battery_0",
           {{"type", "Battery"}, {"scope", "Device"}, {"status", "Discharging"}});
    Supply("AC", {{"type", "Mains"}, {"online", "0"}});
    EXPECT_FALSE(ReadOnBattery(folder));
    // Without an AC entry the battery's own status tells.
    Supply("BAT1", {{"type", "Battery"}, {"status", "Discharging"}});
    EXPECT_TRUE(ReadOnBattery(folder));
    std::remove((folder + "/AC/type").c_str());  // the AC entry lost its type
    EXPECT_TRUE(ReadOnBattery(folder));
    Supply("BAT1", {{"status", "Charging"}});
    EXPECT_FALSE(ReadOnBattery(folder));
    // A type file with odd content is no supply.
    Supply("odd", {{"type", "Mains-ish"}, {"online", "1"}});
    EXPECT_FALSE(ReadOnBattery(folder));
}

TEST_F(PowerSupplyTest, TheWatchReadsAtMostEveryTenSeconds) {
    EXPECT_EQ(PowerSupplyFolder(nullptr), "/sys/class/power_supply");
    EXPECT_EQ(PowerSupplyFolder(""), "/sys/class/power_supply");
    EXPECT_EQ(PowerSupplyFolder("/tmp/x"), "/tmp/x");
    Supply("BAT0", {{"type", "Battery"}, {"status", "Discharging"}});
    Supply("AC", {{"type", "Mains"}, {"online", "0"}});
    PowerSupplyWatch watch(folder);
    EXPECT_TRUE(watch.OnBattery(1000));
    EXPECT_EQ(watch.nextReadMicroseconds(), 1000 + PowerSupplyWatch::kReadMicroseconds);
    Supply("AC", {{"online", "1"}});
    // Not read again before ten seconds have passed.
    EXPECT_TRUE(watch.OnBattery(1000 + PowerSupplyWatch::kReadMicroseconds - 1));
    EXPECT_FALSE(watch.OnBattery(1000 + PowerSupplyWatch::kReadMicroseconds));
}

}  // namespace
