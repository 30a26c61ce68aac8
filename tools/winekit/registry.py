"""Registry text for `reg import`, and Wine's own registry files read back."""

import re

def reg_string(text):
    """A REGEDIT4 string literal."""
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


_ROOTS = {"HKLM": "HKEY_LOCAL_MACHINE", "HKCU": "HKEY_CURRENT_USER",
          "HKCR": "HKEY_CLASSES_ROOT"}


def reg_key(path):
    """A REGEDIT4 key header for a path written with a short root name."""
    root, _, rest = path.partition("\\")
    return "[%s\\%s]" % (_ROOTS.get(root.upper(), root), rest)


def _unescape(text):
    """Undoes the escapes of Wine's registry files (\\\\, \\", \\n, \\xHHHH...)."""
    out = []
    i = 0
    while i < len(text):
        c = text[i]
        if c == "\\" and i + 1 < len(text):
            n = text[i + 1]
            if n == "x":
                m = re.match(r"[0-9a-fA-F]{1,4}", text[i + 2:])
                if m:
                    out.append(chr(int(m.group(0), 16)))
                    i += 2 + len(m.group(0))
                    continue
            out.append({"n": "\n", "r": "\r", "t": "\t", "0": "\0", "a": "\a", "b": "\b",
                        "e": "\x1b", "f": "\f", "v": "\v"}.get(n, n))
            i += 2
            continue
        out.append(c)
        i += 1
    return "".join(out)


def parse_wine_registry(path, root):
    """Reads a wineserver registry file into {key path: {value name: data}}.

    Key paths get `root` in front ("HKLM", "HKCU"); the default value is named
    "@". Data stays in the file's notation ('"text"', 'dword:00000001',
    'hex:...', 'str(2):"..."') but with string escapes undone, so equal data
    compares equal. The time stamps that follow each key name and the
    "#time=" lines change whenever the server rewrites a key, so they are
    left out; other "#" lines (arch, class, link) are kept as values of their
    key or dropped with the header."""
    keys = {}
    current = None
    pending = ""
    with open(path, encoding="utf-8", errors="surrogateescape") as f:
        for raw in f:
            line = raw.rstrip("\n")
            if pending:
                line = pending + line.lstrip()
                pending = ""
            if line.endswith("\\") and current is not None and not line.startswith("["):
                # Long hex data is continued on the next line.
                pending = line[:-1]
                continue
            if line.startswith("["):
                end = _closing(line, "]")
                name = _unescape(line[1:end])
                current = root + "\\" + name
                keys.setdefault(current, {})
                # A key is written only with its values or as a leaf: its
                # parents are implied, and one that loses its last subkey
                # appears on its own. Keep them all, so that this is no
                # change.
                parent = current
                while parent.count("\\") > 1:
                    parent = parent.rsplit("\\", 1)[0]
                    keys.setdefault(parent, {})
            elif current is None or not line or line.startswith(";"):
                continue
            elif line.startswith("#"):
                if line.startswith("#time=") or line.startswith("#arch="):
                    continue
                keys[current][line.partition("=")[0]] = line.partition("=")[2]
            elif line.startswith("@="):
                keys[current]["@"] = _unescape(line[2:])
            elif line.startswith('"'):
                end = _closing(line, '"')
                name = _unescape(line[1:end])
                keys[current][name] = _unescape(line[end + 2:])
    return keys


def _closing(line, mark):
    """Where the name that opens line ends: the first unescaped mark."""
    i = 1
    while i < len(line):
        if line[i] == "\\":
            i += 2
            continue
        if line[i] == mark:
            return i
        i += 1
    return len(line)
