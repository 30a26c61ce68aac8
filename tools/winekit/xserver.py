"""The X server of a run: an Xvfb of its own on a display number it picks
itself, and its end. Kept apart from xdisplay.py, which asks the session
for its display: the session (wineprefix.py) starts its server from here,
so the imports run one way, xdisplay -> wineprefix -> xserver."""

import os
import select
import subprocess
import time

from .base import HarnessError


def start_xvfb(log_path):
    """Starts Xvfb on a display number it picks itself as free; returns the
    process and the display name (":N")."""
    read_end, write_end = os.pipe()
    log = open(log_path, "wb")
    try:
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
             "-nolisten", "tcp", "-noreset"],
            pass_fds=(write_end,), stdin=subprocess.DEVNULL, stdout=log, stderr=log,
            start_new_session=True)
    finally:
        os.close(write_end)
        log.close()
    number = b""
    deadline = time.monotonic() + 30
    try:
        while not number.endswith(b"\n"):
            left = deadline - time.monotonic()
            ready, _, _ = select.select([read_end], [], [], max(left, 0))
            if not ready:
                raise HarnessError("Xvfb gave no display number within 30 s")
            chunk = os.read(read_end, 64)
            if not chunk:
                raise HarnessError("Xvfb ended before giving a display number: %s"
                                   % open(log_path, errors="replace").read())
            number += chunk
    except BaseException:
        stop(xvfb)
        raise
    finally:
        os.close(read_end)
    return xvfb, ":" + number.decode().strip()


def stop(process):
    """Ends a process of ours, killing it if it does not end in 10 s."""
    process.terminate()
    try:
        process.wait(10)
    except subprocess.TimeoutExpired:
        process.kill()
        process.wait()
