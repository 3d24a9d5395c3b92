#!/usr/bin/env python3
"""glidescape-render's videos, read back by FFmpeg's own programs.

    check-video.py RENDERER

- A lossless .mkv holds exactly the frames --png-dir writes for the same
  seeds, in order, at 25 frames a second (both decoded to RGB by ffmpeg).
- With --size twice the frame, every frame pixel is a 2 x 2 block of the
  video (the savers' stretch); --smooth-scale filters instead.
- An .mp4 and a .webm play through ffprobe with their codec, frame count,
  size and rate; an .mp4 into a FIFO is written as it goes and plays too.
- On a terminal a bar shows the ticks done and is wiped at the end; stderr
  that is no terminal gets nothing.
Small land, small frames and few ticks keep it fast.
"""
import os
import pty
import subprocess
import sys
import tempfile
import threading

FLIGHT = ["--land-size", "6", "--output-width", "128", "--client", "128x96",
          "--land-seed", "7", "--view-seed", "9"]
TICKS = 21  # 20 frames after the land
WIDTH, HEIGHT = 128, 96


def rgb_frames(source, extra_input=()):
    """Every frame of `source` as packed RGB bytes, decoded by ffmpeg."""
    return subprocess.run(["ffmpeg", "-v", "error", *extra_input, "-i", source,
                           "-f", "rawvideo", "-pix_fmt", "rgb24", "-"],
                          check=True, stdout=subprocess.PIPE).stdout


def probe(path):
    """codec, pixel format, size, rate and the frames counted by decoding."""
    out = subprocess.run(["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
                          "-show_entries",
                          "stream=codec_name,pix_fmt,width,height,r_frame_rate,nb_read_frames",
                          "-of", "default=noprint_wrappers=1", path],
                         check=True, stdout=subprocess.PIPE, text=True).stdout
    return dict(line.split("=", 1) for line in out.split())


def expect(failures, what, got, wanted):
    if got != wanted:
        failures.append(f"{what}: {got!r}, expected {wanted!r}")


def render(renderer, *args, **kwargs):
    return subprocess.run([renderer, *FLIGHT, "--ticks", str(TICKS), *args],
                          stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, **kwargs)


def lossless_matches_png_dir(renderer, work, failures):
    frames = os.path.join(work, "frames")
    video = os.path.join(work, "flight.mkv")
    run = render(renderer, "--png-dir", frames, "--video", video)
    expect(failures, "mkv run", (run.returncode, run.stderr), (0, b""))
    info = probe(video)
    expect(failures, "mkv stream",
           (info["codec_name"], info["pix_fmt"], info["width"], info["height"],
            info["r_frame_rate"], info["nb_read_frames"]),
           ("ffv1", "bgr0", str(WIDTH), str(HEIGHT), "25/1", str(TICKS - 1)))
    names = sorted(os.listdir(frames))
    expect(failures, "png frames", len(names), TICKS - 1)
    pictures = rgb_frames(os.path.join(frames, "frame-%06d.png"), ["-framerate", "25"])
    decoded = rgb_frames(video)
    expect(failures, "mkv bytes", len(decoded), len(pictures))
    frame_bytes = WIDTH * HEIGHT * 3
    for i in range(0, min(len(decoded), len(pictures)), frame_bytes):
        if decoded[i:i + frame_bytes] != pictures[i:i + frame_bytes]:
            failures.append(f"mkv frame {i // frame_bytes + 1} differs from {names[i // frame_bytes]}")
            break
    if len(set(pictures[i:i + frame_bytes] for i in range(0, len(pictures), frame_bytes))) < 10:
        failures.append("the flight's frames hardly change: the test would miss a reordering")
    return pictures


def stretch_doubles_every_pixel(renderer, work, pictures, failures):
    nearest = os.path.join(work, "double.mkv")
    smooth = os.path.join(work, "smooth.mkv")
    for path, extra in ((nearest, []), (smooth, ["--smooth-scale"])):
        run = render(renderer, "--video", path, "--size", f"{2 * WIDTH}x{2 * HEIGHT}", *extra)
        expect(failures, f"{os.path.basename(path)} run", (run.returncode, run.stderr), (0, b""))
    doubled = bytearray()
    row = WIDTH * 3
    for start in range(0, len(pictures), row):
        line = bytearray()
        for x in range(start, start + row, 3):
            line += pictures[x:x + 3] * 2
        doubled += line * 2
    expect(failures, "each frame pixel is a 2x2 block", rgb_frames(nearest) == bytes(doubled), True)
    filtered = rgb_frames(smooth)
    expect(failures, "smooth scale size", len(filtered), len(doubled))
    expect(failures, "smooth scale blends pixels", filtered != bytes(doubled), True)


def lossy_formats_play(renderer, work, failures):
    for name, codec in (("flight.mp4", "h264"), ("flight.webm", "vp9")):
        path = os.path.join(work, name)
        run = render(renderer, "--video", path, "--size", "320x180")
        expect(failures, f"{name} run", (run.returncode, run.stderr), (0, b""))
        info = probe(path)
        expect(failures, f"{name} stream",
               (info["codec_name"], info["pix_fmt"], info["width"], info["height"],
                info["r_frame_rate"], info["nb_read_frames"]),
               (codec, "yuv420p", "320", "180", "25/1", str(TICKS - 1)))
    # A FIFO cannot seek back: the .mp4 goes out fragmented, as it is made.
    fifo = os.path.join(work, "fifo.mp4")
    os.mkfifo(fifo)
    result = {}
    reader = threading.Thread(target=lambda: result.update(probe(fifo)), daemon=True)
    reader.start()
    run = render(renderer, "--video", fifo, timeout=120)
    reader.join(timeout=120)
    expect(failures, "fifo run", (run.returncode, run.stderr), (0, b""))
    expect(failures, "fifo frames", result.get("nb_read_frames"), str(TICKS - 1))


def progress_bar_on_a_terminal(renderer, work, failures):
    video = os.path.join(work, "bar.mkv")
    leader, follower = pty.openpty()
    process = subprocess.Popen([renderer, *FLIGHT, "--ticks", str(TICKS), "--video", video],
                               stdout=subprocess.DEVNULL, stderr=follower)
    os.close(follower)
    seen = b""
    while True:
        try:
            chunk = os.read(leader, 4096)
        except OSError:  # the pty's far end closed
            break
        if not chunk:
            break
        seen += chunk
    os.close(leader)
    expect(failures, "bar run", process.wait(timeout=120), 0)
    text = seen.decode(errors="replace")
    expect(failures, "the bar shows the ticks", "Writing video [" in text and "] 100%" in text, True)
    expect(failures, "the bar is wiped at the end", text.rstrip(" ").endswith("\r"), True)
    run = render(renderer, "--video", video)
    expect(failures, "no bar off a terminal", run.stderr, b"")


def main():
    renderer = sys.argv[1]
    passed = 0
    failed = 0
    with tempfile.TemporaryDirectory(prefix="glidescape-video-") as work:
        pictures = []

        def lossless(failures):
            pictures.extend(lossless_matches_png_dir(renderer, work, failures))

        checks = [
            ("the lossless video holds the --png-dir frames", lossless),
            ("--size stretches, --smooth-scale filters",
             lambda f: stretch_doubles_every_pixel(renderer, work, bytes(pictures), f)),
            (".mp4 and .webm play", lambda f: lossy_formats_play(renderer, work, f)),
            ("the progress bar", lambda f: progress_bar_on_a_terminal(renderer, work, f)),
        ]
        for name, check in checks:
            failures = []
            check(failures)
            for failure in failures:
                print(f"FAIL {name}: {failure}")
            if failures:
                failed += 1
            else:
                passed += 1
                print(f"ok {name}")
    print(f"{passed} passed, {failed} failed")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
