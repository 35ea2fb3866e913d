#!/usr/bin/env python3
"""Checks the shipped form of atcmd.exe (a GUI program) or atcmd-trace.exe
(a console program) for the given architecture (x86: PE32 for i386; x64:
PE32+ for x86-64): version 1.1.1.10, a manifest for that architecture asking
for administrator rights, and imports from Windows system DLLs only (a static
runtime, nothing to ship beside it).

Usage: check_exe.py x86|x64 EXE. A missing file fails: `make test`
builds both Windows programs before it tests them."""
import fnmatch
import os
import sys
import xml.etree.ElementTree as ElementTree

VERSION = (1, 1, 1, 10)
VERSION_TEXT = "1.1.1.10"
RT_VERSION = 16
RT_MANIFEST = 24
CREATEPROCESS_MANIFEST_RESOURCE_ID = 1

SUPPORTED_OS = {
    "Windows 7": "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
    "Windows 8": "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}",
    "Windows 8.1": "{1f676c76-80e1-4239-95bb-83d0f6d0da78}",
    "Windows 10 and 11": "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}",
}

# Lower-case glob patterns. A MinGW runtime DLL (libstdc++-6.dll,
# libgcc_s_dw2-1.dll, libwinpthread-1.dll) or anything unknown fails.
SYSTEM_DLLS = [
    "kernel32.dll", "user32.dll", "advapi32.dll", "shlwapi.dll", "setupapi.dll",
    "shell32.dll", "ntdll.dll", "msvcrt.dll", "ucrtbase.dll",
    "api-ms-win-*.dll",
]


def Resource(pe, type_id, resource_id):
    """Bytes of the first language of one resource, or None."""
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return None
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id != type_id:
            continue
        for id_entry in type_entry.directory.entries:
            if id_entry.id == resource_id and id_entry.directory.entries:
                data = id_entry.directory.entries[0].data.struct
                return pe.get_data(data.OffsetToData, data.Size)
    return None


def Manifest(pe):
    text = Resource(pe, RT_MANIFEST, CREATEPROCESS_MANIFEST_RESOURCE_ID)
    return ElementTree.fromstring(text) if text else None


def ManifestElements(pe, local_name):
    manifest = Manifest(pe)
    if manifest is None:
        return []
    return [e for e in manifest.iter() if e.tag.rpartition("}")[2] == local_name]


def ExecutionLevel(pe, attribute):
    levels = ManifestElements(pe, "requestedExecutionLevel")
    return levels[0].get(attribute) if len(levels) == 1 else levels


def MissingOs(pe):
    listed = {e.get("Id", "").lower() for e in ManifestElements(pe, "supportedOS")}
    return [name for name, guid in SUPPORTED_OS.items() if guid not in listed]


def FixedVersion(pe, field):
    if not hasattr(pe, "VS_FIXEDFILEINFO"):
        return None
    info = pe.VS_FIXEDFILEINFO[0]
    ms, ls = getattr(info, field + "MS"), getattr(info, field + "LS")
    return (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def VersionString(pe, key):
    for info in getattr(pe, "FileInfo", [[]])[0]:
        for table in getattr(info, "StringTable", []):
            value = table.entries.get(key.encode())
            if value is not None:
                return value.decode()
    return None


def ImportedDlls(pe):
    tables = (getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) +
              getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", []))
    return sorted({entry.dll.decode().lower() for entry in tables})


def UnknownDlls(pe):
    return [dll for dll in ImportedDlls(pe)
            if not any(fnmatch.fnmatchcase(dll, p) for p in SYSTEM_DLLS)]


# Per architecture: optional header magic, machine, manifest architecture.
ARCHITECTURES = {
    "x86": {"header": ("PE32", 0x10B), "machine": ("i386", 0x14C), "manifest": "x86"},
    "x64": {"header": ("PE32+", 0x20B), "machine": ("x86-64", 0x8664), "manifest": "amd64"},
}


def ManifestArchitecture(pe):
    identities = ManifestElements(pe, "assemblyIdentity")
    return identities[0].get("processorArchitecture") if len(identities) == 1 else identities


def ArchitectureChecks(arch):
    """(what, actual, expected) rows that depend on the architecture."""
    expected = ARCHITECTURES[arch]
    header, machine = expected["header"], expected["machine"]
    return [
        (header[0] + " optional header", lambda pe: pe.OPTIONAL_HEADER.Magic, header[1]),
        ("machine " + machine[0], lambda pe: pe.FILE_HEADER.Machine, machine[1]),
        ("manifest processorArchitecture", ManifestArchitecture, expected["manifest"]),
    ]


# Per program: its subsystem. atcmd opens no console; atcmd-trace writes to one.
SUBSYSTEMS = {
    "atcmd.exe": ("Windows GUI", 2),
    "atcmd-trace.exe": ("Windows console", 3),
}


def ProgramChecks(name):
    """(what, actual, expected) rows that depend on the program."""
    subsystem = SUBSYSTEMS[name]
    return [
        ("subsystem " + subsystem[0], lambda pe: pe.OPTIONAL_HEADER.Subsystem, subsystem[1]),
        ("string OriginalFilename", lambda pe: VersionString(pe, "OriginalFilename"), name),
    ]


# (what, actual, expected)
CHECKS = [
    ("fixed file version", lambda pe: FixedVersion(pe, "FileVersion"), VERSION),
    ("fixed product version", lambda pe: FixedVersion(pe, "ProductVersion"), VERSION),
    ("string FileVersion", lambda pe: VersionString(pe, "FileVersion"), VERSION_TEXT),
    ("string ProductVersion", lambda pe: VersionString(pe, "ProductVersion"), VERSION_TEXT),
    ("string ProductName", lambda pe: VersionString(pe, "ProductName"), "atcmd"),
    ("manifest execution level", lambda pe: ExecutionLevel(pe, "level"), "requireAdministrator"),
    ("manifest uiAccess", lambda pe: ExecutionLevel(pe, "uiAccess"), "false"),
    ("manifest supportedOS entries missing", MissingOs, []),
    ("imports outside the Windows system DLLs", UnknownDlls, []),
]


def Show(value):
    return hex(value) if isinstance(value, int) else repr(value)


def Main(arch, path):
    if not os.path.isfile(path):
        print(f"{path} not built (make win32 win64 builds it)")
        return 1
    try:
        import pefile
    except ImportError:
        print("python module pefile missing (Debian: python3-pefile)")
        return 1
    pe = pefile.PE(path)
    failures = 0
    checks = ArchitectureChecks(arch) + ProgramChecks(os.path.basename(path)) + CHECKS
    for what, actual_of, expected in checks:
        try:
            actual = actual_of(pe)
        except Exception as error:  # a malformed resource is a failed check
            actual = f"error: {error!r}"
        ok = actual == expected
        failures += not ok
        print(f"{'ok  ' if ok else 'FAIL'} {what}: {Show(actual)}"
              + ("" if ok else f" (expected {Show(expected)})"))
    print("imports:", ", ".join(ImportedDlls(pe)))
    return 1 if failures else 0


if __name__ == "__main__":
    if (len(sys.argv) != 3 or sys.argv[1] not in ARCHITECTURES
            or os.path.basename(sys.argv[2]) not in SUBSYSTEMS):
        sys.exit(__doc__)
    sys.exit(Main(sys.argv[1], sys.argv[2]))
