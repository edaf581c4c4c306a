#!/usr/bin/python3
"""Checks a built setup.exe or pathcheck.exe against what Windows XP and later need from it.

    check_pe.py PATH --arch i686|x86_64 [--program setup|pathcheck]

Prints the file size, the DLLs that load at start, and one line per failure, and exits 1 if anything failed (2 if the file cannot
be read as a PE image). Checked: machine type and PE32/PE32+ for the architecture, the GUI subsystem
and a subsystem version that XP accepts; the run-from-swap flags and a checksum that matches the
bytes; every statically imported DLL, each of which loads when the program starts, is one of the few
that the window needs before its first paint, and no imported function is newer than Windows XP; the version record; the application manifest; the icon
groups and the two JPEG pictures of setup.exe, or for pathcheck.exe, which has no icon of its own, that
it carries no pictures at all (these three not with --headers-and-imports-only). A signed file's
Authenticode signature must use SHA-256 throughout; --signed requires one.

Needs pefile (Debian's python3-pefile).
"""

import argparse
import re
import sys
import xml.etree.ElementTree as ElementTree
from pathlib import Path

import pefile

RESOURCE_IDS_HEADER = Path(__file__).resolve().parent.parent.parent / "src" / "resources" / "resource_ids.h"

ARCHITECTURES = {
    # arch: (machine, optional header magic, format name, newest subsystem version XP accepts)
    "i686": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_I386"], 0x10B, "PE32", (5, 1)),
    "x86_64": (pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"], 0x20B, "PE32+", (5, 2)),
}

# The DLLs that the programs may import statically, which therefore load when they start, before any
# line of theirs runs: what the window needs before its first paint, and the C run-time. Each is one
# that Windows always loads from its system folder (a known DLL, or loaded by one), so that a copy
# planted beside the program is never used. Every other DLL (comctl32 for the tool tip, ole32 and
# shell32 for the shell's start of the installer) is loaded at run time by full path where it is used,
# which keeps its cost out of the start as well.
LOADED_AT_START = {
    "kernel32.dll",
    "user32.dll",
    "gdi32.dll",
    "msvcrt.dll",
}

# Functions that Windows XP does not export. The loader refuses to start a program that imports
# one statically, so each must be looked up with GetProcAddress instead. The list covers what the
# program's own code might reach for and what MinGW's static C, C++ and thread run-times pull in
# (libwinpthread, libstdc++'s filesystem and locale code).
POST_XP_FUNCTIONS = {
    # kernel32: time, synchronisation and thread-local storage used by run-time libraries
    "GetTickCount64", "GetSystemTimePreciseAsFileTime", "QueryUnbiasedInterruptTime",
    "InitializeCriticalSectionEx", "CreateEventExA", "CreateEventExW", "CreateMutexExA", "CreateMutexExW",
    "CreateSemaphoreExA", "CreateSemaphoreExW", "CreateWaitableTimerExA", "CreateWaitableTimerExW",
    "SetWaitableTimerEx", "FlsAlloc", "FlsFree", "FlsGetValue", "FlsSetValue", "IsThreadAFiber",
    "InterlockedCompareExchange64", "GetCurrentProcessorNumber", "GetCurrentProcessorNumberEx",
    "GetActiveProcessorCount", "GetMaximumProcessorCount", "GetLogicalProcessorInformationEx",
    "SetThreadGroupAffinity", "GetThreadGroupAffinity", "GetNumaNodeProcessorMaskEx", "VirtualAllocExNuma",
    "GetCurrentThreadStackLimits", "SetThreadStackGuarantee", "AddVectoredContinueHandler",
    "RemoveVectoredContinueHandler", "RaiseFailFastException", "GetThreadId", "GetProcessIdOfThread",
    "CreateRemoteThreadEx",
    # kernel32: DLL search order
    "SetDefaultDllDirectories", "AddDllDirectory", "RemoveDllDirectory",
    # kernel32: files (libstdc++'s std::filesystem uses several of these)
    "CreateSymbolicLinkA", "CreateSymbolicLinkW", "GetFinalPathNameByHandleA", "GetFinalPathNameByHandleW",
    "GetFileInformationByHandleEx", "SetFileInformationByHandle", "OpenFileById", "CreateFile2", "CopyFile2",
    "GetVolumeInformationByHandleW", "FindFirstStreamW", "FindNextStreamW", "CancelIoEx",
    "CancelSynchronousIo",
    "GetQueuedCompletionStatusEx", "SetFileCompletionNotificationModes", "GetOverlappedResultEx",
    "Wow64DisableWow64FsRedirection", "Wow64RevertWow64FsRedirection",
    # kernel32: locale names (Vista replaced LCIDs by names)
    "GetLocaleInfoEx", "GetDateFormatEx", "GetTimeFormatEx", "GetNumberFormatEx", "GetCurrencyFormatEx",
    "CompareStringEx", "CompareStringOrdinal", "LCMapStringEx", "LocaleNameToLCID", "LCIDToLocaleName",
    "GetUserDefaultLocaleName", "GetSystemDefaultLocaleName", "EnumSystemLocalesEx", "ResolveLocaleName",
    "IsValidLocaleName", "GetThreadPreferredUILanguages", "GetUserPreferredUILanguages",
    "SetThreadPreferredUILanguages", "GetThreadUILanguage", "FindNLSStringEx", "GetStringScripts",
    # kernel32: processes and the system
    "QueryFullProcessImageNameA", "QueryFullProcessImageNameW", "InitializeProcThreadAttributeList",
    "UpdateProcThreadAttribute", "DeleteProcThreadAttributeList", "GetErrorMode", "SetThreadErrorMode",
    "GetThreadErrorMode", "GetProductInfo", "GetDynamicTimeZoneInformation", "GetTimeZoneInformationForYear",
    "RegisterApplicationRestart", "RegisterApplicationRecoveryCallback", "GetPhysicallyInstalledSystemMemory",
    "PowerCreateRequest", "PowerSetRequest", "PowerClearRequest", "SetProcessMitigationPolicy",
    "GetProcessMitigationPolicy",
    # user32
    "ChangeWindowMessageFilter", "ChangeWindowMessageFilterEx", "AddClipboardFormatListener",
    "RemoveClipboardFormatListener", "GetUpdatedClipboardFormats", "RegisterPowerSettingNotification",
    "ShutdownBlockReasonCreate", "ShutdownBlockReasonDestroy", "SetWindowDisplayAffinity",
    "GetWindowDisplayAffinity", "RegisterTouchWindow", "GetTouchInputInfo", "GetGestureInfo",
    "SetGestureConfig",
    "CalculatePopupWindowPosition", "LogicalToPhysicalPoint", "PhysicalToLogicalPoint",
    "GetDisplayConfigBufferSizes", "QueryDisplayConfig", "SetDisplayConfig", "DisplayConfigGetDeviceInfo",
    "EnableMouseInPointer", "IsImmersiveProcess",
    # advapi32
    "RegGetValueA", "RegGetValueW", "RegDeleteKeyExA", "RegDeleteKeyExW", "RegDeleteTreeA", "RegDeleteTreeW",
    "RegCopyTreeA", "RegCopyTreeW", "RegSetKeyValueA", "RegSetKeyValueW", "RegDeleteKeyValueA",
    "RegDeleteKeyValueW", "RegLoadMUIStringA", "RegLoadMUIStringW", "EventRegister", "EventUnregister",
    "EventWrite", "EventWriteTransfer", "EventEnabled", "AddMandatoryAce",
    # shell32
    "SHGetKnownFolderPath", "SHGetKnownFolderIDList", "SHSetKnownFolderPath", "SHCreateItemFromParsingName",
    "SHCreateItemFromIDList", "SHGetIDListFromObject", "SHGetStockIconInfo", "SHOpenWithDialog",
    "SHGetPropertyStoreForWindow", "SetCurrentProcessExplicitAppUserModelID",
    # ole32
    "CoGetApartmentType", "CoDisconnectContext",
}  # fmt: skip

# Whole families of newer functions, matched in the name.
POST_XP_PATTERNS = [
    # "Dpi" or "DPI" as a word of the name (GetDpiForWindow, SetProcessDPIAware), not the letters
    # inside another word (OleLoadPicture).
    (re.compile(r"(?:Dpi|DPI)(?![a-z])"), "DPI awareness and scaling functions came after XP"),
    (re.compile(r"SRWLock"), "slim reader/writer locks came with Vista"),
    (re.compile(r"ConditionVariable"), "condition variables came with Vista"),
    (re.compile(r"^InitOnce"), "one-time initialisation came with Vista"),
    (re.compile(r"Threadpool"), "the Vista thread pool"),
    (re.compile(r"Transacted"), "transacted file and registry functions came with Vista"),
    (re.compile(r"^K32"), "the K32 process-status functions came with Windows 7"),
    (re.compile(r"^D3DKMT"), "the Vista display driver interface"),
    (re.compile(r"^Wer[A-Z]"), "Windows Error Reporting functions came with Vista"),
]

# XP's msvcrt.dll has none of the bounds-checked "_s" functions (Vista added them) nor these.
POST_XP_MSVCRT = {
    "_fseeki64", "_ftelli64", "_time32", "_localtime32", "_gmtime32", "_mktime32", "_ctime32", "_wctime32",
    "_difftime32",
}  # fmt: skip

# The version record that every program of the product shares; each adds its own names.
SHARED_VERSION_STRINGS = {
    "CompanyName": "vo",
    "ProductName": "tarvin",
    "FileVersion": "1.00",
    "ProductVersion": "1.00",
}
# program: (its own version strings, icon groups {name: formats}, JPEGs {name: size}). pathcheck.exe
# shows the system's default icon, so it carries none of its own, nor any picture.
PROGRAMS = {
    "setup": (
        {"InternalName": "setup", "OriginalFilename": "setup.exe"},
        {
            "IDI_APPLICATION_ICON": {(32, 32, 4), (16, 16, 4)},
            "IDI_TITLE_STRIP": {(32, 32, 8)},
            "IDI_PICTURE_BUTTON": {(32, 32, 8)},
        },
        {"IDR_BOTTOM_PICTURE": (410, 274), "IDR_LEFT_PICTURE": (90, 303)},
    ),
    "pathcheck": ({"InternalName": "pathcheck", "OriginalFilename": "pathcheck.exe"}, {}, {}),
}


def expected_version_strings(program="setup"):
    return {**SHARED_VERSION_STRINGS, **PROGRAMS[program][0]}


EXPECTED_VERSION_STRINGS = expected_version_strings("setup")
VERSION_TABLE = "080404b0"  # Chinese (PRC), Unicode
VERSION_TRANSLATION = (0x0804, 1200)
NUMERIC_VERSION = (1, 0, 0, 0)

COMMON_CONTROLS = {
    "name": "Microsoft.Windows.Common-Controls",
    "version": "6.0.0.0",
    "processorArchitecture": "*",
    "publicKeyToken": "6595b64144ccf1df",
}

RT_ICON = pefile.RESOURCE_TYPE["RT_ICON"]
RT_GROUP_ICON = pefile.RESOURCE_TYPE["RT_GROUP_ICON"]
RT_RCDATA = pefile.RESOURCE_TYPE["RT_RCDATA"]
RT_MANIFEST = pefile.RESOURCE_TYPE["RT_MANIFEST"]


# ---------------------------------------------------------------------------------------------------
# Checks on plain data; each returns a list of failure messages.


def check_headers(arch, machine, magic, subsystem, subsystem_version, os_version, is_dll):
    expected_machine, expected_magic, format_name, newest = ARCHITECTURES[arch]
    failures = []
    if machine != expected_machine:
        actual = pefile.MACHINE_TYPE.get(machine, hex(machine))
        expected = pefile.MACHINE_TYPE[expected_machine]
        failures.append(f"machine type is {actual}, expected {expected} for {arch}")
    if magic != expected_magic:
        failures.append(f"optional header magic is {magic:#x}, expected {format_name} ({expected_magic:#x})")
    if subsystem != pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_GUI"]:
        actual = pefile.SUBSYSTEM_TYPE.get(subsystem, subsystem)
        failures.append(f"subsystem is {actual}, expected the GUI subsystem")
    if tuple(subsystem_version) > newest:
        failures.append(
            "subsystem version %d.%d is newer than Windows XP accepts (%d.%d)" % (*subsystem_version, *newest)
        )
    if tuple(os_version) > newest:
        failures.append(
            "operating system version %d.%d is newer than Windows XP (%d.%d)" % (*os_version, *newest)
        )
    if is_dll:
        failures.append("the image is marked as a DLL")
    return failures


def check_image_flags(characteristics, stored_checksum, computed_checksum):
    """The run-from-swap flags, and a checksum that matches the bytes (so the post-link step that sets
    the flags did not leave a stale one behind)."""
    failures = []
    for flag in ("IMAGE_FILE_REMOVABLE_RUN_FROM_SWAP", "IMAGE_FILE_NET_RUN_FROM_SWAP"):
        if not characteristics & pefile.IMAGE_CHARACTERISTICS[flag]:
            failures.append(f"{flag} is not set: ejecting the medium could crash the running program")
    if stored_checksum != computed_checksum:
        failures.append(f"the image checksum is {stored_checksum:#x}, but the bytes give {computed_checksum:#x}")
    return failures


def post_xp_reason(dll, function):
    """Why a statically imported function keeps the program from starting on XP, or None."""
    if function in POST_XP_FUNCTIONS:
        return "not exported by Windows XP"
    for pattern, reason in POST_XP_PATTERNS:
        if pattern.search(function):
            return reason
    if dll == "msvcrt.dll" and (function.endswith("_s") or function in POST_XP_MSVCRT):
        return "not exported by XP's msvcrt.dll"
    return None


def check_imports(imports, kind="import", allowed_functions=()):
    """imports: {dll name: [function names, None for an import by ordinal]}; allowed_functions: names
    accepted even though they are newer than XP."""
    failures = []
    for dll, functions in sorted(imports.items()):
        name = dll.lower()
        if name not in LOADED_AT_START:
            failures.append(
                f"static {kind} of {dll}: not one of the DLLs that load at start ({', '.join(sorted(LOADED_AT_START))});"
                " load it at run time by full path where it is used"
            )
            continue
        for function in functions:
            if function is None:
                failures.append(f"static {kind} by ordinal from {dll}: its Windows version cannot be checked")
                continue
            reason = post_xp_reason(name, function)
            if reason and function not in allowed_functions:
                failures.append(f"static {kind} of {dll}!{function}: {reason} (look it up at run time)")
    return failures


def check_version(fixed, tables, translations, program="setup"):
    """fixed: (file version, product version) as 4-tuples or None; tables: {table key: {name: value}};
    translations: list of (language, code page)."""
    failures = []
    if fixed is None:
        return ["no version record"]
    file_version, product_version = fixed
    if tuple(file_version) != NUMERIC_VERSION:
        failures.append(f"numeric file version is {'.'.join(map(str, file_version))}, expected 1.0.0.0")
    if tuple(product_version) != NUMERIC_VERSION:
        failures.append(f"numeric product version is {'.'.join(map(str, product_version))}, expected 1.0.0.0")
    table = tables.get(VERSION_TABLE)
    if table is None:
        failures.append(f"no string table {VERSION_TABLE} in the version record (found: {sorted(tables)})")
    else:
        for key, expected in expected_version_strings(program).items():
            actual = table.get(key)
            if actual != expected:
                failures.append(f"version string {key} is {actual!r}, expected {expected!r}")
        if not table.get("FileDescription"):
            failures.append("version string FileDescription is missing or empty")
    if list(translations) != [VERSION_TRANSLATION]:
        shown = ", ".join(f"{lang:#06x}/{cp}" for lang, cp in translations) or "none"
        failures.append(f"version translation is {shown}, expected 0x0804/1200")
    return failures


def _local(tag):
    return tag.rsplit("}", 1)[-1]


def check_manifest(manifests):
    """manifests: {resource id: bytes} of the RT_MANIFEST resources."""
    if 1 not in manifests:
        return [f"no application manifest (RT_MANIFEST resource 1; found ids {sorted(manifests)})"]
    try:
        root = ElementTree.fromstring(manifests[1])
    except ElementTree.ParseError as error:
        return [f"the manifest is not well-formed XML: {error}"]
    failures = []
    elements = list(root.iter())
    levels = [e.attrib for e in elements if _local(e.tag) == "requestedExecutionLevel"]
    if not levels:
        failures.append("the manifest requests no execution level")
    elif levels[0].get("level") != "asInvoker" or levels[0].get("uiAccess", "false").lower() != "false":
        failures.append(f"the manifest's execution level is {levels[0]}, expected asInvoker without uiAccess")
    dependencies = [
        e.attrib
        for dependent in elements
        if _local(dependent.tag) == "dependentAssembly"
        for e in dependent
        if _local(e.tag) == "assemblyIdentity"
    ]
    controls = [d for d in dependencies if d.get("name") == COMMON_CONTROLS["name"]]
    if not controls:
        failures.append("the manifest has no dependency on the common controls")
    else:
        for key, expected in COMMON_CONTROLS.items():
            actual = controls[0].get(key)
            if (actual or "").lower() != expected.lower():
                failures.append(f"the common-controls dependency has {key}={actual!r}, expected {expected!r}")
    dpi = [e.text.strip().lower() for e in elements if _local(e.tag) == "dpiAware" and e.text]
    if dpi != ["true"]:
        shown = dpi or "nowhere"
        failures.append(f"the manifest declares dpiAware {shown}, expected true (system DPI aware)")
    return failures


def parse_resource_ids(header_text):
    return {name: int(value) for name, value in re.findall(r"#define\s+(ID[IR]_\w+)\s+(\d+)", header_text)}


def jpeg_size(data):
    """(width, height) from a JPEG's frame header, or None if data is no JPEG."""
    if data[:2] != b"\xff\xd8":
        return None
    position = 2
    while position + 4 <= len(data):
        if data[position] != 0xFF:
            return None
        marker = data[position + 1]
        length = int.from_bytes(data[position + 2 : position + 4], "big")
        if 0xC0 <= marker <= 0xCF and marker not in (0xC4, 0xC8, 0xCC):
            height = int.from_bytes(data[position + 5 : position + 7], "big")
            width = int.from_bytes(data[position + 7 : position + 9], "big")
            return width, height
        position += 2 + length
    return None


def check_pictures(resource_ids, icon_groups, icons, rcdata, program="setup"):
    """icon_groups: {id: [(width, height, bits per pixel, icon id)]}; icons: {id: bytes};
    rcdata: {id: bytes}."""
    failures = []
    _, wanted_groups, wanted_pictures = PROGRAMS[program]
    wanted_group_ids = {resource_ids.get(name) for name in wanted_groups}
    for group_id in sorted(set(icon_groups) - wanted_group_ids):
        failures.append(f"icon group {group_id} is not one of {program}.exe's own")
    wanted_picture_ids = {resource_ids.get(name) for name in wanted_pictures}
    # A shipped setup.exe also carries its payload list (see ARCHITECTURE.md, "The payload list").
    if program == "setup":
        wanted_picture_ids.add(resource_ids.get("IDR_PAYLOAD_LIST"))
    for picture_id in sorted(set(rcdata) - wanted_picture_ids):
        failures.append(f"RCDATA {picture_id} is not one of {program}.exe's own")
    for name, wanted in wanted_groups.items():
        if name not in resource_ids:
            failures.append(f"{name} is not defined in resource_ids.h")
            continue
        group = icon_groups.get(resource_ids[name])
        if group is None:
            failures.append(f"no icon group {resource_ids[name]} ({name})")
            continue
        formats = {(w, h, bits) for w, h, bits, _ in group}
        if formats != wanted:
            failures.append(f"icon group {name} holds {sorted(formats)}, expected {sorted(wanted)}")
        for _, _, _, icon_id in group:
            image = icons.get(icon_id)
            if image is None:
                failures.append(f"icon group {name} refers to the missing icon image {icon_id}")
            elif image[:4] != (40).to_bytes(4, "little"):
                failures.append(
                    f"icon image {icon_id} of {name} is not a BMP image (older Windows reads no PNG icons)"
                )
    for name, size in wanted_pictures.items():
        if name not in resource_ids:
            failures.append(f"{name} is not defined in resource_ids.h")
            continue
        data = rcdata.get(resource_ids[name])
        if data is None:
            failures.append(f"no RCDATA resource {resource_ids[name]} ({name})")
        elif jpeg_size(data) != size:
            found = jpeg_size(data) or "not a JPEG"
            failures.append(f"RCDATA {name} is {found}, expected a {size[0]}x{size[1]} JPEG")
    return failures


# Object identifiers of the digest algorithms an Authenticode signature may name.
DIGEST_ALGORITHMS = {
    "1.2.840.113549.2.5": "MD5",
    "1.3.14.3.2.26": "SHA-1",
    "2.16.840.1.101.3.4.2.1": "SHA-256",
    "2.16.840.1.101.3.4.2.2": "SHA-384",
    "2.16.840.1.101.3.4.2.3": "SHA-512",
}
WANTED_DIGEST = "SHA-256"


def check_signature_digests(digests, signed_required):
    """digests: {where in the signature: digest algorithm name}, empty for an unsigned file."""
    if not digests:
        return ["the file carries no Authenticode signature"] if signed_required else []
    return [f"the signature's {where} uses {name}, expected {WANTED_DIGEST}"
            for where, name in digests.items() if name != WANTED_DIGEST]


# ---------------------------------------------------------------------------------------------------
# Reading the image


def der_children(data, start=0, end=None):
    """(tag, content start, content end) of each DER element in data[start:end]."""
    end = len(data) if end is None else end
    while start < end:
        tag, length = data[start], data[start + 1]
        start += 2
        if length & 0x80:
            count = length & 0x7F
            length = int.from_bytes(data[start : start + count], "big")
            start += count
        yield tag, start, start + length
        start += length


def der_oid(data, start, end):
    first, *rest = data[start:end]
    parts, value = [first // 40, first % 40], 0
    for byte in rest:
        value = value << 7 | byte & 0x7F
        if not byte & 0x80:
            parts.append(value)
            value = 0
    return ".".join(map(str, parts))


def read_signature_digests(signature):
    """The digest algorithms of a PKCS#7 SignedData signature: the one of the program's digest (in the
    SpcIndirectDataContent), the signature's list and the signer's."""
    def children(start, end):
        return list(der_children(signature, start, end))

    def algorithm(identifier):
        _, start, end = identifier
        _, oid_start, oid_end = children(start, end)[0]
        oid = der_oid(signature, oid_start, oid_end)
        return DIGEST_ALGORITHMS.get(oid, oid)

    _, start, end = next(der_children(signature))  # ContentInfo; the table pads it to 8 bytes
    _, explicit = children(start, end)
    (_, start, end), = children(explicit[1], explicit[2])  # SignedData
    version, digest_algorithms, content, *rest = children(start, end)
    _, content_explicit = children(content[1], content[2])
    (_, start, end), = children(content_explicit[1], content_explicit[2])  # SpcIndirectDataContent
    _, digest_info = children(start, end)
    found = {"program digest": algorithm(children(digest_info[1], digest_info[2])[0])}
    for number, identifier in enumerate(children(digest_algorithms[1], digest_algorithms[2])):
        found[f"digest algorithm {number + 1}"] = algorithm(identifier)
    signer_infos = rest[-1]
    for number, (_, start, end) in enumerate(children(signer_infos[1], signer_infos[2])):
        found[f"signer {number + 1}"] = algorithm(children(start, end)[2])
    return found


def read_signature(pe):
    """The digest algorithms of the file's Authenticode signature, {} when it has none."""
    security = pe.OPTIONAL_HEADER.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    if not security.Size:
        return {}
    # The table is addressed by file offset: WIN_CERTIFICATE length, revision 2.0, PKCS#7 signed data.
    table = pe.__data__[security.VirtualAddress : security.VirtualAddress + security.Size]
    length = int.from_bytes(table[0:4], "little")
    if table[4:8] != b"\x00\x02\x02\x00" or length > len(table):
        return {"certificate table": "no PKCS#7 signature"}
    try:
        return read_signature_digests(bytes(table[8:length]))
    except (ValueError, IndexError):
        return {"PKCS#7 content": "unreadable"}


def read_imports(entries):
    imports = {}
    for entry in entries:
        dll = entry.dll.decode("ascii", "replace")
        names = [i.name.decode("ascii", "replace") if i.name else None for i in entry.imports]
        imports.setdefault(dll, []).extend(names)
    return imports


def read_version(pe):
    if not hasattr(pe, "VS_FIXEDFILEINFO"):
        return None, {}, []
    info = pe.VS_FIXEDFILEINFO[0]

    def split(ms, ls):
        return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    fixed = (
        split(info.FileVersionMS, info.FileVersionLS),
        split(info.ProductVersionMS, info.ProductVersionLS),
    )
    tables = {}
    translations = []
    for file_info in getattr(pe, "FileInfo", [[]])[0]:
        if file_info.Key == b"StringFileInfo":
            for table in file_info.StringTable:
                key = table.LangID.decode("ascii", "replace").lower()
                tables[key] = {k.decode("utf-8"): v.decode("utf-8") for k, v in table.entries.items()}
        elif file_info.Key == b"VarFileInfo":
            for var in file_info.Var:
                value = var.entry.get(b"Translation")
                if value:
                    words = [int(word, 16) for word in value.split()]
                    translations += list(zip(words[0::2], words[1::2]))
    return fixed, tables, translations


def read_resources(pe):
    """{resource type: {id: bytes}} for the first language of each named resource."""
    found = {}
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return found
    for kind in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for item in kind.directory.entries:
            if item.id is None:
                continue
            language = item.directory.entries[0]
            data = pe.get_data(language.data.struct.OffsetToData, language.data.struct.Size)
            found.setdefault(kind.id, {})[item.id] = data
    return found


def read_icon_groups(raw_groups):
    groups = {}
    for group_id, data in raw_groups.items():
        count = int.from_bytes(data[4:6], "little")
        entries = []
        for k in range(count):
            entry = data[6 + 14 * k : 20 + 14 * k]
            width = entry[0] or 256
            height = entry[1] or 256
            bits = int.from_bytes(entry[6:8], "little")
            icon_id = int.from_bytes(entry[12:14], "little")
            entries.append((width, height, bits, icon_id))
        groups[group_id] = entries
    return groups


def check_file(path, arch, resource_ids, allowed_functions=(), setup_resources=True, program="setup",
               signed_required=False):
    pe = pefile.PE(str(path))
    header = pe.OPTIONAL_HEADER
    failures = check_headers(
        arch,
        pe.FILE_HEADER.Machine,
        header.Magic,
        header.Subsystem,
        (header.MajorSubsystemVersion, header.MinorSubsystemVersion),
        (header.MajorOperatingSystemVersion, header.MinorOperatingSystemVersion),
        pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS["IMAGE_FILE_DLL"],
    )
    failures += check_image_flags(pe.FILE_HEADER.Characteristics, header.CheckSum, pe.generate_checksum())
    failures += check_signature_digests(read_signature(pe), signed_required)
    imports = read_imports(getattr(pe, "DIRECTORY_ENTRY_IMPORT", []))
    failures += check_imports(imports, "import", allowed_functions)
    failures += check_imports(read_imports(getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])), "delay import", allowed_functions)
    if not setup_resources:
        return failures, sorted(imports)
    failures += check_version(*read_version(pe), program=program)
    resources = read_resources(pe)
    failures += check_manifest(resources.get(RT_MANIFEST, {}))
    failures += check_pictures(
        resource_ids,
        read_icon_groups(resources.get(RT_GROUP_ICON, {})),
        resources.get(RT_ICON, {}),
        resources.get(RT_RCDATA, {}),
        program,
    )
    return failures, sorted(imports)


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("path", type=Path)
    parser.add_argument("--arch", required=True, choices=sorted(ARCHITECTURES))
    parser.add_argument("--allow-import", action="append", default=[], metavar="FUNCTION",
                        help="accept this post-XP function in the import table (for test builds)")
    parser.add_argument("--program", default="setup", choices=sorted(PROGRAMS),
                        help="which program of the product the file is (default: setup)")
    parser.add_argument("--headers-and-imports-only", action="store_true",
                        help="skip the version record, manifest and pictures of setup.exe (for the other"
                        " programs of the medium)")
    parser.add_argument("--signed", action="store_true", help="require an Authenticode signature")
    args = parser.parse_args(argv)

    try:
        size = args.path.stat().st_size
        resource_ids = parse_resource_ids(RESOURCE_IDS_HEADER.read_text(encoding="utf-8"))
        failures, loaded_at_start = check_file(args.path, args.arch, resource_ids, tuple(args.allow_import),
                              not args.headers_and_imports_only, args.program, args.signed)
    except (OSError, pefile.PEFormatError) as error:
        print(f"{args.path}: cannot check: {error}")
        return 2
    print(f"{args.path}: {size} bytes ({size / 1024:.1f} KiB), {args.arch}")
    print(f"DLLs that load at start: {', '.join(loaded_at_start)}")
    for failure in failures:
        print(f"FAIL: {failure}")
    print(f"{len(failures)} failure(s)" if failures else "all checks passed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
