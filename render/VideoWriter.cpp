#include "render/VideoWriter.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>
#include <utility>
#include <vector>

#include "app/Stretch.h"
#include "render/OutputFile.h"

extern char** environ;

namespace {

constexpr VideoFormat kFormats[] = {
    {".mp4", "mp4", "libx264", "H.264", true, true},
    {".mkv", "matroska", "ffv1", "FFV1", false, false},
    {".webm", "webm", "libvpx-vp9", "VP9", true, false},
};

// The descriptor ffmpeg gets the output file on.
constexpr int kOutputFd = 3;

// ffmpeg's name of the frame's words as they lie in memory (0xAARRGGBB:
// B, G, R, A on a little-endian machine); the alpha byte is ignored.
const char* FramePixelFormat() {
    const uint32_t word = 0x01020304u;
    uint8_t first = 0;
    std::memcpy(&first, &word, 1);
    return first == 0x04 ? "bgr0" : "0rgb";
}

std::string SizeText(VideoSize size) {
    return std::to_string(size.width) + "x" + std::to_string(size.height);
}

// ffmpeg's command line after the program's name.
std::vector<std::string> EncoderArguments(const VideoFormat& format, VideoSize upright,
                                          VideoSize video, int32_t fps, bool smoothScale,
                                          bool streamed) {
    std::vector<std::string> args = {"-hide_banner", "-nostdin",
                                     "-nostats",     "-loglevel",
                                     "error",        "-y",
                                     "-f",           "rawvideo",
                                     "-pix_fmt",     FramePixelFormat(),
                                     "-s",           SizeText(upright),
                                     "-framerate",   std::to_string(fps),
                                     "-i",           "pipe:0"};
    std::string filter;
    if (smoothScale) {
        filter = "scale=" + std::to_string(video.width) + ":" + std::to_string(video.height) +
                 ":flags=bicubic+accurate_rnd";
    }
    if (format.yuv420) {
        // BT.709, limited range, tagged so; the chroma of each 2 x 2 block.
        if (filter.empty()) filter = "scale=flags=bicubic+accurate_rnd";
        filter += ":out_color_matrix=bt709:out_range=tv,format=yuv420p";
        for (const char* option : {"-colorspace", "-color_primaries", "-color_trc"}) {
            args.insert(args.end(), {option, "bt709"});
        }
        args.insert(args.end(), {"-color_range", "tv"});
    } else {
        args.insert(args.end(), {"-pix_fmt", "bgr0"});
    }
    if (!filter.empty()) args.insert(args.end(), {"-vf", filter});
    args.insert(args.end(), {"-c:v", format.encoder});
    const std::string encoder = format.encoder;
    // H.264 and VP9 at a quality where the land's blocks keep their edges;
    // FFV1 with every frame a key frame, for editing.
    if (encoder == "libx264") {
        args.insert(args.end(), {"-preset", "medium", "-crf", "20"});
    } else if (encoder == "libvpx-vp9") {
        args.insert(args.end(), {"-crf", "31", "-b:v", "0", "-deadline", "good", "-cpu-used", "4",
                                 "-row-mt", "1"});
    } else if (encoder == "ffv1") {
        args.insert(args.end(), {"-level", "3", "-g", "1"});
    }
    if (streamed && std::string(format.muxer) == "mp4") {
        args.insert(args.end(), {"-movflags", "frag_keyframe+empty_moov"});
    }
    args.insert(args.end(), {"-f", format.muxer, "file:/dev/fd/" + std::to_string(kOutputFd)});
    return args;
}

}  // namespace

const VideoFormat* VideoFormatFor(const std::string& path) {
    std::string lower = path;
    std::transform(lower.begin(), lower.end(), lower.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    for (const VideoFormat& format : kFormats) {
        const size_t length = std::strlen(format.extension);
        if (lower.size() > length &&
            lower.compare(lower.size() - length, length, format.extension) == 0) {
            return &format;
        }
    }
    return nullptr;
}

const char* VideoExtensions() {
    return "a .mp4, .mkv or .webm path";
}

struct VideoWriter::State {
    OutputFile output;
    pid_t child = -1;
    int input = -1;                 // the pipe into ffmpeg's standard input
    std::FILE* log = nullptr;       // ffmpeg's standard output and error
    std::vector<uint32_t> picture;  // one frame as sent: top row first
    std::vector<int32_t> columns;
    VideoSize frame;
    VideoSize upright;  // the size sent
    struct sigaction oldPipe {};
    bool pipeIgnored = false;

    // Closes the pipe and waits for ffmpeg; -1 when there was none.
    int Wait(bool stop) {
        if (input >= 0) close(input);
        input = -1;
        if (child <= 0) return -1;
        if (stop) kill(child, SIGKILL);
        int status = 0;
        while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
        }
        child = -1;
        return status;
    }

    ~State() {
        (void)Wait(true);
        if (log != nullptr) std::fclose(log);
        if (pipeIgnored) sigaction(SIGPIPE, &oldPipe, nullptr);
    }
};

VideoWriter::VideoWriter(std::string program) : program_(std::move(program)) {}
VideoWriter::~VideoWriter() = default;

bool VideoWriter::Fail(const std::string& reason, std::string& error) {
    error = "cannot write " + path_ + ": " + reason;
    state_.reset();  // ffmpeg stops, the temporary file goes with the output
    return false;
}

std::string VideoWriter::LastLogLine() {
    std::string last;
    State& s = *state_;
    if (s.log != nullptr && std::fflush(s.log) == 0 && std::fseek(s.log, 0, SEEK_SET) == 0) {
        char line[512];
        while (std::fgets(line, sizeof line, s.log) != nullptr) {
            std::string text = line;
            while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back())) != 0) {
                text.pop_back();
            }
            if (!text.empty()) last = text;
        }
    }
    // ffmpeg names the file by the descriptor it got.
    const std::string handed = "file:/dev/fd/" + std::to_string(kOutputFd);
    for (size_t at = last.find(handed); at != std::string::npos; at = last.find(handed)) {
        last.replace(at, handed.size(), path_);
    }
    return last;
}

std::string VideoWriter::EncoderReason(int status) {
    const std::string last = LastLogLine();
    if (!last.empty()) return program_ + ": " + last;
    if (WIFSIGNALED(status)) {
        return program_ + " ended by signal " + std::to_string(WTERMSIG(status));
    }
    return program_ + " ended with exit code " + std::to_string(WEXITSTATUS(status));
}

bool VideoWriter::Open(const std::string& path, const VideoFormat& format, VideoSize frame,
                       VideoSize video, int32_t fps, bool smoothScale, std::string& error) {
    path_ = path;
    frames_ = 0;
    state_.reset();
    if (frame.width <= 0 || frame.height <= 0 || video.width <= 0 || video.height <= 0 ||
        video.width > kMaxVideoSide || video.height > kMaxVideoSide || fps < 1 || fps > 1000) {
        return Fail(
            "no video of " + SizeText(video) + " at " + std::to_string(fps) + " frames a second",
            error);
    }
    if (format.evenSides && (video.width % 2 != 0 || video.height % 2 != 0)) {
        return Fail(std::string(format.codecLabel) +
                        " in yuv420p needs an even width and height, not " + SizeText(video) +
                        " (--size gives one)",
                    error);
    }
    state_.reset(new (std::nothrow) State);
    if (state_ == nullptr) return Fail("not enough memory for the video", error);
    State& s = *state_;
    s.frame = frame;
    s.upright = smoothScale ? frame : video;
    const size_t words =
        static_cast<size_t>(s.upright.width) * static_cast<size_t>(s.upright.height);
    s.picture.reserve(words);
    s.columns.reserve(static_cast<size_t>(s.upright.width));
    if (s.picture.capacity() < words) return Fail("not enough memory for the video", error);
    s.picture.resize(words);
    s.columns.resize(static_cast<size_t>(s.upright.width));
    if (!s.output.Open(path, error)) {
        state_.reset();
        return false;
    }
    // A FIFO cannot seek: ffmpeg then writes as it goes.
    const int outputFd = fileno(s.output.stream());
    struct stat status {};
    const bool streamed =
        fstat(outputFd, &status) == 0 && (S_ISFIFO(status.st_mode) || S_ISSOCK(status.st_mode));

    s.log = std::tmpfile();
    if (s.log == nullptr)
        return Fail(std::string("no log file for ffmpeg: ") + std::strerror(errno), error);
    (void)fcntl(fileno(s.log), F_SETFD, FD_CLOEXEC);
    int pipeFds[2];
    if (pipe2(pipeFds, O_CLOEXEC) != 0) return Fail(std::strerror(errno), error);
    s.input = pipeFds[1];
    // A copy above the descriptors dup2 fills, so that it never is one of them.
    const int outputCopy = fcntl(outputFd, F_DUPFD_CLOEXEC, 10);
    if (outputCopy < 0) {
        close(pipeFds[0]);
        return Fail(std::strerror(errno), error);
    }

    const std::vector<std::string> args =
        EncoderArguments(format, s.upright, video, fps, smoothScale, streamed);
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program_.c_str()));
    for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);

    posix_spawn_file_actions_t actions;
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_init(&actions);
    posix_spawnattr_init(&attributes);
    posix_spawn_file_actions_adddup2(&actions, pipeFds[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fileno(s.log), 1);
    posix_spawn_file_actions_adddup2(&actions, fileno(s.log), 2);
    posix_spawn_file_actions_adddup2(&actions, outputCopy, kOutputFd);
    // ffmpeg hears the signals that this program blocks for its cleanup
    // thread, and SIGPIPE as usual; ignored ones stay ignored.
    sigset_t none;
    sigset_t pipeSignal;
    sigemptyset(&none);
    sigemptyset(&pipeSignal);
    sigaddset(&pipeSignal, SIGPIPE);
    posix_spawnattr_setsigmask(&attributes, &none);
    posix_spawnattr_setsigdefault(&attributes, &pipeSignal);
    posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
    pid_t child = -1;
    const int code =
        posix_spawnp(&child, program_.c_str(), &actions, &attributes, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    close(pipeFds[0]);
    close(outputCopy);
    if (code != 0) {
        if (code == ENOENT) {
            return Fail("the " + program_ + " program is not installed (Debian's ffmpeg package)",
                        error);
        }
        return Fail("cannot start " + program_ + ": " + std::strerror(code), error);
    }
    s.child = child;
    // A dead ffmpeg makes the next write fail instead of ending this program.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    s.pipeIgnored = sigaction(SIGPIPE, &ignore, &s.oldPipe) == 0;
    return true;
}

bool VideoWriter::AddFrame(const uint32_t* pixels, int32_t width, int32_t height,
                           std::string& error) {
    if (state_ == nullptr) {
        error = "cannot write " + path_ + ": the video is not open";
        return false;
    }
    State& s = *state_;
    if (width != s.frame.width || height != s.frame.height) {
        return Fail("a frame of " + SizeText(VideoSize{width, height}) + " in a video of " +
                        SizeText(s.frame) + " frames",
                    error);
    }
    StretchFrame(pixels, width, height, static_cast<size_t>(width), s.picture.data(),
                 s.upright.width, s.upright.height, static_cast<size_t>(s.upright.width),
                 s.columns.data());
    const auto* bytes = reinterpret_cast<const char*>(s.picture.data());
    size_t left = s.picture.size() * sizeof(uint32_t);
    while (left > 0) {
        const ssize_t written = write(s.input, bytes, left);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            // ffmpeg stopped reading: it failed, and says why.
            return Fail(EncoderReason(s.Wait(false)), error);
        }
        bytes += written;
        left -= static_cast<size_t>(written);
    }
    ++frames_;
    return true;
}

bool VideoWriter::Finish(std::string& error) {
    if (state_ == nullptr) {
        error = "cannot write " + path_ + ": the video is not open";
        return false;
    }
    State& s = *state_;
    const int status = s.Wait(false);
    // It logs errors only: one it logged but did not count is an error too.
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0 || !LastLogLine().empty()) {
        return Fail(EncoderReason(status), error);
    }
    const bool committed = s.output.Commit(true, "", error);
    state_.reset();
    return committed;
}
