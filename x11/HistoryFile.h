// HistoryFile.h - the Linux savers' landscape history file.
//
// $XDG_STATE_HOME/glidescape/history (by default ~/.local/state/glidescape/
// history): the last landscapes made, one glidescape-render command a line
// (see app/History.h). Each landscape rewrites the file through a temporary
// file in its folder that replaces it in one step, so a reader never sees
// half a file; the folder is made (mode 0700) when missing. A history that
// cannot be written is left alone: the saver flies on.
// Callers: the X11 and Wayland platforms when a landscape is made.
#pragma once

#include <string>

// The history file for the given environment values (null when unset); an
// XDG_STATE_HOME that is empty or relative is ignored; empty without a home.
std::string HistoryFilePath(const char* xdgStateHome, const char* home);

// Adds `line` to the history at `path`, keeping the last lines; false when
// the file could not be written (nothing else happens then).
bool AddToHistoryFile(const std::string& path, const std::string& line);
