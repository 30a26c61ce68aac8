"""Runs the uninstaller under Wine: the toolkit of the end-to-end tests, the
demo, the screenshot maker and the hand-off benchmark.

One test run gets one X server (Xvfb on a free display) and one pristine Wine
prefix, made once with `wineboot --init`; every test works on its own copy of
that prefix, so tests stay independent and a prefix costs a copy, not a boot.

What the toolkit gives:
- `WinePrefix`: a fresh copy of the pristine prefix, with its paths, a way
  to run the uninstaller (or any program) with an exact command line,
  current directory and environment and to read its exit code, the Wine
  processes alive in it, and snapshots of its files and registry;
- `Snapshot` and `diff`: what changed between two snapshots;
- `Dialog`: a dialog found on the X display by its caption, driven with real
  key presses and mouse clicks (xdotool), described control by control;
- `lay_sample_install`: the product as its installer leaves it;
- `register_browser` / `recorded_runs`: a recording program registered as
  the browser, to read exactly what the uninstaller started;
- `target()`: the Wine the run drives and the build it runs (`target.py`),
  chosen by $WINE_TARGET: "x86_64" (default), the twin under the host's
  wine64.

A missing Wine, Xvfb, xdotool, mingw compiler or uninstaller makes every
test fail, never skip (see `WineTestCase`).

The parts: `target` (which Wine), `base` (paths, bounds, polling),
`wineprefix` (the session and the prefixes), `processes` (what runs in a
prefix), `registry`, `snapshots`, `xdisplay` (Xvfb, xdotool, pictures),
`dialogs`, `product` (the product's facts and its sample install),
`testcase`. Everything is taken from the package itself:
`from harness import Dialog`.
"""

from .base import (DIALOG_TIMEOUT, HELPER_SOURCES, RUN_TIMEOUT, HarnessError, bound,
                   feedback_url, first_times, missing_requirements, run_to_end, uninstaller_exe,
                   wait_until)
from .dialogs import Control, Dialog
from .processes import ProcessWatch, prefix_processes
from .product import (BROWSER_KEY, COMPLETED_CAPTION, CONFIRM_CAPTION, INSTALL_DIR,
                      MIXED_CASE_PRODUCT_FILES, PRODUCT_FILES, PROGRAM_GROUP_FILES,
                      PROGRAM_PATH_VALUE, SETTINGS_KEY, TEMP_COPY_NAME, UNINSTALL_KEY,
                      SampleInstall, confirm_removal, hold_open, install_recorder,
                      lay_sample_install, recorded_runs, register_browser)
from .registry import parse_wine_registry, reg_key, reg_string
from .snapshots import VOLATILE_KEYS, Snapshot, diff, take_files
from .target import REPO, TARGETS, Target, target
from .testcase import WineTestCase
from .wineprefix import Launch, WinePrefix, run_tool, session
from .xdisplay import click_at, find_windows, window_titles, xdotool
