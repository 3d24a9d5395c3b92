// OutputFile.h - writes one output of glidescape-render so that a failure
// never damages what was there.
//
// A regular file (or a path that does not exist yet) is written to a hidden
// temporary file in the destination's folder, which is flushed to the disk
// and renamed over the destination only when everything was written; a
// failure removes the temporary file and leaves the destination exactly as
// it was, and so does a signal that ends the program (render/SignalCleanup.h).
// A symbolic link is followed: the file it names is replaced (a dangling
// link's target is made), the link stays; a loop of links is an error.
// Anything that is not a regular file (a device, a FIFO) is written
// directly, since it cannot be replaced.
//
// MadeFolders makes the folder of --png-dir with its missing parents and
// removes the ones it made again, when empty, unless the run keeps them.
//
// Callers: the image writers (render/ImageWriter.cpp), the run
// (render/RenderRun.cpp). Errors are one line, "cannot write PATH: reason"
// or "cannot make folder PATH: reason".
#pragma once

#include <cstdio>
#include <string>
#include <vector>

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

// The temporary file's name for a destination named `name` (no folder) in
// a folder whose names may have `nameMax` bytes (pathconf's _PC_NAME_MAX; 0
// or less: no limit): ".NAME.XXXXXX", as mkostemp's template, with NAME cut
// short at a character boundary (UTF-8) where the whole would not fit, so
// that every name that fits the folder can be written.
std::string TemporaryNameFor(const std::string& name, long nameMax);

class MadeFolders {
public:
    MadeFolders() = default;
    ~MadeFolders();  // removes the folders made, deepest first, each if empty
    MadeFolders(const MadeFolders&) = delete;
    MadeFolders& operator=(const MadeFolders&) = delete;

    // Makes `path` and every missing parent; false with `error` set when one
    // cannot be made or `path` exists as something else than a folder.
    bool Make(const std::string& path, std::string& error);
    // The run succeeded: what was made stays.
    void Keep();

    const std::vector<std::string>& made() const { return made_; }

private:
    std::vector<std::string> made_;  // parents first
};

// True when `path` names a device, a FIFO or another file that is not a
// regular one (following symbolic links): such outputs are written directly.
bool IsSpecialFile(const std::string& path);
