// What the users read about the settings agrees with the settings table: the
// README's option tables of the Linux saver, the web page and
// glidescape-render, and the options of glidescape.xml (which XScreenSaver's
// settings dialog shows). A new setting is one table row; these tests then
// say where its documentation is missing.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
// GCC 12 at -O1 with the sanitizers warns about a std::function inside
// <regex> that it cannot see initialised (a false positive in the library).
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#include <regex>
#pragma GCC diagnostic pop
#else
#include <regex>
#endif
#include <string>
#include <vector>

#include "app/Settings.h"

namespace {

std::string ReadSourceFile(const char* relative) {
    std::ifstream in(std::string(GLIDESCAPE_SOURCE_DIR) + "/" + relative);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string RangeText(const SettingEntry& entry) {
    return SettingRangeText(entry, " to ");
}

// Occurrences of `text` in `in`.
int Count(const std::string& in, const std::string& text) {
    int count = 0;
    for (size_t at = in.find(text); at != std::string::npos; at = in.find(text, at + 1)) ++count;
    return count;
}

TEST(SettingsDocs, TheReadmeTablesListEverySettingOfEachFrontEndOnce) {
    const std::string readme = ReadSourceFile("README.md");
    ASSERT_FALSE(readme.empty());
    for (const SettingEntry& entry : kSettings) {
        const std::string tail =
            " | " + RangeText(entry) + " | " + std::to_string(entry.defaultValue) + " |\n";
        const std::string render =
            std::string("| `--") + entry.option + " N` | " + entry.help + tail;
        std::string linux = std::string("| `-") + entry.option + " N` | " + entry.key + tail;
        if (entry.kind == SettingKind::Toggle) {
            linux = std::string("| `-") + entry.option + "`, `-no-" + entry.option + "` | " +
                    entry.key + " | on or off | " + (entry.defaultValue != 0 ? "on" : "off") +
                    " |\n";
        }
        const std::string web = std::string("| `") + entry.option + "` | " + entry.label + tail;
        EXPECT_EQ(Count(readme, render), (entry.frontEnds & kRenderTool) ? 1 : 0) << render;
        EXPECT_EQ(Count(readme, linux), (entry.frontEnds & kLinuxSaver) ? 1 : 0) << linux;
        EXPECT_EQ(Count(readme, web), (entry.frontEnds & kWebPage) ? 1 : 0) << web;
    }
}

// The value of attribute `name` in `element`; empty when it has none.
std::string Attribute(const std::string& element, const char* name) {
    const std::regex pattern(std::string("\\s") + name + "=\"([^\"]*)\"");
    std::smatch field;
    return std::regex_search(element, field, pattern) ? field[1].str() : std::string();
}

TEST(SettingsDocs, GlidescapeXmlOffersEveryLinuxSettingWithItsRangeAndDefault) {
    const std::string xml = ReadSourceFile("x11/glidescape.xml");
    ASSERT_FALSE(xml.empty());
    int offered = 0;
    // Numbers: <number id="..." type="slider" arg="-speed %" _label="..."
    // low="0" high="100" default="25"/>
    const std::regex number(R"(<number\s[^>]*/>)");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), number);
         it != std::sregex_iterator(); ++it, ++offered) {
        const std::string element = it->str();
        const std::string arg = Attribute(element, "arg");
        ASSERT_EQ(arg.substr(0, 1), "-") << element;
        ASSERT_EQ(arg.substr(arg.size() - 2), " %") << element;
        const std::string option = arg.substr(1, arg.size() - 3);
        const SettingEntry* entry = FindSettingByOption(option.c_str(), kLinuxSaver);
        ASSERT_NE(entry, nullptr) << element;
        EXPECT_EQ(entry->kind, SettingKind::Number) << element;
        EXPECT_EQ(Attribute(element, "_label"), entry->label) << element;
        EXPECT_EQ(Attribute(element, "low"), std::to_string(entry->minimum)) << element;
        EXPECT_EQ(Attribute(element, "default"), std::to_string(entry->defaultValue)) << element;
        // A slider needs an end: a setting without an upper bound offers a
        // sensible part of its range.
        const std::string high = Attribute(element, "high");
        if (entry->maximum == INT32_MAX) {
            EXPECT_GT(std::stoll(high), entry->defaultValue) << element;
        } else {
            EXPECT_EQ(high, std::to_string(entry->maximum)) << element;
        }
    }
    // Toggles: a check box that is on by default gives "-no-smooth" unset.
    const std::regex boolean(R"(<boolean\s[^>]*/>)");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), boolean);
         it != std::sregex_iterator(); ++it, ++offered) {
        const std::string element = it->str();
        const std::string unset = Attribute(element, "arg-unset");
        const std::string set = Attribute(element, "arg-set");
        const std::string option = !unset.empty() ? unset.substr(4) : set.substr(1);
        const SettingEntry* entry = FindSettingByOption(option.c_str(), kLinuxSaver);
        ASSERT_NE(entry, nullptr) << element;
        EXPECT_EQ(entry->kind, SettingKind::Toggle) << element;
        EXPECT_EQ(Attribute(element, "_label"), entry->label) << element;
        EXPECT_EQ(unset, entry->defaultValue != 0 ? "-no-" + option : "") << element;
        EXPECT_EQ(set, entry->defaultValue != 0 ? "" : "-" + option) << element;
    }
    // Choices: one option per value, named as in the dialog; the default's
    // option gives no argument.
    const std::regex select(R"(<select\s[^>]*>([\s\S]*?)</select>)");
    const std::regex choice(R"(<option\s[^>]*/>)");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), select);
         it != std::sregex_iterator(); ++it, ++offered) {
        const std::string body = (*it)[1].str();
        std::vector<std::string> options;
        for (auto o = std::sregex_iterator(body.begin(), body.end(), choice);
             o != std::sregex_iterator(); ++o) {
            options.push_back(o->str());
        }
        const SettingEntry* entry = nullptr;
        for (const std::string& element : options) {
            const std::string set = Attribute(element, "arg-set");
            if (set.empty()) continue;
            const std::string option = set.substr(1, set.find(' ') - 1);
            entry = FindSettingByOption(option.c_str(), kLinuxSaver);
        }
        ASSERT_NE(entry, nullptr) << body;
        EXPECT_EQ(entry->kind, SettingKind::Choice) << body;
        ASSERT_EQ(static_cast<int32_t>(options.size()), entry->maximum - entry->minimum + 1);
        for (int32_t value = entry->minimum; value <= entry->maximum; ++value) {
            const std::string& element = options[static_cast<size_t>(value - entry->minimum)];
            EXPECT_EQ(Attribute(element, "_label"), entry->choices[value - entry->minimum]);
            EXPECT_EQ(Attribute(element, "arg-set"),
                      value == entry->defaultValue
                          ? std::string()
                          : "-" + std::string(entry->option) + " " + std::to_string(value));
        }
    }
    int linuxSettings = 0;
    for (const SettingEntry& entry : kSettings) linuxSettings += (entry.frontEnds & kLinuxSaver) != 0;
    EXPECT_EQ(offered, linuxSettings);
}

}  // namespace
