"""The checks of the built 32-bit Uninstall.exe, read as a file.

What is checked is what a user's machine gets: the headers and imports the
loader sees, the dialog templates, icon and version block as they sit in the
resource section (parsed byte by byte by pe_reader, not taken from the .rc),
and the absence of a manifest, a time stamp and build paths.  The file is
the one named by EXE_PATH (check_uninstaller_exe.py sets it), or by
exe_path on a copy of a class that the self-tests aim at a patched file.
"""

import struct
import unittest

import product_facts as facts
from pe_reader import load_image, parse_dialog, parse_version_node
from product_facts import (DIALOG_STYLE, IDD_CONFIRM_REMOVE,
                           IDD_REMOVE_COMPLETED, IDD_REMOVE_UNFINISHED,
                           IDI_PRODUCT)

EXE_PATH = None

# --- Windows constants used below -----------------------------------------

IMAGE_FILE_MACHINE_I386 = 0x014C
PE32_MAGIC = 0x010B
IMAGE_SUBSYSTEM_WINDOWS_GUI = 2
IMAGE_SCN_CNT_CODE = 0x00000020
IMAGE_SCN_MEM_EXECUTE = 0x20000000
IMAGE_FILE_RELOCS_STRIPPED = 0x0001
IMAGE_DIRECTORY_ENTRY_SECURITY = 4
IMAGE_DIRECTORY_ENTRY_BASERELOC = 5
IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE = 0x0040
IMAGE_DLLCHARACTERISTICS_NX_COMPAT = 0x0100
IMAGE_DLLCHARACTERISTICS_NO_SEH = 0x0400
IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE = 0x8000

RT_ICON = 3
RT_DIALOG = 5
RT_GROUP_ICON = 14
RT_VERSION = 16
RT_MANIFEST = 24


VS_FFI_SIGNATURE = 0xFEEF04BD
VOS_NT_WINDOWS32 = 0x00040004
VFT_APP = 0x1

ALLOWED_DLLS = {"KERNEL32.DLL", "USER32.DLL", "ADVAPI32.DLL", "SHELL32.DLL"}

# The loader's safety flags the file must carry, by name.
LOADER_FLAGS = {
    "ASLR (DYNAMIC_BASE)": IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE,
    "DEP (NX_COMPAT)": IMAGE_DLLCHARACTERISTICS_NX_COMPAT,
    "no exception handlers (NO_SEH)": IMAGE_DLLCHARACTERISTICS_NO_SEH,
    "terminal-server aware (TERMINAL_SERVER_AWARE)":
        IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE,
}

# Traces of the machine and folders the file was built in (source and object
# file names, the toolchain's own paths) that must not end up in it.
BUILD_PATH_FRAGMENTS = ["/work/", "/tmp/", "/home/", "/root/", "/usr/",
                        "/build/", "mingw", ".cpp", ".obj"]


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

    def test_CarriesTheLoaderSafetyFlags(self):
        flags = self.pe.OPTIONAL_HEADER.DllCharacteristics
        missing = [name for name, bit in sorted(LOADER_FLAGS.items())
                   if not flags & bit]
        self.assertEqual(missing, [], "DllCharacteristics 0x%04X lacks %s" %
                         (flags, ", ".join(missing)))
        # ASLR moves only an image that keeps its relocations.
        relocs = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[
            IMAGE_DIRECTORY_ENTRY_BASERELOC]
        self.assertFalse(self.pe.FILE_HEADER.Characteristics &
                         IMAGE_FILE_RELOCS_STRIPPED, "relocations stripped")
        self.assertGreater(relocs.Size, 0, "no base relocations")

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
        # A signed file ends in the maker's certificate chain, whose web
        # addresses are the certificate authority's, not the build's.
        table = self.pe.OPTIONAL_HEADER.DATA_DIRECTORY[
            IMAGE_DIRECTORY_ENTRY_SECURITY]
        raw = self.image.raw[:table.VirtualAddress if table.Size else None]
        raw = raw.lower()
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
                    RT_DIALOG: [IDD_CONFIRM_REMOVE, IDD_REMOVE_COMPLETED,
                                IDD_REMOVE_UNFINISHED],
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
        cls.expected = facts.DIALOGS[cls.RESOURCE_ID]

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
        self.assertEqual((font["name"], font["size"]), facts.DIALOG_FONT)

    def test_HasEveryControlInTabOrderAsListed(self):
        problems = dialog_control_mismatches(self.dialog, self.expected)
        self.assertEqual(problems, [], "\n" + "\n".join(problems))


class ConfirmRemoveDialog(DialogTemplateChecks, ExeTestCase):
    RESOURCE_ID = IDD_CONFIRM_REMOVE


class RemoveCompletedDialog(DialogTemplateChecks, ExeTestCase):
    RESOURCE_ID = IDD_REMOVE_COMPLETED


class RemoveUnfinishedDialog(DialogTemplateChecks, ExeTestCase):
    RESOURCE_ID = IDD_REMOVE_UNFINISHED


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
        if not copyright_line or facts.COMPANY_NAME not in copyright_line:
            problems.append("LegalCopyright %r does not name %s" %
                            (copyright_line, facts.COMPANY_NAME))
        for key in sorted(set(values) | set(facts.VERSION_STRINGS)):
            if key not in values:
                problems.append("%s is missing" % key)
            elif key not in facts.VERSION_STRINGS:
                problems.append("unexpected field %s = %r" %
                                (key, values[key]))
            elif values[key] != facts.VERSION_STRINGS[key]:
                problems.append("%s is %r, expected %r" %
                                (key, values[key],
                                 facts.VERSION_STRINGS[key]))
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



CHECK_CLASSES = [Headers, Resources, ConfirmRemoveDialog,
                 RemoveCompletedDialog, RemoveUnfinishedDialog, ProductIcon,
                 VersionBlock]
