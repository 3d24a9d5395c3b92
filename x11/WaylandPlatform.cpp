#include "x11/WaylandPlatform.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cstring>
#include <ctime>

#include "app/CommandLine.h"
#include "app/History.h"
#include "app/Monitors.h"
#include "app/Stretch.h"
#include "x11/HistoryFile.h"
#include "x11/TextPainter.h"

namespace {

// Every pixel is written with its X byte set: some compositors (weston's
// pixman renderer) show XRGB pixels whose X byte is 0 as black.
constexpr uint32_t kOpaque = 0xFF000000u;

int64_t NowMicroseconds() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The compositor is done with a buffer: its `busy` flag is the listener's data.
void OnRelease(void* busy, wl_buffer*) {
    *static_cast<bool*>(busy) = false;
}

const wl_buffer_listener kBufferListener = {&OnRelease};

}  // namespace

WaylandPlatform::WaylandPlatform(wl_shm* shm, const TextPainter* text,
                                 const KeyboardShift* keyboard, FlightSeeds seeds,
                                 std::FILE* errors)
    : shm_(shm), text_(text), keyboard_(keyboard), seeds_(seeds), errors_(errors) {
    if (keyboard_ != nullptr) shiftPressesSeen_ = keyboard_->presses;
}

WaylandPlatform::~WaylandPlatform() {
    ReleaseBuffers();
}

void WaylandPlatform::ReleaseBuffers() {
    for (Buffer& buffer : buffers_) {
        if (buffer.buffer != nullptr) wl_buffer_destroy(buffer.buffer);
        buffer = Buffer{};
    }
    if (memory_ != nullptr) munmap(memory_, bytes_);
    memory_ = nullptr;
    bytes_ = 0;
    width_ = 0;
    height_ = 0;
    working_ = -1;
    shown_ = -1;
}

bool WaylandPlatform::SetSize(int32_t width, int32_t height) {
    ReleaseBuffers();
    if (shm_ == nullptr || width <= 0 || height <= 0) return false;
    // The pool's size is a signed 32-bit number of bytes.
    const uint64_t frameBytes =
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * sizeof(uint32_t);
    if (frameBytes * 2u > static_cast<uint64_t>(INT32_MAX)) return false;
    const auto bytes = static_cast<size_t>(frameBytes * 2u);
    const int fd = memfd_create("glidescape", MFD_CLOEXEC);
    if (fd < 0) return false;
    if (ftruncate(fd, static_cast<off_t>(bytes)) != 0) {
        close(fd);
        return false;
    }
    void* memory = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
    if (memory == MAP_FAILED) {
        close(fd);
        return false;
    }
    wl_shm_pool* pool = wl_shm_create_pool(shm_, fd, static_cast<int32_t>(bytes));
    close(fd);  // the pool holds its own reference
    memory_ = memory;
    bytes_ = bytes;
    const int32_t stride = width * static_cast<int32_t>(sizeof(uint32_t));
    for (int i = 0; i < 2; ++i) {
        Buffer& buffer = buffers_[i];
        const auto offset = static_cast<int32_t>(frameBytes) * i;
        buffer.buffer =
            wl_shm_pool_create_buffer(pool, offset, width, height, stride, WL_SHM_FORMAT_XRGB8888);
        buffer.pixels = reinterpret_cast<uint32_t*>(static_cast<char*>(memory) + offset);
        wl_buffer_add_listener(buffer.buffer, &kBufferListener, &buffer.busy);
    }
    wl_shm_pool_destroy(pool);
    // Black until something is drawn.
    std::fill(static_cast<uint32_t*>(memory), static_cast<uint32_t*>(memory) + bytes / 4, kOpaque);
    width_ = width;
    height_ = height;
    return true;
}

bool WaylandPlatform::HasFreeBuffer() const {
    for (const Buffer& buffer : buffers_) {
        if (buffer.buffer != nullptr && !buffer.busy) return true;
    }
    return false;
}

WaylandPlatform::Buffer* WaylandPlatform::Working(bool overwrite) {
    if (working_ >= 0) return &buffers_[working_];
    int pick = -1;
    for (int i = 0; i < 2; ++i) {
        if (buffers_[i].buffer == nullptr || buffers_[i].busy) continue;
        // Both free: keep the one shown last as it is, the source of a copy.
        if (pick < 0 || i != shown_) pick = i;
    }
    if (pick < 0) return nullptr;
    Buffer& buffer = buffers_[pick];
    if (!overwrite && shown_ >= 0 && shown_ != pick) {
        // Texts go over what the surface shows.
        const size_t words = static_cast<size_t>(width_) * static_cast<size_t>(height_);
        std::memcpy(buffer.pixels, buffers_[shown_].pixels, words * sizeof(uint32_t));
    }
    working_ = pick;
    return &buffer;
}

void WaylandPlatform::Clear() {
    Buffer* buffer = Working(true);
    if (buffer == nullptr) return;
    std::fill(buffer->pixels,
              buffer->pixels + static_cast<size_t>(width_) * static_cast<size_t>(height_), kOpaque);
}

wl_buffer* WaylandPlatform::TakeDrawn() {
    if (working_ < 0) return nullptr;
    Buffer& buffer = buffers_[working_];
    buffer.busy = true;
    shown_ = working_;
    working_ = -1;
    return buffer.buffer;
}

void WaylandPlatform::BlitFrame(const uint32_t* pixels, int32_t width, int32_t height,
                                int32_t stride) {
    if (pixels == nullptr || width <= 0 || height <= 0 || stride < width) return;
    const int64_t start = NowMicroseconds();
    Buffer* buffer = Working(true);
    if (buffer == nullptr) return;
    columns_.resize(static_cast<size_t>(width_));
    StretchFrame(pixels, width, height, static_cast<size_t>(stride), buffer->pixels, width_,
                 height_, static_cast<size_t>(width_), columns_.data(), kOpaque);
    blitMicroseconds_ += NowMicroseconds() - start;
}

void WaylandPlatform::DrawStatusText(const char* text, int32_t x, int32_t y, uint32_t colour) {
    if (text == nullptr) return;
    Buffer* buffer = Working(false);
    if (buffer == nullptr) return;
    if (text_ != nullptr) {
        text_->Draw(buffer->pixels, width_, height_, static_cast<size_t>(width_), text, x, y,
                    colour);
    }
}

void WaylandPlatform::ShowMessage(const char* text) {
    SaverPlatform::ShowMessage(text);
    if (text == nullptr || lastMessage_ == text) return;
    lastMessage_ = text;
    PrintErrorLine(errors_, "glidescape", lastMessage_);
}

void WaylandPlatform::LandscapeMade(const LandscapeRecord& record) {
    // A history that cannot be written does not stop the saver.
    if (!historyFile_.empty()) (void)AddToHistoryFile(historyFile_, HistoryLine(record));
}

bool WaylandPlatform::QueryShift() {
    if (keyboard_ == nullptr) return false;
    const bool pressed = keyboard_->presses != shiftPressesSeen_;
    shiftPressesSeen_ = keyboard_->presses;
    return keyboard_->down || pressed;
}

uint32_t WaylandPlatform::CalendarSeconds() {
    const uint32_t seed =
        seeds_.hasLandSeed ? seeds_.landSeed : static_cast<uint32_t>(std::time(nullptr));
    return OffsetSeed(seed, seeds_.index);
}

uint32_t WaylandPlatform::MillisecondTime() {
    const uint32_t seed =
        seeds_.hasViewSeed ? seeds_.viewSeed : static_cast<uint32_t>(NowMicroseconds() / 1000);
    return OffsetSeed(seed, seeds_.index);
}
