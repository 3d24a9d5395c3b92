// HostLogic.h - the Win32 screen-saver host's decisions that need no window
// system.
//
// The host (win32/Host.cpp, win32/HostWindowProc.cpp) asks these functions
// how to read its command line, when a close request follows a password
// check too closely and which power broadcasts close the saver, and the
// dialog (win32/ConfigDialog.cpp) how to read its number fields; keeping
// them free of windows.h lets the native unit tests check them directly
// (tests/win32/HostLogicTest.cpp). The pointer-drift
// rule is shared with the other savers (app/Closing.h).
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

// Close requests this soon (ms) after a password verification ends are ignored.
constexpr uint32_t kVerifyDebounceMs = 200;
// lastVerifyTick before the first verification.
constexpr uint32_t kNoVerifyYet = 0xFFFFFFFFu;

// True when a close request at tick `now` comes too soon after the
// verification that ended at `lastVerifyTick` (tick counts wrap).
bool WithinVerifyDebounce(uint32_t lastVerifyTick, uint32_t now);

// WM_POWERBROADCAST's event that tells a power setting's new value
// (PBT_POWERSETTINGCHANGE): only windows that registered for the setting get
// it.
constexpr uintptr_t kPowerSettingChange = 0x8013;

// True when a power broadcast with this event closes the full-screen saver:
// every event (a suspend, a resume, a change of power source) but a power
// setting's new value, which comes only because the saver asked for it (the
// display's state) and which the saver handles itself.
bool PowerBroadcastCloses(uintptr_t event);

// The number typed into a dialog field: blanks around it allowed, digits
// with an optional sign ("-" only when `isSigned`). Text that is not such a
// number, or does not fit in 32 bits (signed: int32, unsigned: uint32), reads
// as 0. Unsigned values above INT32_MAX come back wrapped to negative, which
// the settings store then replaces by the fall-back.
int32_t DialogNumber(const char* text, bool isSigned);

}  // namespace hostlogic
