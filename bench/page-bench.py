#!/usr/bin/python3
"""Times the browser page in headless Chromium: the landscape at the default
land size and the frames of a fixed flight.

Serves the built page (the web preset's site/ folder) with python3 -m
http.server on a free port and drives Debian's chromium through
chromium-driver and Selenium, as tests/web/page_test.py does. Each round
starts the flight anew through the page's runTicks hook (land seed 5, view
seed 5, 1024 x 768, default settings): tick 1 makes the landscape, the
following ticks draw a frame each. The page's own timing (performance.now()
around each compiled call) gives the land's time and the mean of the last
100 frames; the best round of each is printed.

    bench/page-bench.py --site build/web/site [--rounds 3] [--ticks 401]
                        [--render build/release/render/glidescape-render]

With --render, the native renderer flies the same ticks in the same run
(one thread, wall time of the process, best of the rounds) for comparison:
the land alone (--ticks 1) and the frames as (ticks 401 - ticks 1) / 400.
"""
import argparse
import os
import shutil
import socket
import subprocess
import sys
import tempfile
import time
import urllib.request


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def tree_cpu_seconds(root):
    """User and system CPU time of process root and all its descendants."""
    parents, times = {}, {}
    for entry in os.listdir("/proc"):
        if not entry.isdigit():
            continue
        try:
            with open("/proc/%s/stat" % entry) as f:
                fields = f.read().rsplit(")", 1)[1].split()
        except OSError:
            continue
        parents[int(entry)] = int(fields[1])
        times[int(entry)] = int(fields[11]) + int(fields[12])
    tree, grown = {root}, True
    while grown:
        grown = False
        for pid, parent in parents.items():
            if parent in tree and pid not in tree:
                tree.add(pid)
                grown = True
    return sum(times.get(pid, 0) for pid in tree) / os.sysconf("SC_CLK_TCK")


def native(render, ticks, rounds):
    best = None
    with tempfile.TemporaryDirectory() as folder:
        raw = os.path.join(folder, "frame.raw")
        for _ in range(rounds):
            start = time.time()
            subprocess.run([render, "--land-seed", "5", "--view-seed", "5", "--ticks", str(ticks),
                            "--client", "1024x768", "--threads", "1", "--frame-out", raw],
                           check=True, timeout=600)
            spent = time.time() - start
            best = spent if best is None else min(best, spent)
    return best


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--site", required=True)
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("--ticks", type=int, default=401)
    parser.add_argument("--render")
    args = parser.parse_args()

    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    port = free_port()
    server = subprocess.Popen(
        [sys.executable, "-m", "http.server", str(port), "--bind", "127.0.0.1",
         "--directory", args.site], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    url = "http://127.0.0.1:%d/index.html?land-seed=5&view-seed=5" % port
    profile = tempfile.mkdtemp(prefix="glidescape-bench-")
    driver = None
    try:
        deadline = time.time() + 30
        while True:
            try:
                urllib.request.urlopen(url, timeout=2).read()
                break
            except OSError:
                if time.time() > deadline:
                    raise
                time.sleep(0.2)
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
        for flag in ("--headless=new", "--disable-gpu", "--window-size=1024,768",
                     "--disable-dev-shm-usage", "--user-data-dir=" + profile):
            options.add_argument(flag)
        if os.geteuid() == 0:
            options.add_argument("--no-sandbox")
        driver = webdriver.Chrome(
            service=Service(shutil.which("chromedriver") or "/usr/bin/chromedriver"),
            options=options)
        driver.set_script_timeout(600)
        driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": 1024, "height": 768, "deviceScaleFactor": 1, "mobile": False})
        driver.get(url)
        driver.execute_script("localStorage.clear()")
        driver.get(url)
        deadline = time.time() + 60
        while not driver.execute_script("return window.glidescape !== undefined"):
            if time.time() > deadline:
                raise RuntimeError("the page did not start")
            time.sleep(0.1)
        lands, frames, checksum = [], [], None
        cpu_lands, cpu_frames = [], []
        run = "window.glidescape.runTicks(arguments[0]).then(arguments[1])"
        browser = driver.service.process.pid
        for _ in range(args.rounds):
            # CPU time of the browser's processes: the land alone, then the
            # whole flight (the machine may be busy: wall times say less).
            before = tree_cpu_seconds(browser)
            driver.execute_async_script(run, 1)
            middle = tree_cpu_seconds(browser)
            checksum = driver.execute_async_script(run, args.ticks)
            after = tree_cpu_seconds(browser)
            info = driver.execute_script("return window.glidescape.info()")
            lands.append(info["landMs"])
            frames.append(info["frameMs"])
            land_cpu = middle - before
            cpu_lands.append(land_cpu * 1000)
            cpu_frames.append((after - middle - land_cpu) * 1000 / (args.ticks - 1))
        def listed(values, digits):
            return ", ".join("%.*f" % (digits, v) for v in values)
        print("page: land %d in %.0f ms (best of %s), frame %.2f ms (best of %s), "
              "%d x %d frame, checksum %s" % (
                  info["settings"]["land-size"], min(lands), listed(lands, 0),
                  min(frames), listed(frames, 2), info["outputWidth"],
                  info["outputHeight"], checksum))
        print("page, CPU of the browser's processes: land %.0f ms (best of %s), "
              "frame %.2f ms (best of %s)" % (min(cpu_lands), listed(cpu_lands, 0),
                                             min(cpu_frames), listed(cpu_frames, 2)))
    finally:
        if driver is not None:
            driver.quit()
        server.terminate()
        server.wait(timeout=30)
        shutil.rmtree(profile, ignore_errors=True)
    if args.render:
        land = native(args.render, 1, args.rounds)
        flight = native(args.render, args.ticks, args.rounds)
        print("native, one thread: land with the process start %.0f ms, frame %.2f ms" % (
            land * 1000, (flight - land) * 1000 / (args.ticks - 1)))


if __name__ == "__main__":
    main()
