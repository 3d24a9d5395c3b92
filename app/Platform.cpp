#include "app/Platform.h"

#include <cstdlib>
#include <new>

#include "base/Scratch.h"

// The C++ library's threads exist unless its thread model has none (GCC's
// win32 model before GCC 13 and Emscripten without pthreads).
#if defined(__GLIBCXX__) && !defined(_GLIBCXX_HAS_GTHREADS)
#define GLIDESCAPE_STD_THREADS 0
#elif defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
#define GLIDESCAPE_STD_THREADS 0
#else
#define GLIDESCAPE_STD_THREADS 1
#include <system_error>
#include <thread>
#endif

namespace {

constexpr uint32_t kProgressGrey = 0xCFCFCF;    // red, green, blue 207
constexpr uint32_t kStoppingColour = 0xFFCF00;  // red 255, green 207, blue 0

uint32_t Grey(int32_t level) {
    const auto v = static_cast<uint32_t>(level);
    return (v << 16) | (v << 8) | v;
}

}  // namespace

SaverPlatform::SaverPlatform() : start_(std::chrono::steady_clock::now()) {}

SaverPlatform::~SaverPlatform() = default;

int64_t SaverPlatform::ClockMs() {
    const auto elapsed = std::chrono::steady_clock::now() - start_;
    return std::chrono::duration_cast<std::chrono::milliseconds>(elapsed).count();
}

void SaverPlatform::ShowProgress(const ProgressScreen& screen) {
    DrawProgressTexts(*this, screen);
}

void SaverPlatform::LandscapeMade(const LandscapeRecord&) {}

bool SaverPlatform::TakesPaddedFrames() const {
    return false;
}

void SaverPlatform::ShowMessage(const char* text) {
    if (text != nullptr) DrawStatusText(text, 5, 15, kProgressGrey);
}

void DrawProgressTexts(SaverPlatform& platform, const ProgressScreen& screen) {
    if (screen.part == ProgressScreen::Part::Stopping) {
        platform.DrawStatusText("Processing... Stopping", 5, 69, kStoppingColour);
        return;
    }
    platform.DrawStatusText("Glidescape, by Quillon", 5, 15, Grey(screen.level));
    platform.DrawStatusText("Press Shift to abort landscape generation...", 5, 42, kProgressGrey);
    platform.DrawStatusText("Processing...", 5, 69, static_cast<uint32_t>(255 - screen.level) << 16);
}

uint32_t* SaverPlatform::CreatePixels(int32_t width, int32_t height) {
    // Both sides must be positive and the product is formed in 64 bits, so a
    // huge request fails here instead of wrapping around.
    if (width <= 0 || height <= 0) return nullptr;
    const int64_t words = static_cast<int64_t>(width) * static_cast<int64_t>(height);
    if (static_cast<uint64_t>(words) > scratch::kMaxAllocationBytes / sizeof(uint32_t)) {
        return scratch::CountFailure();
    }
    if (!scratch::AllocationAllowed()) return scratch::CountFailure();
    // calloc: memory fresh from the system is zero already, so the maps of
    // a big land (128 MiB at side 4096) are not written page by page before
    // the first tick; a saver closed right after it started ends at once.
    void* pixels = std::calloc(static_cast<size_t>(words), sizeof(uint32_t));
    return pixels != nullptr ? static_cast<uint32_t*>(pixels) : scratch::CountFailure();
}

void SaverPlatform::ReleasePixels(uint32_t* pixels) {
    std::free(pixels);
}

#if GLIDESCAPE_STD_THREADS
void* SaverPlatform::StartWorker(void (*run)(void* context), void* context) {
    auto* thread = new (std::nothrow) std::thread;
    if (thread == nullptr) return nullptr;
    // The library reports a thread it cannot start by throwing; that is
    // turned into the null handle the caller checks.
    try {
        *thread = std::thread(run, context);
    } catch (const std::system_error&) {
        delete thread;
        return nullptr;
    }
    return thread;
}

void SaverPlatform::JoinWorker(void* handle) {
    auto* thread = static_cast<std::thread*>(handle);
    if (thread == nullptr) return;
    if (thread->joinable()) thread->join();
    delete thread;
}
#else
void* SaverPlatform::StartWorker(void (*)(void*), void*) {
    return nullptr;
}

void SaverPlatform::JoinWorker(void*) {}
#endif

LandGenerator::ScratchHooks SaverPlatform::LandScratchHooks() { return {}; }
