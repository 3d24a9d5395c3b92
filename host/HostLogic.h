// HostLogic.h - the screen-saver host's decisions that need no window system.
//
// The Win32 host (host/HostWin32.cpp, host/SaverProcWin32.cpp) asks these
// functions how to read its command line and when user input closes the
// saver, and the Win32 saver window (app/SaverWindowWin32.cpp) how to split
// the full-screen window among the monitors; keeping them free of windows.h
// lets the native unit tests check them directly (tests/host/).
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

// --- Monitors of the full-screen saver ------------------------------------
// The full-screen window covers the whole virtual screen; PlanFlights decides
// which parts of it get a flight of their own.

// A rectangle in pixels; right and bottom are exclusive.
struct PixelRect {
    int32_t left;
    int32_t top;
    int32_t right;
    int32_t bottom;
};

// One monitor as the system reports it, in screen pixels.
struct MonitorArea {
    PixelRect rect;
    bool primary;
};

// The "Monitors" setting.
enum class MonitorsMode : int32_t {
    EachMonitor = 0,  // a flight on each monitor
    PrimaryOnly = 1,  // one flight on the primary monitor, the others black
    Spanning = 2,     // one flight stretched across the whole window
};

// Flights one window holds at most; monitors beyond them stay black.
constexpr int32_t kMaxFlights = 16;

// The flights of one window. Flight i draws into areas[i] (window pixels,
// origin at the window's top left) and offsets its land seed and its view
// seed by i, so flight 0 (on the primary monitor) flies exactly as a saver
// on one monitor does.
struct FlightPlan {
    int32_t count;
    PixelRect areas[kMaxFlights];
};

// Splits a window (screen pixels) among the monitors (screen pixels, in the
// system's enumeration order). Order of the flights: the primary monitor
// first (the first one flagged, else the first listed), then the others in
// the order given. Each monitor's area is clipped to the window; a monitor
// outside the window, or one whose clipped area repeats an earlier one's (a
// mirrored display), gets no flight. Mode 1 keeps only the first flight of
// that order. A mode outside 0 ... 2 counts as 0.
// Mode 2, or no monitor inside the window, gives one flight on the whole
// window. A window without area, or wider or taller than 32-bit
// coordinates can hold, gives no flight.
FlightPlan PlanFlights(PixelRect window, const MonitorArea* monitors, int32_t monitorCount,
                       int32_t mode);

// A land or view seed offset by a flight's index (wraps at 2^32).
uint32_t OffsetSeed(uint32_t seed, int32_t flightIndex);

}  // namespace hostlogic
