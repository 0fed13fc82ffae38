#!/usr/bin/env python3
"""Send N Space presses to the focused window and log each send time
(time.monotonic_ns() = CLOCK_MONOTONIC, the same clock as steady_clock).

  --mode xtest   : XTestFakeKeyEvent via ctypes (time read just before the
                   press request, then XSync) -- low-jitter ground truth
  --mode xdotool : `xdotool key space` per press (time read before spawning)
Spacing = --spacing ms + uniform random [0, --jitter) ms, scheduled on an
absolute grid, so presses do not phase-lock with a periodic busy timer.
"""
import argparse, ctypes, os, random, subprocess, time

ap = argparse.ArgumentParser()
ap.add_argument("--count", type=int, default=60)
ap.add_argument("--spacing", type=float, default=500.0)
ap.add_argument("--jitter", type=float, default=100.0)
ap.add_argument("--mode", choices=["xtest", "xdotool"], default="xtest")
ap.add_argument("--out", required=True)
ap.add_argument("--seed", type=int, default=1)
a = ap.parse_args()
random.seed(a.seed)

if a.mode == "xtest":
    x11 = ctypes.CDLL("libX11.so.6")
    xtst = ctypes.CDLL("libXtst.so.6")
    x11.XOpenDisplay.restype = ctypes.c_void_p
    x11.XOpenDisplay.argtypes = [ctypes.c_char_p]
    x11.XStringToKeysym.restype = ctypes.c_ulong
    x11.XStringToKeysym.argtypes = [ctypes.c_char_p]
    x11.XKeysymToKeycode.restype = ctypes.c_ubyte
    x11.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    x11.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
    xtst.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int, ctypes.c_ulong]
    dpy = x11.XOpenDisplay(os.environ["DISPLAY"].encode())
    assert dpy, "cannot open display"
    kc = x11.XKeysymToKeycode(dpy, x11.XStringToKeysym(b"space"))

    def press():
        t = time.monotonic_ns()
        xtst.XTestFakeKeyEvent(dpy, kc, 1, 0)
        x11.XSync(dpy, 0)
        time.sleep(0.03)
        xtst.XTestFakeKeyEvent(dpy, kc, 0, 0)
        x11.XSync(dpy, 0)
        return t
else:
    def press():
        t = time.monotonic_ns()
        subprocess.run(["xdotool", "key", "space"], check=True, timeout=5)
        return t

times = []
next_t = time.monotonic() + 0.3
for i in range(a.count):
    d = next_t - time.monotonic()
    if d > 0:
        time.sleep(d)
    times.append(press())
    next_t += (a.spacing + random.uniform(0, a.jitter)) / 1000.0
with open(a.out, "w") as f:
    f.write("".join(f"{t}\n" for t in times))
