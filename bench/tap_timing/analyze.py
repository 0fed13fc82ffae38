#!/usr/bin/env python3
"""Compare probe timings to the driver's send times.
usage: analyze.py SEND.txt PROBE.csv
SEND.txt: CLOCK_MONOTONIC ns per press. PROBE.csv: arrival_us,event_ms.
steady_clock on Linux is CLOCK_MONOTONIC, so arrival - send is a real latency.
"""
import statistics as st, sys

send = [int(l) / 1e6 for l in open(sys.argv[1]) if l.strip()]          # ms
rows = [l.split(",") for l in open(sys.argv[2]).read().split("\n")[1:] if l.strip()]
arr = [int(a) / 1e3 for a, _ in rows]                                    # ms
srv = [int(e) for _, e in rows]                                          # ms
if len(send) != len(arr):
    print(f"WARNING: {len(send)} sent, {len(arr)} recorded; truncating")
n = min(len(send), len(arr)); send, arr, srv = send[:n], arr[:n], srv[:n]
# unwrap 32-bit server ms
for i in range(1, n):
    while srv[i] < srv[i - 1] - 2**31: srv[i] += 2**32

def s(xs):
    return (f"mean {st.mean(xs):+7.3f}  sd {st.pstdev(xs):6.3f}  "
            f"max|err| {max(abs(x) for x in xs):7.3f}")

def ivals(t): return [b - a for a, b in zip(t, t[1:])]
tru = ivals(send)
print(f"presses {n}, true interval mean {st.mean(tru):.1f} ms "
      f"(min {min(tru):.1f}, max {max(tru):.1f})")
print("interval error vs driver (ms):")
print("  arrival steady_clock :", s([m - t for m, t in zip(ivals(arr), tru)]))
print("  server timestamp     :", s([m - t for m, t in zip(ivals(srv), tru)]))

lat = [a - t for a, t in zip(arr, send)]
print("latency send->arrival (ms): "
      f"mean {st.mean(lat):.3f} sd {st.pstdev(lat):.3f} min {min(lat):.3f} max {max(lat):.3f}")
sl = [e - t for e, t in zip(srv, send)]
print("server_ms - send_ms (same clock if Xvfb uses CLOCK_MONOTONIC): "
      f"mean {st.mean(sl):.3f} sd {st.pstdev(sl):.3f} min {min(sl):.3f} max {max(sl):.3f}")

# Map server ms onto steady_clock: offset = min(arrival - server_ms).
off = min(a - e for a, e in zip(arr, srv))
mapped = [e + off for e in srv]
ml = [m - t for m, t in zip(mapped, send)]
print(f"mapped (offset=min(arrival-server)={off:.3f} ms): latency send->mapped "
      f"mean {st.mean(ml):.3f} sd {st.pstdev(ml):.3f} min {min(ml):.3f} max {max(ml):.3f}")
early = [a - m for a, m in zip(arr, mapped)]
print(f"  arrival - mapped (how late arrival is): mean {st.mean(early):.3f} "
      f"max {max(early):.3f}; events with >5 ms: {sum(x > 5 for x in early)}/{n}")
# Online version: offset as the running minimum seen so far.
run, cur = [], float("inf")
for a, e in zip(arr, srv):
    cur = min(cur, a - e); run.append(cur - off)
print(f"  running-min offset minus final offset: first {run[0]:.3f} ms, "
      f"after 4 presses {run[min(3, n-1)]:.3f}, after 10 {run[min(9, n-1)]:.3f}")

# Tap tempo averaged over the whole time since the first press:
# relative error of span (t_k - t_0) vs true span, expressed at 120 BPM.
def span_err(t):
    out = []
    for k in range(1, n):
        true_span = send[k] - send[0]
        out.append(((t[k] - t[0]) - true_span) / true_span)
    return out
for name, t in (("arrival", arr), ("server ", srv)):
    e = span_err(t)
    worst4 = max(abs(x) for x in e[3:]) if len(e) > 3 else float("nan")
    worst1 = max(abs(x) for x in e)
    print(f"tempo-since-first-press {name}: worst rel err {100*worst1:.3f}% "
          f"(={120*worst1:.2f} BPM at 120), from 4th interval on {100*worst4:.3f}% "
          f"(={120*worst4:.3f} BPM), at end {100*e[-1]:+.4f}%")
