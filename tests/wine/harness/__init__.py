"""Runs the uninstaller's 64-bit twin under Wine: the toolkit of the end-to-end
tests, the demo, the screenshot maker and the hand-off benchmark.

One test run gets one X server (Xvfb on a free display) and one pristine Wine
prefix, made once with `wineboot --init`; every test works on its own copy of
that prefix, so tests stay independent and a prefix costs a copy, not a boot.

What the harness gives a test:
- `WinePrefix`: a fresh copy of the pristine prefix, with its paths, a way to
  run the twin (or any program) with an exact command line, current directory
  and environment and to read its exit code, the Wine processes alive in it,
  and snapshots of its files and registry;
- `Snapshot` and `diff`: what changed between two snapshots;
- `Dialog`: a dialog found on the X display by its caption, driven with real
  key presses and mouse clicks (xdotool), described control by control;
- `lay_sample_install`: the product as its installer leaves it;
- `register_browser` / `recorded_runs`: a recording program registered as
  the browser, to read exactly what the uninstaller started.

A missing wine64, Xvfb, xdotool, mingw compiler or twin makes every test
fail, never skip (see `WineTestCase`).

The parts: `base` (paths, bounds, polling), `wineprefix` (the session and the
prefixes), `registry`, `snapshots`, `dialogs` (X and the dialogs), `product`
(the product's facts and its sample install), `testcase`. Everything a test
uses is taken from the package itself: `from harness import Dialog`.
"""

from .base import (DIALOG_TIMEOUT, HELPER_SOURCES, MINGW_GCC, REPO, RUN_TIMEOUT, WINE64,
                   WINESERVER, HarnessError, feedback_url, first_times, missing_requirements,
                   uninstaller_exe, wait_until)
from .dialogs import Control, Dialog, click_at, find_windows, window_titles
from .product import (BROWSER_KEY, COMPLETED_CAPTION, CONFIRM_CAPTION, INSTALL_DIR,
                      MIXED_CASE_PRODUCT_FILES, PRODUCT_FILES, PROGRAM_GROUP_FILES,
                      PROGRAM_PATH_VALUE, SETTINGS_KEY, TEMP_COPY_NAME, UNINSTALL_KEY,
                      SampleInstall, confirm_removal, hold_open, install_recorder,
                      lay_sample_install, recorded_runs, register_browser)
from .registry import parse_wine_registry, reg_key, reg_string
from .snapshots import VOLATILE_KEYS, Snapshot, diff, take_files
from .testcase import WineTestCase
from .wineprefix import Launch, WinePrefix, session
