#!/usr/bin/env python3
"""Taps SPACE into the program with xdotool and marks every press, and the
time itself, on the sound sink.

  tap_driver.py MARKER_PLAYER LOG --window ID [--presses N] [--interval S]
                [--delay D] [--after S]

Starts MARKER_PLAYER (marker_player.cpp; it plays into the default sound
device) and, once it is ready:
- rulers: markers at instants chosen here, every 250 ms from the start to
  the end, 2 s of them before the first press (the calibration);
- presses: xev watches the window's key presses; SPACE is pressed N times,
  S seconds apart (xdotool key space, to the focused window). Every press
  the X server stamps (whole ms of CLOCK_MONOTONIC, as Xvfb's clock is) gets
  a marker at stamp + 0.5 ms + D: the middle of the stamp's millisecond,
  moved D later so that the marker can be scheduled ahead when the stamp
  comes in. The presses are timed so that their markers fall half-way
  between two rulers;
- waits --after seconds after the last press (the clicks that follow),
  then ends the player.

LOG gets one line per fact: "delay D", "interval S", "ruler T", "press K
STAMP_MS TAP_SECONDS SENT_SECONDS", "mark T" (T: instants asked of the
player), "block USEC" (the null sink's configured latency, read with pactl
after the calibration), then the player's own lines ("ready ...", "marker T
FRAME LATE_MS SPREAD_MS", "end UNDERFLOWS CALLBACKS").
"""

import argparse
import re
import subprocess
import sys
import threading
import time

RULER = 0.25
CALIBRATION = 2.0


def now():
    return time.clock_gettime(time.CLOCK_MONOTONIC)


def sleep_until(t):
    while True:
        left = t - now()
        if left <= 0:
            return
        time.sleep(min(left, 0.05))


def main():
    p = argparse.ArgumentParser()
    p.add_argument("player")
    p.add_argument("log")
    p.add_argument("--window", required=True)
    p.add_argument("--presses", type=int, default=8)
    p.add_argument("--interval", type=float, default=0.5)
    p.add_argument("--delay", type=float, default=0.2)
    p.add_argument("--after", type=float, default=5.5)
    args = p.parse_args()

    log_lines = [f"delay {args.delay}", f"interval {args.interval}"]
    lock = threading.Lock()

    def note(line):
        with lock:
            log_lines.append(line)

    # xev first: it has selected the window's key events well before the
    # first press.
    xev = subprocess.Popen(["stdbuf", "-oL", "xev", "-id", args.window, "-event", "keyboard"],
                           stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
                           bufsize=1)
    player = subprocess.Popen([args.player], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, bufsize=1)
    ready = player.stdout.readline().strip()
    if not ready.startswith("ready"):
        print("tap_driver: the marker player did not start", file=sys.stderr)
        xev.terminate()
        return 1
    player_lines = [ready]
    reader = threading.Thread(target=lambda: player_lines.extend(
        line.strip() for line in player.stdout), daemon=True)
    reader.start()

    def mark(t, kind):
        with lock:
            log_lines.append(f"{kind} {t:.6f}")
            player.stdin.write(f"{t:.6f}\n")
            player.stdin.flush()

    start = now() + 0.3
    # Press k is aimed at first + k * interval; its marker then comes about
    # first + delay + k * interval, half-way between two rulers when
    # (first + delay - start) is an odd multiple of half a ruler step.
    first = start + CALIBRATION + (RULER / 2 - args.delay) % RULER
    end = first + (args.presses - 1) * args.interval + args.after
    t = start
    while t <= end - 0.3:
        mark(t, "ruler")
        t += RULER

    presses = []
    sent = []

    def watch():
        # A KeyPress block: its first line after the header holds "time N",
        # the next one the keysym.
        block = None
        for line in xev.stdout:
            if line.startswith("KeyPress event"):
                block = []
                continue
            if block is None:
                continue
            block.append(line)
            if len(block) < 2:
                continue
            stamp_m = re.search(r"time (\d+)", block[0])
            is_space = "space" in block[1]
            block = None
            if not (stamp_m and is_space):
                continue
            stamp = int(stamp_m.group(1))
            # X time is CLOCK_MONOTONIC in ms, modulo 2^32.
            now_ms = int(now() * 1000)
            stamp_ms = now_ms - ((now_ms - stamp) % (1 << 32))
            tap = stamp_ms / 1000.0 + 0.0005
            k = len(presses)
            presses.append(tap)
            note(f"press {k} {stamp} {tap:.6f} {sent[k] if k < len(sent) else 0:.6f}")
            mark(tap + args.delay, "mark")

    watcher = threading.Thread(target=watch, daemon=True)
    watcher.start()

    sleep_until(start + CALIBRATION - 0.3)
    sinks = subprocess.run(["pactl", "list", "sinks"], capture_output=True, text=True).stdout
    block_m = re.search(r"configured (\d+) usec", sinks)
    note(f"block {block_m.group(1) if block_m else 0}")

    for k in range(args.presses):
        sleep_until(first + k * args.interval)
        sent.append(now())
        subprocess.run(["xdotool", "key", "space"], check=False)
    sleep_until(end)
    xev.terminate()
    xev.wait()
    if len(presses) < args.presses:
        print(f"xev saw {len(presses)} of {args.presses} presses", file=sys.stderr)
    player.stdin.close()
    player.wait()
    reader.join(timeout=2)
    with open(args.log, "w") as f:
        for line in log_lines + player_lines:
            f.write(line + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main())
