// GoogleTest customisation for the MinGW-w64 build of the unit tests (put
// first on GoogleTest's include path by cmake/CoreTestsWine.cmake).
//
// Debian's MinGW-w64 "win32" thread flavour has no std::mutex, which
// GoogleTest's Notification is built on. This stand-in waits on an atomic
// flag instead; only GoogleTest's own thread tests use it, and the unit tests
// run on one thread.
#ifndef GLIDESCAPE_GTEST_CUSTOM_PORT_H_
#define GLIDESCAPE_GTEST_CUSTOM_PORT_H_

#include <atomic>

#define GTEST_HAS_NOTIFICATION_ 1

namespace testing {
namespace internal {

class Notification {
public:
    Notification() : notified_(false) {}
    Notification(const Notification&) = delete;
    Notification& operator=(const Notification&) = delete;

    void Notify() { notified_.store(true); }
    void WaitForNotification() {
        while (!notified_.load()) {
        }
    }

private:
    std::atomic<bool> notified_;
};

}  // namespace internal
}  // namespace testing

#endif  // GLIDESCAPE_GTEST_CUSTOM_PORT_H_
