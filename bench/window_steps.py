#!/usr/bin/python3
# The instrument list of the running Quillet under a user's arrow keys, in the benchmark's
# guest (alsa-guest.sh): each Down press chooses an instrument not loaded yet, each Up press
# one loaded before. The time from a key press (sent through XTEST) to the list showing the
# new row, read through the accessibility bus as a screen reader reads it; the program's window
# thread answers only when it is free, so a window that waits for a load shows here.
# Usage: window_steps.py TARGET PRESSES. Prints "alsa-bench: TARGET|metric|unit|value" lines.
import ctypes
import os
import statistics
import sys
import time

import pyatspi

sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../tests/jack"))
from read_status import find  # noqa: E402  (the accessibility tree's walk, shared)

target, presses = sys.argv[1], int(sys.argv[2])
x11 = ctypes.CDLL("libX11.so.6")
xtest = ctypes.CDLL("libXtst.so.6")
x11.XOpenDisplay.restype = ctypes.c_void_p
x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
x11.XStringToKeysym.restype = ctypes.c_ulong
x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
x11.XFlush.argtypes = [ctypes.c_void_p]
xtest.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
display = x11.XOpenDisplay(None)
if not display:
    sys.exit("window_steps: no X display")


def instrument_list():
    for app in pyatspi.Registry.getDesktop(0):
        for window in app if app is not None and app.name == "quillet" else []:
            for combo in find(window, pyatspi.ROLE_COMBO_BOX) if window is not None else []:
                return combo
    return None


combo = None
deadline = time.monotonic() + 60
while combo is None and time.monotonic() < deadline:
    combo = instrument_list()
    time.sleep(0.2)
if combo is None:
    sys.exit("window_steps: Quillet's instrument list is not on the accessibility bus")


def press(key):
    """Milliseconds from the key press to the list showing another row; None after 5 s."""
    code = x11.XKeysymToKeycode(display, x11.XStringToKeysym(key.encode()))
    before = combo.name
    start = time.monotonic()
    xtest.XTestFakeKeyEvent(display, code, 1, 0)
    xtest.XTestFakeKeyEvent(display, code, 0, 0)
    x11.XFlush(display)
    while time.monotonic() - start < 5:
        if combo.name != before:
            return (time.monotonic() - start) * 1000
    return None


def row(metric, unit, value):
    print(f"alsa-bench: {target}|{metric}|{unit}|{value:.2f}", flush=True)


for key, what in (("Down", "not loaded"), ("Up", "loaded")):
    times = [press(key) for _ in range(presses)]
    shown = [t for t in times if t is not None]
    print(f"window_steps: {key}: {' '.join(f'{t:.0f}' for t in shown)} ms", file=sys.stderr)
    row(f"window: arrow key to row, {what}, unanswered", "count", len(times) - len(shown))
    if shown:
        row(f"window: arrow key to row, {what}, median", "ms", statistics.median(shown))
        row(f"window: arrow key to row, {what}, max", "ms", max(shown))
