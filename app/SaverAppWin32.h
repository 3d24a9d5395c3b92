// SaverAppWin32.h - the Win32 side of the saver application.
//
// The settings live in "Glidescp.ini", section "Glidescape". Windows keeps a
// bare-name INI file in its own folder, which a program may not write on
// current systems, so the saver reads and writes a per-user copy,
// %APPDATA%\Glidescape\Glidescp.ini, and reads the bare-name file only while
// that copy does not exist yet (settings of an older install carry over).
//
// Callers: SaverWindowProc (app/SaverWindowWin32.cpp) loads the settings on
// WM_CREATE; the configuration dialog (app/ConfigDialogWin32.cpp) loads them
// when it opens and saves them on OK.
#pragma once

#include <cstddef>

#include "app/Settings.h"

// Reads the eight settings (defaults for what is missing), clamped.
Settings LoadSettings();

// Writes the eight settings, in the dialog's write order, to the per-user
// file, creating its folder. False when the file could not be written.
bool SaveSettings(const Settings& settings);

// The per-user INI file's full path, or false when the application-data
// folder is not known. With createFolder the "Glidescape" folder is made.
bool UserSettingsPath(char* path, std::size_t size, bool createFolder);
