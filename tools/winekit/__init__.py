"""The Wine toolkit: drives the uninstaller under Wine for the end-to-end
tests, the contract suite's run under Wine, the demo, the screenshot maker
and the hand-off benchmark.

One run gets one X server and one pristine prefix (`wineprefix.session`);
each test works on its own copy (`wineprefix.WinePrefix`), starts programs
in it with an exact command line, reads its snapshots (`snapshots`), drives
its dialogs with real keys and clicks (`dialogs.Dialog`), and lays out the
product's sample install (`product.lay_sample_install`). Which Wine runs
which build is the run's `target.target()`. Names are imported from the
modules that define them (`from winekit.dialogs import Dialog`); the
modules, one a part, are listed in tools/winekit/README.md. The package
root is tools/, where the product's facts live too (tools/product_facts.py).
"""
