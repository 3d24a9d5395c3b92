// SignalCleanup.h - what glidescape-render removes when SIGINT, SIGTERM or
// SIGHUP ends it: the temporary file of the output being written and the
// folders the run made that are still empty. Finished outputs stay.
//
// StartSignalCleanup (called first thing in main, before any other thread
// exists) blocks the three signals in the calling thread, so every thread
// started later inherits the block, and starts one thread that waits for
// them with sigwait. That thread runs ordinary code: it takes the cleanup
// lock, removes what is listed, and then ends the program by the signal
// itself (default action, raised again), so the parent sees a death by that
// signal (a shell reports 128 + the signal's number, and stops a loop or a
// script on Ctrl-C as it should). A signal the program was started with
// ignored (nohup, a background job's SIGINT) stays ignored.
//
// Outputs list what must go while they hold SignalCleanupLock(): the lock is
// held from creating a file until it is listed, and from renaming it into
// place until it is taken off the list, so the signal thread never sees a
// file half-listed. Listed strings are read, not copied (no allocation), and
// must stay alive until they are taken off. Without StartSignalCleanup (the
// unit tests) listing costs a lock and nothing happens on a signal.
//
// Callers: render/main.cpp (start), render/OutputFile.cpp (listing).
#pragma once

#include <mutex>
#include <string>
#include <vector>

// False when the waiting thread could not be started: the signals then keep
// their default action (the program ends without removing anything).
bool StartSignalCleanup();

std::mutex& SignalCleanupLock();

// With SignalCleanupLock() held. A file is unlinked when non-empty; the
// folders of a list are removed from its last to its first, each only when
// empty (rmdir), so a list made parent first removes a nest. At most
// kSignalCleanupSlots files and as many folder lists are listed at a time
// (the renderer writes one output at a time); Watch returns false when full.
constexpr int kSignalCleanupSlots = 4;
bool WatchFile(const std::string* path);
void UnwatchFile(const std::string* path);
bool WatchFolders(const std::vector<std::string>* folders);
void UnwatchFolders(const std::vector<std::string>* folders);
