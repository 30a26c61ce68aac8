"""Reads the parts of a 32-bit Windows executable that the checks look at.

pefile gives the headers, sections and the resource directory; this module
adds what pefile leaves as bytes: the resources gathered by type and name
with their file offsets (so the self-tests can patch them), plain DIALOG
templates control by control, and the nodes of a version block.  Only what
the program's file uses is read: a DIALOGEX template is refused, not read.
"""

import struct
import sys

try:
    import pefile
except ImportError:
    sys.stderr.write(
        "pe_reader.py: the Python module 'pefile' is missing.\n"
        "Install Debian's python3-pefile (apt-get install python3-pefile) and\n"
        "run the checks with /usr/bin/python3, for which that package installs.\n")
    sys.exit(2)

# --- Windows constants the reader needs ------------------------------------

DS_SETFONT = 0x00000040
DS_SHELLFONT = 0x00000048
PREDEFINED_CLASSES = {0x0080: "button", 0x0081: "edit", 0x0082: "static",
                      0x0083: "listbox", 0x0084: "scrollbar",
                      0x0085: "combobox"}


class FormatError(Exception):
    pass


class Reader:
    """Little-endian reader over a resource's bytes that remembers where
    each field lies in the file (for the self-tests that patch it)."""

    def __init__(self, data, file_offset=0):
        self.data = data
        self.pos = 0
        self.file_offset = file_offset

    def here(self):
        return self.file_offset + self.pos

    def take(self, fmt):
        size = struct.calcsize(fmt)
        if self.pos + size > len(self.data):
            raise FormatError("template ends inside a field at byte %d" %
                              self.pos)
        values = struct.unpack_from("<" + fmt, self.data, self.pos)
        self.pos += size
        return values if len(values) > 1 else values[0]

    def align(self, n):
        self.pos = (self.pos + n - 1) // n * n

    def wstring(self):
        chars = []
        while True:
            c = self.take("H")
            if c == 0:
                return "".join(map(chr, chars))
            chars.append(c)

    def sz_or_ord(self):
        """A DLGTEMPLATE name field: none, ("ordinal", n) or a string."""
        first = self.take("H")
        if first == 0x0000:
            return None
        if first == 0xFFFF:
            return ("ordinal", self.take("H"))
        self.pos -= 2
        return self.wstring()


def class_name(cls):
    if isinstance(cls, tuple):
        return PREDEFINED_CLASSES.get(cls[1], "ordinal 0x%04X" % cls[1])
    return cls.lower() if isinstance(cls, str) else cls



def parse_dialog(data, file_offset=0):
    """Parses a DLGTEMPLATE into a plain dict, with the file offsets of the
    fields the self-tests patch."""
    version, signature = struct.unpack_from("<HH", data, 0)
    if version == 1 and signature == 0xFFFF:
        raise FormatError("an extended (DIALOGEX) template; the program's "
                          "dialogs are plain DIALOG templates")
    r = Reader(data, file_offset)
    d = {"offsets": {}}
    d["style"], d["exstyle"] = r.take("II")
    d["offsets"]["count"] = r.here()
    d["count"] = r.take("H")
    d["x"], d["y"], d["cx"], d["cy"] = r.take("hhhh")
    d["menu"] = r.sz_or_ord()
    d["class"] = r.sz_or_ord()
    d["offsets"]["caption"] = r.here()
    d["caption"] = r.wstring()
    d["font"] = None
    if d["style"] & (DS_SETFONT | DS_SHELLFONT):
        d["offsets"]["font_size"] = r.here()
        size = r.take("H")
        d["font"] = {"size": size, "name": r.wstring()}
    d["controls"] = []
    for _ in range(d["count"]):
        r.align(4)
        c = {"offset": r.here()}
        c["style"], c["exstyle"] = r.take("II")
        c["rect_offset"] = r.here()
        c["rect"] = r.take("hhhh")
        c["id"] = r.take("H")
        c["class"] = class_name(r.sz_or_ord())
        c["text_offset"] = r.here()
        c["text"] = r.sz_or_ord()
        extra = r.take("H")
        if extra:
            # The creation data's size counts its own size word.
            r.pos += extra - 2
        c["creation_data"] = extra
        d["controls"].append(c)
    r.align(4)
    if r.pos < len(data):
        raise FormatError("%d bytes follow the last control" %
                          (len(data) - r.pos))
    return d


def parse_version_node(data, pos):
    """One VS_VERSIONINFO / StringFileInfo / String / Var node:
    returns (key, value, value_type, children, end)."""
    length, value_length, value_type = struct.unpack_from("<HHH", data, pos)
    if length < 6 or pos + length > len(data):
        raise FormatError("version node at %d has length %d" % (pos, length))
    end = pos + length
    r = Reader(data[:end])
    r.pos = pos + 6
    key = r.wstring()
    r.align(4)
    if value_type == 1 and value_length:
        # Text. Compilers disagree on whether value_length counts characters
        # or bytes; what a reader of the block gets is the text up to its
        # first zero, and a text node has no children.
        raw = data[r.pos:end]
        value = raw[:len(raw) // 2 * 2].decode("utf-16-le").split("\0")[0]
        r.pos = end
    elif value_type == 1:
        value = ""
    else:
        value = data[r.pos:r.pos + value_length]
        r.pos += value_length
        r.align(4)
    children = []
    while r.pos < end:
        child = parse_version_node(data, r.pos)
        children.append(child)
        r.pos = child[4]
        r.align(4)
    return key, value, value_type, children, end



class Image:
    """The executable as pefile reads it, with its resources gathered as
    {type: {name: [(language, file offset, bytes)]}}."""

    def __init__(self, path):
        with open(path, "rb") as f:
            self.raw = f.read()
        self.path = path
        self.pe = pefile.PE(data=self.raw)
        self.resources = {}
        self.resource_dir_stamps = []
        root = getattr(self.pe, "DIRECTORY_ENTRY_RESOURCE", None)
        if root is None:
            return
        self.resource_dir_stamps.append(root.struct.TimeDateStamp)
        for t in root.entries:
            tkey = t.id if t.name is None else str(t.name)
            self.resource_dir_stamps.append(t.directory.struct.TimeDateStamp)
            by_name = self.resources.setdefault(tkey, {})
            for n in t.directory.entries:
                nkey = n.id if n.name is None else str(n.name)
                self.resource_dir_stamps.append(
                    n.directory.struct.TimeDateStamp)
                for lang in n.directory.entries:
                    s = lang.data.struct
                    offset = self.pe.get_offset_from_rva(s.OffsetToData)
                    by_name.setdefault(nkey, []).append(
                        (lang.id, offset, self.raw[offset:offset + s.Size]))

    def resource(self, rtype, name):
        entries = self.resources.get(rtype, {}).get(name)
        if not entries:
            raise AssertionError("no resource of type %s named %s" %
                                 (rtype, name))
        if len(entries) != 1:
            raise AssertionError("resource %s/%s exists in %d languages" %
                                 (rtype, name, len(entries)))
        return entries[0]


_images = {}


_images = {}


def load_image(path):
    if path not in _images:
        _images[path] = Image(path)
    return _images[path]
