// History.h - the landscape history: every whole landscape a saver made, as
// the glidescape-render command that flies it again.
//
// A landscape is given by its two seeds (the land's and the view's) and the
// settings and window size it was flown with. The savers keep the last
// kHistoryLines of them in a small text file beside their settings
// (%APPDATA%\Glidescape\history.txt, $XDG_STATE_HOME/glidescape/history),
// one command a line, the newest last. Writing the file is the front end's
// (it replaces the file in one step); a failure there never stops a saver.
#pragma once

#include <cstdint>
#include <string>

#include "app/Platform.h"

constexpr int kHistoryLines = 50;

// "glidescape-render --land-seed 1733761234 --view-seed 99 --client
// 1920x1080 --land-size 11", with every setting glidescape-render reads
// that differs from its default.
std::string HistoryLine(const LandscapeRecord& record);

// `history` (lines ending in newlines, or not) with `line` added last and
// only the last `keep` lines kept; blank lines go.
std::string AddHistoryLine(const std::string& history, const std::string& line,
                           int keep = kHistoryLines);
