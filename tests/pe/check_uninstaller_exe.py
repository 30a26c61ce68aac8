#!/usr/bin/python3
"""Checks of the built 32-bit Uninstall.exe, and their self-tests.

Usage:  PYTHONPATH=tools tests/pe/check_uninstaller_exe.py path/to/Uninstall.exe [unittest options]
   or:  PYTHONPATH=tools UNINSTALL_EXE=path/to/Uninstall.exe tests/pe/check_uninstaller_exe.py

Runs every check of uninstaller_checks.py on the file, then the self-tests
below: each patches a copy of the file where one check looks and makes sure
that check rejects the copy, so that no check passes whatever the file holds.
"""

import os
import re
import shutil
import struct
import sys
import tempfile
import unittest

# The product's facts, shared with the Wine toolkit, come from
# tools/product_facts.py (PYTHONPATH=tools).
import uninstaller_checks
from pe_reader import parse_dialog
from product_facts import (
    BS_DEFPUSHBUTTON, COMPANY_NAME, IDD_CONFIRM_REMOVE, IDD_REMOVE_COMPLETED,
    IDD_REMOVE_UNFINISHED, IDI_PRODUCT)
from uninstaller_checks import (
    CHECK_CLASSES, IMAGE_SCN_MEM_EXECUTE, LOADER_FLAGS, RT_DIALOG,
    RT_GROUP_ICON, RT_ICON, RT_MANIFEST, RT_VERSION, VS_FFI_SIGNATURE,
    ExeTestCase)

EXE_PATH_VARIABLE = "UNINSTALL_EXE"


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
        if method:
            failed.add("%s.%s" % (type(test).__name__, method))
            continue
        # A class whose set-up fails fails all its checks at once; it reads
        # "setUpClass (module.Class)".
        match = re.match(r"(\w+) \((?:.*\.)?(\w+)\)$", str(test))
        failed.add("%s.%s" % (match.group(2), match.group(1)) if match
                   else str(test))
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
        flags_at = self.header_field("OPTIONAL_HEADER", "DllCharacteristics")
        for name, bit in LOADER_FLAGS.items():
            self.assertRejected("without " + name, [(flags_at, struct.pack(
                "<H", self.pe.OPTIONAL_HEADER.DllCharacteristics & ~bit))],
                "Headers.test_CarriesTheLoaderSafetyFlags")
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
        # An extended template, which the program does not use, is refused
        # rather than read as a plain one.
        self.assertRejected("dialogex", [(confirm["offsets"]["count"] - 8,
                                          struct.pack("<HH", 1, 0xFFFF))],
                            "ConfirmRemoveDialog.setUpClass")
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
        # The unfinished removal's notice, in a template of its own.
        notice = self.dialog(IDD_REMOVE_UNFINISHED)["controls"][1]
        self.assertRejected("unfinished", [(notice["text_offset"],
                                            "q".encode("utf-16-le"))],
                            "RemoveUnfinishedDialog."
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
        company = data.find((COMPANY_NAME + "\0").encode("utf-16-le"))
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



def load_tests(loader, tests, pattern):
    """Every check on the file, then the self-tests."""
    suite = unittest.TestSuite()
    for cls in CHECK_CLASSES + [CheckerRejectsAlteredCopies]:
        suite.addTests(loader.loadTestsFromTestCase(cls))
    return suite


def main(argv):
    exe_path = os.environ.get(EXE_PATH_VARIABLE)
    rest = argv[1:]
    if rest and not rest[0].startswith("-"):
        exe_path = rest.pop(0)
    if not exe_path:
        sys.stderr.write("usage: %s path/to/Uninstall.exe [unittest options]"
                         "\n   or: %s=path/to/Uninstall.exe %s\n" %
                         (argv[0], EXE_PATH_VARIABLE, argv[0]))
        return 2
    if not os.path.isfile(exe_path):
        sys.stderr.write("%s: no such file\n" % exe_path)
        return 2
    uninstaller_checks.EXE_PATH = exe_path
    sys.stderr.write("%s: %d bytes\n" % (exe_path, os.path.getsize(exe_path)))
    program = unittest.main(argv=[argv[0]] + rest, exit=False, verbosity=2)
    return 0 if program.result.wasSuccessful() else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv))
