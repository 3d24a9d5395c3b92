#include "app/TimingLog.h"

#include <cerrno>
#include <cinttypes>
#include <cstring>

TimingLog::~TimingLog() {
    Close();
}

bool TimingLog::Open(const std::string& path, std::string& error) {
    Close();
    file_ = std::fopen(path.c_str(), "w");
    if (file_ == nullptr) {
        error = "cannot write the timing log '" + path + "': " + std::strerror(errno);
        return false;
    }
    std::fputs("# microseconds tick fraction x y heading altitude\n", file_);
    std::fflush(file_);
    return true;
}

void TimingLog::Note(const std::string& text) {
    if (file_ == nullptr) return;
    std::fprintf(file_, "# %s\n", text.c_str());
    std::fflush(file_);
}

void TimingLog::Pacing(const char* source, int64_t refreshMicroseconds, bool smooth, bool drawing) {
    if (file_ == nullptr) return;
    char text[160];
    std::snprintf(text, sizeof text, "pacing %s refresh %" PRId64 " us smooth %d drawing %d",
                  source, refreshMicroseconds, smooth ? 1 : 0, drawing ? 1 : 0);
    if (lastPacing_ == text) return;
    lastPacing_ = text;
    Note(text);
}

void TimingLog::Frame(int64_t microseconds, int64_t tick, int32_t fraction,
                      const Flight::Camera& camera) {
    if (file_ == nullptr) return;
    std::fprintf(file_, "%" PRId64 " %" PRId64 " %d %d %d %d %d\n", microseconds, tick, fraction,
                 camera.positionX, camera.positionY, camera.heading, camera.altitude);
    std::fflush(file_);
}

void TimingLog::Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}
