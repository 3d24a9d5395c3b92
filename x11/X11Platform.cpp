#include "x11/X11Platform.h"

#include <X11/Xutil.h>
#include <X11/keysym.h>
#include <sys/ipc.h>
#include <sys/shm.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "app/CommandLine.h"
#include "app/History.h"
#include "app/Stretch.h"
#include "x11/HistoryFile.h"

namespace {

// The largest destination image (bytes): far beyond any screen, small
// enough that a bogus window size cannot exhaust memory.
constexpr uint64_t kMaxImageBytes = uint64_t{1} << 30;

// How often Shift is read from the server while land is made: the
// generator asks every few hundred cells, a round trip each time would
// slow it down, and a key press lasts far longer than this.
constexpr int64_t kShiftPollMicroseconds = 10000;

unsigned long errorCount = 0;
XID lastBadWindow = 0;

// The shared segment made but not yet marked for removal (-1: none): it
// would outlive the process if the process ended now. Read by the stop
// watchdog's thread.
std::atomic<int> unmarkedSegment{-1};

int CountError(Display*, XErrorEvent* event) {
    ++errorCount;
    if (event->error_code == BadWindow || event->error_code == BadDrawable) {
        lastBadWindow = event->resourceid;
    }
    return 0;
}

int LostDisplay(Display*) {
    std::fputs("glidescape: lost the connection to the X display\n", stderr);
    std::exit(1);
}

bool IsHostLittleEndian() {
    const uint32_t probe = 1;
    unsigned char first = 0;
    std::memcpy(&first, &probe, 1);
    return first == 1;
}

int MaskShift(unsigned long mask) {
    int shift = 0;
    while (mask != 0 && (mask & 1u) == 0) {
        mask >>= 1;
        ++shift;
    }
    return shift;
}

// An 8-bit channel spread over the visual's mask.
unsigned long Channel(uint32_t value8, unsigned long mask) {
    if (mask == 0) return 0;
    const int shift = MaskShift(mask);
    const unsigned long bits = mask >> shift;
    return ((static_cast<unsigned long>(value8) * bits + 127u) / 255u) << shift;
}

struct ShiftScan {
    const KeyCode* keys;  // the two Shift key codes
    Time after;           // presses up to this time were seen before
    Window window;        // the window drawn on
    Time latest = 0;
    bool found = false;
    bool windowGone = false;
};

// Looks at every queued event and removes none.
Bool SeeShiftPress(Display*, XEvent* event, XPointer argument) {
    auto* scan = reinterpret_cast<ShiftScan*>(argument);
    if (event->type == DestroyNotify && event->xdestroywindow.window == scan->window) {
        scan->windowGone = true;
    }
    if (event->type == KeyPress &&
        (event->xkey.keycode == scan->keys[0] || event->xkey.keycode == scan->keys[1]) &&
        event->xkey.time > scan->after) {
        scan->found = true;
        if (event->xkey.time > scan->latest) scan->latest = event->xkey.time;
    }
    return False;
}

}  // namespace

int64_t MonotonicMicroseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void InstallX11ErrorHandlers() {
    XSetErrorHandler(CountError);
    XSetIOErrorHandler(LostDisplay);
}

unsigned long X11ErrorCount() {
    return errorCount;
}

XID X11LastBadWindow() {
    return lastBadWindow;
}

void X11RemoveUnmarkedSegment() {
    const int id = unmarkedSegment.exchange(-1);
    if (id >= 0) shmctl(id, IPC_RMID, nullptr);
}

X11Platform::X11Platform(Display* display, Window window, Seeds seeds,
                         const volatile sig_atomic_t* stop, std::FILE* errors)
    : display_(display), window_(window), seeds_(seeds), stop_(stop), errors_(errors) {}

X11Platform::~X11Platform() {
    Close();
}

bool X11Platform::Open() {
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display_, window_, &attributes) == 0) return false;
    visual_ = attributes.visual;
    depth_ = attributes.depth;
    if (visual_ == nullptr || visual_->c_class != TrueColor) return false;
    gc_ = XCreateGC(display_, window_, 0, nullptr);
    if (gc_ == nullptr) return false;
    XFontStruct* font = XQueryFont(display_, XGContextFromGC(gc_));
    if (font != nullptr) {
        fontAscent_ = font->ascent;
        XFreeFontInfo(nullptr, font, 1);
    }
    shiftKeys_[0] = XKeysymToKeycode(display_, XK_Shift_L);
    shiftKeys_[1] = XKeysymToKeycode(display_, XK_Shift_R);
    alphaBits_ = depth_ == 32 ? 0xFF000000u : 0u;
    return true;
}

void X11Platform::Close() {
    ReleaseImage();
    if (gc_ != nullptr) XFreeGC(display_, gc_);
    gc_ = nullptr;
}

void X11Platform::Abandon() {
    if (image_ != nullptr && shm_) {
        // The server lets go of its side when the connection closes; the
        // segment was marked for removal when it was attached.
        shmdt(shmInfo_.shmaddr);
        image_->data = nullptr;
        shm_ = false;
    }
    ReleaseImage();
    if (gc_ != nullptr) XFreeGC(display_, gc_);  // queued, never waited for
    gc_ = nullptr;
}

void X11Platform::ReleaseImage() {
    if (image_ == nullptr) return;
    if (shm_) {
        XShmDetach(display_, &shmInfo_);
        XSync(display_, False);
        shmdt(shmInfo_.shmaddr);
        image_->data = nullptr;
    }
    XDestroyImage(image_);  // frees the data of a plain image
    image_ = nullptr;
    shm_ = false;
    shmInfo_ = XShmSegmentInfo{};
    clientWidth_ = 0;
    clientHeight_ = 0;
}

bool X11Platform::MakeSharedImage(int32_t width, int32_t height) {
    image_ =
        XShmCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, nullptr,
                        &shmInfo_, static_cast<unsigned>(width), static_cast<unsigned>(height));
    if (image_ == nullptr) return false;
    const uint64_t bytes =
        static_cast<uint64_t>(image_->bytes_per_line) * static_cast<uint64_t>(height);
    if (image_->bytes_per_line <= 0 || bytes > kMaxImageBytes) {
        XDestroyImage(image_);
        image_ = nullptr;
        return false;
    }
    shmInfo_.shmid = shmget(IPC_PRIVATE, static_cast<size_t>(bytes), IPC_CREAT | 0600);
    unmarkedSegment.store(shmInfo_.shmid);
    if (shmInfo_.shmid < 0) {
        XDestroyImage(image_);
        image_ = nullptr;
        return false;
    }
    void* address = shmat(shmInfo_.shmid, nullptr, 0);
    if (address == reinterpret_cast<void*>(-1)) {
        X11RemoveUnmarkedSegment();
        XDestroyImage(image_);
        image_ = nullptr;
        return false;
    }
    shmInfo_.shmaddr = static_cast<char*>(address);
    image_->data = shmInfo_.shmaddr;
    shmInfo_.readOnly = False;
    // A server on another machine (or one that refuses) answers with an
    // error, which the counting handler records; the sync waits for it.
    const unsigned long errorsBefore = errorCount;
    const Bool attached = XShmAttach(display_, &shmInfo_);
    XSync(display_, False);
    // Both sides hold it now: the segment disappears with the last detach,
    // even if this process is killed.
    X11RemoveUnmarkedSegment();
    if (!attached || errorCount != errorsBefore) {
        shmdt(shmInfo_.shmaddr);
        image_->data = nullptr;
        XDestroyImage(image_);
        image_ = nullptr;
        shmInfo_ = XShmSegmentInfo{};
        return false;
    }
    shm_ = true;
    return true;
}

bool X11Platform::MakePlainImage(int32_t width, int32_t height) {
    // 32 bits a pixel covers every depth up to 32; XCreateImage takes the
    // server's layout for the depth from the display.
    image_ = XCreateImage(display_, visual_, static_cast<unsigned>(depth_), ZPixmap, 0, nullptr,
                          static_cast<unsigned>(width), static_cast<unsigned>(height), 32, 0);
    if (image_ == nullptr) return false;
    const uint64_t bytes =
        static_cast<uint64_t>(image_->bytes_per_line) * static_cast<uint64_t>(height);
    if (image_->bytes_per_line <= 0 || bytes > kMaxImageBytes) {
        XDestroyImage(image_);
        image_ = nullptr;
        return false;
    }
    image_->data = static_cast<char*>(std::calloc(static_cast<size_t>(bytes), 1));
    if (image_->data == nullptr) {
        XDestroyImage(image_);
        image_ = nullptr;
        return false;
    }
    return true;
}

bool X11Platform::SetClientSize(int32_t width, int32_t height) {
    ReleaseImage();
    if (gc_ == nullptr || width <= 0 || height <= 0 ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 4u > kMaxImageBytes) {
        return false;
    }
    const bool made = (XShmQueryExtension(display_) && MakeSharedImage(width, height)) ||
                      MakePlainImage(width, height);
    if (!made) return false;
    fastPixels_ = image_->bits_per_pixel == 32 && image_->red_mask == 0xFF0000u &&
                  image_->green_mask == 0xFF00u && image_->blue_mask == 0xFFu &&
                  (image_->byte_order == LSBFirst) == IsHostLittleEndian();
    clientWidth_ = width;
    clientHeight_ = height;
    sourceColumn_.assign(static_cast<size_t>(width), 0);
    return true;
}

void X11Platform::Clear() {
    drawnOver_ = false;
    shownMessage_.clear();
    if (gc_ == nullptr) return;
    XSetForeground(display_, gc_, PixelFor(0));
    XWindowAttributes attributes{};
    if (XGetWindowAttributes(display_, window_, &attributes) == 0) return;
    XFillRectangle(display_, window_, gc_, 0, 0, static_cast<unsigned>(attributes.width),
                   static_cast<unsigned>(attributes.height));
    XFlush(display_);
}

unsigned long X11Platform::PixelFor(uint32_t colour) const {
    if (visual_ == nullptr) return 0;
    return Channel((colour >> 16) & 0xFFu, visual_->red_mask) |
           Channel((colour >> 8) & 0xFFu, visual_->green_mask) |
           Channel(colour & 0xFFu, visual_->blue_mask) | alphaBits_;
}

void X11Platform::ScaleInto(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride) {
    const int32_t w = clientWidth_;
    const int32_t h = clientHeight_;
    if (fastPixels_) {
        StretchFrame(pixels, width, height, static_cast<size_t>(stride),
                     reinterpret_cast<uint32_t*>(image_->data), w, h,
                     static_cast<size_t>(image_->bytes_per_line) / 4, sourceColumn_.data(),
                     alphaBits_, 0xFFFFFFu);
        return;
    }
    // Other visuals go pixel by pixel.
    StretchColumns(width, w, sourceColumn_.data());
    const size_t rowBytes = static_cast<size_t>(image_->bytes_per_line);
    int32_t previousSource = -1;
    for (int32_t y = 0; y < h; ++y) {
        const int32_t sourceRow = StretchSourceRow(y, height, h);
        if (sourceRow == previousSource) {
            // Enlarging repeats rows: copy the one just made.
            char* destination = image_->data + static_cast<size_t>(y) * rowBytes;
            std::memcpy(destination, destination - rowBytes, rowBytes);
            continue;
        }
        previousSource = sourceRow;
        const uint32_t* source =
            pixels + static_cast<size_t>(sourceRow) * static_cast<size_t>(stride);
        for (int32_t x = 0; x < w; ++x) {
            XPutPixel(image_, x, y, PixelFor(source[sourceColumn_[static_cast<size_t>(x)]]));
        }
    }
}

void X11Platform::BlitFrame(const uint32_t* pixels, int32_t width, int32_t height, int32_t stride) {
    if (image_ == nullptr || pixels == nullptr || width <= 0 || height <= 0 || stride < width) {
        return;
    }
    drawnOver_ = true;
    const int64_t start = MonotonicMicroseconds();
    ScaleInto(pixels, width, height, stride);
    const auto w = static_cast<unsigned>(clientWidth_);
    const auto h = static_cast<unsigned>(clientHeight_);
    if (shm_) {
        XShmPutImage(display_, window_, gc_, image_, 0, 0, 0, 0, w, h, False);
        // The next frame rewrites the segment: wait until the server has
        // read this one.
        XSync(display_, False);
    } else {
        XPutImage(display_, window_, gc_, image_, 0, 0, 0, 0, w, h);
        XFlush(display_);
    }
    blitMicroseconds_ += MonotonicMicroseconds() - start;
}

void X11Platform::DrawStatusText(const char* text, int32_t x, int32_t y, uint32_t colour) {
    if (gc_ == nullptr || text == nullptr) return;
    drawnOver_ = true;
    XSetForeground(display_, gc_, PixelFor(colour));
    // (x, y) is the top left of the text; X draws from the baseline.
    XDrawString(display_, window_, gc_, x, y + fontAscent_, text,
                static_cast<int>(std::strlen(text)));
    XFlush(display_);
}

void X11Platform::ShowMessage(const char* text) {
    if (text == nullptr) return;
    // Over a progress screen (a landscape that ran out of memory half way)
    // or a frame the line would mix with what is there: the window is
    // cleared first, unless it shows this line alone already (the frame
    // loop repeats it every tick).
    if (drawnOver_ || shownMessage_ != text) Clear();
    SaverPlatform::ShowMessage(text);
    drawnOver_ = false;
    shownMessage_ = text;
    if (lastMessage_ == text) return;
    lastMessage_ = text;
    PrintErrorLine(errors_, "glidescape", lastMessage_);
}

void X11Platform::LandscapeMade(const LandscapeRecord& record) {
    // A history that cannot be written does not stop the saver.
    if (!historyFile_.empty()) (void)AddToHistoryFile(historyFile_, HistoryLine(record));
}

bool X11Platform::QueryShift() {
    // A stop request ends a generation under way as Shift would (so does
    // the window's destruction, below).
    if (stop_ != nullptr && *stop_ != 0) return true;
    const int64_t now = MonotonicMicroseconds();
    if (lastShiftPollUs_ >= 0 && now - lastShiftPollUs_ < kShiftPollMicroseconds) return false;
    lastShiftPollUs_ = now;
    // Pressed since the last query: the generator may not ask for seconds,
    // and a short press in between is still queued as an event (in a window
    // that takes key presses; the events stay queued for the closing rules).
    ShiftScan scan{shiftKeys_, lastShiftPress_, window_};
    XEvent unused;
    XCheckIfEvent(display_, &unused, SeeShiftPress, reinterpret_cast<XPointer>(&scan));
    if (scan.found) lastShiftPress_ = scan.latest;
    // A window that went away ends the saver once the tick returns: no use
    // making the rest of the land for it.
    if (scan.windowGone || X11LastBadWindow() == window_) return true;
    // Down now.
    char keys[32] = {};
    XQueryKeymap(display_, keys);
    bool down = false;
    for (KeyCode code : shiftKeys_) {
        if (code != 0 && (keys[code >> 3] & (1 << (code & 7))) != 0) down = true;
    }
    return down || scan.found;
}

uint32_t X11Platform::CalendarSeconds() {
    if (seeds_.hasLandSeed) return seeds_.landSeed;
    return static_cast<uint32_t>(std::time(nullptr));
}

uint32_t X11Platform::MillisecondTime() {
    if (seeds_.hasViewSeed) return seeds_.viewSeed;
    return static_cast<uint32_t>(MonotonicMicroseconds() / 1000);
}
