// X11Settings.h - the Linux saver's settings file.
//
// The keys of the settings table (app/Settings.h), section
// "Glidescape", in "Glidescp.ini" under $XDG_CONFIG_HOME/glidescape/ (by
// default ~/.config/glidescape/). libinih reads the file; each value goes
// through the Windows saver's own number reader (hostlogic::ParseSettingText)
// and the table's clamping, so both savers read a file alike: a missing file,
// section, key or number gives the default, a value out of range the
// fall-back. Section and key names match without regard to case, and the
// first occurrence of a key counts, as with the Windows profile functions.
// "Monitors" is read with the rest and ignored: the Linux saver flies one
// flight on its window, whatever the monitors behind it. Nothing here writes
// the file. Called by x11/main.cpp before the display is opened, and by the
// tests.
#pragma once

#include <string>

#include "app/Settings.h"

// The settings file for the given environment values (null when unset). An
// XDG_CONFIG_HOME that is empty or relative is ignored; without a usable
// HOME the result is empty.
std::string X11SettingsPath(const char* xdgConfigHome, const char* home);

// Loads `settings` from `path`; a file that cannot be read gives the
// defaults. Returns false only when the file exists but could not be opened
// or parsed at all (`settings` then hold whatever was read, clamped).
bool LoadX11Settings(const std::string& path, Settings& settings);
