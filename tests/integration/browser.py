"""Headless Chromium for the tests of the pages that ovrun writes: a page
loaded from its file, its scripts run, and what a person would see read
back from the DOM.

Debian's package chromium (scripts/install-deps tests); OV_CHROMIUM names
another. Without it the tests that need it are skipped with the reason, and
fail under CI=true.
"""

import html.parser
import os
import shutil
import subprocess
import time
import unittest

import harness

# How long the page's scripts may run, in the browser's virtual time.
VIRTUAL_TIME_MS = 20000
LOAD_TIMEOUT_SECONDS = 120


def chromium():
    """The browser's path, or None."""
    for candidate in (os.environ.get("OV_CHROMIUM"), "chromium", "chromium-browser"):
        if candidate and shutil.which(candidate):
            return shutil.which(candidate)
    return None


def require():
    """Skips the calling test, with the reason, when there is no browser."""
    if chromium() is None:
        reason = "chromium is not installed (Debian's package chromium: scripts/install-deps tests)"
        if harness.under_ci():
            raise AssertionError(f"{reason}; under CI=true the browser tests may not be skipped")
        raise unittest.SkipTest(reason)


def _run(page, *options):
    argv = [chromium(), "--headless", "--no-sandbox", "--disable-gpu", "--hide-scrollbars",
            f"--virtual-time-budget={VIRTUAL_TIME_MS}", *options, page.resolve().as_uri()]
    started = time.monotonic()
    result = subprocess.run(argv, stdin=subprocess.DEVNULL, capture_output=True, timeout=LOAD_TIMEOUT_SECONDS,
                            check=False)
    if result.returncode != 0:
        raise AssertionError(f"{argv} ended with {result.returncode}: {result.stderr[-2000:]!r}")
    return result.stdout, time.monotonic() - started


def load(page):
    """The page's DOM after its scripts ran, and the seconds it took."""
    dom, seconds = _run(page, "--dump-dom")
    return Dom(dom.decode("utf-8")), seconds


def screenshot(page, output, width=1280, height=1400):
    _run(page, f"--screenshot={output}", f"--window-size={width},{height}")


class Dom(html.parser.HTMLParser):
    """A dumped DOM: the text a person sees (scripts and styles left out),
    and the tags of every element, in order."""

    def __init__(self, markup):
        super().__init__(convert_charrefs=True)
        self.tags = []
        self.attributes = []
        self._hidden = 0
        self._text = []
        self.feed(markup)
        self.text = " ".join(" ".join(self._text).split())

    def handle_starttag(self, tag, attrs):
        self.tags.append(tag)
        self.attributes.append(dict(attrs))
        if tag in ("script", "style", "title"):
            self._hidden += 1

    def handle_endtag(self, tag):
        if tag in ("script", "style", "title"):
            self._hidden -= 1

    def handle_data(self, data):
        if not self._hidden:
            self._text.append(data)

    def count(self, tag, **attributes):
        return sum(1 for name, attrs in zip(self.tags, self.attributes)
                   if name == tag and all(attrs.get(key) == value for key, value in attributes.items()))
