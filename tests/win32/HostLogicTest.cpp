// The Win32 host's command-line reading, password debounce and dialog
// numbers, checked natively.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "win32/HostLogic.h"

using hostlogic::CommandTail;
using hostlogic::HostMode;
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

TEST(PowerBroadcast, EveryEventClosesButAPowerSettingsNewValue) {
    // PBT_POWERSETTINGCHANGE comes only for a setting the saver asked for
    // (the display's state).
    EXPECT_FALSE(hostlogic::PowerBroadcastCloses(0x8013));
    EXPECT_TRUE(hostlogic::PowerBroadcastCloses(0x000A));  // PBT_APMPOWERSTATUSCHANGE
    EXPECT_TRUE(hostlogic::PowerBroadcastCloses(0x0004));  // PBT_APMSUSPEND
    EXPECT_TRUE(hostlogic::PowerBroadcastCloses(0x0007));  // PBT_APMRESUMESUSPEND
    EXPECT_TRUE(hostlogic::PowerBroadcastCloses(0x0012));  // PBT_APMRESUMEAUTOMATIC
    EXPECT_TRUE(hostlogic::PowerBroadcastCloses(0));
}
