// CommandLine.h - what every command-line front end reads and says alike:
// seeds, and one-line error messages.
//
// Callers: the Linux saver's option parser (x11/), glidescape-render's
// (render/), the web page's seeds (web/). Settings options are read through
// SettingOverrides (app/Settings.h).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

// A seed: decimal digits only, 0 to 4294967295 (no sign, no blanks).
bool ParseSeed(const char* text, uint32_t* seed);

// `text` with every control character (a newline in a path, say) written as
// \xHH, so that a message naming it stays one line.
std::string OneLine(const std::string& text);

// Prints "program: message" as one line (see OneLine) on `out`; nothing when
// `out` is null.
void PrintErrorLine(std::FILE* out, const char* program, const std::string& message);
