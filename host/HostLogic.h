// HostLogic.h - the screen-saver host's decisions that need no window system.
//
// The Win32 host (host/HostWin32.cpp, host/SaverProcWin32.cpp) asks these
// functions how to read its command line and when user input closes the
// saver; keeping them free of windows.h lets the native unit tests check them
// directly (tests/host/).
//
// Command line grammar, after the program name (quoted or not) and any blanks
// and control characters before the tail:
//   (nothing)             configure, no owner
//   [ -/]* S ...          full screen (whatever follows is ignored)
//   [ -/]* P|L  n         preview into window n (blanks allowed before n)
//   [ -/]* C[:n]          configure, owner n or the foreground window
//   [ -/]* A  n           change the password, owner n (legacy platform only)
//   anything else         exit code -1
// Letters are case-insensitive. Window numbers are unsigned decimal, 32 bits,
// wrapping; anything that is not a digit ends them.
#pragma once

#include <cstdint>

namespace hostlogic {

// Exit codes of the host besides the modes' own results (0 or 1).
constexpr int32_t kExitBadCommand = -1;  // unknown switch, bad preview window, /a off legacy
constexpr int32_t kExitNoWindow = 2;     // the saver window class or window could not be made
// A fault caught by the host's guard ends the process with the fault's own
// exception code (e.g. 0xC0000005 for an access violation), which no mode
// returns.

// Steps to the next character of a multi-byte string (CharNextA on Windows).
// Must not step past the terminating zero.
using NextChar = const char* (*)(const char* text);

// One byte at a time.
const char* NextByte(const char* text);

// The command tail: skips the program name (a leading quoted part up to and
// past its closing quote, else every character above blank) and then every
// blank or control character (codes 1 to 32).
const char* CommandTail(const char* commandLine, NextChar next = NextByte);

enum class HostMode {
    Configure,         // owner: ownerHandle when nonzero and a window, else the foreground window
    ConfigureNoOwner,  // empty tail: the dialog has no owner
    FullScreen,
    Preview,         // parent: windowHandle
    ChangePassword,  // owner: windowHandle when nonzero and a window, else the foreground window
    Invalid,         // exit code -1
};

struct HostCommand {
    HostMode mode = HostMode::Invalid;
    uint32_t windowHandle = 0;  // parsed handle, 0 when none or not a number
    const char* rest = "";      // the text the handle is read from (P, L, A; C after ":")
};

// Decides the mode of a command tail; `legacyPlatform` allows the A switch.
HostCommand ParseCommandTail(const char* tail, bool legacyPlatform, NextChar next = NextByte);

// Unsigned decimal digits from the start of `text`, 32-bit wrapping; 0 when
// the text is empty or does not start with a digit.
uint32_t ParseWindowHandle(const char* text);

// Mouse drift in screen pixels that closes the saver: the distance
// |dx| + |dy| from the recorded position must be above this (unsigned).
constexpr uint32_t kMouseDriftThreshold = 4;

struct ScreenPoint {
    int32_t x;
    int32_t y;
};

// True when the cursor at `now` has drifted far enough from `recorded`.
bool MouseDriftCloses(ScreenPoint recorded, ScreenPoint now);

// Close requests this soon (ms) after a password verification ends are ignored.
constexpr uint32_t kVerifyDebounceMs = 200;
// lastVerifyTick before the first verification.
constexpr uint32_t kNoVerifyYet = 0xFFFFFFFFu;

// True when a close request at tick `now` comes too soon after the
// verification that ended at `lastVerifyTick` (tick counts wrap).
bool WithinVerifyDebounce(uint32_t lastVerifyTick, uint32_t now);

// The number typed into a dialog field: blanks around it allowed, digits
// with an optional sign ("-" only when `isSigned`). Text that is not such a
// number, or does not fit in 32 bits (signed: int32, unsigned: uint32), reads
// as 0. Unsigned values above INT32_MAX come back wrapped to negative, which
// the settings store then replaces by the fall-back.
int32_t DialogNumber(const char* text, bool isSigned);

// How a setting's text reads.
enum class SettingText {
    Number,      // a signed decimal integer that fits 32 bits
    OutOfRange,  // such an integer beyond 32 bits
    NotANumber,  // anything else
};

// A setting's text from the INI file or the renderer's command line: a signed
// decimal integer ("%ld"), blanks and tabs around it allowed. `value` is set
// for Number only.
SettingText ReadSettingText(const char* text, int32_t* value);

// The INI reader's view of ReadSettingText: false (the caller takes the
// default, which is every key's fall-back) for anything but a 32-bit number,
// so a value beyond 32 bits falls back exactly as one out of the key's range.
bool ParseSettingText(const char* text, int32_t* value);

}  // namespace hostlogic
