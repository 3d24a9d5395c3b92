// OutputFile.h - writes one output of glidescape-render so that a failure
// never damages what was there.
//
// A regular file (or a path that does not exist yet) is written to a
// temporary file in the destination's folder, which is flushed to the disk
// and renamed over the destination only when everything was written; a
// failure removes the temporary file and leaves the destination exactly as
// it was. A symbolic link is followed: the file it names is replaced, the
// link stays. Anything that is not a regular file (a device, a FIFO) is
// written directly, since it cannot be replaced.
//
// Callers: the image writers (render/ImageWriter.cpp). Errors are one line,
// "cannot write PATH: reason".
#pragma once

#include <cstdio>
#include <string>

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile();  // an output not committed is abandoned: its temporary file goes
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Opens the stream for `path`; false with `error` set when it cannot.
    bool Open(const std::string& path, std::string& error);
    std::FILE* stream() const { return stream_; }

    // Flushes, closes and puts the file in place. `writeOk` is the caller's
    // verdict on its own writes: false abandons the output and reports
    // `reason` (errno's text when empty).
    bool Commit(bool writeOk, const std::string& reason, std::string& error);

private:
    void Abandon();

    std::string path_;         // as given, for messages
    std::string destination_;  // the file replaced (a link's target)
    std::string temporary_;    // empty: written directly
    std::FILE* stream_ = nullptr;
};

// True when `path` names a device, a FIFO or another file that is not a
// regular one (following symbolic links): such outputs are written directly.
bool IsSpecialFile(const std::string& path);
