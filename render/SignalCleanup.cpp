#include "render/SignalCleanup.h"

#include <pthread.h>
#include <signal.h>
#include <unistd.h>

namespace {

constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};

// The waiting thread's stack: it only removes files and raises a signal, and
// a default stack (8 MiB of address space) would be taken from what a run
// under an address-space limit has for its pictures.
constexpr size_t kStackBytes = 256 * 1024;

std::mutex gLock;
const std::string* gFiles[kSignalCleanupSlots] = {};
const std::vector<std::string>* gFolders[kSignalCleanupSlots] = {};
sigset_t gWaited;

// Removes what is listed and ends the program by the signal that came. The
// lock is never given back: an output that tries to make another file waits
// until the program has ended.
[[noreturn]] void EndBySignal(int signal) {
    gLock.lock();
    for (const std::string* file : gFiles) {
        if (file != nullptr && !file->empty()) (void)unlink(file->c_str());
    }
    for (const std::vector<std::string>* folders : gFolders) {
        if (folders == nullptr) continue;
        for (auto folder = folders->rbegin(); folder != folders->rend(); ++folder) {
            (void)rmdir(folder->c_str());
        }
    }
    struct sigaction action = {};
    action.sa_handler = SIG_DFL;
    sigemptyset(&action.sa_mask);
    (void)sigaction(signal, &action, nullptr);
    sigset_t one;
    sigemptyset(&one);
    sigaddset(&one, signal);
    (void)pthread_sigmask(SIG_UNBLOCK, &one, nullptr);
    (void)raise(signal);  // this thread, the default action: the process ends here
    _exit(128 + signal);  // never reached unless the signal could not end it
}

void* WaitForSignals(void*) {
    for (;;) {
        int signal = 0;
        if (sigwait(&gWaited, &signal) == 0) EndBySignal(signal);
    }
}

template <typename T>
bool Add(T* (&slots)[kSignalCleanupSlots], T* item) {
    for (T*& slot : slots) {
        if (slot == item) return true;
    }
    for (T*& slot : slots) {
        if (slot == nullptr) {
            slot = item;
            return true;
        }
    }
    return false;
}

template <typename T>
void Remove(T* (&slots)[kSignalCleanupSlots], T* item) {
    for (T*& slot : slots) {
        if (slot == item) slot = nullptr;
    }
}

}  // namespace

bool StartSignalCleanup() {
    static bool started = false;
    if (started) return true;
    sigemptyset(&gWaited);
    bool any = false;
    for (const int signal : kSignals) {
        // A blocked signal stays pending even when ignored, and sigwait would
        // take it: one the program was started with ignored is left alone.
        struct sigaction current;
        if (sigaction(signal, nullptr, &current) == 0 && current.sa_handler == SIG_IGN) continue;
        sigaddset(&gWaited, signal);
        any = true;
    }
    if (!any) return started = true;
    sigset_t previous;
    if (pthread_sigmask(SIG_BLOCK, &gWaited, &previous) != 0) return false;
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        (void)pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return false;
    }
    (void)pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    (void)pthread_attr_setstacksize(&attributes, kStackBytes);
    pthread_t thread;
    const int code = pthread_create(&thread, &attributes, WaitForSignals, nullptr);
    (void)pthread_attr_destroy(&attributes);
    if (code != 0) {
        (void)pthread_sigmask(SIG_SETMASK, &previous, nullptr);
        return false;
    }
    return started = true;
}

std::mutex& SignalCleanupLock() {
    return gLock;
}

bool WatchFile(const std::string* path) {
    return Add(gFiles, path);
}

void UnwatchFile(const std::string* path) {
    Remove(gFiles, path);
}

bool WatchFolders(const std::vector<std::string>* folders) {
    return Add(gFolders, folders);
}

void UnwatchFolders(const std::vector<std::string>* folders) {
    Remove(gFolders, folders);
}
