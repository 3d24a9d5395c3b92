// VideoWriter.h - glidescape-render's --video: the flight's frames encoded
// into a video file by the `ffmpeg` program, fed raw frames through a pipe.
//
// The container and codec follow the path's extension (VideoFormatFor):
//   .mp4   H.264 (libx264), yuv420p: plays everywhere
//   .mkv   FFV1, bgr0: lossless, every frame's RGB exactly as drawn
//   .webm  VP9 (libvpx-vp9), yuv420p
// Each AddFrame is one video frame of 1/fps seconds. The frame (0xAARRGGBB
// words, row 0 at the bottom) is stretched onto the video's size here, by
// nearest neighbour as the savers stretch it (app/Stretch.h), or, with
// smoothScale, only turned upright and scaled by ffmpeg's bicubic scale
// filter. Colour becomes YUV by ffmpeg's scaler (BT.709, limited range,
// tagged so in the stream); FFV1 keeps the RGB bytes.
//
// The program, not FFmpeg's libraries: they would pull some hundred shared
// libraries into every run of the renderer (and its address space, which
// the memory-limit sweep keeps small), videos or not; the program is only
// started for a video and only needed then (the Debian package recommends
// it).
//
// The file is written as every other output of the renderer
// (render/OutputFile.h): a temporary file in the destination's folder, which
// ffmpeg gets as an open descriptor (it reopens /dev/fd/3, the very file,
// even once a signal has removed its name) and which Finish renames into
// place once ffmpeg ended well. A failure (ffmpeg missing or refusing, a
// full disk) or a signal (render/SignalCleanup.h) removes it and leaves the
// destination as it was. A device or FIFO is written directly (an .mp4 into
// a FIFO is fragmented, since it cannot seek back to its index).
//
// Errors are one line, "cannot write PATH: reason", the reason being
// ffmpeg's own last line where it said one. ffmpeg runs with the signals
// unblocked that the renderer blocks for its cleanup thread; while a video
// is open the renderer ignores SIGPIPE, so that a dead ffmpeg is an error
// and not the end of the program.
//
// Callers: the run (render/RenderRun.cpp), the option parser (the formats).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct VideoFormat {
    const char* extension;   // ".mp4", lower case
    const char* muxer;       // ffmpeg's name of the container
    const char* encoder;     // ffmpeg's name of the encoder
    const char* codecLabel;  // for messages: "H.264"
    bool yuv420;             // else the RGB bytes as they are
    bool evenSides;          // the encoder takes no odd width or height
};

// The format of a path by its extension (any letter case); null when it has
// none of VideoExtensions().
const VideoFormat* VideoFormatFor(const std::string& path);
// "a .mp4, .mkv or .webm path", for messages.
const char* VideoExtensions();

struct VideoSize {
    int32_t width = 0;
    int32_t height = 0;
};

// The largest video side accepted (the encoders' own limits lie above).
constexpr int32_t kMaxVideoSide = 16384;

class VideoWriter {
public:
    // `program`: the encoder program, looked up on PATH.
    explicit VideoWriter(std::string program = "ffmpeg");
    ~VideoWriter();  // a video not finished is abandoned: ffmpeg is stopped, the file goes
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // Starts the video of frames of size `frame` at the size `video`, `fps`
    // frames a second (1 ... 1000). False with `error` set when the size does
    // not suit the format, the file cannot be made or ffmpeg not started.
    bool Open(const std::string& path, const VideoFormat& format, VideoSize frame, VideoSize video,
              int32_t fps, bool smoothScale, std::string& error);
    // Sends one frame of the size given to Open; false once ffmpeg failed.
    bool AddFrame(const uint32_t* pixels, int32_t width, int32_t height, std::string& error);
    // Waits for ffmpeg to finish the file and puts it in place.
    bool Finish(std::string& error);

    int64_t frames() const { return frames_; }

private:
    struct State;
    bool Fail(const std::string& reason, std::string& error);
    // ffmpeg's last line on its output, the file named as given; "" when
    // it said nothing.
    std::string LastLogLine();
    // Why ffmpeg failed: its last line, or how it ended.
    std::string EncoderReason(int status);

    std::string program_;
    std::unique_ptr<State> state_;
    std::string path_;
    int64_t frames_ = 0;
};
