"""The Wine toolkit: drives the uninstaller under Wine for the end-to-end
tests, the demo, the screenshot maker and the hand-off benchmark.

One run gets one X server and one pristine prefix (`session`); each test
works on its own copy (`WinePrefix`), starts programs in it with an exact
command line, reads its snapshots (`Snapshot`, `diff`), drives its dialogs
with real keys and clicks (`Dialog`), and lays out the product's sample
install (`lay_sample_install`). Which Wine runs which build is the run's
`target()`. The modules, one a part, are listed in tools/winekit/README.md;
everything is taken from the package itself: `from winekit import Dialog`.
The product's facts come from the module the PE check reads too,
tools/product_facts.py (`from winekit import facts`).
"""

from .base import (DIALOG_TIMEOUT, HELPER_SOURCES, RUN_TIMEOUT, HarnessError, bound,
                   feedback_url, first_times, missing_requirements, run_to_end, uninstaller_exe,
                   wait_until)
from .dialogs import Control, Dialog
from .processes import ProcessWatch, prefix_processes
from .product import (BROWSER_KEY, COMPLETED_CAPTION, CONFIRM_CAPTION, INSTALL_DIR,
                      MIXED_CASE_PRODUCT_FILES, PRODUCT_FILES, PROGRAM_GROUP_FILES,
                      PROGRAM_PATH_VALUE, SAMPLE_BROWSER, SETTINGS_KEY, TEMP_COPY_NAME,
                      UNINSTALL_KEY, UNINSTALLER_NAME, SampleInstall, confirm_removal, facts,
                      hold_open, install_recorder, lay_sample_install, recorded_runs,
                      register_browser)
from .registry import parse_wine_registry, reg_key, reg_string
from .snapshots import VOLATILE_KEYS, Snapshot, diff, take_files
from .target import REPO, TARGETS, Target, target
from .testcase import WineTestCase
from .wineprefix import Launch, WinePrefix, run_tool, session
from .xdisplay import click_at, find_windows, window_titles, xdotool
