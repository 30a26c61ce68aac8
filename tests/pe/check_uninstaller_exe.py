#!/usr/bin/python3
"""Checks of the built 32-bit Uninstall.exe, read as a file.

Usage:  check_uninstaller_exe.py path/to/Uninstall.exe [unittest options]
   or:  UNINSTALL_EXE=path/to/Uninstall.exe check_uninstaller_exe.py

What is checked is what a user's machine gets: the headers and imports the
loader sees, the dialog templates, icon and version block as they sit in the
resource section (parsed here byte by byte, not taken from the .rc), and the
absence of a manifest, a time stamp and build paths.  The last group patches
copies of the file and makes sure the checks above reject each alteration.
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile
import unittest

try:
    import pefile
except ImportError:
    sys.stderr.write(
        "check_uninstaller_exe.py: the Python module 'pefile' is missing.\n"
        "Install Debian's python3-pefile (apt-get install python3-pefile) and\n"
        "run this script with /usr/bin/python3, for which that package installs.\n")
    sys.exit(2)


EXE_PATH_VARIABLE = "UNINSTALL_EXE"
EXE_PATH = os.environ.get(EXE_PATH_VARIABLE)

# --- Windows constants used below -----------------------------------------

IMAGE_FILE_MACHINE_I386 = 0x014C
PE32_MAGIC = 0x010B
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_SCN_CNT_CODE = 0x00000020
IMAGE_SCN_MEM_EXECUTE = 0x20000000

RT_ICON = 3
RT_DIALOG = 5
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24

WS_POPUP = 0x80000000
WS_CHILD = 0x40000000
WS_VISIBLE = 0x10000000
WS_CAPTION = 0x00C00000
WS_SYSMENU = 0x00080000
WS_GROUP = 0x00020000
WS_TABSTOP = 0x00010000
DS_SETFONT = 0x00000040
DS_MODALFRAME = 0x00000080
DS_CENTER = 0x00000800
DS_SHELLFONT = 0x00000048
BS_PUSHBUTTON = 0x0
BS_DEFPUSHBUTTON = 0x1
SS_LEFT = 0x0
SS_ICON = 0x3

BUTTON_CLASS = 0x0080
STATIC_CLASS = 0x0082
PREDEFINED_CLASSES = {0x0080: "button", 0x0081: "edit", 0x0082: "static",
                      0x0083: "listbox", 0x0084: "scrollbar",
                      0x0085: "combobox"}

VS_FFI_SIGNATURE = 0xFEEF04BD
VOS_NT_WINDOWS32 = 0x00040004
VFT_APP = 0x1

ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "SHELL32.DLL"}

# --- What the file must carry ---------------------------------------------

IDI_PRODUCT = 134
IDD_CONFIRM_REMOVE = 129
IDD_REMOVE_COMPLETED = 130

DIALOG_STYLE = (WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME
                | DS_CENTER | DS_SETFONT)
DEFAULT_BUTTON = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_DEFPUSHBUTTON
PUSH_BUTTON = WS_CHILD | WS_VISIBLE | WS_TABSTOP | BS_PUSHBUTTON
LEFT_TEXT = WS_CHILD | WS_VISIBLE | WS_GROUP | SS_LEFT
ICON_PICTURE = WS_CHILD | WS_VISIBLE | SS_ICON
ICON_TEXT = ("ordinal", IDI_PRODUCT)
NO_ID = 0xFFFF


def control(name, ident, cls, style, rect, text):
    return {"name": name, "id": ident & 0xFFFF, "class": cls,
            "style": style, "rect": rect, "text": text}


EXPECTED_DIALOGS = {
    IDD_CONFIRM_REMOVE: {
        "size": (222, 61),
        "caption": "Confirm removing of Quillmere",
        "controls": [
            control("No button", 2, "button", DEFAULT_BUTTON,
                    (51, 42, 50, 14), "No"),
            control("Yes button", 1, "button", PUSH_BUTTON,
                    (120, 42, 50, 14), "Yes"),
            control("question", 1000, "static", LEFT_TEXT, (40, 10, 175, 20),
                    "Are you sure you want to completely remove Quillmere "
                    "and all of its components?"),
            control("icon", NO_ID, "static", ICON_PICTURE, (5, 7, 20, 20),
                    ICON_TEXT),
        ],
    },
    IDD_REMOVE_COMPLETED: {
        "size": (186, 85),
        "caption": "Uninstall Completed",
        "controls": [
            control("Yes button", 1, "button", DEFAULT_BUTTON,
                    (37, 64, 50, 14), "&Yes"),
            control("No button", 2, "button", PUSH_BUTTON,
                    (98, 64, 50, 14), "&No"),
            control("question", NO_ID, "static", LEFT_TEXT, (40, 36, 134, 22),
                    "Would you like to tell us why did you uninstall "
                    "Quillmere?"),
            control("notice", NO_ID, "static", LEFT_TEXT, (40, 10, 140, 20),
                    "Quillmere has been successfully removed from your "
                    "system!"),
            control("icon", NO_ID, "static", ICON_PICTURE, (5, 10, 21, 20),
                    ICON_TEXT),
        ],
    },
}

EXPECTED_VERSION_STRINGS = {
    "FileVersion": "1, 0, 0, 1",
    "ProductVersion": "1, 0, 0, 1",
    "FileDescription": "Uninstall",
    "InternalName": "Uninstall",
    "OriginalFilename": "Uninstall.exe",
    "ProductName": "Quillmere Uninstall Program",
    "CompanyName": "Korrindal",
    "Comments": "",
    "LegalTrademarks": "",
    "PrivateBuild": "",
    "SpecialBuild": "",
}

# Traces of the machine and folders the file was built in (source and object
# file names, the toolchain's own paths) that must not end up in it.
BUILD_PATH_FRAGMENTS = ["/work/", "/tmp/", "/home/", "/root/", "/usr/",
                        "/build/", "mingw", ".cpp", ".obj"]


# --- Parsers ---------------------------------------------------------------

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
    """Parses a DLGTEMPLATE or DLGTEMPLATEEX into a plain dict."""
    r = Reader(data, file_offset)
    version, signature = struct.unpack_from("<HH", data, 0)
    extended = version == 1 and signature == 0xFFFF
    d = {"extended": extended, "offsets": {}}
    if extended:
        r.take("HH")
        d["help_id"], d["exstyle"], d["style"] = r.take("III")
    else:
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
        weight = italic = charset = None
        if extended:
            weight, italic, charset = r.take("HBB")
        d["font"] = {"size": size, "name": r.wstring(), "weight": weight,
                     "italic": italic, "charset": charset}
    d["controls"] = []
    for _ in range(d["count"]):
        r.align(4)
        c = {"offset": r.here()}
        if extended:
            c["help_id"], c["exstyle"], c["style"] = r.take("III")
        else:
            c["style"], c["exstyle"] = r.take("II")
        c["rect_offset"] = r.here()
        c["rect"] = r.take("hhhh")
        c["id"] = r.take("I" if extended else "H") & 0xFFFF
        c["class"] = class_name(r.sz_or_ord())
        c["text_offset"] = r.here()
        c["text"] = r.sz_or_ord()
        extra = r.take("H")
        if extra:
            # DLGTEMPLATE counts its own size word, DLGTEMPLATEEX does not.
            r.pos += extra if extended else extra - 2
        c["creation_data"] = extra
        d["controls"].append(c)
    r.align(4)
    if r.pos < len(data):
        raise FormatError("%d bytes follow the last control" %
                          (len(data) - r.pos))
    return d


def describe(value):
    if isinstance(value, tuple) and value and value[0] == "ordinal":
        return "resource ordinal %d" % value[1]
    return repr(value)


def control_mismatches(actual, expected):
    problems = []
    if actual["id"] != expected["id"]:
        problems.append("id is 0x%04X, expected 0x%04X" %
                        (actual["id"], expected["id"]))
    if actual["class"] != expected["class"]:
        problems.append("class is %r, expected %r" %
                        (actual["class"], expected["class"]))
    if actual["style"] != expected["style"]:
        problems.append("style is 0x%08X, expected 0x%08X (differs in 0x%08X)"
                        % (actual["style"], expected["style"],
                           actual["style"] ^ expected["style"]))
    if actual["exstyle"] != 0:
        problems.append("extended style is 0x%08X, expected 0" %
                        actual["exstyle"])
    if tuple(actual["rect"]) != expected["rect"]:
        problems.append("rectangle is %s, expected %s" %
                        (tuple(actual["rect"]), expected["rect"]))
    if actual["text"] != expected["text"]:
        problems.append("text is %s, expected %s" %
                        (describe(actual["text"]), describe(expected["text"])))
    if actual["creation_data"]:
        problems.append("carries %d bytes of creation data" %
                        actual["creation_data"])
    return problems


def dialog_control_mismatches(dialog, expected):
    """Every difference between a parsed template's controls and the
    table, one line each, in template order."""
    problems = []
    want = expected["controls"]
    if len(dialog["controls"]) != len(want):
        problems.append("has %d controls, expected %d" %
                        (len(dialog["controls"]), len(want)))
    for index, (have, exp) in enumerate(zip(dialog["controls"], want)):
        for p in control_mismatches(have, exp):
            problems.append("control %d (%s): %s" % (index, exp["name"], p))
    return problems


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


def parse_res_file(data):
    """The resources of a .res file (what windres writes with -O res):
    {(type, name): bytes}, types and names as ints where ordinals."""
    resources = {}
    pos = 0
    while pos + 8 <= len(data):
        data_size, header_size = struct.unpack_from("<II", data, pos)
        r = Reader(data[pos + 8:pos + header_size])
        rtype = r.sz_or_ord()
        name = r.sz_or_ord()
        start = pos + header_size
        if data_size:
            key = (rtype[1] if isinstance(rtype, tuple) else rtype,
                   name[1] if isinstance(name, tuple) else name)
            resources[key] = data[start:start + data_size]
        pos = (start + data_size + 3) // 4 * 4
    return resources


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


def load_image(path):
    if path is None:
        raise RuntimeError("no executable given: pass its path as the first "
                           "argument or in %s" % EXE_PATH_VARIABLE)
    if path not in _images:
        _images[path] = Image(path)
    return _images[path]


# --- The checks --------------------------------------------------------------

class ExeTestCase(unittest.TestCase):
    """Loads the executable once per class; exe_path is set on copies of a
    class by the self-tests to aim it at a patched file."""
    exe_path = None
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.image = load_image(cls.exe_path or EXE_PATH)
        cls.pe = cls.image.pe


class Headers(ExeTestCase):

    def test_IsPe32ForI386(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.Magic, PE32_MAGIC,
                         "optional header magic: not a PE32 (32-bit) image")
        self.assertEqual(self.pe.FILE_HEADER.Machine, IMAGE_FILE_MACHINE_I386,
                         "machine is 0x%04X, not i386" %
                         self.pe.FILE_HEADER.Machine)

    def test_RunsInTheWindowsGuiSubsystem(self):
        self.assertEqual(self.pe.OPTIONAL_HEADER.Subsystem,
                         IMAGE_SUBSYSTEM_WINDOWS_GUI,
                         "subsystem %d is not Windows GUI (2)" %
                         self.pe.OPTIONAL_HEADER.Subsystem)

    def test_ImportsOnlyFromTheFourSystemDlls(self):
        dlls = [e.dll.decode("ascii", "replace")
                for e in getattr(self.pe, "DIRECTORY_ENTRY_IMPORT", [])]
        delayed = [e.dll.decode("ascii", "replace")
                   for e in getattr(self.pe, "DIRECTORY_ENTRY_DELAY_IMPORT",
                                    [])]
        self.assertTrue(dlls, "the file imports nothing at all")
        foreign = sorted(d for d in dlls + delayed
                         if d.upper() not in ALLOWED_DLLS)
        self.assertEqual(foreign, [],
                         "imports from DLLs other than KERNEL32, USER32, "
                         "ADVAPI32 and SHELL32: %s" % ", ".join(foreign))
        self.assertEqual(len(dlls), len(set(d.upper() for d in dlls)),
                         "a DLL is listed twice in the imports: %s" % dlls)

    def test_HasNoTlsCallbacks(self):
        tls = getattr(self.pe, "DIRECTORY_ENTRY_TLS", None)
        if tls is None:
            return
        va = tls.struct.AddressOfCallBacks
        if va == 0:
            return
        rva = va - self.pe.OPTIONAL_HEADER.ImageBase
        first = self.pe.get_dword_at_rva(rva)
        self.assertEqual(first, 0,
                         "TLS callback at 0x%08X runs before the entry point"
                         % (first or 0))

    def test_EntryPointLiesInTheCodeSection(self):
        entry = self.pe.OPTIONAL_HEADER.AddressOfEntryPoint
        section = self.pe.get_section_by_rva(entry)
        self.assertIsNotNone(section, "entry point 0x%X is in no section" %
                             entry)
        name = section.Name.rstrip(b"\0").decode("ascii", "replace")
        flags = section.Characteristics
        self.assertTrue(flags & IMAGE_SCN_CNT_CODE and
                        flags & IMAGE_SCN_MEM_EXECUTE,
                        "entry point 0x%X lies in %s (flags 0x%08X), not in "
                        "executable code" % (entry, name, flags))
        self.assertLess(entry - section.VirtualAddress,
                        section.Misc_VirtualSize,
                        "entry point 0x%X lies past the end of %s's code" %
                        (entry, name))

    def test_CarriesNoTimeStamp(self):
        self.assertEqual(self.pe.FILE_HEADER.TimeDateStamp, 0,
                         "COFF header time stamp is 0x%08X, expected 0" %
                         self.pe.FILE_HEADER.TimeDateStamp)
        self.assertEqual([s for s in self.image.resource_dir_stamps if s], [],
                         "resource directories carry time stamps")
        debug = getattr(self.pe, "DIRECTORY_ENTRY_DEBUG", [])
        self.assertEqual(len(debug), 0,
                         "the file has a debug directory (with its own time "
                         "stamp and build id)")
        exports = getattr(self.pe, "DIRECTORY_ENTRY_EXPORT", None)
        if exports is not None:
            self.assertEqual(exports.struct.TimeDateStamp, 0,
                             "export directory carries a time stamp")

    def test_CarriesNoBuildPaths(self):
        found = []
        raw = self.image.raw.lower()
        for fragment in BUILD_PATH_FRAGMENTS:
            for encoding in ("ascii", "utf-16-le"):
                at = raw.find(fragment.lower().encode(encoding))
                if at >= 0:
                    found.append("%r (%s) at offset 0x%X" %
                                 (fragment, encoding, at))
        self.assertEqual(found, [], "build paths or toolchain names in the "
                         "file: %s" %
                         "; ".join(found))


class Resources(ExeTestCase):

    def test_CarriesNoManifest(self):
        self.assertFalse(RT_MANIFEST in self.image.resources,
                         "the file carries a manifest resource (RT_MANIFEST)")

    def test_CarriesOnlyTheDialogsIconAndVersionBlock(self):
        found = {t: sorted(names, key=str)
                 for t, names in self.image.resources.items()}
        icon_names = found.get(RT_ICON, [])
        self.assertEqual(len(icon_names), 1,
                         "expected one icon image, found %s" % icon_names)
        expected = {RT_ICON: icon_names,
                    RT_DIALOG: [IDD_CONFIRM_REMOVE, IDD_REMOVE_COMPLETED],
                    RT_GROUP_ICON: [IDI_PRODUCT],
                    RT_VERSION: [1]}
        self.assertEqual(found, expected,
                         "resources (type: names) differ from what the "
                         "program carries")


class DialogTemplateChecks:
    """The checks of one dialog template; RESOURCE_ID picks the dialog."""
    RESOURCE_ID = None

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        _, offset, data = cls.image.resource(RT_DIALOG, cls.RESOURCE_ID)
        cls.dialog = parse_dialog(data, offset)
        cls.expected = EXPECTED_DIALOGS[cls.RESOURCE_ID]

    def test_IsAModalCentredPopupWithCaptionAndSystemMenu(self):
        d = self.dialog
        self.assertEqual(d["style"], DIALOG_STYLE,
                         "dialog style 0x%08X, expected WS_POPUP|WS_CAPTION|"
                         "WS_SYSMENU|DS_MODALFRAME|DS_CENTER|DS_SETFONT "
                         "(0x%08X)" % (d["style"], DIALOG_STYLE))
        self.assertEqual(d["exstyle"], 0, "dialog has an extended style")
        self.assertIsNone(d["menu"], "dialog has a menu")
        self.assertIsNone(d["class"], "dialog names its own window class")

    def test_HasTheTableSize(self):
        self.assertEqual((self.dialog["cx"], self.dialog["cy"]),
                         self.expected["size"], "dialog size (dialog units)")

    def test_HasTheExactCaption(self):
        self.assertEqual(self.dialog["caption"], self.expected["caption"])

    def test_UsesMsSansSerifAt8Points(self):
        font = self.dialog["font"]
        self.assertIsNotNone(font, "template carries no font")
        self.assertEqual((font["name"], font["size"]), ("MS Sans Serif", 8))

    def test_HasEveryControlInTabOrderAsListed(self):
        problems = dialog_control_mismatches(self.dialog, self.expected)
        self.assertEqual(problems, [], "\n" + "\n".join(problems))


class ConfirmRemoveDialog(DialogTemplateChecks, ExeTestCase):
    RESOURCE_ID = IDD_CONFIRM_REMOVE


class RemoveCompletedDialog(DialogTemplateChecks, ExeTestCase):
    RESOURCE_ID = IDD_REMOVE_COMPLETED


class ProductIcon(ExeTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        _, cls.group_offset, cls.group = cls.image.resource(RT_GROUP_ICON,
                                                            IDI_PRODUCT)

    def entries(self):
        reserved, kind, count = struct.unpack_from("<HHH", self.group, 0)
        self.assertEqual((reserved, kind), (0, 1),
                         "not an icon group (GRPICONDIR reserved/type)")
        self.assertEqual(len(self.group), 6 + 14 * count,
                         "group size does not match its %d entries" % count)
        return [struct.unpack_from("<BBBBHHIH", self.group, 6 + 14 * i)
                for i in range(count)]

    def test_GroupHoldsOne32By32ImageIn16Colours(self):
        entries = self.entries()
        self.assertEqual(len(entries), 1, "the group holds %d images" %
                         len(entries))
        w, h, colours, reserved, planes, bits, _, _ = entries[0]
        self.assertEqual((w, h), (32, 32), "group entry size")
        self.assertEqual((colours, bits), (16, 4),
                         "group entry colour count / bits per pixel")
        self.assertEqual((reserved, planes), (0, 1),
                         "group entry reserved / planes")

    def test_ImageIsA32By32FourBitBitmap(self):
        (_, _, _, _, _, _, size, ident), = self.entries()
        _, _, image = self.image.resource(RT_ICON, ident)
        self.assertEqual(len(image), size,
                         "RT_ICON %d size differs from the group's entry" %
                         ident)
        (header_size, width, height, planes, bits, compression,
         _, _, _, used, _) = struct.unpack_from("<IiiHHIIiiII", image, 0)
        self.assertEqual(header_size, 40, "image is not a BITMAPINFOHEADER "
                         "bitmap (a PNG image or an old header?)")
        # An icon's bitmap is twice as tall: the colour image and its mask.
        self.assertEqual((width, height), (32, 64), "bitmap width / height")
        self.assertEqual((planes, bits, compression), (1, 4, 0),
                         "bitmap planes / bits per pixel / compression")
        palette = used or 16
        self.assertEqual(palette, 16, "palette size")
        self.assertEqual(len(image), 40 + 4 * 16 + 32 * 32 // 2 + 32 * 4,
                         "image size: header, 16-colour palette, 4-bit "
                         "pixels and a 1-bit mask")


class VersionBlock(ExeTestCase):

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        _, _, data = cls.image.resource(RT_VERSION, 1)
        key, value, _, children, _ = parse_version_node(data, 0)
        cls.root_key = key
        cls.fixed = value
        cls.children = {c[0]: c for c in children}

    def test_IsAVersionInfoResource(self):
        self.assertEqual(self.root_key, "VS_VERSION_INFO")
        self.assertEqual(set(self.children), {"StringFileInfo",
                                              "VarFileInfo"})

    def test_FixedInfoGivesVersion1001OfAnNtApplication(self):
        self.assertEqual(len(self.fixed), 52, "VS_FIXEDFILEINFO size")
        (signature, _, file_ms, file_ls, product_ms, product_ls, flags_mask,
         flags, os_kind, file_type, subtype, date_ms, date_ls) = \
            struct.unpack("<13I", self.fixed)
        self.assertEqual(signature, VS_FFI_SIGNATURE, "fixed info signature")
        self.assertEqual((file_ms, file_ls), (0x00010000, 0x00000001),
                         "file version is not 1.0.0.1")
        self.assertEqual((product_ms, product_ls), (0x00010000, 0x00000001),
                         "product version is not 1.0.0.1")
        self.assertEqual((flags_mask, flags), (0x3F, 0),
                         "file flags mask / file flags")
        self.assertEqual(os_kind, VOS_NT_WINDOWS32, "file OS")
        self.assertEqual((file_type, subtype), (VFT_APP, 0),
                         "file type / subtype")
        self.assertEqual((date_ms, date_ls), (0, 0),
                         "fixed info carries a file date")

    def test_StringTable040904B0HoldsEveryField(self):
        _, _, _, tables, _ = self.children["StringFileInfo"]
        # The key is hex text; the system reads it without regard to case.
        self.assertEqual([t[0].upper() for t in tables], ["040904B0"],
                         "one string table, for US English / Unicode")
        _, _, _, strings, _ = tables[0]
        values = {}
        problems = []
        for key, value, value_type, _, _ in strings:
            if value_type != 1:
                problems.append("%s is stored as binary, not text" % key)
            values[key] = value
        copyright_line = values.pop("LegalCopyright", None)
        if not copyright_line or "Korrindal" not in copyright_line:
            problems.append("LegalCopyright %r does not name Korrindal" %
                            copyright_line)
        for key in sorted(set(values) | set(EXPECTED_VERSION_STRINGS)):
            if key not in values:
                problems.append("%s is missing" % key)
            elif key not in EXPECTED_VERSION_STRINGS:
                problems.append("unexpected field %s = %r" %
                                (key, values[key]))
            elif values[key] != EXPECTED_VERSION_STRINGS[key]:
                problems.append("%s is %r, expected %r" %
                                (key, values[key],
                                 EXPECTED_VERSION_STRINGS[key]))
        self.assertEqual(problems, [], "\n" + "\n".join(problems))

    def test_TranslationIsUsEnglishUnicode(self):
        _, _, _, variables, _ = self.children["VarFileInfo"]
        self.assertEqual([v[0] for v in variables], ["Translation"])
        value = variables[0][1]
        self.assertEqual(len(value) % 4, 0, "Translation value size")
        pairs = [struct.unpack_from("<HH", value, i)
                 for i in range(0, len(value), 4)]
        self.assertEqual(pairs, [(0x0409, 1200)],
                         "Translation (language, code page)")


# --- Self-tests: each check rejects a file altered where it looks ----------

CHECK_CLASSES = [Headers, Resources, ConfirmRemoveDialog,
                 RemoveCompletedDialog, ProductIcon, VersionBlock]


def run_checks_on(path):
    """Runs every check class against the file at path; returns the ids
    (Class.test_name) of the checks that failed or erred."""
    suite = unittest.TestSuite()
    loader = unittest.TestLoader()
    for cls in CHECK_CLASSES:
        aimed = type(cls.__name__, (cls,), {"exe_path": path})
        suite.addTests(loader.loadTestsFromTestCase(aimed))
    result = unittest.TestResult()
    suite.run(result)
    failed = set()
    for test, _ in result.failures + result.errors:
        test = getattr(test, "test_case", test)
        method = getattr(test, "_testMethodName", None)
        name = type(test).__name__
        failed.add("%s.%s" % (name, method) if method else str(test))
    return failed


class CheckerRejectsAlteredCopies(ExeTestCase):
    """Each alteration is one patch of a copy of the file, chosen to break
    exactly one fact; the check named with it must fail."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.temp = tempfile.mkdtemp(prefix="uninstall-pe-")
        cls.addClassCleanup(shutil.rmtree, cls.temp, True)
        cls.failing_already = run_checks_on(cls.image.path)

    def altered(self, name, patches):
        data = bytearray(self.image.raw)
        for offset, new in patches:
            data[offset:offset + len(new)] = new
        self.assertNotEqual(bytes(data), self.image.raw, "patch changed "
                            "nothing")
        path = os.path.join(self.temp, name + ".exe")
        with open(path, "wb") as f:
            f.write(data)
        return path

    def assertRejected(self, name, patches, check):
        self.assertNotIn(check, self.failing_already,
                         "%s already fails on the unaltered file, so the "
                         "altered copy '%s' proves nothing" % (check, name))
        failed = run_checks_on(self.altered(name, patches))
        self.assertIn(check, failed,
                      "altered copy '%s' was not rejected by %s (failed: %s)"
                      % (name, check, sorted(failed) or "none"))

    def dialog(self, ident):
        _, offset, data = self.image.resource(RT_DIALOG, ident)
        return parse_dialog(data, offset)

    def header_field(self, structure, field):
        return getattr(self.pe, structure).get_field_absolute_offset(field)

    def test_RejectsAlteredHeaders(self):
        self.assertRejected("machine", [(self.header_field(
            "FILE_HEADER", "Machine"), struct.pack("<H", 0x8664))],
            "Headers.test_IsPe32ForI386")
        self.assertRejected("console", [(self.header_field(
            "OPTIONAL_HEADER", "Subsystem"), struct.pack("<H", 3))],
            "Headers.test_RunsInTheWindowsGuiSubsystem")
        self.assertRejected("stamp", [(self.header_field(
            "FILE_HEADER", "TimeDateStamp"), struct.pack("<I", 0x5F000000))],
            "Headers.test_CarriesNoTimeStamp")
        rdata = [s for s in self.pe.sections
                 if not s.Characteristics & IMAGE_SCN_MEM_EXECUTE][0]
        self.assertRejected("entry", [(self.header_field(
            "OPTIONAL_HEADER", "AddressOfEntryPoint"),
            struct.pack("<I", rdata.VirtualAddress))],
            "Headers.test_EntryPointLiesInTheCodeSection")

    def test_RejectsAForeignImportAndABuildPath(self):
        shell = self.image.raw.find(b"SHELL32.dll\0")
        self.assertGreater(shell, 0, "SHELL32.dll not found in the file")
        self.assertRejected("msvcrt", [(shell, b"msvcrt.dll\0\0")],
                            "Headers.test_ImportsOnlyFromTheFourSystemDlls")
        # Write a path into the slack after the last section's data.
        last = max(self.pe.sections, key=lambda s: s.PointerToRawData)
        slack = last.PointerToRawData + last.Misc_VirtualSize
        self.assertLess(slack + 24, len(self.image.raw))
        self.assertRejected("path", [(slack, b"/work/main/app/x.cpp")],
                            "Headers.test_CarriesNoBuildPaths")

    def test_RejectsAManifest(self):
        root = self.pe.DIRECTORY_ENTRY_RESOURCE
        version = [t for t in root.entries if t.id == RT_VERSION][0]
        at = version.struct.get_field_absolute_offset("Name")
        self.assertRejected("manifest", [(at, struct.pack("<I", RT_MANIFEST))],
                            "Resources.test_CarriesNoManifest")

    def test_RejectsAlteredDialogs(self):
        confirm = self.dialog(IDD_CONFIRM_REMOVE)
        self.assertRejected("caption", [(confirm["offsets"]["caption"] + 2,
                                         "u".encode("utf-16-le"))],
                            "ConfirmRemoveDialog.test_HasTheExactCaption")
        self.assertRejected("font", [(confirm["offsets"]["font_size"],
                                      struct.pack("<H", 9))],
                            "ConfirmRemoveDialog.test_UsesMsSansSerifAt8Points")
        size_at = confirm["offsets"]["count"] + 2 + 4
        self.assertRejected("size", [(size_at, struct.pack("<h", 223))],
                            "ConfirmRemoveDialog.test_HasTheTableSize")
        no_button = confirm["controls"][0]
        self.assertRejected("default", [(no_button["offset"], struct.pack(
            "<I", no_button["style"] & ~BS_DEFPUSHBUTTON))],
            "ConfirmRemoveDialog.test_HasEveryControlInTabOrderAsListed")
        completed = self.dialog(IDD_REMOVE_COMPLETED)
        notice = completed["controls"][3]
        self.assertRejected("rect", [(notice["rect_offset"],
                                      struct.pack("<h", 41))],
                            "RemoveCompletedDialog."
                            "test_HasEveryControlInTabOrderAsListed")
        icon = completed["controls"][4]
        # Point the icon control at resource 135 (0xFFFF, then the ordinal).
        self.assertRejected("icon", [(icon["text_offset"] + 2,
                                      struct.pack("<H", 135))],
                            "RemoveCompletedDialog."
                            "test_HasEveryControlInTabOrderAsListed")

    def test_RejectsAnAlteredIcon(self):
        self.assertRejected("group-bits", [(self.group_icon_offset() + 6 + 6,
                                            struct.pack("<H", 8))],
                            "ProductIcon."
                            "test_GroupHoldsOne32By32ImageIn16Colours")
        ident = struct.unpack_from("<H", self.group_icon(), 6 + 12)[0]
        _, offset, _ = self.image.resource(RT_ICON, ident)
        self.assertRejected("image-bits", [(offset + 14,
                                            struct.pack("<H", 8))],
                            "ProductIcon.test_ImageIsA32By32FourBitBitmap")

    def group_icon(self):
        return self.image.resource(RT_GROUP_ICON, IDI_PRODUCT)[2]

    def group_icon_offset(self):
        return self.image.resource(RT_GROUP_ICON, IDI_PRODUCT)[1]

    def test_RejectsAnAlteredVersionBlock(self):
        _, offset, data = self.image.resource(RT_VERSION, 1)
        company = data.find("Korrindal\0".encode("utf-16-le"))
        self.assertGreater(company, 0)
        self.assertRejected("company", [(offset + company + 12,
                                         "e".encode("utf-16-le"))],
                            "VersionBlock."
                            "test_StringTable040904B0HoldsEveryField")
        fixed = data.find(struct.pack("<I", VS_FFI_SIGNATURE))
        self.assertRejected("fileversion", [(offset + fixed + 12,
                                             struct.pack("<I", 2))],
                            "VersionBlock."
                            "test_FixedInfoGivesVersion1001OfAnNtApplication")
        translation = data.find(struct.pack("<HH", 0x0409, 1200))
        self.assertRejected("translation", [(offset + translation + 2,
                                             struct.pack("<H", 1252))],
                            "VersionBlock.test_TranslationIsUsEnglishUnicode")


class ExtendedDialogTemplates(unittest.TestCase):
    """The file's dialogs are plain DLGTEMPLATEs; should the script ever be
    written with DIALOGEX, the checks read the extended form the same way.
    windres compiles one here to prove the reader against the real format."""

    RC = """
#include <windows.h>
129 DIALOGEX 0, 0, 222, 61
STYLE DS_SETFONT | DS_MODALFRAME | DS_CENTER | WS_POPUP | WS_CAPTION | WS_SYSMENU
CAPTION "Confirm removing of Quillmere"
FONT 8, "MS Sans Serif", 0, 0, 0x1
BEGIN
    DEFPUSHBUTTON   "No", IDCANCEL, 51, 42, 50, 14
    PUSHBUTTON      "Yes", IDOK, 120, 42, 50, 14
    LTEXT           "Are you sure you want to completely remove Quillmere and all of its components?", 1000, 40, 10, 175, 20
    CONTROL         134, -1, "Static", SS_ICON, 5, 7, 20, 20
END
"""

    def test_ReadsADialogExLikeThePlainTemplate(self):
        windres = shutil.which("i686-w64-mingw32-windres")
        self.assertIsNotNone(windres, "i686-w64-mingw32-windres is missing "
                             "(Debian package binutils-mingw-w64-i686)")
        with tempfile.TemporaryDirectory() as temp:
            rc = os.path.join(temp, "ex.rc")
            res = os.path.join(temp, "ex.res")
            with open(rc, "w") as f:
                f.write(self.RC)
            subprocess.run([windres, "-O", "res", rc, res], check=True)
            with open(res, "rb") as f:
                resources = parse_res_file(f.read())
        dialog = parse_dialog(resources[(RT_DIALOG, IDD_CONFIRM_REMOVE)])
        expected = EXPECTED_DIALOGS[IDD_CONFIRM_REMOVE]
        self.assertTrue(dialog["extended"], "windres did not write DIALOGEX")
        self.assertEqual(dialog["style"], DIALOG_STYLE)
        self.assertEqual((dialog["cx"], dialog["cy"]), expected["size"])
        self.assertEqual(dialog["caption"], expected["caption"])
        self.assertEqual((dialog["font"]["name"], dialog["font"]["size"],
                          dialog["font"]["charset"]), ("MS Sans Serif", 8, 1))
        self.assertEqual(dialog_control_mismatches(dialog, expected), [])
        # A 32-bit id of -1 reads as the 16-bit 0xFFFF of the plain form.
        self.assertEqual(dialog["controls"][3]["id"], NO_ID)


def main(argv):
    global EXE_PATH
    rest = argv[1:]
    if rest and not rest[0].startswith("-"):
        EXE_PATH = rest.pop(0)
    if not EXE_PATH:
        sys.stderr.write("usage: %s path/to/Uninstall.exe [unittest options]"
                         "\n   or: %s=path/to/Uninstall.exe %s\n" %
                         (argv[0], EXE_PATH_VARIABLE, argv[0]))
        return 2
    if not os.path.isfile(EXE_PATH):
        sys.stderr.write("%s: no such file\n" % EXE_PATH)
        return 2
    sys.stderr.write("%s: %d bytes\n" % (EXE_PATH, os.path.getsize(EXE_PATH)))
    program = unittest.main(argv=[argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
