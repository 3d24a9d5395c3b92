#!/usr/bin/env python3
"""The browser page in real headless Chromium, against glidescape-render.

Serves the built page (the web preset's site/ folder) with python3 -m
http.server on a free port, drives Debian's chromium through chromium-driver
and Selenium, and compares the page's frames with the native renderer's,
which it runs itself. Screenshots go to the artefacts folder.

    page_test.py --site DIR --render PATH --artifacts DIR [unittest args]
"""
import argparse
import json
import math
import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time
import unittest
import urllib.request
import zlib

ARGS = None

# glidescape-render's defaults, for the address tests.
DEFAULTS = {"speed": 25, "land-size": 10, "objects": 6, "output-width": 512,
            "newland-wait": 1200, "autopilot": 30, "tilt": 0, "smooth": 1, "on-battery": 1}


def fnv1a64(data):
    h = 0xcbf29ce484222325
    for b in data:
        h = ((h ^ b) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def decode_png(data):
    """8-bit RGB or RGBA, not interlaced (what Chromium's screenshots are)."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, idat, width = 8, b"", 0
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            width, height, depth, colour, _, _, interlace = struct.unpack(">IIBBBBB", body)
            assert depth == 8 and colour in (2, 6) and interlace == 0, (depth, colour)
            channels = 4 if colour == 6 else 3
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    raw = zlib.decompress(idat)
    stride = width * channels
    rows, prev = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up = prev[i]
            upleft = prev[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 255
            elif kind == 2:
                line[i] = (line[i] + up) & 255
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 255
            elif kind == 4:
                p = left + up - upleft
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - upleft)
                pred = left if pa <= pb and pa <= pc else (up if pb <= pc else upleft)
                line[i] = (line[i] + pred) & 255
        rows.append([tuple(line[x * channels:x * channels + 3]) for x in range(width)])
        prev = line
    return width, height, rows


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


class Page(unittest.TestCase):
    """One static server and one browser for all cases."""

    @classmethod
    def setUpClass(cls):
        from selenium import webdriver
        from selenium.webdriver.chrome.service import Service

        cls.port = free_port()
        cls.server = subprocess.Popen(
            [sys.executable, "-m", "http.server", str(cls.port), "--bind", "127.0.0.1",
             "--directory", ARGS.site], stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        deadline = time.time() + 30
        while True:
            try:
                urllib.request.urlopen(cls.url(""), timeout=2).read()
                break
            except OSError:
                if time.time() > deadline:
                    raise
                time.sleep(0.2)
        options = webdriver.ChromeOptions()
        options.binary_location = shutil.which("chromium") or "/usr/bin/chromium"
        for flag in ("--headless=new", "--disable-gpu", "--window-size=1024,768",
                     "--disable-dev-shm-usage", "--autoplay-policy=no-user-gesture-required"):
            options.add_argument(flag)
        if os.geteuid() == 0:
            options.add_argument("--no-sandbox")
        cls.profile = tempfile.mkdtemp(prefix="glidescape-chromium-")
        options.add_argument("--user-data-dir=" + cls.profile)
        options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
        driver_path = shutil.which("chromedriver") or "/usr/bin/chromedriver"
        cls.driver = webdriver.Chrome(service=Service(driver_path), options=options)
        cls.driver.set_script_timeout(600)
        os.makedirs(ARGS.artifacts, exist_ok=True)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        cls.server.terminate()
        cls.server.wait(timeout=30)
        shutil.rmtree(cls.profile, ignore_errors=True)

    @classmethod
    def url(cls, query):
        return "http://127.0.0.1:%d/index.html%s" % (cls.port, query)

    def viewport(self, width, height):
        self.driver.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
            "width": width, "height": height, "deviceScaleFactor": 1, "mobile": False})

    def open(self, query="", width=1024, height=768):
        self.viewport(width, height)
        self.driver.get(self.url(query))
        self.driver.execute_script("localStorage.clear()")
        self.driver.get(self.url(query))
        self.wait_for("window.glidescape !== undefined", 60)

    def info(self):
        return self.driver.execute_script("return window.glidescape.info()")

    def wait_for(self, condition, seconds):
        deadline = time.time() + seconds
        while not self.driver.execute_script("return !!(%s)" % condition):
            if time.time() > deadline:
                self.fail("timed out waiting for " + condition)
            time.sleep(0.1)

    def console_errors(self):
        errors = []
        for entry in self.driver.get_log("browser"):
            if entry["level"] == "SEVERE" and "favicon.ico" not in entry["message"]:
                errors.append(entry["message"])
        return errors

    def screenshot(self, name):
        path = os.path.join(ARGS.artifacts, name)
        data = self.driver.get_screenshot_as_png()
        with open(path, "wb") as out:
            out.write(data)
        return decode_png(data)

    def native_checksum(self, query, ticks, client):
        args = [ARGS.render, "--ticks", str(ticks), "--client", "%dx%d" % client]
        for key, value in query.items():
            args += ["--" + key, str(value)]
        with tempfile.TemporaryDirectory() as folder:
            raw = os.path.join(folder, "frame.raw")
            subprocess.run(args + ["--frame-out", raw], check=True, timeout=600)
            with open(raw, "rb") as f:
                return fnv1a64(f.read())

    # --- The cases ------------------------------------------------------------

    def check_landscape(self, name, sky_darker, least_colours=300):
        width, height, rows = self.screenshot(name)
        self.assertEqual((width, height), (1024, 768))
        colours = {pixel for row in rows[::2] for pixel in row[::2]}
        self.assertGreater(len(colours), least_colours, "a landscape has many colours")
        luma = [sum(sum(p) for p in row) / (3 * width) for row in rows]
        top = sum(luma[:height // 5]) / (height // 5)
        bottom = sum(luma[-(height // 5):]) / (height // 5)
        # A landscape of the clock can be dark (a mean of 8 has been seen
        # facing a shaded slope at dusk colours); a black page is near 0.
        self.assertGreater(sum(luma) / height, 3, "not black")
        if sky_darker:
            self.assertGreater(bottom, 20, "lit land below")
            self.assertLess(top, bottom, "the sky above is darker than the land below")
        # The progress texts are gone: nothing is drawn on the overlay.
        self.assertFalse(self.driver.execute_script(
            "const c = document.getElementById('status');"
            "const d = c.getContext('2d').getImageData(0, 0, c.width, 100).data;"
            "return d.some(v => v !== 0);"))

    def test_loads_flies_and_shows_a_landscape(self):
        self.open()
        self.wait_for("window.glidescape.info().frames >= 10", 300)
        self.assertEqual(self.console_errors(), [])
        # Any landscape of the clock: colourful and not black (the camera may
        # face a dark slope in shadow or look over the sea, where 122 colours
        # have been seen; some skies are brighter than land). A black page or
        # the progress screen has a handful.
        self.check_landscape("flying.png", sky_darker=False, least_colours=60)
        # A known one, whose picture was looked at: land below a dark sky.
        self.open("?land-seed=1&view-seed=2")
        self.driver.execute_async_script(
            "window.glidescape.runTicks(61).then(arguments[0])")
        self.check_landscape("landscape.png", sky_darker=True)
        self.driver.execute_script("window.glidescape.resume()")
        self.wait_for("window.glidescape.info().frames >= 70", 120)
        # Frame time at the default settings (reported, never judged).
        time.sleep(4)
        info = self.info()
        print("\nweb: land %d (side %d) made in %.0f ms; frame %.2f ms in headless Chromium "
              "(%d x %d)" % (info["settings"]["land-size"], info["landSide"], info["landMs"],
                             info["frameMs"], info["outputWidth"], info["outputHeight"]))
        # The same on the native renderer: a run that only makes the land and
        # one that also flies 400 frames, the faster of three each (the
        # machine may be busy).
        def run(ticks):
            best = None
            for _ in range(3):
                start = time.time()
                self.native_checksum({"land-seed": 5, "view-seed": 5}, ticks, (1024, 768))
                best = min(best or 1e9, time.time() - start)
            return best
        land = run(1)
        frames = (run(401) - land) / 400
        print("web: native glidescape-render: land 10 in %.0f ms (with the process start), "
              "frame %.2f ms" % (land * 1000, frames * 1000))

    def presented_frames(self, query, seconds=5):
        """Frames per second shown, and the coefficient of variation of the
        camera's speed from one shown frame to the next (distance moved over
        the time between them), over `seconds` of flight."""
        self.open(query)
        self.wait_for("window.glidescape.info().frames >= 10", 300)
        self.driver.execute_script("window.glidescape.recordFrames()")
        time.sleep(seconds)
        frames = self.driver.execute_script("return window.glidescape.recordedFrames()")
        side = self.info()["landSide"] * 1024
        speeds = []
        for (t0, x0, y0), (t1, x1, y1) in zip(frames, frames[1:]):
            # The shortest way round the wrapping map.
            dx = (x1 - x0 + side // 2) % side - side // 2
            dy = (y1 - y0 + side // 2) % side - side // 2
            speeds.append(math.hypot(dx, dy) / (t1 - t0))
        mean = sum(speeds) / len(speeds)
        spread = math.sqrt(sum((v - mean) ** 2 for v in speeds) / len(speeds))
        return len(frames) / seconds, spread / mean

    def test_frame_pacing(self):
        # The camera's motion per shown frame at the display's pace: smooth
        # motion draws in-between frames, so it moves evenly; without it each
        # tick's frame stays for 3, 2, 3, ... refreshes at 60 Hz.
        query = "?land-size=8&land-seed=3&view-seed=4"
        fps_on, spread_on = self.presented_frames(query)
        fps_off, spread_off = self.presented_frames(query + "&smooth=0")
        print("\nweb: smooth motion on: %.1f frames a second, motion per frame varies %.1f %%; "
              "off: %.1f frames a second, %.1f %%" % (fps_on, spread_on * 100, fps_off,
                                                      spread_off * 100))
        self.assertGreater(fps_on, 40)
        self.assertLessEqual(spread_on, 0.10)
        self.assertLess(fps_off, 27)
        self.assertEqual(self.console_errors(), [])

    def test_on_battery_one_frame_a_tick(self):
        # The browser says the battery is not charging: "On Battery" 1 (the
        # default) draws one frame a tick, 2 draws nothing.
        fake = self.driver.execute_cdp_cmd("Page.addScriptToEvaluateOnNewDocument", {"source":
            "navigator.getBattery = () => Promise.resolve("
            "{charging: false, addEventListener() {}});"})
        try:
            fps, _ = self.presented_frames("?land-size=7&land-seed=3&view-seed=4", seconds=3)
            self.assertLess(fps, 27)
            self.assertGreater(fps, 20)
            self.open("?land-size=7&land-seed=3&view-seed=4&on-battery=2")
            time.sleep(2)
            info = self.info()
            self.assertEqual((info["frames"], info["lands"]), (0, 0))
        finally:
            self.driver.execute_cdp_cmd("Page.removeScriptToEvaluateOnNewDocument",
                                        {"identifier": fake["identifier"]})

    def test_hidden_page_draws_and_makes_nothing(self):
        # Another tab in front hides the page: no frame, no tick and no
        # landscape until it is in front again, and then it flies at once.
        self.open("?land-size=7&land-seed=3&view-seed=4")
        self.wait_for("window.glidescape.info().frames >= 10", 300)
        front = self.driver.execute_cdp_cmd("Target.createTarget", {"url": "about:blank"})
        try:
            self.wait_for("document.hidden", 10)
            before = self.info()
            time.sleep(3)
            after = self.info()
            self.assertEqual((after["frames"], after["ticks"]),
                             (before["frames"], before["ticks"]), "drawn while hidden")
            # A page opened behind the other tab makes no landscape.
            self.driver.get(self.url("?land-size=7&land-seed=5&view-seed=6"))
            self.wait_for("window.glidescape !== undefined && document.hidden", 60)
            time.sleep(3)
            hidden = self.info()
            self.assertEqual((hidden["lands"], hidden["frames"]), (0, 0), "made land while hidden")
        finally:
            self.driver.execute_cdp_cmd("Target.closeTarget", {"targetId": front["targetId"]})
        self.driver.execute_cdp_cmd("Page.bringToFront", {})
        self.wait_for("!document.hidden", 10)
        self.wait_for("window.glidescape.info().lands >= 1 && window.glidescape.info().frames >= 1",
                      60)
        self.assertEqual(self.console_errors(), [])

    def test_share_puts_the_landscapes_seeds_into_the_address(self):
        from selenium.webdriver.common.by import By

        self.open("?land-size=7")
        self.wait_for("window.glidescape.info().frames >= 3", 120)
        land, view = self.info()["seeds"]
        self.assertNotEqual((land, view), (0, 0))
        self.driver.find_element(By.ID, "gear").click()
        self.wait_for("!document.getElementById('panel').hidden", 10)
        shown = self.driver.find_element(By.ID, "seeds").text
        self.assertIn("land seed %d, view seed %d" % (land, view), shown)
        self.driver.find_element(By.ID, "share").click()
        search = self.driver.execute_script("return location.search")
        self.assertIn("land-seed=%d" % land, search)
        self.assertIn("view-seed=%d" % view, search)
        # The shared address flies the same landscape.
        self.driver.get(self.url(search))
        self.wait_for("window.glidescape !== undefined && "
                      "window.glidescape.info().frames >= 1", 120)
        self.assertEqual(self.info()["seeds"], [land, view])
        self.assertEqual(self.console_errors(), [])

    def test_frames_equal_the_native_renderer(self):
        cases = [
            {"land-seed": 1, "view-seed": 2},
            {"land-seed": 77, "view-seed": 4000000000, "land-size": 8, "output-width": 320,
             "objects": 20, "speed": 60, "autopilot": 120, "tilt": -40},
        ]
        for case in cases:
            self.open("?" + "&".join("%s=%s" % item for item in case.items()))
            for ticks in (1, 50, 300):
                page = self.driver.execute_async_script(
                    "window.glidescape.runTicks(arguments[0]).then(arguments[1])", ticks)
                info = self.info()
                native = self.native_checksum(case, ticks,
                                              (info["clientWidth"], info["clientHeight"]))
                self.assertEqual(page, native, "%s after %d ticks" % (case, ticks))
        self.assertEqual(self.console_errors(), [])

    def test_address_settings_apply_clamp_and_fall_back(self):
        self.open("?land-size=7&output-width=300&objects=12&speed=+40&autopilot=%2090&tilt=-128"
                  "&newland-wait=5&smooth=0&on-battery=2")
        self.wait_for("window.glidescape.info().frames >= 1", 120)
        info = self.info()
        self.assertEqual(info["settings"], {"speed": 40, "land-size": 7, "objects": 12,
                                            "output-width": 300, "newland-wait": 5,
                                            "autopilot": 90, "tilt": -128, "smooth": 0,
                                            "on-battery": 2})
        self.assertEqual(info["landSide"], 128)
        self.assertEqual(info["outputHeight"], 225)  # 300 / 1024 x 768
        # Out of range: the fall-back, never the nearer bound.
        self.open("?land-size=13&output-width=127&objects=256&speed=101&autopilot=-1"
                  "&tilt=129&newland-wait=-1&smooth=2&on-battery=3")
        self.assertEqual(self.info()["settings"], DEFAULTS)
        # Not a number: the default.
        self.open("?land-size=abc&output-width=1e3&objects=&speed=12x&autopilot=0x10"
                  "&tilt=--1&newland-wait=12.5")
        self.assertEqual(self.info()["settings"], DEFAULTS)
        self.wait_for("window.glidescape.info().frames >= 1", 300)
        self.assertEqual(self.info()["landSide"], 1024)
        self.assertEqual(self.console_errors(), [])

    def test_resize_keeps_flying_and_restore_defaults(self):
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys

        self.open("?land-size=7&speed=40&objects=30")
        self.wait_for("window.glidescape.info().frames >= 5", 120)
        before = self.info()
        self.assertEqual(before["outputHeight"], 384)
        self.viewport(900, 500)
        self.wait_for("window.glidescape.info().clientWidth === 900 && "
                      "window.glidescape.info().frames >= %d" % (before["frames"] + 5), 120)
        info = self.info()
        self.assertEqual((info["clientHeight"], info["outputHeight"]), (500, 284))
        # The flight flies on over the same land: no landscape was made.
        self.assertEqual(info["lands"], before["lands"])
        self.screenshot("resized.png")
        self.assertEqual(info["settings"]["speed"], 40)

        # The readout of the frame and land times.
        self.driver.find_element(By.TAG_NAME, "body").send_keys("t")
        self.wait_for("document.getElementById('readout').textContent.includes('frame')", 10)

        # A value typed into the panel is clamped, stored, put into the
        # address and survives a reload without the address's settings.
        self.driver.find_element(By.ID, "gear").click()
        self.wait_for("!document.getElementById('panel').hidden", 10)
        objects = self.driver.find_element(By.NAME, "objects")
        objects.send_keys(Keys.CONTROL, "a")
        objects.send_keys("300\t")  # out of range: the fall-back, 6
        tilt = self.driver.find_element(By.NAME, "tilt")
        tilt.send_keys(Keys.CONTROL, "a")
        tilt.send_keys("-20\t")
        self.wait_for("window.glidescape.info().settings.tilt === -20", 10)
        self.assertEqual(objects.get_attribute("value"), "6")
        self.assertIn("tilt=-20", self.driver.execute_script("return location.search"))
        self.screenshot("panel.png")
        self.driver.get(self.url(""))
        self.wait_for("window.glidescape !== undefined", 60)
        settings = self.info()["settings"]
        self.assertEqual((settings["tilt"], settings["objects"], settings["speed"],
                          settings["land-size"]), (-20, 6, 40, 7))
        self.wait_for("window.glidescape.info().frames >= 1", 120)
        self.driver.find_element(By.ID, "gear").click()
        self.wait_for("!document.getElementById('panel').hidden", 10)
        self.driver.find_element(By.ID, "defaults").click()
        self.wait_for("window.glidescape.info().landSide === 1024", 120)
        self.assertEqual(self.info()["settings"], DEFAULTS)
        self.assertEqual(self.driver.execute_script("return location.search"), "")
        self.assertEqual(self.driver.execute_script(
            "return localStorage.getItem('glidescape.Land Size')"), "10")
        speed = self.driver.find_element(By.NAME, "speed").get_attribute("value")
        self.assertEqual(speed, "25")
        self.wait_for("window.glidescape.info().frames >= 3", 300)
        self.assertEqual(self.console_errors(), [])


    def test_progress_screen_stays_responsive_and_shift_aborts(self):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys

        # The biggest land takes many seconds: the page must keep answering.
        self.open("?land-size=12&land-seed=9")
        overlay_drawn = ("(() => { const c = document.getElementById('status');"
                         "return c.getContext('2d').getImageData(0, 0, c.width, 100)"
                         ".data.some(v => v !== 0); })()")
        self.wait_for(overlay_drawn, 60)
        painted = self.driver.execute_script(
            "return new Promise(done => { let n = 0; const step = () => ++n < 5 ?"
            " requestAnimationFrame(step) : done(n); requestAnimationFrame(step); })")
        self.assertEqual(painted, 5)  # the browser still paints
        # Shift held down stops the generation at its next progress poll.
        ActionChains(self.driver).key_down(Keys.SHIFT).perform()
        self.screenshot("progress.png")
        self.wait_for("window.glidescape.info().frames >= 5", 120)
        ActionChains(self.driver).key_up(Keys.SHIFT).perform()
        info = self.info()
        self.assertTrue(info["aborted"])
        self.assertEqual((info["lands"], info["landSide"]), (1, 4096))
        self.assertLess(info["landMs"], 60000)
        self.screenshot("aborted.png")
        self.assertEqual(self.console_errors(), [])


class Build(unittest.TestCase):
    """The WebAssembly build keeps the core's floating-point rules."""

    def test_core_compiled_without_contraction_or_fast_math(self):
        with open(os.path.join(ARGS.build, "compile_commands.json")) as f:
            commands = json.load(f)
        self.assertGreater(len(commands), 10)
        for entry in commands:
            words = entry["command"].split()
            self.assertIn("-ffp-contract=off", words, entry["file"])
            for bad in ("-ffast-math", "-Ofast", "-ffp-contract=fast", "-ffp-contract=on",
                        "-funsafe-math-optimizations", "-mrelaxed-simd"):
                self.assertNotIn(bad, words, entry["file"])
            # Fixed-width SIMD only: every lane rounds as the scalar code.
            self.assertIn("-msimd128", words, entry["file"])
        # What em++ itself hands to clang: the flag arrives, nothing relaxes it.
        env = dict(os.environ, NODE_PATH="/usr/share/nodejs")
        with tempfile.TemporaryDirectory() as folder:
            source = os.path.join(folder, "probe.cpp")
            with open(source, "w") as f:
                f.write("double f(double a, double b, double c) { return a * b + c; }\n")
            run = subprocess.run(["em++", "-v", "-O3", "-ffp-contract=off", "-fno-fast-math",
                                  "-c", source, "-o", os.path.join(folder, "probe.o")],
                                 env=env, capture_output=True, text=True, timeout=300)
            self.assertEqual(run.returncode, 0, run.stderr)
            cc1 = [line for line in run.stderr.splitlines() if "-cc1 -triple" in line]
            self.assertTrue(cc1, run.stderr)
            self.assertIn("-ffp-contract=off", cc1[-1])
            for bad in ("-ffast-math", "-menable-unsafe-fp-math", "-ffp-contract=fast"):
                self.assertNotIn(bad, cc1[-1])

    def test_page_size(self):
        total = 0
        for name in ("index.html", "glidescape.js", "glidescape.wasm"):
            size = os.path.getsize(os.path.join(ARGS.site, name))
            print("\nweb: %s %d bytes" % (name, size), end="")
            total += size
        print("\nweb: page total %d bytes" % total)
        self.assertLessEqual(total, 600 * 1024)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--site", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--render", required=True)
    parser.add_argument("--artifacts", required=True)
    ARGS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0], "-v"] + rest)
