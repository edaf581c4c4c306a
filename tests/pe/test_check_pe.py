#!/usr/bin/python3
"""Tests of check_pe.py: that each check catches the fault it is there for, and passes what is right.

    test_check_pe.py [-v]

With CHECK_PE_EXE set to a built setup.exe (and CHECK_PE_ARCH to its architecture, x86_64 by
default), it also damages copies of that file in single places and expects check_pe.py to notice.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

HERE = Path(__file__).resolve().parent
sys.path.insert(0, str(HERE))
sys.path.insert(0, str(HERE.parent.parent / "cmake"))

import check_pe  # noqa: E402
import pefile  # noqa: E402
import run_from_swap  # noqa: E402

RESOURCES = HERE.parent.parent / "src" / "resources"
I386 = 0x14C
AMD64 = 0x8664
GUI = 2
CONSOLE = 3


class HeaderChecks(unittest.TestCase):
    def check(self, arch, machine, magic, subsystem=GUI, version=(4, 0), os_version=(4, 0), is_dll=False):
        return check_pe.check_headers(arch, machine, magic, subsystem, version, os_version, is_dll)

    def test_matching_images_pass(self):
        self.assertEqual(self.check("i686", I386, 0x10B, version=(5, 1)), [])
        self.assertEqual(self.check("x86_64", AMD64, 0x20B, version=(5, 2)), [])

    def test_wrong_architecture_is_caught_both_ways(self):
        failures = self.check("i686", AMD64, 0x20B)
        self.assertEqual(len(failures), 2)
        self.assertIn("machine type", failures[0])
        self.assertIn("PE32", failures[1])
        self.assertEqual(len(self.check("x86_64", I386, 0x10B)), 2)
        # PE32+ headers on an i386 machine type is still wrong.
        self.assertEqual(len(self.check("i686", I386, 0x20B)), 1)

    def test_console_programs_and_dlls_fail(self):
        self.assertIn("subsystem", self.check("i686", I386, 0x10B, subsystem=CONSOLE)[0])
        self.assertIn("DLL", self.check("i686", I386, 0x10B, is_dll=True)[0])

    def test_subsystem_versions_beyond_xp_fail(self):
        # XP is 5.1; 64-bit XP is 5.2. Newer linkers default to 6.0, which XP refuses to start.
        self.assertEqual(len(self.check("i686", I386, 0x10B, version=(5, 2))), 1)
        self.assertEqual(len(self.check("i686", I386, 0x10B, version=(6, 0))), 1)
        self.assertEqual(len(self.check("x86_64", AMD64, 0x20B, version=(6, 0))), 1)
        self.assertEqual(len(self.check("i686", I386, 0x10B, os_version=(6, 0))), 1)


class ImportChecks(unittest.TestCase):
    def test_the_dlls_that_load_at_start_pass_in_any_letter_case(self):
        imports = {
            "KERNEL32.dll": ["CreateProcessW", "GetWindowsDirectoryA"],
            "USER32.dll": ["CreateWindowExW"],
            "GDI32.dll": ["CreateDIBSection", "GetDeviceCaps"],
            "msvcrt.dll": ["memcpy", "_wcsicmp"],
        }
        self.assertEqual(check_pe.check_imports(imports), [])

    def test_other_dlls_fail_system_ones_included(self):
        # ole32, oleaut32 and shell32 are known DLLs, but loading them at start costs the first paint.
        for dll in ("COMCTL32.dll", "gdiplus.dll", "WindowsCodecs.dll", "SHCORE.dll", "VERSION.dll",
                    "UxTheme.dll", "libwinpthread-1.dll", "api-ms-win-core-synch-l1-2-0.dll", "ole32.dll",
                    "OLEAUT32.dll", "SHELL32.dll", "ADVAPI32.dll"):  # fmt: skip
            with self.subTest(dll=dll):
                failures = check_pe.check_imports({dll: ["Anything"]})
                self.assertEqual(len(failures), 1)
                self.assertIn(dll, failures[0])

    def test_post_xp_functions_fail(self):
        for dll, function in [
            ("KERNEL32.dll", "GetTickCount64"),
            ("KERNEL32.dll", "InitializeCriticalSectionEx"),
            ("KERNEL32.dll", "SetDefaultDllDirectories"),
            ("KERNEL32.dll", "AddDllDirectory"),
            ("KERNEL32.dll", "AcquireSRWLockExclusive"),
            ("KERNEL32.dll", "SleepConditionVariableCS"),
            ("KERNEL32.dll", "InitOnceExecuteOnce"),
            ("KERNEL32.dll", "FlsAlloc"),
            ("KERNEL32.dll", "CreateSymbolicLinkW"),
            ("KERNEL32.dll", "GetFinalPathNameByHandleW"),
            ("KERNEL32.dll", "K32EnumProcesses"),
            ("KERNEL32.dll", "CreateThreadpoolWork"),
            ("USER32.dll", "SetProcessDPIAware"),
            ("USER32.dll", "GetDpiForWindow"),
            ("USER32.dll", "AdjustWindowRectExForDpi"),
            ("USER32.dll", "SetProcessDpiAwarenessContext"),
            ("USER32.dll", "LogicalToPhysicalPointForPerMonitorDPI"),
            ("USER32.dll", "ChangeWindowMessageFilterEx"),
            ("msvcrt.dll", "_vsnwprintf_s"),
            ("msvcrt.dll", "wcscpy_s"),
            ("msvcrt.dll", "_ftelli64"),
        ]:
            with self.subTest(function=function):
                failures = check_pe.check_imports({dll: ["GetLastError", function]})
                self.assertEqual(len(failures), 1, failures)
                self.assertIn(function, failures[0])
        # The same reasons for DLLs that may not be imported at all today.
        self.assertIsNotNone(check_pe.post_xp_reason("shell32.dll", "SHGetKnownFolderPath"))
        self.assertIsNotNone(check_pe.post_xp_reason("advapi32.dll", "RegGetValueW"))

    def test_xp_functions_that_look_alike_pass(self):
        # Letters of "dpi" inside a word, DPI-free functions of the same families, and "_s" names
        # outside the C run-time.
        self.assertIsNone(check_pe.post_xp_reason("oleaut32.dll", "OleLoadPicture"))
        imports = {
            "KERNEL32.dll": ["GetTickCount", "InitializeCriticalSection", "SetDllDirectoryW", "TlsAlloc",
                             "GetModuleHandleExW", "AddVectoredExceptionHandler", "Example_s"],  # fmt: skip
            "USER32.dll": ["GetSystemMetrics", "SystemParametersInfoW"],
            "msvcrt.dll": ["_strdup", "_setjmp3"],
        }
        self.assertEqual(check_pe.check_imports(imports), [])

    def test_an_allowed_function_passes_and_only_that_one(self):
        imports = {"KERNEL32.dll": ["GetTickCount64", "InitializeCriticalSectionEx"]}
        failures = check_pe.check_imports(imports, allowed_functions=("GetTickCount64",))
        self.assertEqual(len(failures), 1, failures)
        self.assertIn("InitializeCriticalSectionEx", failures[0])

    def test_imports_by_ordinal_fail(self):
        failures = check_pe.check_imports({"USER32.dll": [None]})
        self.assertEqual(len(failures), 1)
        self.assertIn("ordinal", failures[0])

    def test_delay_imports_are_named_as_such(self):
        self.assertIn("delay import", check_pe.check_imports({"COMCTL32.dll": ["X"]}, "delay import")[0])


class ImageFlagChecks(unittest.TestCase):
    REMOVABLE = 0x0400
    NET = 0x0800
    EXECUTABLE = 0x0102  # executable image, 32-bit machine

    def test_both_swap_flags_and_a_matching_checksum_pass(self):
        self.assertEqual(check_pe.check_image_flags(self.EXECUTABLE | self.REMOVABLE | self.NET, 0x1234, 0x1234), [])

    def test_each_missing_flag_is_named(self):
        for present, missing in ((self.REMOVABLE, "NET_RUN"), (self.NET, "REMOVABLE_RUN"), (0, "RUN_FROM_SWAP")):
            with self.subTest(missing=missing):
                failures = check_pe.check_image_flags(self.EXECUTABLE | present, 1, 1)
                self.assertEqual(len(failures), 2 if present == 0 else 1, failures)
                self.assertIn(missing, failures[0])

    def test_a_stale_checksum_fails(self):
        failures = check_pe.check_image_flags(self.EXECUTABLE | self.REMOVABLE | self.NET, 0x305A5, 0x311A5)
        self.assertEqual(len(failures), 1)
        self.assertIn("checksum", failures[0])


class RunFromSwapStep(unittest.TestCase):
    """The post-link step that sets the flags, on a copy of a real image: flags set, checksum right
    (pefile computes it independently), nothing else changed, and a second run changes nothing."""

    def test_marks_a_real_image(self):
        if not os.environ.get("CHECK_PE_EXE"):
            self.skipTest("CHECK_PE_EXE names no built program")
        original = Path(os.environ["CHECK_PE_EXE"]).read_bytes()
        characteristics_offset, checksum_offset = run_from_swap.header_offsets(original)
        cleared = bytearray(original)
        cleared[characteristics_offset + 1] &= ~0x0C & 0xFF
        marked = run_from_swap.mark(bytes(cleared))
        self.assertEqual(run_from_swap.mark(marked), marked)
        pe = pefile.PE(data=marked)
        self.assertEqual(pe.FILE_HEADER.Characteristics & 0x0C00, 0x0C00)
        self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())
        changed = [k for k in range(len(marked)) if marked[k] != cleared[k]]
        allowed = {characteristics_offset + 1, *range(checksum_offset, checksum_offset + 4)}
        self.assertTrue(set(changed) <= allowed, changed)
        with self.assertRaises(ValueError):
            run_from_swap.mark(b"MZ" + bytes(100))


GOOD_STRINGS = {**check_pe.EXPECTED_VERSION_STRINGS, "FileDescription": "tarvin 安装程序"}
ONE = (1, 0, 0, 0)


class VersionChecks(unittest.TestCase):
    def check(self, fixed=(ONE, ONE), table_key="080404b0", strings=None, translations=((0x0804, 1200),)):
        return check_pe.check_version(fixed, {table_key: strings or dict(GOOD_STRINGS)}, list(translations))

    def test_the_expected_record_passes(self):
        self.assertEqual(self.check(), [])

    def test_each_wrong_field_is_reported(self):
        for key in check_pe.EXPECTED_VERSION_STRINGS:
            with self.subTest(field=key):
                strings = dict(GOOD_STRINGS, **{key: "x"})
                failures = self.check(strings=strings)
                self.assertEqual(len(failures), 1)
                self.assertIn(key, failures[0])

    def test_missing_description_fails(self):
        strings = dict(GOOD_STRINGS)
        del strings["FileDescription"]
        self.assertEqual(len(self.check(strings=strings)), 1)

    def test_language_code_page_and_numbers_matter(self):
        self.assertEqual(len(self.check(table_key="040904b0")), 1)
        self.assertEqual(len(self.check(translations=[(0x0409, 1200)])), 1)
        self.assertEqual(len(self.check(translations=[(0x0804, 936)])), 1)
        self.assertEqual(len(self.check(fixed=((1, 0, 0, 1), ONE))), 1)
        self.assertEqual(len(self.check(fixed=(ONE, (1, 0, 0, 1)))), 1)
        self.assertEqual(check_pe.check_version(None, {}, []), ["no version record"])


class ManifestChecks(unittest.TestCase):
    def setUp(self):
        self.manifest = (RESOURCES / "setup.manifest").read_bytes()

    def test_the_program_manifest_passes(self):
        self.assertEqual(check_pe.check_manifest({1: self.manifest}), [])

    def test_faults_are_caught(self):
        for label, old, new in [
            ("elevation", b'level="asInvoker"', b'level="requireAdministrator"'),
            ("ui access", b'uiAccess="false"', b'uiAccess="true"'),
            ("common controls version", b'version="6.0.0.0"', b'version="5.8.0.0"'),
            ("no common controls", b"Microsoft.Windows.Common-Controls", b"Example.Assembly"),
            ("dpi", b">true</dpiAware>", b">false</dpiAware>"),
            ("broken xml", b"</assembly>", b"</assembl>"),
        ]:
            with self.subTest(label):
                self.assertIn(old, self.manifest)
                self.assertEqual(len(check_pe.check_manifest({1: self.manifest.replace(old, new)})), 1)

    def test_manifest_must_be_resource_one(self):
        self.assertEqual(len(check_pe.check_manifest({2: self.manifest})), 1)
        self.assertEqual(len(check_pe.check_manifest({})), 1)


class PictureChecks(unittest.TestCase):
    IDS = check_pe.parse_resource_ids((RESOURCES / "resource_ids.h").read_text(encoding="utf-8"))
    BMP = (40).to_bytes(4, "little") + bytes(100)
    PNG = b"\x89PNG\r\n\x1a\n" + bytes(100)

    def good(self):
        ids = self.IDS
        groups = {
            ids["IDI_APPLICATION_ICON"]: [(32, 32, 4, 1), (16, 16, 4, 2)],
            ids["IDI_TITLE_STRIP"]: [(32, 32, 8, 3)],
            ids["IDI_PICTURE_BUTTON"]: [(32, 32, 8, 4)],
        }
        icons = {k: self.BMP for k in (1, 2, 3, 4)}
        rcdata = {
            ids["IDR_BOTTOM_PICTURE"]: (RESOURCES / "bottom.jpg").read_bytes(),
            ids["IDR_LEFT_PICTURE"]: (RESOURCES / "left.jpg").read_bytes(),
        }
        return groups, icons, rcdata

    def test_the_header_is_read(self):
        self.assertEqual(len(self.IDS), 6)

    def test_the_program_pictures_pass(self):
        self.assertEqual(check_pe.check_pictures(self.IDS, *self.good()), [])

    def test_faults_are_caught(self):
        ids = self.IDS
        groups, icons, rcdata = self.good()
        cases = {
            "16 colours only at 32x32": (
                {**groups, ids["IDI_APPLICATION_ICON"]: [(32, 32, 4, 1)]}, icons, rcdata),
            "256 colours in the window icon": (
                {**groups, ids["IDI_APPLICATION_ICON"]: [(32, 32, 8, 1), (16, 16, 4, 2)]}, icons, rcdata),
            "missing group": (
                {k: v for k, v in groups.items() if k != ids["IDI_TITLE_STRIP"]}, icons, rcdata),
            "missing image": (groups, {k: v for k, v in icons.items() if k != 4}, rcdata),
            "png image": (groups, {**icons, 3: self.PNG}, rcdata),
            "swapped jpegs": (groups, icons, {ids["IDR_BOTTOM_PICTURE"]: rcdata[ids["IDR_LEFT_PICTURE"]],
                                              ids["IDR_LEFT_PICTURE"]: rcdata[ids["IDR_LEFT_PICTURE"]]}),
            "not a jpeg": (groups, icons, {**rcdata, ids["IDR_LEFT_PICTURE"]: self.BMP}),
        }  # fmt: skip
        for label, arguments in cases.items():
            with self.subTest(label):
                self.assertEqual(len(check_pe.check_pictures(self.IDS, *arguments)), 1)

    def test_jpeg_size_reads_the_frame_header(self):
        self.assertEqual(check_pe.jpeg_size((RESOURCES / "bottom.jpg").read_bytes()), (410, 274))
        self.assertEqual(check_pe.jpeg_size((RESOURCES / "left.jpg").read_bytes()), (90, 303))
        self.assertIsNone(check_pe.jpeg_size(b"GIF89a"))
        self.assertIsNone(check_pe.jpeg_size(b"\xff\xd8\xff"))


class ProgramChecks(unittest.TestCase):
    """pathcheck.exe shares setup.exe's record under its own names and carries no pictures of its own."""

    IDS = PictureChecks.IDS

    def test_each_program_wants_its_own_names(self):
        for program, other in (("setup", "pathcheck"), ("pathcheck", "setup")):
            strings = {**check_pe.expected_version_strings(program), "FileDescription": "tarvin"}
            tables = {"080404b0": strings}
            with self.subTest(program):
                self.assertEqual(check_pe.check_version((ONE, ONE), tables, [(0x0804, 1200)], program), [])
                failures = check_pe.check_version((ONE, ONE), tables, [(0x0804, 1200)], other)
                self.assertEqual(len(failures), 2, failures)
                self.assertTrue(all("InternalName" in f or "OriginalFilename" in f for f in failures), failures)

    def test_a_payload_list_is_setups_alone(self):
        groups, icons, rcdata = PictureChecks().good()
        listed = {**rcdata, self.IDS["IDR_PAYLOAD_LIST"]: b"TARVIN PAYLOAD LIST 2\n"}
        self.assertEqual(check_pe.check_pictures(self.IDS, groups, icons, listed), [])
        failures = check_pe.check_pictures(self.IDS, {}, {}, {self.IDS["IDR_PAYLOAD_LIST"]: b"x"}, "pathcheck")
        self.assertEqual(len(failures), 1, failures)

    def test_pathcheck_passes_without_pictures(self):
        self.assertEqual(check_pe.check_pictures(self.IDS, {}, {}, {}, "pathcheck"), [])

    def test_an_icon_or_picture_in_pathcheck_is_caught(self):
        icon_group = {self.IDS["IDI_APPLICATION_ICON"]: [(32, 32, 4, 1)]}
        failures = check_pe.check_pictures(self.IDS, icon_group, {1: PictureChecks.BMP}, {}, "pathcheck")
        self.assertEqual(len(failures), 1, failures)
        self.assertIn("icon group", failures[0])
        jpeg = {self.IDS["IDR_LEFT_PICTURE"]: (RESOURCES / "left.jpg").read_bytes()}
        failures = check_pe.check_pictures(self.IDS, {}, {}, jpeg, "pathcheck")
        self.assertEqual(len(failures), 1, failures)
        self.assertIn("RCDATA", failures[0])

    def test_setup_catches_a_stray_icon_group(self):
        groups, icons, rcdata = PictureChecks().good()
        groups = {**groups, 900: [(32, 32, 4, 1)]}
        failures = check_pe.check_pictures(self.IDS, groups, icons, rcdata)
        self.assertEqual(len(failures), 1, failures)
        self.assertIn("900", failures[0])

    def test_the_pathcheck_manifest_passes(self):
        manifest = (RESOURCES / "pathcheck.manifest").read_bytes()
        self.assertEqual(check_pe.check_manifest({1: manifest}), [])


@unittest.skipUnless(os.environ.get("CHECK_PE_EXE"), "CHECK_PE_EXE names no built setup.exe")
class DamagedExecutables(unittest.TestCase):
    """Single-place damage to a copy of a real setup.exe must turn a pass into a named failure."""

    @classmethod
    def setUpClass(cls):
        cls.original = Path(os.environ["CHECK_PE_EXE"]).read_bytes()
        cls.arch = os.environ.get("CHECK_PE_ARCH", "x86_64")
        cls.folder = Path(tempfile.mkdtemp())

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.folder)

    def run_check(self, data):
        path = self.folder / "setup.exe"
        path.write_bytes(data)
        result = subprocess.run(
            [sys.executable, str(HERE / "check_pe.py"), str(path), "--arch", self.arch],
            capture_output=True,
            text=True,
        )
        return result.returncode, [line for line in result.stdout.splitlines() if line.startswith("FAIL")]

    def damage(self, old, new):
        self.assertEqual(len(old), len(new))
        self.assertEqual(self.original.count(old), 1, old)
        return self.original.replace(old, new)

    @staticmethod
    def with_checksum(data):
        _, checksum_offset = run_from_swap.header_offsets(data)
        fixed = bytearray(data)
        checksum = run_from_swap.pe_checksum(data, checksum_offset)
        fixed[checksum_offset : checksum_offset + 4] = checksum.to_bytes(4, "little")
        return bytes(fixed)

    def clear_swap_flags(self):
        pe_offset = int.from_bytes(self.original[0x3C:0x40], "little")
        data = bytearray(self.original)
        data[pe_offset + 4 + 19] &= ~0x0C & 0xFF  # high byte of the COFF characteristics
        return bytes(data)

    def test_the_reading_layer_sees_the_record(self):
        # Whatever the program imports, the version record, manifest and pictures must be found.
        _, failures = self.run_check(self.original)
        self.assertFalse([f for f in failures if "import" not in f], failures)

    def test_each_damage_is_named(self):
        pe_offset = int.from_bytes(self.original[0x3C:0x40], "little")
        machine = bytearray(self.original)
        machine[pe_offset + 4 : pe_offset + 6] = (0x1C0).to_bytes(2, "little")  # ARM
        cases = {
            "machine type": bytes(machine),
            "ProductName": self.damage("tarvin\0\0".encode("utf-16-le"), "tarvim\0\0".encode("utf-16-le")),
            "execution level": self.damage(b'"asInvoker"', b'"asInvokes"'),
            "SetProcessDPIAware": self.damage(b"GetCurrentThreadId\0", b"SetProcessDPIAware\0"),
            "DWMAPI.dll": self.damage(b"USER32.dll", b"DWMAPI.dll"),
            "run_from_swap": self.clear_swap_flags(),
        }
        # Each damage alone: the checksum is brought up to date after it, except in the case that
        # damages only the checksum.
        cases = {label: self.with_checksum(data) for label, data in cases.items()}
        cases["checksum"] = self.damage(b"GetCurrentThreadId\0", b"GetCurrentThreadIe\0")
        baseline = set(self.run_check(self.original)[1])
        for expected, data in cases.items():
            with self.subTest(expected):
                code, failures = self.run_check(data)
                self.assertEqual(code, 1)
                new = [f for f in failures if f not in baseline]
                self.assertTrue(new, failures)
                for failure in new:
                    self.assertIn(expected.lower(), failure.lower())


if __name__ == "__main__":
    unittest.main()
