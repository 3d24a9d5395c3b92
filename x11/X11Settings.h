// X11Settings.h - the Linux saver's settings file.
//
// The keys of the settings table (app/Settings.h), section
// "Glidescape", in "Glidescp.ini" under $XDG_CONFIG_HOME/glidescape/ (by
// default ~/.config/glidescape/). libinih reads the file; each value goes
// through the settings' own number reader (ParseSettingText) and the table's
// clamping, as the Windows saver's does, so both savers read a file alike: a missing file,
// section, key or number gives the default, a value out of range the
// fall-back. Section and key names match without regard to case, and the
// first occurrence of a key counts, as with the Windows profile functions.
// "Monitors" is read with the rest and ignored: the Linux saver flies one
// flight on its window, whatever the monitors behind it. Nothing here writes
// the file. Called by x11/main.cpp before the display is opened, and by the
// tests.
//
// Only a regular file of at most kMaxX11SettingsBytes is read, opened
// without blocking (a FIFO or a device in its place cannot hold the saver
// up), whole into memory, and let go once the values are taken; only the
// table's keys are kept while parsing. A line longer than libinih's line
// buffer is ignored whole (never read in pieces, which would make the tail
// of a long comment a setting).
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "app/Settings.h"

// The largest settings file read (bytes); a larger one is not read at all.
constexpr size_t kMaxX11SettingsBytes = size_t{1} << 20;

// The settings file for the given environment values (null when unset). An
// XDG_CONFIG_HOME that is empty or relative is ignored; without a usable
// HOME the result is empty.
std::string X11SettingsPath(const char* xdgConfigHome, const char* home);

struct X11SettingsLoad {
    // False when the file is there but was not read (it cannot be opened,
    // is not a regular file, is too large or fails while read): every
    // setting is then its default. A missing file is no fault.
    bool readable = true;
    // Lines for stderr, without the program's name: why the file was not
    // read ("cannot read PATH: REASON; using the defaults"), or which lines
    // were ignored for their length.
    std::vector<std::string> notices;
};

// Loads `settings` from `path` (an empty path: the defaults).
X11SettingsLoad LoadX11Settings(const std::string& path, Settings& settings);
