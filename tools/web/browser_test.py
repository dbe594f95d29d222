#!/usr/bin/python3
"""The web view in a real browser (headless chromium driven by selenium), against two real
vantreld processes and a real `vantrel web`. Run inside the private network namespace.

Arguments: VANTREL VANTRELD SCREENSHOT_DIR. Screenshots of the main views are written into
SCREENSHOT_DIR (web-servers.png, web-clip.png, web-live.png) for a reviewer to look at."""
import json
import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest
import urllib.error
import urllib.request
import zlib

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

VANTREL, VANTRELD, SHOTS = sys.argv[1:4]
WAIT = 60  # seconds: generous, the machine is shared


def decode_png(data):
    """The (width, height, rows of RGB tuples) of an 8-bit RGB or RGBA PNG."""
    assert data[:8] == b"\x89PNG\r\n\x1a\n"
    pos, chunks = 8, {}
    idat = b""
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IDAT":
            idat += body
        else:
            chunks[kind] = body
        pos += 12 + length
    width, height, depth, colour = struct.unpack(">IIBB", chunks[b"IHDR"][:10])
    assert depth == 8 and colour in (2, 6)
    step = 3 if colour == 2 else 4
    raw = zlib.decompress(idat)
    stride = width * step
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind = raw[y * (stride + 1)]
        line = bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            a = line[i - step] if i >= step else 0
            b = previous[i]
            c = previous[i - step] if i >= step else 0
            if kind == 1: line[i] = (line[i] + a) & 255
            elif kind == 2: line[i] = (line[i] + b) & 255
            elif kind == 3: line[i] = (line[i] + (a + b) // 2) & 255
            elif kind == 4:
                p = a + b - c
                pa, pb, pc = abs(p - a), abs(p - b), abs(p - c)
                line[i] = (line[i] + (a if pa <= pb and pa <= pc else b if pb <= pc else c)) & 255
        rows.append([tuple(line[x * step:x * step + 3]) for x in range(width)])
        previous = line
    return width, height, rows


def start(args, ready):
    """A child process and the first match of `ready` in its standard output."""
    process = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    for line in process.stdout:
        found = re.search(ready, line)
        if found:
            return process, found
    raise RuntimeError("%s did not start" % args[0])


class WebViewInBrowser(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.TemporaryDirectory()
        cls.processes = []
        cls.servers = []
        for name in ("A", "B"):
            tree = os.path.join(cls.dir.name, name)
            subprocess.run([VANTRELD, "--init-sample", tree], check=True, stdout=subprocess.DEVNULL)
            server, found = start([VANTRELD, "--port", "0", "--no-sync", "--no-discovery", tree],
                                  r"node_port=(\d+)")
            cls.processes.append(server)
            cls.servers.append("127.0.0.1:" + found.group(1))
        web, found = start([VANTREL, "web", "--listen", "127.0.0.1:0", "--no-discovery"] + cls.servers,
                           r"(http://127\.0\.0\.1:\d+/)")
        cls.processes.append(web)
        cls.url = found.group(1)
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1400,900",
                         "--user-data-dir=" + os.path.join(cls.dir.name, "profile")):
            options.add_argument(argument)
        cls.browser = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
        cls.browser.get(cls.url)

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        for process in cls.processes:
            process.kill()
            process.wait()
        cls.dir.cleanup()

    def wait_for(self, condition):
        return WebDriverWait(self.browser, WAIT, poll_frequency=0.2).until(lambda _: condition())

    def row(self, name):
        return self.wait_for(lambda: next(iter(self.browser.find_elements(
            By.CSS_SELECTOR, '.row[data-name="%s"]' % name)), None))

    def test_1_server_list_shows_both_servers(self):
        items = self.wait_for(lambda: len(self.browser.find_elements(By.CSS_SELECTOR, "#servers li")) == 2
                              and self.browser.find_elements(By.CSS_SELECTOR, "#servers li"))
        self.assertEqual(sorted(item.get_attribute("data-server") for item in items), sorted(self.servers))
        self.browser.save_screenshot(os.path.join(SHOTS, "web-servers.png"))

    def test_2_opening_a_clip_shows_its_thumbnails(self):
        self.browser.find_element(By.CSS_SELECTOR, '#servers li[data-server="%s"]' % self.servers[0]).click()
        for name in ("vm", "Volume 1", "Feature Film", "Vault", "Main", "Reel 1", "Colour Bars"):
            self.row(name).click()
        def all_thumbnails_loaded():
            images = self.browser.find_elements(By.CSS_SELECTOR, "#strip img")
            loaded = [image for image in images if self.browser.execute_script(
                "return arguments[0].complete && arguments[0].naturalWidth > 0", image)]
            return loaded if len(images) == 8 and len(loaded) == 8 else None
        thumbs = self.wait_for(all_thumbnails_loaded)
        self.browser.save_screenshot(os.path.join(SHOTS, "web-clip.png"))
        width, height, rows = decode_png(thumbs[0].screenshot_as_png)
        # Seven bars over the upper two thirds: 75% white first, blue last.
        near = lambda pixel, want: all(abs(p - w) <= 24 for p, w in zip(pixel, want))
        top = height // 4
        self.assertTrue(near(rows[top][width // 14], (191, 191, 191)), rows[top][width // 14])
        self.assertTrue(near(rows[top][width * 13 // 14], (0, 0, 191)), rows[top][width * 13 // 14])
        self.assertTrue(near(rows[top][width * 7 // 14], (0, 191, 0)), rows[top][width * 7 // 14])

    def test_3_a_clip_made_elsewhere_appears_without_reload(self):
        self.row("Reel 1")
        subprocess.run([VANTREL, "create", self.servers[0] + ":/Volume 1/Feature Film/Vault/Main/Reel 1/Late Shot",
                        "--type", "CLIP", "--width", "8", "--height", "4", "--frames", "2"], check=True,
                       stdout=subprocess.DEVNULL)
        self.row("Late Shot")
        self.browser.save_screenshot(os.path.join(SHOTS, "web-live.png"))

    def fetch_status(self, script):
        return self.browser.execute_async_script(
            "const done = arguments[arguments.length - 1];" + script + ".then(r => done(r.status));")

    def test_4_destroy_is_refused_when_changes_are_off(self):
        status = self.fetch_status(
            'fetch("/api/destroy", {method: "POST", headers: {"Content-Type": "application/json"},'
            ' body: JSON.stringify({server: "%s", id: "volume 2"})})' % self.servers[0])
        self.assertEqual(status, 403)

    def test_5_a_foreign_origin_is_refused(self):
        request = urllib.request.Request(self.url + "api/servers", headers={"Origin": "http://evil.example"})
        with self.assertRaises(urllib.error.HTTPError) as refused:
            urllib.request.urlopen(request, timeout=WAIT)
        self.assertEqual(refused.exception.code, 403)
        with urllib.request.urlopen(self.url + "api/servers", timeout=WAIT) as answer:
            self.assertEqual(len(json.load(answer)["servers"]), 2)


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
