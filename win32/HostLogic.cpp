// HostLogic.cpp - command-line reading, the password check's debounce and
// the dialog's number fields.
#include "win32/HostLogic.h"

namespace hostlogic {

namespace {

bool IsSwitchLetter(char c, char upper) {
    return c == upper || c == upper - 'A' + 'a';
}

// Blanks and control characters before the tail (codes 1 to 32).
bool IsBlankOrControl(char c) {
    const auto code = static_cast<unsigned char>(c);
    return code >= 1 && code <= 32;
}

const char* SkipSpaces(const char* text, NextChar next) {
    while (*text == ' ') text = next(text);
    return text;
}

}  // namespace

const char* NextByte(const char* text) {
    return *text != '\0' ? text + 1 : text;
}

const char* CommandTail(const char* commandLine, NextChar next) {
    const char* p = commandLine;
    if (*p == '"') {
        p = next(p);
        while (*p != '\0' && *p != '"') p = next(p);
        if (*p == '"') p = next(p);
    } else {
        while (static_cast<unsigned char>(*p) > 32) p = next(p);
    }
    while (IsBlankOrControl(*p)) p = next(p);
    return p;
}

HostCommand ParseCommandTail(const char* tail, bool legacyPlatform, NextChar next) {
    HostCommand command;
    const char* p = tail;
    for (;;) {
        const char c = *p;
        if (c == '\0') {
            command.mode = HostMode::ConfigureNoOwner;
            return command;
        }
        if (c == ' ' || c == '-' || c == '/') {
            p = next(p);
            continue;
        }
        if (IsSwitchLetter(c, 'S')) {
            command.mode = HostMode::FullScreen;
            return command;
        }
        if (IsSwitchLetter(c, 'P') || IsSwitchLetter(c, 'L')) {
            command.mode = HostMode::Preview;
            command.rest = SkipSpaces(next(p), next);
            command.windowHandle = ParseWindowHandle(command.rest);
            return command;
        }
        if (IsSwitchLetter(c, 'C')) {
            command.mode = HostMode::Configure;
            p = next(p);
            if (*p == ':') {
                command.rest = next(p);
                command.windowHandle = ParseWindowHandle(command.rest);
            }
            return command;
        }
        if (IsSwitchLetter(c, 'A') && legacyPlatform) {
            command.mode = HostMode::ChangePassword;
            command.rest = SkipSpaces(next(p), next);
            command.windowHandle = ParseWindowHandle(command.rest);
            return command;
        }
        command.mode = HostMode::Invalid;
        return command;
    }
}

uint32_t ParseWindowHandle(const char* text) {
    uint32_t value = 0;
    for (const char* p = text; *p >= '0' && *p <= '9'; ++p) {
        value = value * 10u + static_cast<uint32_t>(*p - '0');
    }
    return value;
}

bool PowerBroadcastCloses(uintptr_t event) {
    return event != kPowerSettingChange;
}

bool WithinVerifyDebounce(uint32_t lastVerifyTick, uint32_t now) {
    return lastVerifyTick != kNoVerifyYet && now - lastVerifyTick < kVerifyDebounceMs;
}

int32_t DialogNumber(const char* text, bool isSigned) {
    const char* p = text;
    while (*p == ' ') ++p;
    bool negative = false;
    if (*p == '+' || (isSigned && *p == '-')) negative = *p++ == '-';
    if (*p < '0' || *p > '9') return 0;
    const uint64_t limit =
        isSigned ? (negative ? UINT64_C(0x80000000) : UINT64_C(0x7FFFFFFF)) : UINT64_C(0xFFFFFFFF);
    uint64_t magnitude = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        magnitude = magnitude * 10u + static_cast<uint64_t>(*p - '0');
        if (magnitude > limit) return 0;
    }
    while (*p == ' ') ++p;
    if (*p != '\0') return 0;
    const uint32_t bits = static_cast<uint32_t>(negative ? 0u - magnitude : magnitude);
    // Two's complement conversion without implementation-defined casts.
    return bits <= 0x7FFFFFFFu ? static_cast<int32_t>(bits) : -static_cast<int32_t>(~bits) - 1;
}

}  // namespace hostlogic
