#!/usr/bin/python3
"""Turns the three measurements into one table, a plot and docs/benchmarks.md.

Usage: report.py SIZES_JSON HANDOFF_JSON SWEEP_JSON OUT_MD OUT_PNG

Prints the table; writes it with the plot, the targets and the figures
against them into OUT_MD, and the plot into OUT_PNG (beside it). Exits 0
whether or not the targets are met: the verdicts are in the table.
"""

import json
import os
import platform
import statistics
import subprocess
import sys

SIZE_TARGET = 13824          # bytes, the 32-bit Uninstall.exe
RATIO_TARGET = 1.5           # hand-off median / baseline median
WAIT_BOUND_MS = 2000.0       # every wait of the hand-off
SPREAD_TARGET = 0.10         # per-entry instructions, max / min - 1

HANDOFF_STAGES = (
    ("parent_end", "uninstall role ended"),
    ("copy_end", 'copy ("suicide.exe") ended'),
    ("dir_gone", "install directory gone"),
)
BASELINE_STAGES = (
    ("copy_end", "copy ended"),
    ("parent_end", "baseline ended"),
)


def n(value):
    return "{:,}".format(value)


def verdict(ok):
    return "met" if ok else "NOT MET"


def stats(values):
    values = [v for v in values if v is not None]
    if not values:
        return None
    return {"median": statistics.median(values), "min": min(values), "max": max(values),
            "count": len(values)}


def fmt_stats(s):
    if s is None:
        return "not seen"
    return "%.1f ms (min %.1f, max %.1f)" % (s["median"], s["min"], s["max"])


class Figures:
    def __init__(self, sizes, handoff, sweep):
        self.sizes = sizes
        self.handoff = handoff
        self.sweep = sweep
        runs = handoff["uninstaller"]
        self.runs = len(runs)
        self.h = {k: stats([r[k] for r in runs]) for k, _ in HANDOFF_STAGES}
        self.b = {k: stats([r[k] for r in handoff["baseline"]]) for k, _ in BASELINE_STAGES}
        # A wait that runs out shows: the uninstall role's wait for the copy
        # makes it end 2000 ms or more after the key; the copy's wait for the
        # uninstall role's end lets it try to delete a running uninstaller,
        # which fails, and the install directory stays.
        self.ran_out = [i + 1 for i, r in enumerate(runs)
                        if r["parent_end"] is None or r["parent_end"] >= WAIT_BOUND_MS
                        or r["dir_gone"] is None]
        # A copy that ended between two polls before it was ever seen: the
        # measurement missed it; nothing is known of it.
        self.unseen = [i + 1 for i, r in enumerate(runs + handoff["baseline"])
                       if any(r[k] is None for k in ("parent_end", "copy_end"))]
        self.left_behind = [i + 1 for i, r in enumerate(runs)
                            if r.get("copy_file_left") or r.get("uninstaller_left")
                            or r.get("exit_code") != 0]
        self.slowest = max((r[k] for r in runs for k, _ in HANDOFF_STAGES if r[k] is not None),
                           default=None)
        self.ratio = None
        if self.h["dir_gone"] and self.b["copy_end"]:
            self.ratio = self.h["dir_gone"]["median"] / self.b["copy_end"]["median"]
        self.per_entry = [s["per_entry"] for s in sweep["sizes"]]
        self.spread = sweep["spread"]

    def size_ok(self):
        return self.sizes["exe32"]["file_bytes"] <= SIZE_TARGET

    def handoff_ok(self):
        return self.ratio is not None and self.ratio <= RATIO_TARGET and not self.ran_out

    def sweep_ok(self):
        return self.spread <= SPREAD_TARGET

    def rows(self):
        """The one table: (measure, figure, target, verdict)."""
        e32, e64 = self.sizes["exe32"], self.sizes["exe64"]
        rows = [
            ("Size: Uninstall.exe, 32-bit", "%s bytes" % n(e32["file_bytes"]),
             "at most %s bytes" % n(SIZE_TARGET), verdict(self.size_ok())),
            ("Size: 64-bit twin", "%s bytes" % n(e64["file_bytes"]), "", ""),
            ("Size: headers", "%s / %s" % (n(e32["headers"]), n(e64["headers"])), "", ""),
        ]
        twin_sections = {s["name"]: s for s in e64["sections"]}
        for s in e32["sections"]:
            t = twin_sections.get(s["name"])
            rows.append(("Size: section %s (used of file bytes)" % s["name"],
                         "%s of %s / %s" % (n(s["used_bytes"]), n(s["file_bytes"]),
                                            "%s of %s" % (n(t["used_bytes"]), n(t["file_bytes"]))
                                            if t else "none"), "", ""))
        twin_resources = {(r["type"], r["id"]): r for r in e64["resources"]}
        for r in e32["resources"]:
            t = twin_resources.get((r["type"], r["id"]))
            rows.append(("Size: resource %s %s" % (r["type"], r["id"]),
                         "%s / %s" % (n(r["bytes"]), n(t["bytes"]) if t else "none"), "", ""))
        rows.append(("Size: resource directory", "%s / %s" % (
            n(e32["resource_directory_bytes"]), n(e64["resource_directory_bytes"])), "", ""))

        for key, label in HANDOFF_STAGES:
            rows.append(("Hand-off, dialog closed to %s" % label, fmt_stats(self.h[key]), "", ""))
        for key, label in BASELINE_STAGES:
            rows.append(("Baseline, box closed to %s" % label, fmt_stats(self.b[key]), "", ""))
        rows.append(("Hand-off / baseline, medians (directory gone / copy ended)",
                     "%.2f" % self.ratio if self.ratio is not None else "n/a",
                     "at most %.1f" % RATIO_TARGET,
                     verdict(self.ratio is not None and self.ratio <= RATIO_TARGET)))
        rows.append(("Hand-off runs in which a 2000 ms wait ran out",
                     "%d of %d (slowest stage seen: %.1f ms)" % (
                         len(self.ran_out), self.runs, self.slowest or 0.0),
                     "none", verdict(not self.ran_out)))
        rows.append(("Runs (hand-off and baseline) with a process end not seen",
                     "%d of %d" % (len(self.unseen), 2 * self.runs), "none",
                     verdict(not self.unseen)))
        rows.append(("Hand-off runs leaving the copy or the uninstaller behind",
                     "%d of %d" % (len(self.left_behind), self.runs), "none",
                     verdict(not self.left_behind)))

        for s in self.sweep["sizes"]:
            rows.append(("Sweep, %s unrelated entries: instructions per entry" % n(s["n"]),
                         "%.1f (%s over %s entries)" % (s["per_entry"], n(s["program_instructions"]),
                                                         n(s["entries"])), "", ""))
        rows.append(("Sweep: spread of instructions per entry (largest / smallest - 1)",
                     "%.1f %%" % (self.spread * 100), "at most %d %%" % (SPREAD_TARGET * 100),
                     verdict(self.sweep_ok())))
        return rows


def text_table(rows):
    header = ("Measure", "Figure", "Target", "Verdict")
    widths = [max(len(r[i]) for r in rows + [header]) for i in range(4)]
    lines = ["  ".join(h.ljust(w) for h, w in zip(header, widths)).rstrip(),
             "  ".join("-" * w for w in widths)]
    for r in rows:
        lines.append("  ".join(c.ljust(w) for c, w in zip(r, widths)).rstrip())
    return "\n".join(lines)


def markdown_table(rows):
    lines = ["| Measure | Figure | Target | Verdict |", "|---|---|---|---|"]
    for r in rows:
        lines.append("| " + " | ".join(c.replace("|", "\\|") for c in r) + " |")
    return "\n".join(lines)


def plot(figures, path):
    import matplotlib
    matplotlib.use("Agg")
    import matplotlib.pyplot as plt

    fig, (ax_size, ax_hand, ax_sweep) = plt.subplots(1, 3, figsize=(15, 4.8))

    # Where the bytes of each file go.
    labels = ["32-bit", "64-bit twin"]
    files = [figures.sizes["exe32"], figures.sizes["exe64"]]
    names = ["headers"] + [s["name"] for s in files[0]["sections"]]
    for s in files[1]["sections"]:
        if s["name"] not in names:
            names.append(s["name"])
    colours = plt.get_cmap("tab10")
    left = [0, 0]
    for i, name in enumerate(names):
        widths = []
        for f in files:
            if name == "headers":
                widths.append(f["headers"])
            else:
                widths.append(next((s["file_bytes"] for s in f["sections"] if s["name"] == name), 0))
        ax_size.barh(labels, widths, left=left, color=colours(i % 10), label=name)
        left = [a + b for a, b in zip(left, widths)]
    ax_size.axvline(SIZE_TARGET, color="red", linestyle="--", label="target (32-bit)")
    ax_size.set_xlim(0, max(SIZE_TARGET, max(left)) * 1.05)
    ax_size.set_xlabel("bytes in the file")
    ax_size.set_title("Size by part of the file")
    ax_size.legend(fontsize=7, loc="upper center", bbox_to_anchor=(0.5, -0.16), ncol=4)

    # Every run of the hand-off and of the baseline.
    short = {"parent_end": "role ended", "copy_end": "copy ended", "dir_gone": "directory gone"}
    series = [(figures.handoff["uninstaller"], k, "hand-off:\n" + short[k])
              for k, _ in HANDOFF_STAGES]
    series.append((figures.handoff["baseline"], "copy_end", "baseline:\ncopy ended"))
    data = [[r[k] for r in runs if r[k] is not None] for runs, k, _ in series]
    ax_hand.boxplot(data, labels=[s[2] for s in series], showfliers=True)
    for i, values in enumerate(data):
        ax_hand.plot([i + 1 + 0.08 * ((j % 5) - 2) for j in range(len(values))], values, ".",
                     alpha=0.5, color="grey")
    if figures.b["copy_end"]:
        limit = RATIO_TARGET * figures.b["copy_end"]["median"]
        ax_hand.axhline(limit, color="red", linestyle="--",
                        label="target for the directory-gone median: %.1f x baseline median" % RATIO_TARGET)
        ax_hand.legend(fontsize=7)
    ax_hand.set_ylabel("ms after the closing key")
    ax_hand.set_title("Hand-off under Wine, %d runs (waits bounded at 2000 ms)" % figures.runs,
                      fontsize=10)
    ax_hand.tick_params(axis="x", labelsize=7)
    ax_hand.set_ylim(bottom=0)

    # Instructions per entry as the directory grows.
    ns = [s["n"] for s in figures.sweep["sizes"]]
    ax_sweep.plot(ns, figures.per_entry, "o-", label="program's instructions per entry")
    low = min(figures.per_entry)
    ax_sweep.fill_between([min(ns) / 1.5, max(ns) * 1.5], low, low * (1 + SPREAD_TARGET),
                          color="green", alpha=0.15, label="within 10 % of the smallest")
    ax_sweep.set_xscale("log")
    ax_sweep.set_xlim(min(ns) / 1.5, max(ns) * 1.5)
    ax_sweep.set_ylim(0, max(figures.per_entry) * 1.4)
    ax_sweep.set_xlabel("unrelated entries in the install directory")
    ax_sweep.set_ylabel("instructions per directory entry")
    ax_sweep.set_title("Sweep (callgrind, native build)")
    ax_sweep.legend(fontsize=7, loc="lower right")

    fig.tight_layout()
    fig.savefig(path, dpi=100)
    plt.close(fig)


def machine():
    cpu = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("model name"):
                    cpu = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    wine = "unknown"
    try:
        wine = subprocess.run(["/usr/lib/wine/wine64", "--version"], stdout=subprocess.PIPE,
                              stderr=subprocess.DEVNULL, text=True, timeout=30).stdout.strip()
    except (OSError, subprocess.TimeoutExpired):
        pass
    return "%s, %d cores, %s %s, %s" % (cpu, os.cpu_count() or 0, platform.system(),
                                        platform.release(), wine)


def markdown(figures, rows, png_name):
    f = figures
    e32 = f.sizes["exe32"]
    top = f.sweep["sizes"][-1]
    breakdown = ", ".join("%s %s" % (fn.split("(")[0], n(cost))
                          for fn, cost in top["per_function"].items())
    h, b = f.h, f.b
    ratio = "%.2f" % f.ratio if f.ratio is not None else "n/a"
    return """# Benchmarks

What `Uninstall.exe` weighs, how long its hand-off to the temporary copy
takes, and how the program-file sweep's cost grows with the install
directory. Everything below is written by `tools/bench.sh`; rerun it rather
than editing this file.

Measured on: {machine}.

## Results

{table}

![Size by section, hand-off runs, sweep instructions per entry]({png})

## Targets and figures

- **Size.** The 32-bit `Uninstall.exe`, with its icon, dialogs and version
  block, at most {size_target} bytes: it is **{size32} bytes**, {size_verdict}.
  The 64-bit twin is {size64} bytes.
- **Hand-off.** From the completion dialog closing to the install directory
  being gone, the median at most {ratio_target} times the baseline's median,
  and no 2000 ms wait running out. Over {runs} runs the hand-off median is
  **{dir_median:.1f} ms** against the baseline's **{base_median:.1f} ms**:
  ratio **{ratio}**, {ratio_verdict}. Waits that ran out: **{ran_out} of
  {runs}** runs, {wait_verdict}; the slowest stage seen took {slowest:.1f} ms.
- **Sweep.** Instructions per directory entry within 10 % of each other at
  100, 1,000 and 10,000 unrelated entries: **{pe}** instructions per entry,
  a spread of **{spread:.1f} %**, {sweep_verdict}.

## How each figure is measured

**Size** (`bench/sizes.py`, pefile). Both files as the native configure
builds them (`cmake -S . -B <dir> -G Ninja -DCMAKE_BUILD_TYPE=Release`, which
builds `<dir>/i686/Uninstall.exe` and `<dir>/x86_64/Uninstall.exe` as
sub-builds). Figures are given as 32-bit / 64-bit. Each section takes its
file bytes (a multiple of the {align}-byte file alignment); "used" is what
it holds, the rest being padding. Resources are their data sizes; the
resource directory is what the `.rsrc` section uses beside that data.

**Hand-off** (`bench/handoff.py`, under Wine with the 64-bit twin, on the
Wine test harness's prefix, X server and sample install). One prefix serves
every run; the sample install is laid anew before each. The twin is started
from the install directory as the list of installed programs starts it,
"Yes" is clicked in the confirmation, and the completion dialog is closed
with Escape (no browser). The clock starts as the Escape key is sent. Then
the Linux process list and the file system are polled every
{poll:.0f} ms for the uninstall role's process ending, the copy's
("suicide.exe") ending and the install directory disappearing. Runs alternate
with the baseline, `bench/baseline.c`: a program without C runtime that, when
its message box is closed with Escape, copies itself to the temp folder,
starts the copy and ends once the copy has ended; it is timed the same way
from the key to the copy's end. One run of each before the {runs} counted
ones warms Wine up and is not counted. A process counts as ended when its
Linux process is gone or a zombie; Wine tells a waiting process of the end a
little earlier, which is why the install directory can be seen gone a few
milliseconds before the uninstall role's Linux process has finished. Both
sides include the start of the `xdotool` process that sends the key.

| Stage (ms after the closing key) | median | min | max |
|---|---|---|---|
{stage_rows}

**Sweep** (`bench/sweep.py`, `bench/sweep_driver.cpp`). A native driver,
linked with the program's logic (`uninstaller_logic`) and the in-memory
platform (`memory_platform`), lays the install directory with the seven
product files, `Uninstall.exe` and N unrelated files ("Quillmere Data
NNNNN.qmd": one length for all, and a start that each comparison runs into),
points the settings value at it and runs `RemoveProgramFiles()` once; it
fails if a product file stays or any other file goes. `valgrind
--tool=callgrind --toggle-collect='RemoveProgramFiles()'` counts only inside
the sweep; `callgrind_annotate --inclusive=no` gives each function's own
instructions, and only the program's functions (code from `app/` and
`removal/`) are summed, not the in-memory platform's nor the C++ library's.
"Entries" are those the directory search delivered: the N files, the eight
others, "." and "..". The native libraries are built as released (`Release`)
with `-g` added so that callgrind can tell whose code is whose. At
{top_n} entries the program's instructions were: {breakdown}.
From the smallest to the largest directory each added entry cost
{marginal:.1f} instructions.{mix}

## Rerun

```sh
tools/bench.sh            # build dir build/bench, 25 hand-off runs
tools/bench.sh DIR RUNS   # another build dir, another number of runs
```

It installs what it needs with `apt-get` (as `tools/install-deps.sh` does,
plus `python3-matplotlib` for the plot), builds both executables and the
native libraries, runs the three measurements, prints the table and rewrites
this file and `docs/{png}`. Once built, a run takes one to two minutes,
most of it the hand-off runs (the Wine prefix is made once, in about ten
seconds).
""".format(
        machine=machine(), table=markdown_table(rows), png=png_name,
        size_target=n(SIZE_TARGET), size32=n(e32["file_bytes"]),
        size64=n(f.sizes["exe64"]["file_bytes"]), size_verdict=verdict(f.size_ok()),
        ratio_target=RATIO_TARGET, runs=f.runs,
        dir_median=h["dir_gone"]["median"] if h["dir_gone"] else float("nan"),
        base_median=b["copy_end"]["median"] if b["copy_end"] else float("nan"),
        ratio=ratio, ratio_verdict=verdict(f.ratio is not None and f.ratio <= RATIO_TARGET),
        ran_out=len(f.ran_out), wait_verdict=verdict(not f.ran_out),
        slowest=f.slowest or 0.0,
        pe=", ".join("%.1f" % v for v in f.per_entry), spread=f.spread * 100,
        sweep_verdict=verdict(f.sweep_ok()),
        align=e32["file_alignment"], poll=f.handoff["poll_ms"],
        stage_rows="\n".join(
            ["| hand-off: %s | %s |" % (label, " | ".join(
                "%.1f" % h[k][m] for m in ("median", "min", "max")) if h[k] else "- | - | -")
             for k, label in HANDOFF_STAGES] +
            ["| baseline: %s | %s |" % (label, " | ".join(
                "%.1f" % b[k][m] for m in ("median", "min", "max")) if b[k] else "- | - | -")
             for k, label in BASELINE_STAGES]),
        top_n=n(top["entries"]), breakdown=breakdown,
        mix=("" if f.per_entry[0] >= f.per_entry[-1] else """ The figure per entry is a little
lower in the small directory because of the ten entries that are not
unrelated files: a product file's comparisons end at its match, and "." and
".." fail each comparison at the first letter, so they cost less than an
unrelated file and weigh more among %s entries than among %s.""" % (
            n(f.sweep["sizes"][0]["entries"]), n(top["entries"]))),
        marginal=(top["program_instructions"] - f.sweep["sizes"][0]["program_instructions"])
        / float(top["entries"] - f.sweep["sizes"][0]["entries"]))


def main(argv):
    if len(argv) != 6:
        sys.stderr.write(__doc__)
        return 2
    loaded = []
    for path in argv[1:4]:
        with open(path) as f:
            loaded.append(json.load(f))
    figures = Figures(*loaded)
    rows = figures.rows()
    print(text_table(rows))
    out_md, out_png = argv[4], argv[5]
    plot(figures, out_png)
    with open(out_md, "w") as f:
        f.write(markdown(figures, rows, os.path.basename(out_png)))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
