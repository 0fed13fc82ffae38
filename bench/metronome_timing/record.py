#!/usr/bin/env python3
"""Records the null sink's monitor with parec into a raw float32 file and
notes when each piece of it arrived.

  record.py OUT.f32 ARRIVALS.log DEVICE

parec records DEVICE as stereo float32 at 48 kHz (with parec's own
buffering, as bench/metronome_probe.sh records); this script reads its
output as it comes and writes, for every read, a line
  FRAMES_SO_FAR CLOCK_MONOTONIC_SECONDS
to ARRIVALS.log (see analyze.py's earliest_arrival). Prints "recording" once
the first samples are in. Ends, leaving whole frames in OUT.f32, on SIGTERM
(then it ends parec by its pid) or when parec ends.
"""

import os
import signal
import subprocess
import sys
import time

FRAME_BYTES = 8


def main():
    out_path, log_path, device = sys.argv[1:4]
    parec = subprocess.Popen(
        ["parec", f"--device={device}", "--format=float32le", "--rate=48000", "--channels=2",
         "--raw"],
        stdout=subprocess.PIPE, bufsize=0)
    stopping = False

    def stop(*_):
        nonlocal stopping
        stopping = True
        if parec.poll() is None:
            parec.terminate()

    signal.signal(signal.SIGTERM, stop)
    signal.signal(signal.SIGINT, stop)
    total = 0
    told = False
    pending = b""
    with open(out_path, "wb") as out, open(log_path, "w") as log:
        fd = parec.stdout.fileno()
        while True:
            try:
                chunk = os.read(fd, 65536)
            except InterruptedError:
                continue
            now = time.clock_gettime(time.CLOCK_MONOTONIC)
            if not chunk:
                break
            pending += chunk
            whole = len(pending) - len(pending) % FRAME_BYTES
            if whole:
                out.write(pending[:whole])
                pending = pending[whole:]
                total += whole // FRAME_BYTES
                log.write(f"{total} {now:.6f}\n")
                if not told:
                    out.flush()
                    print("recording", flush=True)
                    told = True
    parec.wait()
    return 0 if stopping or parec.returncode == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
