// The host's command-line reading and closing thresholds, checked natively.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "host/HostLogic.h"

using hostlogic::CommandTail;
using hostlogic::HostMode;
using hostlogic::MouseDriftCloses;
using hostlogic::ParseCommandTail;
using hostlogic::ParseWindowHandle;
using hostlogic::WithinVerifyDebounce;

namespace {

HostMode ModeOf(const char* tail, bool legacy = false) {
    return ParseCommandTail(tail, legacy).mode;
}

uint32_t HandleOf(const char* tail, bool legacy = false) {
    return ParseCommandTail(tail, legacy).windowHandle;
}

}  // namespace

TEST(CommandTail, SkipsUnquotedProgramNameAndBlanks) {
    EXPECT_STREQ(CommandTail("glidescape.scr /s"), "/s");
    EXPECT_STREQ(CommandTail("C:\\Windows\\Glidescape.scr   \t /p 12"), "/p 12");
    EXPECT_STREQ(CommandTail("Glidescape.scr"), "");
    EXPECT_STREQ(CommandTail(""), "");
}

TEST(CommandTail, SkipsQuotedProgramNameWithBlanksAsAWhole) {
    EXPECT_STREQ(CommandTail("\"C:\\Program Files\\Glide scape.scr\" /c:5"), "/c:5");
    EXPECT_STREQ(CommandTail("\"C:\\a b\\x.scr\""), "");
    // An unterminated quote takes the whole line as the program name.
    EXPECT_STREQ(CommandTail("\"C:\\a b\\x.scr /s"), "");
    // A quote right after the closing quote belongs to the tail.
    EXPECT_STREQ(CommandTail("\"x.scr\"\"/s\""), "\"/s\"");
}

TEST(CommandTail, SkipsControlCharactersButNotCharactersAbove32) {
    EXPECT_STREQ(CommandTail("x.scr \x01\x1f\x20/s"), "/s");
    // Bytes above 127 are part of an unquoted program name.
    EXPECT_STREQ(CommandTail("gl\xe9.scr /s"), "/s");
}

TEST(CommandTail, StepsWithTheGivenCharacterFunction) {
    // A double-byte lead byte hides the quote that follows it.
    static auto next = [](const char* p) -> const char* {
        if (*p == '\0') return p;
        if (static_cast<unsigned char>(*p) == 0x81 && p[1] != '\0') return p + 2;
        return p + 1;
    };
    EXPECT_STREQ(CommandTail("\"a\x81\"b\" /s", next), "/s");
}

TEST(ParseCommandTail, FullScreenSpellings) {
    for (const char* tail : {"/s", "-S", "s", "S", "- -/S", "//--  s", "/s 1234", "/saver"}) {
        EXPECT_EQ(ModeOf(tail), HostMode::FullScreen) << tail;
    }
}

TEST(ParseCommandTail, PreviewSpellings) {
    for (const char* tail : {"/p 1234", "/p1234", "/l 1234", "-P    1234", "L1234x"}) {
        EXPECT_EQ(ModeOf(tail), HostMode::Preview) << tail;
        EXPECT_EQ(HandleOf(tail), 1234u) << tail;
    }
    // Without a number the handle is 0, which the host refuses with -1.
    EXPECT_EQ(ModeOf("/p"), HostMode::Preview);
    EXPECT_EQ(HandleOf("/p"), 0u);
    EXPECT_EQ(HandleOf("/p abc"), 0u);
    // Only blanks are skipped before the number, tabs are not.
    EXPECT_EQ(HandleOf("/p\t12"), 0u);
    // The host reads the handle again from the rest of the tail.
    EXPECT_STREQ(ParseCommandTail("/p   77 x", false).rest, "77 x");
    EXPECT_STREQ(ParseCommandTail("/l", false).rest, "");
}

TEST(ParseCommandTail, ConfigureSpellings) {
    EXPECT_EQ(ModeOf(""), HostMode::ConfigureNoOwner);
    EXPECT_EQ(ModeOf("   "), HostMode::ConfigureNoOwner);
    EXPECT_EQ(ModeOf("- / -"), HostMode::ConfigureNoOwner);
    EXPECT_EQ(ModeOf("/c:1234"), HostMode::Configure);
    EXPECT_EQ(HandleOf("/c:1234"), 1234u);
    // Without the colon the number is not read: the foreground window owns.
    EXPECT_EQ(ModeOf("/c 1234"), HostMode::Configure);
    EXPECT_EQ(HandleOf("/c 1234"), 0u);
    EXPECT_EQ(HandleOf("/c"), 0u);
    EXPECT_EQ(HandleOf("/C:abc"), 0u);
    EXPECT_STREQ(ParseCommandTail("/c:12", false).rest, "12");
    EXPECT_STREQ(ParseCommandTail("/c 12", false).rest, "");
}

TEST(ParseCommandTail, ChangePasswordOnlyOnTheLegacyPlatform) {
    EXPECT_EQ(ModeOf("/a 1234", false), HostMode::Invalid);
    EXPECT_EQ(ModeOf("/a 1234", true), HostMode::ChangePassword);
    EXPECT_EQ(HandleOf("/A1234", true), 1234u);
    EXPECT_EQ(HandleOf("/a", true), 0u);
    EXPECT_STREQ(ParseCommandTail("/a 5", true).rest, "5");
}

TEST(ParseCommandTail, AnythingElseIsRefused) {
    for (const char* tail : {"/x", "x", "/1", "\t/s", "?", "/ /q", "+s", "\"/s\""}) {
        EXPECT_EQ(ModeOf(tail), HostMode::Invalid) << tail;
        EXPECT_EQ(ModeOf(tail, true), HostMode::Invalid) << tail;
    }
}

TEST(ParseWindowHandle, DecimalDigitsOnly) {
    EXPECT_EQ(ParseWindowHandle(""), 0u);
    EXPECT_EQ(ParseWindowHandle("abc"), 0u);
    EXPECT_EQ(ParseWindowHandle("0"), 0u);
    EXPECT_EQ(ParseWindowHandle("42"), 42u);
    EXPECT_EQ(ParseWindowHandle("42 7"), 42u);
    EXPECT_EQ(ParseWindowHandle("0x10"), 0u);
    EXPECT_EQ(ParseWindowHandle("-5"), 0u);
    EXPECT_EQ(ParseWindowHandle(" 5"), 0u);
    EXPECT_EQ(ParseWindowHandle("4294967295"), 4294967295u);
}

TEST(ParseWindowHandle, WrapsAt32Bits) {
    EXPECT_EQ(ParseWindowHandle("4294967296"), 0u);
    EXPECT_EQ(ParseWindowHandle("4294967297"), 1u);
    // 10^20 mod 2^32: 10^20 = 2^20 x 5^20 and 5^20 = 95367431640625, which
    // is 1585 mod 2^12, so 1585 x 2^20.
    EXPECT_EQ(ParseWindowHandle("100000000000000000000"), 1585u << 20);
}

TEST(MouseDrift, FourPixelsStaysFivePixelsCloses) {
    const hostlogic::ScreenPoint at{500, 400};
    EXPECT_FALSE(MouseDriftCloses(at, {500, 400}));
    EXPECT_FALSE(MouseDriftCloses(at, {504, 400}));
    EXPECT_FALSE(MouseDriftCloses(at, {498, 398}));
    EXPECT_FALSE(MouseDriftCloses(at, {497, 401}));
    EXPECT_TRUE(MouseDriftCloses(at, {505, 400}));
    EXPECT_TRUE(MouseDriftCloses(at, {500, 395}));
    EXPECT_TRUE(MouseDriftCloses(at, {497, 402}));
}

TEST(MouseDrift, SmallMovesAddUpAgainstTheRecordedPosition) {
    // The host keeps the recorded position until a close: 3 then 2 more.
    const hostlogic::ScreenPoint recorded{10, 10};
    EXPECT_FALSE(MouseDriftCloses(recorded, {13, 10}));
    EXPECT_TRUE(MouseDriftCloses(recorded, {15, 10}));
}

TEST(MouseDrift, ExtremeCoordinatesDoNotOverflow) {
    EXPECT_TRUE(MouseDriftCloses({INT32_MIN, INT32_MIN}, {INT32_MAX, INT32_MAX}));
    EXPECT_TRUE(MouseDriftCloses({INT32_MAX, 0}, {INT32_MIN, 0}));
    EXPECT_FALSE(MouseDriftCloses({INT32_MIN, INT32_MAX}, {INT32_MIN + 2, INT32_MAX - 2}));
}

TEST(VerifyDebounce, IgnoresClosesWithin200Ms) {
    EXPECT_FALSE(WithinVerifyDebounce(hostlogic::kNoVerifyYet, 0));
    EXPECT_FALSE(WithinVerifyDebounce(hostlogic::kNoVerifyYet, 100));
    EXPECT_TRUE(WithinVerifyDebounce(1000, 1000));
    EXPECT_TRUE(WithinVerifyDebounce(1000, 1199));
    EXPECT_FALSE(WithinVerifyDebounce(1000, 1200));
    EXPECT_FALSE(WithinVerifyDebounce(1000, 5000));
}

TEST(VerifyDebounce, TickCountWrapsAround) {
    EXPECT_FALSE(WithinVerifyDebounce(0xFFFFFF00u, 0x00000010u));  // 272 ms after
    EXPECT_TRUE(WithinVerifyDebounce(0xFFFFFFF0u, 0x00000010u));   // 32 ms after the wrap
    EXPECT_FALSE(WithinVerifyDebounce(0xFFFFFFF0u, 0x000000C8u));  // 216 ms
    // A clock that went backwards reads as a huge interval: not debounced.
    EXPECT_FALSE(WithinVerifyDebounce(1000, 999));
}

TEST(DialogNumber, UnsignedFieldsReadNonNumbersAndNegativesAsZero) {
    using hostlogic::DialogNumber;
    EXPECT_EQ(DialogNumber("11", false), 11);
    EXPECT_EQ(DialogNumber("  512 ", false), 512);
    EXPECT_EQ(DialogNumber("+6", false), 6);
    EXPECT_EQ(DialogNumber("", false), 0);
    EXPECT_EQ(DialogNumber("   ", false), 0);
    EXPECT_EQ(DialogNumber("abc", false), 0);
    EXPECT_EQ(DialogNumber("12abc", false), 0);
    EXPECT_EQ(DialogNumber("1 2", false), 0);
    EXPECT_EQ(DialogNumber("-5", false), 0);
    EXPECT_EQ(DialogNumber("0x10", false), 0);
}

TEST(DialogNumber, UnsignedRangeIs32Bits) {
    using hostlogic::DialogNumber;
    EXPECT_EQ(DialogNumber("2147483647", false), INT32_MAX);
    // Above INT32_MAX the bits wrap: the store's range check refuses them.
    EXPECT_EQ(DialogNumber("2147483648", false), INT32_MIN);
    EXPECT_EQ(DialogNumber("4294967295", false), -1);
    EXPECT_EQ(DialogNumber("4294967296", false), 0);
    EXPECT_EQ(DialogNumber("99999999999999999999999", false), 0);
    EXPECT_EQ(DialogNumber("000000000000000000042", false), 42);
}

TEST(DialogNumber, SignedFieldAcceptsTheInt32Range) {
    using hostlogic::DialogNumber;
    EXPECT_EQ(DialogNumber("-128", true), -128);
    EXPECT_EQ(DialogNumber("128", true), 128);
    EXPECT_EQ(DialogNumber(" -0 ", true), 0);
    EXPECT_EQ(DialogNumber("-2147483648", true), INT32_MIN);
    EXPECT_EQ(DialogNumber("2147483647", true), INT32_MAX);
    EXPECT_EQ(DialogNumber("2147483648", true), 0);
    EXPECT_EQ(DialogNumber("-2147483649", true), 0);
    EXPECT_EQ(DialogNumber("--1", true), 0);
    EXPECT_EQ(DialogNumber("-", true), 0);
    EXPECT_EQ(DialogNumber("tilt", true), 0);
}

TEST(SettingText, SignedDecimalWithBlanks) {
    int32_t value = 99;
    EXPECT_TRUE(hostlogic::ParseSettingText("12", &value));
    EXPECT_EQ(value, 12);
    EXPECT_TRUE(hostlogic::ParseSettingText(" \t-128\t ", &value));
    EXPECT_EQ(value, -128);
    EXPECT_TRUE(hostlogic::ParseSettingText("+90", &value));
    EXPECT_EQ(value, 90);
    EXPECT_TRUE(hostlogic::ParseSettingText("007", &value));
    EXPECT_EQ(value, 7);
}

TEST(SettingText, AnythingElseIsMissing) {
    int32_t value = 99;
    for (const char* text : {"", " ", "abc", "12abc", "1 2", "--1", "-", "0x10", "1e3", "3.5"}) {
        EXPECT_FALSE(hostlogic::ParseSettingText(text, &value)) << text;
    }
    EXPECT_EQ(value, 99);
}

TEST(SettingText, ValuesBeyond32BitsFallBackToTheDefault) {
    int32_t value = 5;
    EXPECT_TRUE(hostlogic::ParseSettingText("2147483647", &value));
    EXPECT_EQ(value, INT32_MAX);
    EXPECT_TRUE(hostlogic::ParseSettingText("-2147483648", &value));
    EXPECT_EQ(value, INT32_MIN);
    value = 5;
    for (const char* text : {"2147483648", "-2147483649", "99999999999", " 99999999999 ",
                             "-99999999999999999999999999", "99999999999999999999999999"}) {
        EXPECT_FALSE(hostlogic::ParseSettingText(text, &value)) << text;
        EXPECT_EQ(hostlogic::ReadSettingText(text, &value), hostlogic::SettingText::OutOfRange)
            << text;
    }
    EXPECT_EQ(value, 5);
    EXPECT_EQ(hostlogic::ReadSettingText("1x", &value), hostlogic::SettingText::NotANumber);
    EXPECT_EQ(hostlogic::ReadSettingText("\t+12 ", &value), hostlogic::SettingText::Number);
    EXPECT_EQ(value, 12);
}

// --- Monitors of the full-screen saver ---------------------------------------

namespace {

using hostlogic::FlightPlan;
using hostlogic::MonitorArea;
using hostlogic::PixelRect;
using hostlogic::PlanFlights;

std::string Areas(const FlightPlan& plan) {
    std::string text;
    for (int32_t i = 0; i < plan.count; ++i) {
        const PixelRect& a = plan.areas[i];
        text += (i > 0 ? " " : "") + std::to_string(a.left) + "," + std::to_string(a.top) + "," +
                std::to_string(a.right) + "," + std::to_string(a.bottom);
    }
    return text;
}

// Two heads side by side, as Xephyr gives them: 800 x 600 primary at the
// origin, 640 x 480 to its right.
const MonitorArea kTwoHeads[] = {{{0, 0, 800, 600}, true}, {{800, 0, 1440, 480}, false}};
const PixelRect kTwoHeadsWindow = {0, 0, 1440, 600};

}  // namespace

TEST(PlanFlights, OneMonitorGivesOneFlightOnTheWholeWindowInEveryMode) {
    const MonitorArea one[] = {{{0, 0, 1024, 768}, true}};
    for (int32_t mode : {0, 1, 2}) {
        EXPECT_EQ(Areas(PlanFlights({0, 0, 1024, 768}, one, 1, mode)), "0,0,1024,768") << mode;
    }
    // No monitors known: the whole window, as before monitors were counted.
    EXPECT_EQ(Areas(PlanFlights({0, 0, 1024, 768}, nullptr, 0, 0)), "0,0,1024,768");
}

TEST(PlanFlights, ModesSplitTwoHeads) {
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, kTwoHeads, 2, 0)), "0,0,800,600 800,0,1440,480");
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, kTwoHeads, 2, 1)), "0,0,800,600");
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, kTwoHeads, 2, 2)), "0,0,1440,600");
    // Out of range counts as a flight on each monitor.
    for (int32_t mode : {-1, 3, INT32_MIN, INT32_MAX}) {
        EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, kTwoHeads, 2, mode)),
                  "0,0,800,600 800,0,1440,480")
            << mode;
    }
}

TEST(PlanFlights, PrimaryComesFirstThenTheOthersInTheirOrder) {
    // The primary is the third monitor listed; one monitor sits left of it,
    // so the virtual screen starts at a negative x. Areas are window pixels.
    const MonitorArea monitors[] = {{{-1280, 0, 0, 1024}, false},
                                    {{1920, 0, 3200, 1024}, false},
                                    {{0, 0, 1920, 1080}, true},
                                    {{0, 1080, 1920, 2160}, false}};
    const PixelRect window = {-1280, 0, 3200, 2160};
    EXPECT_EQ(Areas(PlanFlights(window, monitors, 4, 0)),
              "1280,0,3200,1080 0,0,1280,1024 3200,0,4480,1024 1280,1080,3200,2160");
    EXPECT_EQ(Areas(PlanFlights(window, monitors, 4, 1)), "1280,0,3200,1080");
    EXPECT_EQ(Areas(PlanFlights(window, monitors, 4, 2)), "0,0,4480,2160");
    // Without a primary flag the first listed monitor leads.
    const MonitorArea unflagged[] = {{{0, 0, 800, 600}, false}, {{800, 0, 1440, 480}, false}};
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, unflagged, 2, 1)), "0,0,800,600");
    const MonitorArea secondPrimary[] = {{{0, 0, 800, 600}, false}, {{800, 0, 1440, 480}, true}};
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, secondPrimary, 2, 0)),
              "800,0,1440,480 0,0,800,600");
}

TEST(PlanFlights, MonitorsAreClippedToTheWindowAndMirrorsFlyOnce) {
    // A mirrored display repeats the primary's rectangle; a monitor outside
    // the window gets nothing; one half inside gets its inside half.
    const MonitorArea monitors[] = {{{0, 0, 800, 600}, true},
                                    {{0, 0, 800, 600}, false},
                                    {{5000, 0, 6000, 600}, false},
                                    {{700, -100, 1600, 500}, false}};
    EXPECT_EQ(Areas(PlanFlights({0, 0, 1440, 600}, monitors, 4, 0)), "0,0,800,600 700,0,1440,500");
    // The primary outside the window: mode 1 flies on the first monitor
    // inside it; nothing inside at all gives the whole window.
    const MonitorArea outside[] = {{{5000, 0, 6000, 600}, true}, {{800, 0, 1440, 480}, false}};
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, outside, 2, 1)), "800,0,1440,480");
    EXPECT_EQ(Areas(PlanFlights(kTwoHeadsWindow, outside, 1, 0)), "0,0,1440,600");
}

TEST(PlanFlights, AtMostSixteenFlights) {
    MonitorArea many[20];
    for (int32_t i = 0; i < 20; ++i) many[i] = {{i * 100, 0, i * 100 + 100, 100}, i == 0};
    const FlightPlan plan = PlanFlights({0, 0, 2000, 100}, many, 20, 0);
    ASSERT_EQ(plan.count, hostlogic::kMaxFlights);
    EXPECT_EQ(plan.areas[15].left, 1500);
    EXPECT_EQ(plan.areas[15].right, 1600);
}

TEST(PlanFlights, DegenerateWindowsAndExtremeCoordinates) {
    EXPECT_EQ(PlanFlights({0, 0, 0, 600}, kTwoHeads, 2, 0).count, 0);
    EXPECT_EQ(PlanFlights({10, 10, 5, 600}, kTwoHeads, 2, 0).count, 0);
    EXPECT_EQ(PlanFlights({0, 0, 1440, 600}, kTwoHeads, -3, 0).count, 1);
    // Sides beyond 32 bits have no window coordinates (and must not
    // overflow on the way).
    EXPECT_EQ(PlanFlights({INT32_MIN, 0, INT32_MAX, 600}, kTwoHeads, 2, 0).count, 0);
    const MonitorArea huge[] = {{{INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX}, true}};
    const PixelRect window = {-1000000000, -5, 1000000000, 5};
    EXPECT_EQ(Areas(PlanFlights(window, huge, 1, 0)), "0,0,2000000000,10");
}

TEST(OffsetSeed, FlightZeroKeepsTheSeedOthersAddTheirIndexWrapping) {
    EXPECT_EQ(hostlogic::OffsetSeed(1234u, 0), 1234u);
    EXPECT_EQ(hostlogic::OffsetSeed(1234u, 3), 1237u);
    EXPECT_EQ(hostlogic::OffsetSeed(0xFFFFFFFFu, 2), 1u);
}
