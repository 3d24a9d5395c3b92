// TimingLog.h - a front end's log of the frames it shows (-timing FILE).
//
// One line per frame shown, in the order shown:
//   MICROSECONDS TICK FRACTION X Y HEADING ALTITUDE
// MICROSECONDS: the monotonic clock of the refresh the frame was drawn for;
// TICK: ticks run so far (the first landscape's tick is 1); FRACTION: where
// between that tick and the next the frame lies (1/65536, 0 for a tick's own
// frame); X, Y: the camera's position (1/1024 cell, wrapping at the land's
// side), HEADING (angle units) and ALTITUDE (height units) of the frame.
// Lines starting with '#' say how the front end paces (refresh source,
// period, smoothness, whether it draws) whenever that changes. Each line is
// written out at once, so the log can be read while the saver runs, and is
// complete however the process ends. Callers: x11/X11Saver.cpp,
// x11/WaylandSaver.cpp (tests and scripts/energy.sh read the logs).
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "app/FrameLoop.h"

class TimingLog {
public:
    TimingLog() = default;
    ~TimingLog();
    TimingLog(const TimingLog&) = delete;
    TimingLog& operator=(const TimingLog&) = delete;

    // Creates (or empties) the file; false with the reason in `error`.
    bool Open(const std::string& path, std::string& error);
    bool open() const { return file_ != nullptr; }
    // A '#' line (no newline in `text`).
    void Note(const std::string& text);
    // The pacing, written only when it differs from the last one written.
    void Pacing(const char* source, int64_t refreshMicroseconds, bool smooth, bool drawing);
    void Frame(int64_t microseconds, int64_t tick, int32_t fraction, const Flight::Camera& camera);
    void Close();

private:
    std::FILE* file_ = nullptr;
    std::string lastPacing_;
};
