#!/usr/bin/python3
"""Counts the sweep's instructions per directory entry as the install
directory grows.

Usage: sweep.py SWEEP_DRIVER REPO OUT_JSON [N ...]   (default N: 100 1000 10000)

For each N, runs the driver (bench/sweep_driver.cpp) under
`valgrind --tool=callgrind`, collecting only while RemoveProgramFiles runs
(--toggle-collect). Of what was collected, only the program's own functions
count: those whose code comes from REPO/app/ or REPO/removal/, taken with
everything callgrind_annotate attributes to them (self cost, so the calls
they make into the in-memory platform and the C++ library are left out).
The driver's "entries" line gives what the search delivered.
"""

import json
import os
import re
import subprocess
import sys
import tempfile
from pathlib import Path

PROGRAM_DIRS = ("app", "removal")
# "  1,234 (12.34%)  /path/file.cpp:Function(args) [/path/object]"
LINE = re.compile(r"^\s*([\d,]+)\s+(?:\([^)]*\)\s+)?(.+?):(.+?)(?:\s+\[[^\]]*\])?\s*$")


def count(driver, repo, n, work):
    out = Path(work) / ("callgrind.%d" % n)
    proc = subprocess.run(
        ["valgrind", "--tool=callgrind", "--toggle-collect=RemoveProgramFiles()",
         "--callgrind-out-file=%s" % out, str(driver), str(n)],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True,
        timeout=1800)
    if proc.returncode != 0:
        raise SystemExit("sweep: the driver failed for N=%d:\n%s%s" % (n, proc.stdout, proc.stderr))
    entries = int(re.search(r"entries (\d+)", proc.stdout).group(1))
    annotate = subprocess.run(
        ["callgrind_annotate", "--inclusive=no", "--threshold=100", "--auto=no", str(out)],
        stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True,
        check=True, timeout=600,
        # It writes paths under its current directory relative to it.
        cwd=work)

    prefixes = tuple(str(Path(repo).resolve() / d) + "/" for d in PROGRAM_DIRS)
    rows = []
    total = None
    for line in annotate.stdout.splitlines():
        if "PROGRAM TOTALS" in line:
            total = int(line.split()[0].replace(",", ""))
            continue
        m = LINE.match(line)
        if m and m.group(2) != "file":
            # ccache compiles with paths relative to the checkout
            # (CCACHE_BASEDIR), which the debug information keeps as
            # "build/bench/../../removal/...": spelt out before comparing.
            rows.append((int(m.group(1).replace(",", "")), os.path.normpath(m.group(2)),
                         m.group(3)))
    if total is None or not rows:
        raise SystemExit("sweep: callgrind_annotate gave nothing for N=%d" % n)
    # A function is the program's when any of its code comes from its
    # folders; code inlined into it from a header counts with it.
    program_functions = {fn for _, path, fn in rows if path.startswith(prefixes)}
    if not any(fn.startswith("RemoveProgramFiles") for fn in program_functions):
        raise SystemExit("sweep: no debug information for RemoveProgramFiles (build with -g)")
    per_function = {}
    for cost, _, fn in rows:
        if fn in program_functions:
            per_function[fn] = per_function.get(fn, 0) + cost
    program = sum(per_function.values())
    return {
        "n": n,
        "entries": entries,
        "program_instructions": program,
        "collected_instructions": total,
        "per_entry": program / entries,
        "per_function": dict(sorted(per_function.items(), key=lambda kv: -kv[1])),
    }


def main(argv):
    if len(argv) < 4:
        sys.stderr.write(__doc__)
        return 2
    driver, repo, out = argv[1], argv[2], argv[3]
    sizes = [int(a) for a in argv[4:]] or [100, 1000, 10000]
    with tempfile.TemporaryDirectory(prefix="quillmere-sweep-") as work:
        results = [count(driver, repo, n, work) for n in sizes]
    per_entry = [r["per_entry"] for r in results]
    summary = {"sizes": results, "spread": max(per_entry) / min(per_entry) - 1}
    with open(out, "w") as f:
        json.dump(summary, f, indent=1)
    for r in results:
        sys.stderr.write("N=%5d: %7d entries, %10d program instructions, %.1f per entry\n"
                         % (r["n"], r["entries"], r["program_instructions"], r["per_entry"]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
