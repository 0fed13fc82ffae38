#!/usr/bin/env python3
"""Prints the lines of bench/metronome_bench.sh from analyze.py's figures.

  report.py header
  report.py row SERVER SOURCE LOAD BPM UNDERRUNS "FIGURES"   one table row
  report.py tapped "SERVER LOAD" "FIGURES"                    a tapping run's figures
  report.py summary RESULTS                                   the summary table

FIGURES are analyze.py's key=value words; RESULTS holds one line per run:
"SERVER SOURCE LOAD BPM UNDERRUNS FIGURES" (probe, klick) or
"SERVER tapped LOAD FIGURES"; SERVER is the sound server (pulseaudio or
pipewire) the PortAudio runs played into.
"""

import sys

TARGETS = ("targets: period within 0.01 ms of 60000/BPM, jit sd < 0.05 ms, drift < 0.1 ms,"
           " no missed or extra click")
HEADER = ("server     source load  BPM clicks   period ms  vs exact  jit sd jit max  drift ms"
          " missed extra underr.")


def figures(words):
    return dict(w.split("=", 1) for w in words.split() if "=" in w)


def meets_targets(f):
    g = lambda k: float(f[k])
    return (abs(g("period_ms") - g("nominal_ms")) <= 0.01 and g("jitter_sd_ms") < 0.05
            and abs(g("drift_ms")) < 0.1 and f["missed"] == "0" and f["extra"] == "0")


def row(server, source, load, bpm, underruns, words, verdict=False):
    f = figures(words)
    if "clicks" not in f:
        return f"   {server:<10} {source:<6} {load:<5} {bpm:>3}  no clicks found ({words})"
    g = lambda k: float(f[k])
    line = (f"   {server:<10} {source:<6} {load:<5} {bpm:>3} {int(f['clicks']):>6} {g('period_ms'):>11.4f}"
            f" {g('period_ms') - g('nominal_ms'):>+8.4f} {g('jitter_sd_ms'):>7.3f}"
            f" {g('jitter_max_ms'):>7.3f} {g('drift_ms'):>+8.3f} {int(f['missed']):>6}"
            f" {int(f['extra']):>5} {underruns:>7}")
    if verdict:
        line += "  meets targets" if meets_targets(f) else "  misses"
    return line


def tapped(load, words):
    f = figures(words)
    if "click_errors_ms" not in f:
        print(f"   {load}: not measured: {words}")
        return
    g = lambda k: float(f[k])
    print(f"   {load}: {f['presses']} presses {g('tap_interval_ms'):.2f} ms apart (LS; first to"
          f" last {g('rule_interval_ms'):.2f} ms; spread {g('tap_spread_ms'):.2f} ms); first click"
          f" {f['first_click_beat']} beats after the last press")
    print(f"     onset errors vs LS grid (ms):           {f['click_errors_ms']}")
    print(f"     onset errors vs the program's rule (ms): {f['rule_errors_ms']}")
    if "start_errors_ms" in f:
        print(f"     less the sound's lead of {g('click_lead_ms'):.2f} ms: vs LS"
              f" {f['start_errors_ms']}, vs rule {f['start_rule_errors_ms']}")
    print(f"     intervals between the clicks less the presses' first-to-last interval (ms):"
          f" {f.get('click_steps_ms', '')}")
    print(f"     clicks 1 to {f['clicks']}: {g('click_period_ms'):.3f} ms apart on"
          f" CLOCK_MONOTONIC, {g('click_period_sink_ms'):.3f} ms in the sink's frames"
          f" ({60000 / g('click_period_sink_ms'):.3f} BPM); presses first to last"
          f" {60000 / g('rule_interval_ms'):.3f} BPM, the program's QuickSave"
          f" {f.get('quick_tempo', '?')} BPM")
    sink = (f"; vs the sink's clock {g('marker_vs_sink_ms'):+.2f} ms"
            f" (block {g('sink_block_ms'):.1f} ms)" if "marker_vs_sink_ms" in f else "")
    print(f"     markers: rulers sd {g('ruler_sd_ms'):.3f} ms, max {g('ruler_max_ms'):.3f} ms"
          f" ({f['rulers_dropped']} left out); tap markers {g('tap_markers_vs_rulers_ms'):+.3f} ms"
          f" (max {g('tap_markers_vs_rulers_max_ms'):.3f}) from their instants{sink};"
          f" {f['late_markers']} late")
    print(f"     sink clock vs CLOCK_MONOTONIC: {g('sink_ppm_before'):+.0f} ppm before the"
          f" presses, {g('sink_ppm_clicks'):+.0f} ppm during the clicks")


def summary(path):
    rows = [line.split(None, 5) for line in open(path) if line.strip()]
    table = [r for r in rows if len(r) == 6 and r[1] in ("probe", "klick")]
    print("   " + TARGETS)
    if table:
        print("   " + HEADER)
        for server, source, load, bpm, underruns, words in table:
            print(row(server, source, load, bpm, underruns, words, verdict=True))
    rows = [line.split(None, 3) for line in open(path) if line.strip()]
    runs = [r for r in rows if len(r) >= 3 and r[1] == "tapped"]
    if not runs:
        return
    print("   the program after a tapping run: errors of its first 4 clicks (ms, + late) against")
    print("   the presses' grid: LS line (in brackets: the program's own rule, from the last press")
    print("   at the first-to-last tempo); onsets as heard, and sound starts (onset less the")
    print("   click sound's lead)")
    for r in runs:
        words = r[3] if len(r) > 3 else ""
        f = figures(words)
        where = f"{r[0]:<10} {r[2]:<5}"
        if "click_errors_ms" not in f:
            print(f"   {where} not measured ({words})")
            continue
        print(f"   {where} onsets  {f['click_errors_ms']:<28} ({f['rule_errors_ms']})")
        if "start_errors_ms" in f:
            print(f"   {'':<16} starts  {f['start_errors_ms']:<28} ({f['start_rule_errors_ms']})")


def main():
    mode = sys.argv[1]
    if mode == "header":
        print("   " + HEADER)
    elif mode == "row":
        print(row(*sys.argv[2:8]))
    elif mode == "tapped":
        tapped(sys.argv[2], sys.argv[3])
    elif mode == "summary":
        summary(sys.argv[2])


if __name__ == "__main__":
    main()
