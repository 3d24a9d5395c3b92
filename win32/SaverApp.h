// SaverApp.h - the Win32 saver application: what it registers with the host
// (win32/Host.h) and its settings store.
//
// The settings live in "Glidescp.ini", section "Glidescape". Windows keeps a
// bare-name INI file in its own folder, which a program may not write on
// current systems, so the saver reads and writes a per-user copy,
// %APPDATA%\Glidescape\Glidescp.ini, and reads the bare-name file only while
// that copy does not exist yet (settings of an older install carry over).
//
// Callers: the host, through the entry points of win32/SaverMain.cpp;
// SaverWindowProc (win32/SaverWindow.cpp) loads the settings on WM_CREATE;
// the configuration dialog (win32/ConfigDialog.cpp) loads them when it opens
// and saves them on OK.
#pragma once

#include <windows.h>

#include <cstddef>
#include <string>

#include "app/Settings.h"

// The entry points (see SaverEntryPoints in win32/Host.h).
LRESULT CALLBACK SaverWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PrepareDialogClasses(HINSTANCE instance);

// Reads the settings (defaults for what is missing), clamped.
Settings LoadSettings();

// Writes the settings, in the dialog's write order, to the per-user file,
// creating its folder. False when the file could not be written.
bool SaveSettings(const Settings& settings);

// The per-user INI file's full path, or false when the application-data
// folder is not known. With createFolder the "Glidescape" folder is made.
bool UserSettingsPath(char* path, std::size_t size, bool createFolder);
// The same for another file of that folder.
bool UserFilePath(const char* name, char* path, std::size_t size, bool createFolder);

// Adds a line to %APPDATA%\Glidescape\history.txt (the last lines kept, the
// file replaced in one step); false when it could not be written.
bool AddToHistory(const std::string& line);
