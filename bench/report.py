#!/usr/bin/env python3
"""Turns one run of the benchmark suite into the table of bench/README.md.

Reads the Google Benchmark JSON files and the JSON lines of vesk3_mirror_cpu
from a results folder; every figure is a ratio of two measurements taken side
by side in the same run. Usage: bench/report.py RESULTS_DIR
"""
import json
import pathlib
import sys

results = pathlib.Path(sys.argv[1])


def load_benchmarks(name):
    path = results / f"{name}.json"
    if not path.exists():
        return {}
    data = json.loads(path.read_text())
    out = {}
    for b in data["benchmarks"]:
        # Medians of the repetitions when there are any, the single run otherwise.
        if b.get("run_type") == "aggregate" and b.get("aggregate_name") != "median":
            continue
        key = b.get("run_name", b["name"])
        if b.get("run_type") == "aggregate" or key not in out:
            out[key] = b
    return out


def mirror_runs():
    path = results / "mirror.jsonl"
    if not path.exists():
        return []
    return [json.loads(line) for line in path.read_text().splitlines() if line.startswith("{")]


def ns(b, clock="cpu_time"):
    scale = {"ns": 1, "us": 1e3, "ms": 1e6, "s": 1e9}[b["time_unit"]]
    return b[clock] * scale


rows = []


def row(measure, figure, target, met, command):
    rows.append((measure, figure, target, "yes" if met else ("**no**" if met is False else "—"), command))


decode = load_benchmarks("decode")
link = load_benchmarks("link")
DECODE_CMD = "`vesk3_bench_decode`"
LINK_CMD = "`vesk3_bench_link`"

if decode:
    base = ns(decode["BM_MemcpyExpandedFrame"])
    for source in ("FromMemory", "Streamed"):
        full = ns(decode[f"BM_DecodeFromMemory/full".replace("FromMemory", source)])
        row(f"Full-frame decode ({source}) vs memcpy 163,200 B",
            f"{full / base:.1f} × ({full / 1e3:.1f} µs vs {base / 1e3:.2f} µs)", "≤ 4 ×",
            full / base <= 4, DECODE_CMD)
        one = ns(decode[f"BM_Decode{source}/one_pixel"])
        row(f"One-pixel delta ({source}): full frame / one pixel",
            f"{full / one:.1f} × cheaper ({one / 1e3:.2f} µs)", "≥ 20 ×", full / one >= 20,
            DECODE_CMD)
        for scene in ("scattered_1pct", "rect_40x40", "worst_case"):
            b = decode[f"BM_Decode{source}/{scene}"]
            t = ns(b)
            row(f"{scene} decode ({source}), {int(b['stream_bytes'])} stream bytes",
                f"{t / base:.1f} × memcpy, {t / b['stream_bytes']:.2f} ns per stream byte "
                f"(full frame: {full / decode['BM_DecodeFromMemory/full']['stream_bytes']:.2f})",
                "in proportion to its stream", None, DECODE_CMD)
    for size in ("253x412", "240x320"):
        render = ns(decode[f"BM_RenderFrame/{size}"])
        copy = ns(decode[f"BM_MemcpyViewBuffer/{size}"])
        row(f"Frame view conversion, view {size}, vs memcpy of its buffer",
            f"{render / copy:.1f} × ({render / 1e3:.1f} µs vs {copy / 1e3:.1f} µs)",
            "≤ 3 ×" if size == "253x412" else "— (the window's view is 253 × 412)",
            render / copy <= 3 if size == "253x412" else None, DECODE_CMD)

if link:
    for mode, target in (("segments", 1.10), ("streamed", 1.05)):
        b = link[f"BM_FullFrameEndToEnd/{mode}/manual_time"]
        t = ns(b, "real_time") / 1e6
        row(f"Full frame end to end ({mode}) vs its wire time",
            f"{t / b['wire_ms']:.3f} × ({t:.1f} ms vs {b['wire_ms']:.1f} ms)", f"≤ {target:.2f} ×",
            t / b["wire_ms"] <= target, LINK_CMD)
    for kind, label in (("SmallDelta", "Small delta (40 × 40 square moved)"),
                        ("NoChange", "No-change refresh")):
        for mode in ("segments", "streamed"):
            b = link[f"BM_{kind}EndToEnd/{mode}/manual_time"]
            t = ns(b, "real_time") / 1e6
            row(f"{label} end to end ({mode}) vs its wire time",
                f"{t / b['wire_ms']:.2f} × ({t:.2f} ms vs {b['wire_ms']:.2f} ms)", "— (measured)",
                None, LINK_CMD)
    for bus in ("no_bridge", "hand_controller", "other_bridges_8", "host_only",
                "libftdi_this_machine"):
        b = link.get(f"BM_PollTick/{bus}")
        if b is None:
            continue
        t = ns(b)
        row(f"Presence poll tick, {bus.replace('_', ' ')}",
            f"{t / 1e3:.2f} µs = {100 * t / 250e6:.5f} % of a core at 4 ticks/s", "≤ 0.5 %",
            100 * t / 250e6 <= 0.5, LINK_CMD)

for r in mirror_runs():
    if r["run"] == "mirror":
        cmd = f"`vesk3_mirror_cpu --seconds {r['seconds']:.0f} --scene {r['scene']} --bulk {r['bulk']}`"
        saturated = r["wire_ms_per_refresh"] > 76
        row(f"Refresh period, scene {r['scene']} ({r['bulk']}), {r['refreshes']} refreshes",
            f"mean {r['period_ms_mean']:.1f} ms, p95 {r['period_ms_p95']:.1f} ms, max "
            f"{r['period_ms_max']:.1f} ms (refresh {r['refresh_ms_mean']:.2f} ms, wire "
            f"{r['wire_ms_per_refresh']:.2f} ms)",
            "— (link saturated: wire time per frame)" if saturated else "76 ms ± 10 %",
            None if saturated else abs(r["period_ms_mean"] - 76) <= 7.6, cmd)
        row(f"CPU while mirroring, scene {r['scene']} ({r['bulk']})",
            f"host {r['host_cpu_pct']:.3f} % of a core (simulated device apart: "
            f"{r['device_cpu_pct']:.3f} %)", "host ≤ 2 %", r["host_cpu_pct"] <= 2, cmd)
    elif r["run"] == "emulated":
        padding = "on" if r["padding"] else "off"
        cmd = (f"`vesk3_ft230x_emulator vesk3_mirror_emulated --seconds {r['seconds']:.0f} "
               f"--bulk {r['bulk']} --padding {padding}`")
        row(f"Refresh period through libftdi1 on the emulated FT230X ({r['bulk']}, "
            f"{'padded' if r['padding'] else 'unpadded'} stream), {r['refreshes']} refreshes",
            f"mean {r['period_ms_mean']:.1f} ms, p95 {r['period_ms_p95']:.1f} ms (refresh "
            f"{r['refresh_ms_mean']:.2f} ms, p95 {r['refresh_ms_p95']:.2f} ms)", "76 ms ± 10 %",
            abs(r["period_ms_mean"] - 76) <= 7.6 and r["boxes"] == 0, cmd)
    else:
        cmd = f"`vesk3_mirror_cpu --idle --seconds {r['seconds']:.0f} --bus {r['bus']}`"
        row(f"CPU of an idle window polling, bus {r['bus']}",
            f"{r['process_cpu_pct']:.3f} % of a core ({r['ticks']} ticks)", "≤ 0.5 %",
            r["process_cpu_pct"] <= 0.5, cmd)

extra = results / "program.jsonl"
if extra.exists():
    for line in extra.read_text().splitlines():
        if not line.startswith("{"):
            continue  # the window driver's progress lines
        r = json.loads(line)
        rows.append((r["measure"], r["figure"], r["target"], r["met"], r["command"]))

print("| Measure | Figure | Target | Met | Command |")
print("|---|---|---|---|---|")
for r in rows:
    print("| " + " | ".join(r) + " |")
