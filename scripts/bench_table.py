#!/usr/bin/env python3
"""Reads what scripts/bench ran (one output file per benchmark) and prints one
table: figure, ratio against its same-run baseline, goal, met or not.
A benchmark that did not run or did not say its figure gives a row that says so."""
import json
import os
import re
import sys

folder = sys.argv[1]
rows = []  # (figure, measured, goal, verdict)


def text(name):
    try:
        with open(os.path.join(folder, name + ".out"), errors="replace") as f:
            return f.read()
    except OSError:
        return None


def why_missing(name):
    try:
        with open(os.path.join(folder, name + ".err"), errors="replace") as f:
            lines = [line.strip() for line in f if line.strip()]
    except OSError:
        return "not run"
    return ("no figure: " + lines[-1][:60]) if lines else "no figure"


def runs(name):
    """Google Benchmark JSON: run name -> the median entry (or the only one)."""
    raw = text(name)
    if not raw:
        return None
    try:
        data = json.loads(raw[raw.index("{"):])
    except (ValueError, json.JSONDecodeError):
        return None
    found = {}
    for b in data.get("benchmarks", []):
        if b.get("error_occurred"):
            continue
        # "BM_Name/real_time", "BM_Name/iterations:1/manual_time": the name alone.
        key = b.get("run_name", b["name"]).split("/")[0]
        if b.get("run_type") == "aggregate":
            if b.get("aggregate_name") == "median":
                found[key] = b
        elif key not in found:
            found[key] = b
    return found


def row(figure, measured, goal, met):
    rows.append((figure, measured, goal, "yes" if met else "NO"))


def missing(figure, goal, name):
    rows.append((figure, why_missing(name), goal, "-"))


def seconds_per_iteration(b):
    scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b.get("time_unit", "ns")]
    return b["real_time"] * scale


# Cached reads against parsing the file again for every read.
r = runs("ini")
goal = "at least 50x faster"
if r and "BM_CachedReads" in r and "BM_ReparsePerRead" in r:
    x = r["BM_CachedReads"]["items_per_second"] / r["BM_ReparsePerRead"]["items_per_second"]
    row("cached reads vs re-parsing per read", f"{x:,.0f}x faster", goal, x >= 50)
else:
    missing("cached reads vs re-parsing per read", goal, "ini")

# 10,000 listed routes through the client against the same rows added and
# deleted straight through the port.
r = runs("routing")
for figure, mine, base in (("route apply, 10,000 rows, vs bare kernel", "BM_ApplyListedRoutes", "BM_KernelAddBaseline"),
                           ("route restore, 10,000 rows, vs bare kernel", "BM_RestoreListedRoutes",
                            "BM_KernelDeleteBaseline")):
    goal = "at most 2x (and under 1 s)"
    if r and mine in r and base in r:
        t, k = seconds_per_iteration(r[mine]), seconds_per_iteration(r[base])
        row(figure, f"{t / k:.2f}x ({t * 1e3:.0f} vs {k * 1e3:.0f} ms)", goal, t / k <= 2 and t < 1)
    else:
        missing(figure, goal, "routing")
goal = "at most 2x the echo's time"
if r and "BM_RequestServer50Clients" in r and "BM_EchoBaseline50Clients" in r:
    s = r["BM_RequestServer50Clients"]["items_per_second"]
    e = r["BM_EchoBaseline50Clients"]["items_per_second"]
    row("route requests, 50 clients, vs echo server", f"{e / s:.2f}x ({s:,.0f} vs {e:,.0f} req/s)", goal, e / s <= 2)
else:
    missing("route requests, 50 clients, vs echo server", goal, "routing")

# The host race against the fastest host's own answer.
r = runs("race")
goal = "within +20 ms"
if r and "BM_RaceToWinner" in r and "BM_FastestHostAlone" in r:
    t, k = seconds_per_iteration(r["BM_RaceToWinner"]), seconds_per_iteration(r["BM_FastestHostAlone"])
    row("host race to winner vs fastest host alone", f"{t / k:.2f}x ({(t - k) * 1e3:+.1f} ms)", goal, t - k <= 0.020)
else:
    missing("host race to winner vs fastest host alone", goal, "race")

# The speed test against the schedule its five slots per worker allow.
r = runs("speed_test")
for figure, name in (("speed test, 100 servers, 40 silent", "BM_FirstResults_40Silent"),
                     ("speed test, 100 servers, all answering", "BM_FirstResults_AllAnswering")):
    goal = "at most 1.05x the schedule"
    if r and name in r and r[name].get("schedule_bound_s"):
        b = r[name]
        x = b["seconds"] / b["schedule_bound_s"]
        extra = f", 8 s bound {b['seconds'] / b['design_bound_s']:.2f}x" if b.get("design_bound_s") else ""
        row(figure, f"{x:.2f}x ({b['seconds']:.2f} vs {b['schedule_bound_s']:.2f} s{extra}; "
            f"CPU {b['cpu_pct_of_core']:.1f}%)", goal, x <= 1.05)
    else:
        missing(figure, goal, "speed_test")

# An activated program's connects against the same program without the module.
raw = text("bind_connect") or ""
m = re.search(r"paired rounds: median ([0-9.]+)x, range ([0-9.]+)x to ([0-9.]+)x", raw)
goal = "at most 1.2x"
if m:
    x = float(m.group(1))
    row("bind module connect vs without the module", f"{x:.2f}x (rounds {m.group(2)} to {m.group(3)})", goal, x <= 1.2)
else:
    missing("bind module connect vs without the module", goal, "bind_connect")

# Under Wine.
raw = text("repaint") or ""
m = re.search(r"skinned vs themed controls: ([0-9.]+)x \(median of per-round ratios ([0-9.]+)x", raw)
t = re.search(r"skinned repaint: +([0-9.]+) us\s+themed controls repaint: +([0-9.]+) us\s+plain blit: +([0-9.]+) us", raw)
goal = "at most 1.5x"
if m and t:
    x = float(m.group(2))
    row("skinned repaint vs themed controls", f"{x:.2f}x ({t.group(1)} vs {t.group(2)} us)", goal, x <= 1.5)
    b = float(t.group(1)) / float(t.group(3))
    row("skinned repaint vs plain blit", f"{b:.2f}x ({t.group(1)} vs {t.group(3)} us)", "at most 3x", b <= 3)
else:
    missing("skinned repaint vs themed controls", goal, "repaint")

raw = text("chooser") or ""
m = re.search(r"10 servers ([0-9.]+) ms, 1000 servers ([0-9.]+) ms, difference ([0-9.-]+) ms", raw)
goal = "under +300 ms"
if m:
    d = float(m.group(3))
    row("chooser open, 1,000 vs 10 servers", f"{d:+.0f} ms ({m.group(2)} vs {m.group(1)} ms)", goal, d < 300)
else:
    missing("chooser open, 1,000 vs 10 servers", goal, "chooser")
m = re.search(r"sort by speed and repaint: 10 rows ([0-9.]+) ms, 1000 rows ([0-9.]+) ms, ratio ([0-9.]+)", raw)
goal = "at most 1.5x"
if m:
    x = float(m.group(3))
    row("chooser sort by speed + repaint, 1,000 vs 10 rows", f"{x:.2f}x ({m.group(2)} vs {m.group(1)} ms)", goal,
        x <= 1.5)
else:
    missing("chooser sort by speed + repaint, 1,000 vs 10 rows", goal, "chooser")
m = re.search(r"full lists: ([0-9]+) rows ([0-9.]+) ms, 1000 rows ([0-9.]+) ms, ratio ([0-9.]+)", raw)
if m:
    x = float(m.group(4))
    row(f"chooser sort by speed + repaint, 1,000 vs {m.group(1)} rows (both lists full)",
        f"{x:.2f}x ({m.group(3)} vs {m.group(2)} ms)", goal, x <= 1.5)
else:
    missing("chooser sort by speed + repaint, 1,000 vs a full list", goal, "chooser")
m = re.search(r"longest message wait ([0-9.]+) ms, 99th percentile ([0-9.]+) ms", raw)
goal = "longest under 50 ms"
if m:
    x = float(m.group(1))
    row("UI thread's wait while 1,000 results stream in", f"{x:.0f} ms (p99 {m.group(2)} ms)", goal, x < 50)
else:
    missing("UI thread's wait while 1,000 results stream in", goal, "chooser")

# The Windows bind module's connect over the tests' base provider, against
# that provider alone in the same run.
raw = text("bind_provider") or ""
for figure, label, limit in (("Windows bind module connect, activated, route exists", "activated, route exists", 1.2),
                             ("Windows bind module connect, not activated", "not activated", 1.2),
                             ("Windows bind module connect, client not running", "no client", 1.05)):
    goal = f"at most {limit}x at the median"
    m = re.search(re.escape(label) + r": median ([0-9.]+) us \(([0-9.]+)x\), p90 ([0-9.]+) us \(([0-9.]+)x\)", raw)
    if m:
        x = float(m.group(2))
        row(figure, f"{x:.2f}x ({m.group(1)} us; p90 {m.group(4)}x)", goal, x <= limit)
    else:
        missing(figure, goal, "bind_provider")

raw = text("client") or ""
m = re.search(r"medians: client ([0-9]+) ms, baseline ([0-9]+) ms, ratio ([0-9.]+)", raw)
goal = "at most 2x"
if m:
    x = float(m.group(3))
    row("start-up to visible main window vs minimal window", f"{x:.2f}x ({m.group(1)} vs {m.group(2)} ms)", goal,
        x <= 2)
else:
    missing("start-up to visible main window vs minimal window", goal, "client")
m = re.search(r"idle CPU over ([0-9]+) s: client ([0-9.]+)% of one core, baseline ([0-9.]+)%", raw)
goal = "client under 0.5%"
if m:
    x = float(m.group(2))
    row("idle main window's CPU after login", f"{x:.2f}% (baseline {m.group(3)}%, {m.group(1)} s)", goal, x < 0.5)
else:
    missing("idle main window's CPU after login", goal, "client")
m = re.search(r"\(RssAnon\) after login and chooser step: client ([0-9]+) KiB, baseline ([0-9]+) KiB", raw)
goal = "none set (reported)"
if m:
    rows.append(("main window's private memory after login",
                 f"{int(m.group(1)) / 1024:.1f} MiB (baseline {int(m.group(2)) / 1024:.1f} MiB)", goal, "-"))
else:
    missing("main window's private memory after login", goal, "client")

widths = [max(len(str(r[i])) for r in rows + [("benchmark", "measured", "goal", "met")]) for i in range(4)]
line = "| " + " | ".join(h.ljust(w) for h, w in zip(("benchmark", "measured", "goal", "met"), widths)) + " |"
print(line)
print("|" + "|".join("-" * (w + 2) for w in widths) + "|")
for r in rows:
    print("| " + " | ".join(str(c).ljust(w) for c, w in zip(r, widths)) + " |")
