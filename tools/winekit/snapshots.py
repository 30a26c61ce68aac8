"""Snapshots of a prefix (files under drive_c and the registry) and what
changed between two of them."""

import os
import stat

# What Wine itself changes in a prefix between two snapshots whatever the
# program does, found by diffing prefixes around every kind of run in these
# tests with nothing left out:
# - the registry's time stamps (each key's header and its "#time=" line);
# - the display adapter and monitor classes, which the X11 driver rewrites
#   each time it starts (their names and a driver date).
# Nothing else changed, under drive_c/windows/ neither, so the whole of
# drive_c is kept: a file the program left in the Windows folder would show.
VOLATILE_KEYS = (
    r"HKLM\System\CurrentControlSet\Control\Class\{4d36e968-e325-11ce-bfc1-08002be10318}",
    r"HKLM\System\CurrentControlSet\Control\Class\{4d36e96e-e325-11ce-bfc1-08002be10318}",
)


def _volatile(key):
    low = key.lower()
    return any(low == v.lower() or low.startswith(v.lower() + "\\") for v in VOLATILE_KEYS)


class Snapshot:
    """The files under drive_c (path, kind, size, read-only bit) and the
    registry of a prefix at one moment, with Wine's own churn left out."""

    def __init__(self, files, registry):
        self.files = files
        self.registry = registry

    def has_file(self, win_path):
        return self.files.get(win_path.lower(), (None,))[0] == "file"

    def has_dir(self, win_path):
        return self.files.get(win_path.lower(), (None,))[0] == "dir"

    def key(self, path):
        """The values of a key (case-insensitive path), or None if absent."""
        return self.registry.get(path.lower())

    def value(self, path, name):
        values = self.key(path)
        if values is None:
            return None
        for value_name, data in values.items():
            if value_name.lower() == name.lower():
                return data
        return None


def take_files(drive_c):
    files = {}
    for top, dirs, names in os.walk(drive_c):
        rel_top = os.path.relpath(top, drive_c)
        for name in dirs + names:
            full = os.path.join(top, name)
            rel = name if rel_top == "." else os.path.join(rel_top, name)
            win = ("C:\\" + rel.replace("/", "\\")).lower()
            st = os.lstat(full)
            read_only = not (st.st_mode & (stat.S_IWUSR | stat.S_IWGRP | stat.S_IWOTH))
            if stat.S_ISDIR(st.st_mode):
                files[win] = ("dir", 0, read_only)
            elif stat.S_ISLNK(st.st_mode):
                files[win] = ("link", 0, False)
            else:
                files[win] = ("file", st.st_size, read_only)
    return files


def diff(before, after):
    """What changed from one snapshot to the next, one readable line per
    item: "+" added, "-" removed, "~" changed. Empty when nothing changed."""
    lines = []
    for path in sorted(set(before.files) | set(after.files)):
        a, b = before.files.get(path), after.files.get(path)
        if a == b:
            continue
        if a is None:
            lines.append("+ %s %s" % (b[0], path))
        elif b is None:
            lines.append("- %s %s" % (a[0], path))
        else:
            lines.append("~ %s %s: %s -> %s" % (a[0], path, a, b))
    for key in sorted(set(before.registry) | set(after.registry)):
        a, b = before.registry.get(key), after.registry.get(key)
        if a == b:
            continue
        if a is None:
            lines.append("+ key %s" % key)
            continue
        if b is None:
            lines.append("- key %s" % key)
            continue
        for name in sorted(set(a) | set(b)):
            if a.get(name) != b.get(name):
                sign = "+" if name not in a else "-" if name not in b else "~"
                lines.append("%s value %s [%s]: %s -> %s" % (sign, key, name, a.get(name),
                                                            b.get(name)))
    return lines
