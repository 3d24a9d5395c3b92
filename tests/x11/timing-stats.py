#!/usr/bin/env python3
"""timing-stats.py - figures from a saver's -timing log (app/TimingLog.h).

    timing-stats.py LOG [--skip SECONDS] [--from US] [--to US]

Prints one line of key=value pairs:
  frames, ticks      frames shown and ticks run in the window looked at
  seconds            its length
  fps, tps           frames and ticks a second
  cv                 coefficient of variation (standard deviation / mean) of
                     the camera's motion per display refresh: the picture is
                     sampled at every refresh (the period of the log's pacing
                     line), half a refresh away from the frames' phase, and
                     the distance the camera moved between two samples is
                     taken; a frame at every refresh moving evenly gives 0,
                     one frame a tick on a 60 Hz display some 1.2
  source, refresh    the pacing the log names last
  maxtickgap         the largest step of the tick number between two frames
  maxgapms           the longest time between two frames (milliseconds)
The window starts SECONDS after the first frame (default 1: the pacing
settles) or at --from, and ends at --to (monotonic microseconds).
"""
import math
import sys


def main():
    args = sys.argv[1:]
    if not args:
        print(__doc__, file=sys.stderr)
        return 2
    path = args[0]
    skip = 1.0
    start = None
    stop = None
    i = 1
    while i < len(args):
        if args[i] == "--skip":
            skip = float(args[i + 1])
        elif args[i] == "--from":
            start = int(args[i + 1])
        elif args[i] == "--to":
            stop = int(args[i + 1])
        else:
            print("timing-stats: unknown argument " + args[i], file=sys.stderr)
            return 2
        i += 2
    frames = []
    source = "none"
    refresh = 16667
    with open(path) as log:
        for line in log:
            if line.startswith("#"):
                words = line.split()
                if len(words) >= 5 and words[1] == "pacing":
                    source = words[2]
                    refresh = int(words[4])
                continue
            fields = line.split()
            if len(fields) < 7:
                continue
            frames.append([int(f) for f in fields[:7]])
    if not frames:
        print("frames=0 ticks=0 seconds=0 fps=0 tps=0 cv=nan source=%s refresh=%d maxtickgap=0 maxgapms=0"
              % (source, refresh))
        return 0
    if start is None:
        start = frames[0][0] + int(skip * 1e6)
    window = [f for f in frames if f[0] >= start and (stop is None or f[0] <= stop)]
    if len(window) < 2:
        print("frames=%d ticks=0 seconds=0 fps=0 tps=0 cv=nan source=%s refresh=%d maxtickgap=0 maxgapms=0"
              % (len(window), source, refresh))
        return 0
    seconds = (window[-1][0] - window[0][0]) / 1e6
    ticks = window[-1][1] - window[0][1]
    side = 1
    while side <= max(max(f[3], f[4]) for f in frames):
        side *= 2

    def step(a, b):
        d = (b - a) % side
        return d - side if d >= side // 2 else d

    # Sample the picture at every refresh, half a refresh off the frames.
    phases = sorted(f[0] % refresh for f in window)
    phase = (phases[len(phases) // 2] + refresh // 2) % refresh
    t = window[0][0] - window[0][0] % refresh + phase
    if t < window[0][0]:
        t += refresh
    shown = 0
    samples = []
    while t <= window[-1][0]:
        while shown + 1 < len(window) and window[shown + 1][0] <= t:
            shown += 1
        samples.append(window[shown])
        t += refresh
    motions = [math.hypot(step(a[3], b[3]), step(a[4], b[4])) for a, b in zip(samples, samples[1:])]
    cv = float("nan")
    if motions:
        mean = sum(motions) / len(motions)
        if mean > 0:
            cv = math.sqrt(sum((m - mean) ** 2 for m in motions) / len(motions)) / mean
    tick_gap = max(b[1] - a[1] for a, b in zip(window, window[1:]))
    time_gap = max(b[0] - a[0] for a, b in zip(window, window[1:])) / 1000.0
    print("frames=%d ticks=%d seconds=%.2f fps=%.1f tps=%.1f cv=%.3f source=%s refresh=%d "
          "maxtickgap=%d maxgapms=%.1f"
          % (len(window), ticks, seconds, (len(window) - 1) / seconds, ticks / seconds, cv, source,
             refresh, tick_gap, time_gap))
    return 0


if __name__ == "__main__":
    sys.exit(main())
