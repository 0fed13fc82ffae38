#!/usr/bin/env python3
"""Onsets and timing figures of the metronome benchmark's recordings.

  analyze.py grid FILE BPM [--rate R --channels C]
      FILE is raw float32 (.f32: --rate and --channels give the layout) or a
      WAV file (PCM or float). Finds the clicks on the first channel and
      prints one line of key=value figures against the exact period
      60000/BPM (see grid_figures).

  analyze.py tapped FILE DRIVER_LOG [--rate R] [--arrivals LOG]
                    [--click-lead-ms L]
      FILE: the stereo float32 recording of a tapping run; the right
      channel holds the driver's markers and the program's clicks, the left
      the clicks alone, so markers are right - left. DRIVER_LOG: what
      tap_driver.py wrote; LOG: what record.py noted; L: how far into the
      click sound its onset lies (see lead). Prints key=value figures (see
      tapped_figures).

  analyze.py lead WAV
      Prints how far (ms) into a click sound file its onset lies, found the
      same way as in the recordings: the time from the sound's first sample
      to the onset a recording of it would show.

Onsets: each click is found where the signal first rises above a quarter of
the recording's loudest sample; the onset is then the crossing of half the
click's own peak (its first 5 ms) on the side of its first swing (the
largest sample of the half millisecond after detection), placed
between two samples by linear interpolation. A click's front rising within a
few samples gives its onset to a small fraction of a sample, whatever the
click's loudness.
"""

import argparse
import array
import math
import sys


def read_raw_f32(path, channels):
    data = array.array("f")
    with open(path, "rb") as f:
        data.frombytes(f.read())
    if sys.byteorder != "little":
        data.byteswap()
    usable = len(data) - len(data) % channels
    return [data[c:usable:channels] for c in range(channels)]


def read_wav(path):
    with open(path, "rb") as f:
        raw = f.read()
    # The fmt chunk, read by hand: the wave module takes integer PCM only.
    pos = 12
    fmt = None
    payload = None
    while pos + 8 <= len(raw):
        cid = raw[pos:pos + 4]
        size = int.from_bytes(raw[pos + 4:pos + 8], "little")
        body = raw[pos + 8:pos + 8 + size]
        if cid == b"fmt ":
            fmt = body
        elif cid == b"data":
            payload = body
        pos += 8 + size + (size & 1)
    if fmt is None or payload is None:
        raise SystemExit(f"{path}: not a WAV file")
    tag = int.from_bytes(fmt[0:2], "little")
    channels = int.from_bytes(fmt[2:4], "little")
    rate = int.from_bytes(fmt[4:8], "little")
    bits = int.from_bytes(fmt[14:16], "little")
    if tag == 0xFFFE:
        tag = int.from_bytes(fmt[24:26], "little")
    if tag == 3 and bits == 32:
        data = array.array("f")
        data.frombytes(payload[: len(payload) // 4 * 4])
        values = data
    elif tag == 1 and bits == 8:
        values = array.array("f", ((b - 128) / 128.0 for b in payload))
    elif tag == 1 and bits in (16, 32):
        data = array.array("h" if bits == 16 else "i")
        data.frombytes(payload[: len(payload) // (bits // 8) * (bits // 8)])
        scale = 1.0 / (1 << (bits - 1))
        values = array.array("f", (v * scale for v in data))
    elif tag == 1 and bits == 24:
        n = len(payload) // 3
        scale = 1.0 / (1 << 23)
        values = array.array(
            "f",
            (int.from_bytes(payload[3 * i:3 * i + 3], "little", signed=True) * scale
             for i in range(n)))
    else:
        raise SystemExit(f"{path}: WAV format {tag}/{bits} bits not read")
    usable = len(values) - len(values) % channels
    return rate, [values[c:usable:channels] for c in range(channels)]


def onsets(x, rate, dead_seconds=0.1):
    """Onsets in frames (fractional), see the module's description."""
    n = len(x)
    if n == 0:
        return []
    peak = max(max(x), -min(x))
    if peak <= 1e-4:
        return []
    detect = 0.25 * peak
    head = int(0.005 * rate)
    swing_len = max(1, int(0.0005 * rate))
    back = int(0.003 * rate)
    dead = int(dead_seconds * rate)
    found = []
    i = 1
    block = 2048
    while i < n:
        # Whole blocks below the detection level are skipped at C speed.
        end = min(n, i + block)
        piece = x[i:end]
        if max(piece) < detect and min(piece) > -detect:
            i = end
            continue
        while i < end and -detect < x[i] < detect:
            i += 1
        if i >= end:
            continue
        # The side of the click's first swing: that of the largest sample in
        # the half millisecond from here (a resampler's ringing ahead of the
        # front may have crossed the detection level on the other side).
        swing = max(x[i:min(n, i + swing_len)], key=abs)
        sign = 1.0 if swing > 0 else -1.0
        lo = max(1, i - back)
        local = max(sign * v for v in x[i:min(n, i + head)])
        half = 0.5 * local
        j = lo
        while j < n and sign * x[j] < half:
            j += 1
        if j >= n:
            break
        a = sign * x[j - 1]
        b = sign * x[j]
        found.append(j - 1 + ((half - a) / (b - a) if b != a else 0.0))
        i = j + dead
    return found


def grid_figures(onset_frames, rate, bpm, tolerance_fraction=0.1):
    """Figures of a run of clicks against the exact period P = 60/BPM s.

    The onsets are taken in order, each against the grid continued from the
    one before it: n = round(interval / P) grid points on, off by
    e = interval - n P. n = 0 (a second onset within half a period) is an
    extra onset, left out. Otherwise n - 1 grid points were missed, and an
    onset with |e| above a tenth of P is off the grid: an extra onset, from
    which the grid continues (a phase jump counts once). The other onsets are
    the clicks.
      clicks   onsets on the grid (the first one included)
      period   mean period, ms: (last - first onset) / grid points between
      sd, max  e over all intervals: root mean square and largest |e|, ms
      drift    the last onset's error against the exact grid anchored at the
               first onset, ms (the sum of the e)
    """
    period = 60.0 * rate / bpm
    tolerance = tolerance_fraction * period
    result = {"found": len(onset_frames)}
    if not onset_frames:
        return result
    ms = 1000.0 / rate
    prev = onset_frames[0]
    beats = 0
    clicks = 1
    extra = 0
    missed = 0
    errors = []
    for t in onset_frames[1:]:
        n = round((t - prev) / period)
        if n == 0:
            extra += 1
            continue
        e = t - prev - n * period
        missed += n - 1
        errors.append(e * ms)
        if abs(e) > tolerance:
            extra += 1
        else:
            clicks += 1
        beats += n
        prev = t
    result.update(
        clicks=clicks,
        missed=missed,
        extra=extra,
        period_ms=(prev - onset_frames[0]) / beats * ms if beats else float("nan"),
        nominal_ms=60000.0 / bpm,
        jitter_sd_ms=(math.sqrt(sum(e * e for e in errors) / len(errors)) if errors
                      else float("nan")),
        jitter_max_ms=max(abs(e) for e in errors) if errors else float("nan"),
        drift_ms=(prev - onset_frames[0] - beats * period) * ms,
        span_s=(prev - onset_frames[0]) / rate,
    )
    return result


def fit_line(xs, ys):
    """Least-squares y = a + b x; returns a, b and the residuals."""
    n = len(xs)
    mx = sum(xs) / n
    my = sum(ys) / n
    sxx = sum((x - mx) ** 2 for x in xs)
    b = sum((x - mx) * (y - my) for x, y in zip(xs, ys)) / sxx if sxx > 0 else 0.0
    a = my - b * mx
    return a, b, [y - (a + b * x) for x, y in zip(xs, ys)]


def read_driver_log(path):
    log = {"ruler": [], "mark": [], "press": [], "placed": [], "info": {}}
    with open(path) as f:
        for line in f:
            words = line.split()
            if not words:
                continue
            key = words[0]
            if key in ("ruler", "mark"):
                log[key].append(float(words[1]))
            elif key == "press":
                # press INDEX STAMP_MS TAP_SECONDS SENT_SECONDS
                log["press"].append((int(words[1]), int(words[2]), float(words[3]),
                                     float(words[4])))
            elif key == "marker":
                # marker T FRAME LATE_MS SPREAD_MS (from marker_player)
                log["placed"].append((float(words[1]), float(words[3]), float(words[4])))
            elif key in ("delay", "interval", "block", "ready", "end"):
                log["info"][key] = words[1:]
    return log


def earliest_arrival(path, rate, t_from, t_to):
    """From the recorder's arrival log (lines: FRAMES_SO_FAR MONOTONIC): the
    least of (arrival - frames / rate) over the arrivals between t_from and
    t_to. A piece of the recording arrives no sooner than the sink rendered
    it, and a null sink renders up to its configured latency ahead of
    playing, so this plus that latency is when (CLOCK_MONOTONIC) the sink
    plays the recording's frame 0, give or take the shortest delivery
    delay."""
    best = None
    with open(path) as f:
        for line in f:
            words = line.split()
            if len(words) != 2:
                continue
            frames, t = int(words[0]), float(words[1])
            if t_from <= t <= t_to:
                v = t - frames / rate
                if best is None or v < best:
                    best = v
    return best


class Ruler:
    """Recording frames to CLOCK_MONOTONIC seconds, by linear interpolation
    between the ruler markers around a frame (beyond the ends, the line
    through the last two)."""

    def __init__(self, frames, instants):
        self.f = frames
        self.t = instants

    def time(self, x):
        f, t = self.f, self.t
        lo, hi = 0, len(f) - 1
        if x <= f[0]:
            hi = 1
        elif x >= f[-1]:
            lo = hi - 1
        else:
            while hi - lo > 1:
                mid = (lo + hi) // 2
                if f[mid] <= x:
                    lo = mid
                else:
                    hi = mid
        return t[lo] + (x - f[lo]) * (t[hi] - t[lo]) / (f[hi] - f[lo])


def tapped_figures(args):
    """Figures of a tapping run (times in ms; + is late):
      markers_found/_expected, late_markers, rulers_dropped   bookkeeping
      ruler_sd_ms, ruler_max_ms   each ruler against its neighbours' line
      sink_ppm_before/_clicks     the sink's clock against CLOCK_MONOTONIC
      marker_vs_sink_ms, sink_block_ms   the rulers of the calibration on the
                                  sink's own play-out clock (earliest_arrival
                                  plus the block) against their instants
      tap_markers_vs_rulers[_max]_ms   tap markers against their instants
      presses, tap_interval_ms, tap_spread_ms   the LS line through the
                                  presses (tap markers less the delay)
      rule_interval_ms            first to last press / intervals
      click_errors_ms, rule_errors_ms   the first clicks after the presses
                                  against the LS grid and the rule's grid
      start_errors_ms, start_rule_errors_ms   the same less the sound's lead
      click_steps_ms              intervals between those clicks less
                                  rule_interval_ms
      click_period_ms, click_period_sink_ms   their mean interval, on
                                  CLOCK_MONOTONIC and in the sink's frames
    """
    rate = args.rate
    left, right = read_raw_f32(args.file, 2)
    log = read_driver_log(args.log)
    delay = float(log["info"]["delay"][0])
    out = {}
    # Markers are right - left; they are 3 ms long and may come 100 ms apart.
    markers = onsets(array.array("f", (r - l for l, r in zip(left, right))), rate,
                     dead_seconds=0.02)
    clicks = onsets(left, rate)
    rulers = log["ruler"]
    marks = log["mark"]
    instants = sorted([(t, "ruler") for t in rulers] + [(t, "mark") for t in marks])
    out["markers_found"] = len(markers)
    out["markers_expected"] = len(instants)
    out["presses_seen"] = len(log["press"])
    out["late_markers"] = sum(1 for p in log["placed"] if p[1] > 0)
    if len(markers) != len(instants) or len(marks) < 3:
        out["error"] = "marker_count"
        return out
    ruler_f = [on for on, (_, kind) in zip(markers, instants) if kind == "ruler"]
    ruler_t = [t for t, kind in instants if kind == "ruler"]
    tap_f = [on for on, (_, kind) in zip(markers, instants) if kind == "mark"]
    tap_t = [t for t, kind in instants if kind == "mark"]
    ms = 1000.0 / rate
    # A marker the player misplaced (its stream ran dry on a busy machine, and
    # its timing took a moment to catch up) would bend the time line: a ruler
    # more than 0.5 ms off the line through its 4 neighbours on either side
    # is left out.
    keep = []
    for j in range(len(ruler_f)):
        near = [i for i in range(max(0, j - 4), min(len(ruler_f), j + 5)) if i != j]
        a, b, _ = fit_line([ruler_t[i] for i in near], [ruler_f[i] for i in near])
        keep.append(abs(ruler_f[j] - (a + b * ruler_t[j])) * ms <= 0.5)
    out["rulers_dropped"] = keep.count(False)
    ruler_f = [f for f, k in zip(ruler_f, keep) if k]
    ruler_t = [t for t, k in zip(ruler_t, keep) if k]
    ruler = Ruler(ruler_f, ruler_t)
    # The marker path's spread: each ruler against the line through its two
    # neighbours.
    res = []
    for j in range(1, len(ruler_f) - 1):
        w = (ruler_t[j] - ruler_t[j - 1]) / (ruler_t[j + 1] - ruler_t[j - 1])
        res.append((ruler_f[j] - (ruler_f[j - 1] + w * (ruler_f[j + 1] - ruler_f[j - 1]))) * ms)
    out["ruler_sd_ms"] = math.sqrt(sum(r * r for r in res) / len(res))
    out["ruler_max_ms"] = max(abs(r) for r in res)
    # The sink's clock against CLOCK_MONOTONIC: before the presses
    # (calibration) and over the clicks (the last 2 s).
    cal = [j for j, t in enumerate(ruler_t) if t < tap_t[0] - delay]
    late = [j for j, t in enumerate(ruler_t) if t > ruler_t[-1] - 2]
    for name, idx in (("sink_ppm_before", cal), ("sink_ppm_clicks", late)):
        if len(idx) >= 3:
            _, b, _ = fit_line([ruler_t[j] for j in idx], [ruler_f[j] for j in idx])
            out[name] = (b / rate - 1) * 1e6
    # Where the calibration markers sound on the sink's own clock, against
    # the instants they were asked for.
    block = float(log["info"].get("block", ["0"])[0]) / 1e6
    if args.arrivals and len(cal) >= 3:
        _, b, _ = fit_line([ruler_t[j] for j in cal], [ruler_f[j] for j in cal])
        frame0 = earliest_arrival(args.arrivals, b, ruler_t[cal[0]] - 0.2,
                                  ruler_t[cal[-1]] + 0.2)
        if frame0 is not None:
            offs = [(frame0 + block + ruler_f[j] / b - ruler_t[j]) * 1000 for j in cal]
            out["marker_vs_sink_ms"] = sum(offs) / len(offs)
            out["sink_block_ms"] = block * 1000
    # The tap markers on the rulers' time line, against when they were asked
    # for: the marker path as seen at the presses.
    tap_dev = [(ruler.time(f) - t) * 1000 for f, t in zip(tap_f, tap_t)]
    out["tap_markers_vs_rulers_ms"] = sum(tap_dev) / len(tap_dev)
    out["tap_markers_vs_rulers_max_ms"] = max(abs(d) for d in tap_dev)
    # The presses as the markers tell them, and the grids through them.
    presses = [ruler.time(f) - delay for f in tap_f]
    n = len(presses)
    ga, gb, gres = fit_line(list(range(n)), presses)
    out["presses"] = n
    out["tap_interval_ms"] = gb * 1000
    out["tap_spread_ms"] = math.sqrt(sum(r * r for r in gres) / n) * 1000
    rule_b = (presses[-1] - presses[0]) / (n - 1)
    click_t = [ruler.time(c) for c in clicks]
    after = [(c, t) for c, t in zip(clicks, click_t) if t > presses[-1] + 1.0]
    out["clicks"] = len(after)
    if not after:
        out["error"] = "no_clicks_after_the_presses"
        return out
    errors = []
    rule_errors = []
    for _, t in after[: args.first]:
        k = round((t - ga) / gb)
        errors.append((t - (ga + gb * k)) * 1000)
        kr = round((t - presses[-1]) / rule_b)
        rule_errors.append((t - (presses[-1] + kr * rule_b)) * 1000)
    out["first_click_beat"] = round((after[0][1] - presses[-1]) / rule_b)
    out["click_errors_ms"] = ",".join(f"{e:+.2f}" for e in errors)
    out["rule_errors_ms"] = ",".join(f"{e:+.2f}" for e in rule_errors)
    if args.click_lead_ms is not None:
        # Where the sounds started: the onsets less the sound's own lead.
        lead = args.click_lead_ms
        out["click_lead_ms"] = lead
        out["start_errors_ms"] = ",".join(f"{e - lead:+.2f}" for e in errors)
        out["start_rule_errors_ms"] = ",".join(f"{e - lead:+.2f}" for e in rule_errors)
    out["rule_interval_ms"] = rule_b * 1000
    # Each interval between the clicks against the presses' tempo: a sound
    # stream that ran dry shows as a step.
    out["click_steps_ms"] = ",".join(
        f"{((t1 - t0) - rule_b) * 1000:+.2f}" for (_, t0), (_, t1) in zip(after, after[1:]))
    if len(after) >= 2:
        out["click_period_ms"] = (after[-1][1] - after[0][1]) / (len(after) - 1) * 1000
        out["click_period_sink_ms"] = (after[-1][0] - after[0][0]) / (len(after) - 1) * ms
    return out


def print_figures(figures):
    words = []
    for k, v in figures.items():
        words.append(f"{k}={v:.5f}" if isinstance(v, float) else f"{k}={v}")
    print(" ".join(words))


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    sub = parser.add_subparsers(dest="mode", required=True)
    g = sub.add_parser("grid")
    g.add_argument("file")
    g.add_argument("bpm", type=float)
    g.add_argument("--rate", type=float, default=48000)
    g.add_argument("--channels", type=int, default=2)
    t = sub.add_parser("tapped")
    t.add_argument("file")
    t.add_argument("log")
    t.add_argument("--rate", type=float, default=48000)
    t.add_argument("--arrivals")
    t.add_argument("--first", type=int, default=4, help="clicks whose errors are listed")
    t.add_argument("--click-lead-ms", type=float)
    le = sub.add_parser("lead")
    le.add_argument("file")
    args = parser.parse_args()
    if args.mode == "lead":
        rate, chans = read_wav(args.file)
        # Silence ahead, so that the detector sees the sound start.
        pad = 2000
        found = onsets(array.array("f", [0.0] * pad) + chans[0], rate)
        if not found:
            raise SystemExit(f"{args.file}: no onset")
        print(f"{(found[0] - pad) * 1000.0 / rate:.3f}")
        return
    if args.mode == "grid":
        if args.file.endswith(".wav"):
            rate, chans = read_wav(args.file)
        else:
            rate, chans = args.rate, read_raw_f32(args.file, args.channels)
        found = onsets(chans[0], rate, dead_seconds=min(0.1, 15.0 / args.bpm))
        print_figures(grid_figures(found, rate, args.bpm))
    else:
        print_figures(tapped_figures(args))


if __name__ == "__main__":
    main()
