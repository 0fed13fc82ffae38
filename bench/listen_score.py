#!/usr/bin/python3
"""Where a metronome's clicks fell against the beats of the music they were
played over, from a recording of the sound sink's monitor that holds both.

  listen_score.py RECORDING TRACK --bpm BPM --offset S [--csv CLICKS.csv]
  listen_score.py --self-test [--track WAV --bpm BPM --offset S] [--click WAV]

RECORDING is a WAV file (PCM or float, any channels; or raw float32 with
--raw-rate and --raw-channels, as parec --raw writes it); TRACK is the
track's own WAV file as it was played; BPM and S are its truth: beat k at
S + k * 60 / BPM seconds from the track's first sample.

  1. The music's start: the cross-correlation of the recording with the track
     (both mono, the track resampled to the recording's rate in the frequency
     domain), to a sample. The peak must be clear: its normalised
     correlation at least --min-correlation, and no other peak further than
     10 ms from it higher than --max-second times it; otherwise the score is
     refused (exit 2).
  2. The clicks alone: the aligned track subtracted, through a short
     least-squares filter per channel (--fir taps, centred; 1 is a plain
     scale), which takes up the player's gain, a fraction of a sample of
     delay and its resampler's small colouring; the channels summed.
     music_left_db: the residual's energy against the recording's, the
     median of 50 ms pieces of the music's span (most hold no click).
  3. The onsets: the residual's envelope (its largest magnitude per 1 ms)
     over a threshold (the larger of 6 times the envelope's median and a
     quarter of its largest value), with a refractory period (--refractory);
     each refined to the first crossing of 15 % of that click's peak,
     searching from 20 ms before the envelope crossed the threshold,
     interpolated linearly between samples. Clicks outside the music (before
     its first sample or after its last, or within 50 ms of either) are left
     out, and counted in "outside".
  4. Each click's offset from the nearest true beat, ms (positive: late), and
     the median and 95th percentile of |offset|.

Prints one line of key=value words (the summary), and with --csv writes one
row per click: time_s (in the recording), beat (index of the nearest true
beat), offset_ms, peak, floor (the residual's largest magnitude in the 20 ms
before the onset, over the click's peak: above 0.15 the onset is not
trustworthy, and the click is counted in "noisy").

--self-test builds mixes whose answers are known and scores them: a
synthetic track (and, given --track, a real one) played at another rate
through a windowed-sinc resampler unlike the scorer's, started at a
fraction of a sample, with clicks whose onsets are placed at known offsets
from the beats; it checks every offset comes back within 0.1 ms, and that a
track that was not played is refused. Exit 0 when every check passes.
"""

import argparse
import csv
import math
import struct
import sys

import numpy as np

ONSET_FRACTION = 0.15
ENVELOPE_S = 0.001
SEARCH_BACK_S = 0.020
CLICK_LENGTH_S = 0.030  # the peak is looked for this long after the envelope crossed
EXCLUDE_S = 0.010  # around the correlation peak, when looking for the second one
EDGE_S = 0.050  # of the music's first and last frame, where no click is taken


class ScoreError(Exception):
    pass


# --- files ---------------------------------------------------------------------

def read_wav(path):
    """(samples as float64 array [frames, channels], rate)."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:4] != b"RIFF" or data[8:12] != b"WAVE":
        raise ScoreError(f"{path}: not a RIFF/WAVE file")
    pos = 12
    fmt = None
    payload = None
    while pos + 8 <= len(data):
        cid = data[pos:pos + 4]
        size = struct.unpack_from("<I", data, pos + 4)[0]
        body = pos + 8
        if cid == b"fmt ":
            fmt = data[body:body + size]
        elif cid == b"data":
            # A recorder stopped before it could write the size leaves 0 or
            # more than there is: the rest of the file then.
            end = body + size if 0 < size <= len(data) - body else len(data)
            payload = data[body:end]
            break
        pos = body + size + (size & 1)
    if fmt is None or payload is None:
        raise ScoreError(f"{path}: no fmt or data chunk")
    tag, channels, rate = struct.unpack_from("<HHI", fmt, 0)
    bits = struct.unpack_from("<H", fmt, 14)[0]
    if tag == 0xFFFE and len(fmt) >= 26:
        tag = struct.unpack_from("<H", fmt, 24)[0]
    width = bits // 8
    usable = len(payload) - len(payload) % (width * channels)
    payload = payload[:usable]
    if tag == 3 and bits == 32:
        x = np.frombuffer(payload, "<f4").astype(np.float64)
    elif tag == 3 and bits == 64:
        x = np.frombuffer(payload, "<f8").copy()
    elif tag == 1 and bits == 8:
        x = (np.frombuffer(payload, np.uint8).astype(np.float64) - 128) / 128
    elif tag == 1 and bits == 16:
        x = np.frombuffer(payload, "<i2") / 32768.0
    elif tag == 1 and bits == 24:
        b = np.frombuffer(payload, np.uint8).reshape(-1, 3).astype(np.int32)
        v = b[:, 0] | (b[:, 1] << 8) | (b[:, 2] << 16)
        v = np.where(v >= 1 << 23, v - (1 << 24), v)
        x = v / float(1 << 23)
    elif tag == 1 and bits == 32:
        x = np.frombuffer(payload, "<i4") / 2147483648.0
    else:
        raise ScoreError(f"{path}: sample format {tag}/{bits} bits is not read here")
    return x.reshape(-1, channels), rate


def read_raw_f32(path, channels):
    x = np.fromfile(path, "<f4").astype(np.float64)
    return x[:len(x) - len(x) % channels].reshape(-1, channels)


def write_wav_f32(path, x, rate):
    x = np.asarray(x, np.float32)
    if x.ndim == 1:
        x = x[:, None]
    frames, channels = x.shape
    payload = x.astype("<f4").tobytes()
    fmt = struct.pack("<HHIIHH", 3, channels, rate, rate * 4 * channels, 4 * channels, 32)
    with open(path, "wb") as f:
        f.write(b"RIFF" + struct.pack("<I", 4 + 8 + len(fmt) + 8 + len(payload)) + b"WAVE")
        f.write(b"fmt " + struct.pack("<I", len(fmt)) + fmt)
        f.write(b"data" + struct.pack("<I", len(payload)) + payload)


# --- signal pieces -------------------------------------------------------------

def good_size(n):
    """The smallest 2^a 3^b 5^c at least n, for quick FFTs."""
    best = 1 << max(0, (n - 1).bit_length())
    f5 = 1
    while f5 < best:
        f3 = f5
        while f3 < best:
            f2 = f3
            while f2 < n:
                f2 *= 2
            best = min(best, f2)
            f3 *= 3
        f5 *= 5
    return best


def resample_fft(x, rate_in, rate_out):
    """Band-limited resampling of [frames, channels] by zero-padding or
    cutting the spectrum; the track is padded with silence so that nothing
    wraps round, and to a length whose frames map exactly onto the new rate."""
    if rate_in == rate_out:
        return x.copy()
    g = math.gcd(rate_in, rate_out)
    step_in, step_out = rate_in // g, rate_out // g
    frames = x.shape[0]
    padded = frames + rate_in  # a second of silence after
    padded = -(-padded // (step_in * 64)) * step_in * 64
    n_out = padded // step_in * step_out
    spectrum = np.fft.rfft(x, n=padded, axis=0)
    keep = min(spectrum.shape[0], n_out // 2 + 1)
    out_spectrum = np.zeros((n_out // 2 + 1, x.shape[1]), complex)
    out_spectrum[:keep] = spectrum[:keep]
    y = np.fft.irfft(out_spectrum, n=n_out, axis=0) * (n_out / padded)
    return y[:int(round(frames * rate_out / rate_in))]


def to_channels(x, channels):
    if x.shape[1] == channels:
        return x
    if x.shape[1] == 1:
        return np.repeat(x, channels, axis=1)
    mono = x.mean(axis=1, keepdims=True)
    return np.repeat(mono, channels, axis=1)


def align(rec_mono, trk_mono, rate):
    """The lag (recording frame of the track's frame 0), the normalised
    correlation there, and the ratio of the best other peak to it."""
    n = good_size(len(rec_mono) + len(trk_mono))
    cross = np.fft.rfft(rec_mono, n) * np.conj(np.fft.rfft(trk_mono, n))
    xc = np.fft.irfft(cross, n)
    # Lags from -(len(trk) - 1) (the track began before the recording) to
    # len(rec) - 1; a negative lag l sits at n + l.
    lags = np.concatenate([np.arange(-(len(trk_mono) - 1), 0), np.arange(0, len(rec_mono))])
    values = np.concatenate([xc[n - (len(trk_mono) - 1):], xc[:len(rec_mono)]])
    best = int(np.argmax(values))
    lag = int(lags[best])
    exclude = int(EXCLUDE_S * rate)
    others = values.copy()
    others[max(0, best - exclude):best + exclude + 1] = -np.inf
    second = float(np.max(others)) / float(values[best]) if values[best] > 0 else 1.0
    a, b = max(0, lag), min(len(rec_mono), lag + len(trk_mono))
    seg = rec_mono[a:b]
    ref = trk_mono[a - lag:b - lag]
    denom = math.sqrt(float(np.dot(seg, seg)) * float(np.dot(ref, ref)))
    corr = float(np.dot(seg, ref)) / denom if denom > 0 else 0.0
    return lag, corr, second


def fit_and_subtract(rec, rate, trk, lag, taps):
    """rec minus the track placed at lag through a least-squares FIR of
    `taps` taps (centred) per channel. Returns the residual (summed over
    the channels), the span of the music in recording frames, and how much
    of the music is left (dB, see below)."""
    frames, channels = rec.shape
    placed = np.zeros_like(rec)
    a, b = max(0, lag), min(frames, lag + trk.shape[0])
    placed[a:b] = trk[a - lag:b - lag]
    half = taps // 2
    residual = rec.copy()
    for c in range(channels):
        x = placed[:, c]
        y = rec[:, c]
        shifts = range(-half, taps - half)
        # Normal equations: the autocorrelation of the placed track and its
        # cross-correlation with the recording, at the taps' shifts.
        auto = {}
        for d in range(taps):
            auto[d] = float(np.dot(x[d:], x[:frames - d]))
        r = np.array([[auto[abs(i - j)] for j in range(taps)] for i in range(taps)])
        p = np.array([float(np.dot(y[max(0, s):frames + min(0, s)],
                                   x[max(0, -s):frames - max(0, s)])) for s in shifts])
        if r[0, 0] <= 0:
            continue
        w = np.linalg.solve(r + np.eye(taps) * r[0, 0] * 1e-9, p)
        model = np.zeros(frames)
        for weight, s in zip(w, shifts):
            if s >= 0:
                model[s:] += weight * x[:frames - s]
            else:
                model[:frames + s] += weight * x[-s:]
        residual[:, c] = y - model
    mono = residual.sum(axis=1)
    # What is left of the music: the residual's energy against the
    # recording's in 50 ms pieces of the music's span, the median piece (most
    # hold no click).
    piece = max(1, int(0.05 * rate))
    span = rec[a:b].sum(axis=1)
    left = mono[a:b]
    n = len(span) // piece
    if n == 0:
        return mono, (a, b), 0.0
    e_rec = (span[:n * piece].reshape(n, piece) ** 2).sum(axis=1)
    e_res = (left[:n * piece].reshape(n, piece) ** 2).sum(axis=1)
    ratio = e_res[e_rec > 0] / e_rec[e_rec > 0]
    level = float(np.median(ratio)) if len(ratio) else 1.0
    return mono, (a, b), 10 * math.log10(max(level, 1e-30))


def find_onsets(x, rate, refractory_s):
    """(onset time in frames, fractional; the click's peak; floor) per click."""
    block = max(1, int(round(ENVELOPE_S * rate)))
    mag = np.abs(x)
    nblocks = len(x) // block
    env = mag[:nblocks * block].reshape(nblocks, block).max(axis=1)
    if nblocks == 0 or env.max() <= 0:
        return []
    threshold = max(6 * float(np.median(env)), 0.25 * float(env.max()))
    above = np.nonzero(env > threshold)[0]
    refractory = refractory_s * rate
    back = int(SEARCH_BACK_S * rate)
    length = int(CLICK_LENGTH_S * rate)
    onsets = []
    last = -math.inf
    for blk in above:
        start = int(blk) * block
        if start - last < refractory:
            continue
        peak_at = start + int(np.argmax(mag[start:start + length]))
        peak = float(mag[peak_at])
        lo = max(0, start - back)
        level = ONSET_FRACTION * peak
        crossing = lo + int(np.argmax(mag[lo:peak_at + 1] >= level))
        if crossing > 0 and mag[crossing - 1] < level:
            before = mag[crossing - 1]
            t = crossing - 1 + (level - before) / (mag[crossing] - before)
        else:
            t = float(crossing)
        floor = float(mag[max(0, crossing - back):crossing].max()) / peak if crossing > 0 else 0.0
        onsets.append((t, peak, floor))
        last = start
    return onsets


def percentile(values, q):
    return float(np.percentile(np.asarray(values), q)) if len(values) else float("nan")


# --- the score -----------------------------------------------------------------

def score(rec, rec_rate, trk, trk_rate, bpm, offset_s, fir=17, refractory_s=0.15,
          min_correlation=0.5, max_second=0.95, force=False):
    trk = resample_fft(trk, trk_rate, rec_rate)
    trk = to_channels(trk, rec.shape[1])
    lag, corr, second = align(rec.sum(axis=1), trk.sum(axis=1), rec_rate)
    summary = {"start_s": lag / rec_rate, "start_frame": lag, "correlation": corr,
               "second_peak": second}
    if not force and (corr < min_correlation or second > max_second):
        raise ScoreError(f"the music's start is not clear: correlation {corr:.3f} at"
                         f" {lag / rec_rate:.6f} s, the next peak {second:.3f} of it")
    residual, (a, b), residual_db = fit_and_subtract(rec, rec_rate, trk, lag, fir)
    summary["music_left_db"] = residual_db
    period = 60.0 / bpm
    # Where the track was cut, the player's resampler and this one's ring
    # differently: what starts there is not taken for a click.
    edge = EDGE_S * rec_rate
    clicks = []
    outside = 0
    for t, peak, floor in find_onsets(residual, rec_rate, refractory_s):
        if t < a + edge or t >= b - edge:
            outside += 1
            continue
        music_s = (t - lag) / rec_rate - offset_s
        beat = int(round(music_s / period))
        clicks.append({"time_s": t / rec_rate, "beat": beat,
                       "offset_ms": (music_s - beat * period) * 1000, "peak": peak,
                       "floor": floor})
    offsets = [c["offset_ms"] for c in clicks]
    magnitudes = [abs(o) for o in offsets]
    summary.update({
        "clicks": len(clicks), "outside": outside,
        "noisy": sum(1 for c in clicks if c["floor"] > ONSET_FRACTION),
        "median_ms": percentile(offsets, 50), "median_abs_ms": percentile(magnitudes, 50),
        "p95_abs_ms": percentile(magnitudes, 95),
        "max_abs_ms": max(magnitudes) if magnitudes else float("nan"),
    })
    return summary, clicks


def format_summary(summary):
    words = []
    for key, value in summary.items():
        if isinstance(value, float):
            digits = 6 if key == "start_s" else 3
            words.append(f"{key}={value:.{digits}f}")
        else:
            words.append(f"{key}={value}")
    return " ".join(words)


def write_clicks(path, clicks):
    with open(path, "w", newline="") as f:
        w = csv.writer(f)
        w.writerow(["time_s", "beat", "offset_ms", "peak", "floor"])
        for c in clicks:
            w.writerow([f"{c['time_s']:.6f}", c["beat"], f"{c['offset_ms']:.3f}",
                        f"{c['peak']:.4f}", f"{c['floor']:.3f}"])


# --- self-test -----------------------------------------------------------------

def sinc_resample(x, rate_in, rate_out, shift_frames=0.0, half_taps=16):
    """A player's resampler: a Hann-windowed sinc of 2 * half_taps taps,
    output frame m taken at input time (m - shift_frames) * rate_in / rate_out."""
    frames_out = int((x.shape[0] + shift_frames * rate_in / rate_out) * rate_out / rate_in)
    cutoff = min(1.0, rate_out / rate_in) * 0.95
    out = np.zeros((frames_out, x.shape[1]))
    padded = np.concatenate([np.zeros((half_taps, x.shape[1])), x,
                             np.zeros((half_taps + 1, x.shape[1]))])
    for lo in range(0, frames_out, 65536):
        m = np.arange(lo, min(frames_out, lo + 65536))
        t = (m - shift_frames) * rate_in / rate_out
        base = np.floor(t).astype(np.int64)
        acc = np.zeros((len(m), x.shape[1]))
        for k in range(-half_taps + 1, half_taps + 1):
            idx = base + k
            d = t - idx
            w = cutoff * np.sinc(cutoff * d) * (0.5 + 0.5 * np.cos(np.pi * d / half_taps))
            ok = (idx >= 0) & (idx < x.shape[0])
            acc += (w * ok)[:, None] * padded[np.clip(idx, -half_taps, x.shape[0]) + half_taps]
        out[lo:lo + len(m)] = acc
    return out


def synthetic_track(rate, seconds, bpm, offset_s, seed):
    """Drums and a bass line on the beat grid: kick on the beats, a noise hat on
    the off-beats, a held chord."""
    rng = np.random.default_rng(seed)
    n = int(seconds * rate)
    t = np.arange(n) / rate
    x = 0.08 * (np.sin(2 * np.pi * 220 * t) + np.sin(2 * np.pi * 277.2 * t + 1)
                + np.sin(2 * np.pi * 329.6 * t + 2))
    period = 60.0 / bpm
    k = 0
    while offset_s + k * period / 2 < seconds:
        start = int((offset_s + k * period / 2) * rate)
        if start >= 0:
            u = np.arange(min(int(0.25 * rate), n - start)) / rate
            if k % 2 == 0:
                hit = 0.7 * np.sin(2 * np.pi * (50 * u + 60 * (1 - np.exp(-u / 0.03)))) \
                    * np.exp(-u / 0.12)
            else:
                hit = 0.25 * rng.standard_normal(len(u)) * np.exp(-u / 0.02)
            x[start:start + len(u)] += hit
        k += 1
    left = x + 0.02 * rng.standard_normal(n)
    right = 0.9 * x + 0.02 * rng.standard_normal(n)
    return np.stack([left, right], axis=1)


def synthetic_clicks(rate):
    """Two click sounds of the kind the metronome plays: a knock and a tick."""
    t = np.arange(int(0.06 * rate)) / rate
    knock = (1 - np.exp(-t / 0.00025)) * np.exp(-t / 0.011) * np.sin(2 * np.pi * 580 * t)
    rng = np.random.default_rng(7)
    noise = rng.standard_normal(len(t))
    tick = np.exp(-t / 0.0014) * (0.75 * np.diff(noise, prepend=0)
                                  + 0.25 * np.cos(2 * np.pi * 3500 * t))
    return {"knock": 0.9 * knock / np.abs(knock).max(), "tick": 0.9 * tick / np.abs(tick).max()}


def sound_lead(sound):
    """Frames (fractional) from a sound's first frame to its 15 % crossing."""
    mag = np.abs(sound)
    level = ONSET_FRACTION * mag.max()
    i = int(np.argmax(mag >= level))
    if i == 0:
        return 0.0
    return i - 1 + (level - mag[i - 1]) / (mag[i] - mag[i - 1])


def mix_case(track, trk_rate, rec_rate, bpm, offset_s, click, offsets_ms, start_s, shift,
             gain=1.0):
    """The recording: silence, the track from start_s (played at rec_rate,
    shifted by `shift` of a frame), clicks (times gain) whose onsets fall
    offsets_ms after the true beats."""
    played = 0.8 * sinc_resample(track, trk_rate, rec_rate, shift_frames=shift)
    start = int(round(start_s * rec_rate))
    frames = start + played.shape[0] + rec_rate
    rec = np.zeros((frames, 2))
    rec[start:start + played.shape[0]] += to_channels(played, 2)
    lead = sound_lead(click)
    period = 60.0 / bpm
    length = played.shape[0] / rec_rate
    placed = []
    k = 0
    while True:
        beat_s = offset_s + k * period
        if beat_s >= length - 0.1:
            break
        if beat_s > 0.05:
            want = offsets_ms[len(placed) % len(offsets_ms)]
            onset = start + shift + (beat_s + want / 1000) * rec_rate
            first = onset - lead
            i0 = int(math.floor(first))
            frac = first - i0
            # The sound delayed by the fraction (linear interpolation is
            # exact enough at these sounds' rates for this check).
            s = np.concatenate([[0.0], click])
            moved = (1 - frac) * s[1:] + frac * s[:-1]
            moved = np.append(moved, frac * click[-1])
            rec[i0:i0 + len(moved)] += gain * moved[:, None] * np.array([1.0, 0.92])
            placed.append((k, want))
        k += 1
    rec += 1e-5 * np.random.default_rng(3).standard_normal(rec.shape)
    return rec, placed


def self_test(args):
    cases = []
    syn_rate = 44100
    syn = synthetic_track(syn_rate, 30.0, 123.4, 0.317, seed=1)
    cases.append(("synthetic 123.4 BPM", syn, syn_rate, 123.4, 0.317))
    if args.test_track:
        trk, rate = read_wav(args.test_track)
        if args.bpm is None or args.offset is None:
            raise ScoreError("--track needs --bpm and --offset")
        cases.append((args.test_track, trk, rate, args.bpm, args.offset))
    clicks = synthetic_clicks(48000)
    if args.click:
        c, rate = read_wav(args.click)
        c = resample_fft(c, rate, 48000)[:, 0]
        clicks = {args.click: c / np.abs(c).max() * 0.9}
    offsets = [3.0, 3.0, -5.0, 10.0, 0.0, 3.0, -1.5, 20.0]
    failures = 0
    for name, trk, trk_rate, bpm, offset_s in cases:
        # The clicks as loud as the music, and 20 dB below it.
        for click_name, click, gain in [(c, clicks[c], g) for g in (1.0, 0.1) for c in clicks]:
            rec, placed = mix_case(trk, trk_rate, 48000, bpm, offset_s, click, offsets,
                                   start_s=1.23456, shift=0.37, gain=gain)
            summary, got = score(rec, 48000, trk, trk_rate, bpm, offset_s, fir=args.fir,
                                 refractory_s=args.refractory)
            want = {k: o for k, o in placed}
            errors = []
            for c in got:
                if c["beat"] not in want:
                    errors.append(f"a click at beat {c['beat']} that was not placed")
                    continue
                e = c["offset_ms"] - want.pop(c["beat"])
                if abs(e) > 0.1:
                    errors.append(f"beat {c['beat']}: {c['offset_ms']:+.3f} ms, off by {e:+.3f}")
            if want:
                errors.append(f"{len(want)} clicks not found (beats {sorted(want)[:5]}...)")
            exact = summary["start_frame"] == int(round(1.23456 * 48000))
            if not exact:
                errors.append(f"music start at frame {summary['start_frame']}, not"
                              f" {int(round(1.23456 * 48000))}")
            worst = max((abs(c["offset_ms"] - o) for c in got for k, o in placed
                         if k == c["beat"]), default=float("nan"))
            status = "ok" if not errors else "FAILED"
            print(f"{status}: {name}, {click_name} at {20 * math.log10(gain):+.0f} dB:"
                  f" {len(got)} of {len(placed)} clicks,"
                  f" worst error {worst:.4f} ms; {format_summary(summary)}")
            for e in errors[:10]:
                print(f"    {e}")
            failures += bool(errors)
        # A track that was not played is refused.
        other = synthetic_track(trk_rate, trk.shape[0] / trk_rate, bpm * 1.07, 0.05, seed=99)
        rec, _ = mix_case(trk, trk_rate, 48000, bpm, offset_s, list(clicks.values())[0], offsets,
                          start_s=0.5, shift=0.0)
        try:
            summary, _ = score(rec, 48000, other, trk_rate, bpm, offset_s, fir=args.fir)
            print(f"FAILED: {name}: a track that was not played was taken:"
                  f" {format_summary(summary)}")
            failures += 1
        except ScoreError as e:
            print(f"ok: {name}: a track that was not played is refused ({e})")
    print(f"self-test: {'all checks passed' if not failures else f'{failures} failed'}")
    return 0 if failures == 0 else 1


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("recording", nargs="?")
    ap.add_argument("track", nargs="?")
    ap.add_argument("--bpm", type=float)
    ap.add_argument("--offset", type=float, help="the first true beat, s from the track's start")
    ap.add_argument("--csv", help="write the clicks here")
    ap.add_argument("--fir", type=int, default=17, help="taps of the track's fit (1: a scale)")
    ap.add_argument("--refractory", type=float, default=0.15, help="s between clicks at least")
    ap.add_argument("--min-correlation", type=float, default=0.5)
    ap.add_argument("--max-second", type=float, default=0.95)
    ap.add_argument("--force", action="store_true", help="score even when the start is unclear")
    ap.add_argument("--raw-rate", type=int, help="RECORDING is raw float32 at this rate")
    ap.add_argument("--raw-channels", type=int, default=2)
    ap.add_argument("--self-test", action="store_true")
    ap.add_argument("--track", dest="test_track", help="self-test: a real track (WAV) too")
    ap.add_argument("--click", help="self-test: a click sound (WAV) to place instead")
    args = ap.parse_args()
    try:
        if args.self_test:
            return self_test(args)
        if not (args.recording and args.track and args.bpm and args.offset is not None):
            ap.error("RECORDING TRACK --bpm --offset are needed")
        if args.raw_rate:
            rec, rec_rate = read_raw_f32(args.recording, args.raw_channels), args.raw_rate
        else:
            rec, rec_rate = read_wav(args.recording)
        trk, trk_rate = read_wav(args.track)
        summary, clicks = score(rec, rec_rate, trk, trk_rate, args.bpm, args.offset,
                                fir=args.fir, refractory_s=args.refractory,
                                min_correlation=args.min_correlation,
                                max_second=args.max_second, force=args.force)
    except ScoreError as e:
        print(f"listen_score: {e}", file=sys.stderr)
        return 2
    if args.csv:
        write_clicks(args.csv, clicks)
    print(format_summary(summary))
    return 0


if __name__ == "__main__":
    sys.exit(main())
