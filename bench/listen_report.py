#!/usr/bin/python3
"""The figures of bench/listen_bench.sh: tempo timelines of the detectors
that listened, and the summary table.

  listen_report.py aubio REC.wav TRACK.wav --bpm B --offset S --duration D
                   --server SRV --name TRACK --out TIMELINE.csv [--step 2]
  listen_report.py runner RUNNER.out --bpm B --duration D --server SRV
                   --name TRACK --out TIMELINE.csv [--cpu PERCENT] [--detector NAME]
  listen_report.py summary TIMELINE.csv... [--tracks-csv OUT.csv] [--md OUT.md]

A timeline row: detector, server, track, truth_bpm, t_s (seconds of the
music heard, from its first sample in the recording), bpm (empty when the
detector had none), uncertainty, state, cpu_percent (one core, the same on
every row of a run).

aubio: the recording of the sink's monitor from the music's first sample
(found as bench/listen_score.py finds it), cut at t = step, 2 step, ... up
to the track's end, and `aubio tempo -i` run on each piece: what aubio
would say at t had it analysed all it had heard by then. That is what
aubio offers - a tempo for a whole input, not a running one - and it is
kind to aubio: no time is spent analysing before the answer. Its CPU figure
is one pass over the whole piece (CPU seconds over the music's seconds).

runner: the Pulsaro runner's lines t_seconds,bpm,uncertainty,state, t in
seconds of its input; with its line "# music_start_s=X" (where it found the
track's first sample in its input) t becomes seconds of music. CPU from the
bench (the runner's user + system time over its wall time).

summary, per detector and server, over tracks:
  seconds to lock   the first t from which every estimate to the end is
                    within 0.1 BPM of the truth; "never" when the last one
                    is not (median and 90th percentile; never counts as
                    longer than any)
  locked <= 8 s     share of tracks whose lock came by 8 s
  error after 30 s  |estimate - truth| BPM, of the last estimate at or
                    before 30 s (or the track's end, if shorter); no
                    estimate counts as an infinite error
  within 0.02       share of tracks with that error at most 0.02 BPM
  right octave      share of tracks whose estimate then is within 4 % of
                    the truth (not half, double or another multiple)
  CPU %             of one core, the median over the tracks
"""

import argparse
import csv
import math
import os
import re
import resource
import subprocess
import sys
import tempfile

import numpy as np

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import listen_score  # noqa: E402

FIELDS = ["detector", "server", "track", "truth_bpm", "t_s", "bpm", "uncertainty", "state",
          "cpu_percent"]
LOCK_BPM = 0.1
LOCK_BY_S = 8.0
AFTER_S = 30.0
CLOSE_BPM = 0.02
OCTAVE = 0.04


def music_start(rec_path, track_path):
    """The recording, its rate, and the frame where the track starts in it."""
    rec, rate = listen_score.read_wav(rec_path)
    trk, trk_rate = listen_score.read_wav(track_path)
    trk = listen_score.to_channels(listen_score.resample_fft(trk, trk_rate, rate), rec.shape[1])
    lag, corr, second = listen_score.align(rec.sum(axis=1), trk.sum(axis=1), rate)
    if corr < 0.5 or second > 0.95:
        raise listen_score.ScoreError(f"{rec_path}: the music's start is not clear"
                                      f" (correlation {corr:.3f}, next peak {second:.3f})")
    return rec, rate, lag


def append_rows(path, rows):
    new = not os.path.exists(path) or os.path.getsize(path) == 0
    with open(path, "a", newline="") as f:
        w = csv.DictWriter(f, FIELDS)
        if new:
            w.writeheader()
        w.writerows(rows)


def aubio_tempo(path):
    """(bpm or None, 'uncertain' or '') from aubio tempo -i, and its CPU seconds."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    out = subprocess.run(["aubio", "tempo", "-i", path], capture_output=True, text=True).stdout
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    m = re.search(r"([0-9.]+) bpm", out)
    return (float(m.group(1)) if m else None), ("uncertain" if "uncertain" in out else ""), cpu


def cmd_aubio(a):
    rec, rate, lag = music_start(a.recording, a.track)
    start = max(0, lag)
    rows = []
    cpu_percent = ""
    with tempfile.TemporaryDirectory() as tmp:
        t = a.step
        ends = []
        while t <= a.duration + 1e-9:
            ends.append(t)
            t += a.step
        if not ends or ends[-1] < a.duration - 1e-6:
            ends.append(a.duration)
        results = []
        for t in ends:
            piece = rec[start:start + int(round(t * rate))]
            path = os.path.join(tmp, "piece.wav")
            listen_score.write_wav_f32(path, piece, rate)
            bpm, state, cpu = aubio_tempo(path)
            results.append((t, bpm, state))
            if t == ends[-1]:
                cpu_percent = f"{100 * cpu / t:.2f}"
    for t, bpm, state in results:
        rows.append({"detector": "aubio-tempo", "server": a.server, "track": a.name,
                     "truth_bpm": a.bpm, "t_s": f"{t:.3f}",
                     "bpm": "" if bpm is None else f"{bpm:.4f}", "uncertainty": "",
                     "state": state, "cpu_percent": cpu_percent})
    append_rows(a.out, rows)
    last = results[-1]
    print(f"aubio-tempo {a.server} {a.name}: truth {a.bpm:g}, after {last[0]:g} s"
          f" {last[1]} {last[2]}".rstrip())


def cmd_runner(a):
    start_s = None
    lines = []
    for line in open(a.runner_out):
        line = line.strip()
        if not line:
            continue
        if line.startswith("#"):
            m = re.search(r"music_start_s=([-0-9.eE+]+)", line)
            if m:
                start_s = float(m.group(1))
            continue
        parts = line.split(",")
        if len(parts) < 4:
            continue
        try:
            t = float(parts[0])
        except ValueError:
            continue  # a header
        lines.append((t, parts[1], parts[2], parts[3]))
    if start_s is None:
        raise listen_score.ScoreError(f"{a.runner_out}: no '# music_start_s=' line: the runner"
                                      " was not given the track, or did not find it")
    rows = []
    for t, bpm, unc, state in lines:
        tm = t - start_s
        if tm < 0 or tm > a.duration + 2:
            continue
        try:
            value = float(bpm)
        except ValueError:
            value = 0.0
        rows.append({"detector": a.detector, "server": a.server, "track": a.name,
                     "truth_bpm": a.bpm, "t_s": f"{tm:.3f}",
                     "bpm": f"{value:.4f}" if value > 0 else "", "uncertainty": unc,
                     "state": state, "cpu_percent": a.cpu or ""})
    append_rows(a.out, rows)
    print(f"{a.detector} {a.server} {a.name}: {len(rows)} estimates, music from"
          f" {start_s:.3f} s of its input")


def track_figures(rows):
    truth = float(rows[0]["truth_bpm"])
    points = sorted((float(r["t_s"]), float(r["bpm"]) if r["bpm"] else None) for r in rows)
    end = min(AFTER_S, max(t for t, _ in points))
    points = [(t, b) for t, b in points if t <= end + 1e-6]
    lock = math.inf
    for t, b in reversed(points):
        if b is None or abs(b - truth) > LOCK_BPM:
            break
        lock = t
    last = points[-1][1] if points else None
    error = abs(last - truth) if last is not None else math.inf
    octave = last is not None and abs(last / truth - 1) <= OCTAVE
    cpu = rows[0]["cpu_percent"]
    return {"lock_s": lock, "error": error, "bpm": last, "truth": truth, "octave": octave,
            "cpu": float(cpu) if cpu else math.nan}


def fmt_s(x):
    return "never" if math.isinf(x) else f"{x:.1f}"


def cmd_summary(a):
    rows = []
    for path in a.timelines:
        rows.extend(csv.DictReader(open(path)))
    runs = {}
    for r in rows:
        runs.setdefault((r["detector"], r["server"], r["track"]), []).append(r)
    figures = {k: track_figures(v) for k, v in runs.items()}
    if a.tracks_csv:
        with open(a.tracks_csv, "w", newline="") as f:
            w = csv.writer(f)
            w.writerow(["detector", "server", "track", "truth_bpm", "bpm_after_30s",
                        "error_bpm", "lock_s", "right_octave", "cpu_percent"])
            for (d, s, t), f_ in sorted(figures.items()):
                w.writerow([d, s, t, f_["truth"], "" if f_["bpm"] is None else f_["bpm"],
                            f"{f_['error']:.4f}", fmt_s(f_["lock_s"]), int(f_["octave"]),
                            f"{f_['cpu']:.2f}"])
    groups = {}
    for (d, s, _), f_ in figures.items():
        groups.setdefault((d, s), []).append(f_)
    lines = ["| detector | server | tracks | seconds to lock median | p90 | share locked ≤8 s"
             " | error after 30 s median (BPM) | share within 0.02 after 30 s"
             " | right octave share | CPU % of one core |",
             "|---|---|---|---|---|---|---|---|---|---|"]
    for (d, s), fs in sorted(groups.items()):
        locks = np.array([f_["lock_s"] for f_ in fs])
        errors = np.array([f_["error"] for f_ in fs])
        n = len(fs)
        cpu = np.array([f_["cpu"] for f_ in fs])
        cpu = cpu[~np.isnan(cpu)]
        lines.append(
            f"| {d} | {s} | {n} | {fmt_s(float(np.percentile(locks, 50, method='lower')))}"
            f" | {fmt_s(float(np.percentile(locks, 90, method='higher')))}"
            f" | {np.mean(locks <= LOCK_BY_S):.0%}"
            f" | {float(np.median(errors)):.3f}"
            f" | {np.mean(errors <= CLOSE_BPM):.0%}"
            f" | {np.mean([f_['octave'] for f_ in fs]):.0%}"
            f" | {float(np.median(cpu)) if len(cpu) else float('nan'):.1f} |")
    table = "\n".join(lines)
    if a.md:
        with open(a.md, "w") as f:
            f.write(table + "\n")
    print(table)


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    sub = ap.add_subparsers(dest="cmd", required=True)
    p = sub.add_parser("aubio")
    p.add_argument("recording")
    p.add_argument("track")
    p.add_argument("--bpm", type=float, required=True)
    p.add_argument("--offset", type=float, default=0.0)
    p.add_argument("--duration", type=float, required=True)
    p.add_argument("--server", required=True)
    p.add_argument("--name", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--step", type=float, default=2.0)
    p = sub.add_parser("runner")
    p.add_argument("runner_out")
    p.add_argument("--bpm", type=float, required=True)
    p.add_argument("--duration", type=float, required=True)
    p.add_argument("--server", required=True)
    p.add_argument("--name", required=True)
    p.add_argument("--out", required=True)
    p.add_argument("--detector", default="pulsaro")
    p.add_argument("--cpu", help="the runner's CPU, % of one core")
    p = sub.add_parser("summary")
    p.add_argument("timelines", nargs="+")
    p.add_argument("--tracks-csv")
    p.add_argument("--md")
    a = ap.parse_args()
    try:
        {"aubio": cmd_aubio, "runner": cmd_runner, "summary": cmd_summary}[a.cmd](a)
    except listen_score.ScoreError as e:
        print(f"listen_report: {e}", file=sys.stderr)
        return 2
    return 0


if __name__ == "__main__":
    sys.exit(main())
