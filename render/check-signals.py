#!/usr/bin/env python3
"""glidescape-render stopped by SIGINT, SIGTERM or SIGHUP in the middle of a
write: it dies by that very signal (a shell reports 128 + its number) and
leaves no hidden temporary file; finished frames stay whole, a file being
replaced keeps its old contents, a video being encoded leaves nothing.

    check-signals.py RENDERER

Each case starts the renderer on big frames (3000 columns, so each PNG takes
a while to write), waits until a temporary file shows up, sends the signal
and checks the folder. An attempt counts only when the signal really cut a
write short: the temporary file that was seen never became its picture. The
case is tried again until that happens (a few attempts at most, usually the
first), so the test does not depend on timing.
"""
import os
import signal
import subprocess
import sys
import tempfile
import time

BIG = ["--land-size", "6", "--output-width", "3000", "--client", "1920x1080",
       "--land-seed", "3", "--view-seed", "4"]
ATTEMPTS = 20


def hidden(folder):
    return sorted(name for name in os.listdir(folder) if name.startswith("."))


def interrupt(args, folder, sig):
    """Runs the renderer until a temporary file appears in `folder`, then
    sends `sig`. Returns (returncode, the temporary file seen)."""
    process = subprocess.Popen(args, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
    seen = None
    try:
        while seen is None and process.poll() is None:
            names = hidden(folder) if os.path.isdir(folder) else []
            if names:
                seen = names[0]
                process.send_signal(sig)
            else:
                time.sleep(0.002)
        code = process.wait(timeout=120)
    finally:
        if process.poll() is None:
            process.kill()
            process.wait()
    return code, seen


def whole_png(data):
    """The signature at the start and the end chunk (IEND and its CRC) last."""
    return data[:8] == b"\x89PNG\r\n\x1a\n" and data[-12:-4] == b"\0\0\0\0IEND"


def picture_of(temporary):
    """'.frame-000004.png.Ab12Cd' -> 'frame-000004.png'"""
    return temporary[1:temporary.rindex(".")]


def check(name, work, sig, start):
    """`start(folder)` prepares a fresh folder and gives the arguments and a
    function that says whether the write of a temporary file seen was cut
    short."""
    for attempt in range(1, ATTEMPTS + 1):
        folder = os.path.join(work, f"{name}-{attempt}".replace(" ", "").replace("-", "_"))
        os.mkdir(folder)
        args, cut_short = start(folder)
        code, seen = interrupt(args, folder, sig)
        if seen is None:
            return f"{name}: the run ended ({code}) before any temporary file showed"
        if code != -sig:
            return f"{name}: exit {code}, expected death by signal {sig}"
        left = hidden(folder)
        if left:
            return f"{name}: temporary files left: {left}"
        if cut_short(folder, seen):
            print(f"{name}: cut a write short on attempt {attempt}, nothing left behind")
            return None
    return f"{name}: no attempt in {ATTEMPTS} cut a write short"


def frames_run(renderer):
    """A stream of frames into a folder: the ones finished stay, whole."""
    def start(folder):
        return [renderer, *BIG, "--ticks", "100000", "--png-dir", folder], cut_short

    def cut_short(folder, seen):
        done = os.listdir(folder)
        for name in done:
            if not (name.startswith("frame-") and name.endswith(".png")):
                raise AssertionError(f"unexpected file {name}")
            with open(os.path.join(folder, name), "rb") as picture:
                if not whole_png(picture.read()):
                    raise AssertionError(f"{name} is not a whole PNG")
        return picture_of(seen) not in done
    return start


def replace_run(renderer):
    """One big frame replacing an older file, which keeps its contents."""
    def start(folder):
        target = os.path.join(folder, "big.png")
        with open(target, "wb") as old:
            old.write(b"old picture")
        return [renderer, *BIG, "--ticks", "3", "--frame-out", target], cut_short

    def cut_short(folder, seen):
        names = os.listdir(folder)
        if names != ["big.png"]:
            raise AssertionError(f"unexpected files {names}")
        with open(os.path.join(folder, "big.png"), "rb") as target:
            contents = target.read()
        if contents != b"old picture" and not whole_png(contents):
            raise AssertionError("big.png is neither the old file nor a PNG")
        return contents == b"old picture"
    return start


def video_run(renderer):
    """A video being encoded: its temporary file goes, nothing else is made."""
    def start(folder):
        target = os.path.join(folder, "flight.mkv")
        return [renderer, *BIG, "--ticks", "100000", "--video", target], cut_short

    def cut_short(folder, seen):
        names = os.listdir(folder)
        if names:
            raise AssertionError(f"unexpected files {names}")
        return True
    return start


def main():
    renderer = sys.argv[1]
    failures = []
    with tempfile.TemporaryDirectory(prefix="glidescape-signals-") as work:
        for sig in (signal.SIGINT, signal.SIGTERM, signal.SIGHUP):
            failures.append(check(f"{sig.name} --png-dir", work, sig, frames_run(renderer)))
            failures.append(check(f"{sig.name} --frame-out", work, sig, replace_run(renderer)))
            failures.append(check(f"{sig.name} --video", work, sig, video_run(renderer)))
    failures = [f for f in failures if f]
    for failure in failures:
        print("FAIL", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
