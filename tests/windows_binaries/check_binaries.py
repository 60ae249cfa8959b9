#!/usr/bin/env python3
"""Checks the Windows deliverables of one build without running them, so that
every host can check both architectures, including hosts that cannot execute
32-bit code.

  check_binaries.py BIN_DIR x86|x64 PRODUCT_VERSION

For each deliverable: the PE machine type; the exports, undecorated and
exactly the names of the module's .def file; imports from Windows' own DLLs
and ours only (a missing mingw runtime DLL fails silently under Wine); a version
resource whose fixed and string versions agree, with the product version of
the release; and for the COM servers an embedded type library.
Prints one line per check and exits non-zero when any fails.
"""
import os
import re
import struct
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))

MACHINES = {"x86": 0x014C, "x64": 0x8664}
DEF_FILES = {
    "Vorlex.dll": "reader/Vorlex.def",
    "NorvikMSRSO.dll": "ServiceObject/com/NorvikMSRSO.def",
    "NorvikMSRControl.dll": "control/NorvikMSRControl.def",
}
TYPELIB_MODULES = ("NorvikMSRSO.dll", "NorvikMSRControl.dll")
DELIVERABLES = ("Vorlex.dll", "NorvikMSRSO.dll", "NorvikMSRControl.dll", "SwipeBench.exe")
# What every supported Windows has; anything else would have to ship beside us.
WINDOWS_DLLS = {
    "advapi32.dll", "comctl32.dll", "comdlg32.dll", "gdi32.dll", "hid.dll", "kernel32.dll",
    "msvcrt.dll", "ole32.dll", "oleaut32.dll", "setupapi.dll", "shell32.dll", "shlwapi.dll",
    "user32.dll", "uuid.dll", "version.dll", "ws2_32.dll", "bcrypt.dll", "cfgmgr32.dll",
    "newdev.dll", "ntdll.dll",
}
OUR_DLLS = {"vorlex.dll"}  # shipped beside the service object
RT_VERSION = 16


class PeImage:
    def __init__(self, path):
        with open(path, "rb") as f:
            self.data = f.read()
        if self.data[:2] != b"MZ":
            raise ValueError("not a PE image")
        pe = struct.unpack_from("<I", self.data, 0x3C)[0]
        if self.data[pe:pe + 4] != b"PE\0\0":
            raise ValueError("no PE signature")
        self.machine, sections = struct.unpack_from("<HH", self.data, pe + 4)
        optional_size = struct.unpack_from("<H", self.data, pe + 20)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", self.data, optional)[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.directories = [struct.unpack_from("<II", self.data, directories + 8 * i) for i in range(16)]
        self.sections = []
        table = optional + optional_size
        for i in range(sections):
            vsize, vaddr, rsize, raddr = struct.unpack_from("<IIII", self.data, table + 40 * i + 8)
            self.sections.append((vaddr, max(vsize, rsize), raddr))

    def offset(self, rva):
        for vaddr, size, raddr in self.sections:
            if vaddr <= rva < vaddr + size:
                return raddr + rva - vaddr
        raise ValueError("address 0x%x is in no section" % rva)

    def cstring(self, rva):
        start = self.offset(rva)
        return self.data[start:self.data.index(b"\0", start)].decode("ascii", "replace")

    def exports(self):
        rva, size = self.directories[0]
        if not size:
            return []
        base = self.offset(rva)
        count = struct.unpack_from("<I", self.data, base + 24)[0]   # NumberOfNames
        names = struct.unpack_from("<I", self.data, base + 32)[0]   # AddressOfNames
        return [self.cstring(struct.unpack_from("<I", self.data, self.offset(names) + 4 * i)[0]) for i in range(count)]

    def imports(self):
        rva, size = self.directories[1]
        result = []
        entry = self.offset(rva) if size else None
        while entry is not None:
            name = struct.unpack_from("<I", self.data, entry + 12)[0]
            if not name:
                break
            result.append(self.cstring(name))
            entry += 20
        return result

    def resources(self):
        """{(type, name): data} for the first language of each resource; names are ints or strings."""
        rva, size = self.directories[2]
        if not size:
            return {}
        root = self.offset(rva)

        def entries(directory):
            named, numbered = struct.unpack_from("<HH", self.data, directory + 12)
            for i in range(named + numbered):
                ident, target = struct.unpack_from("<II", self.data, directory + 16 + 8 * i)
                if ident & 0x80000000:
                    at = root + (ident & 0x7FFFFFFF)
                    length = struct.unpack_from("<H", self.data, at)[0]
                    ident = self.data[at + 2:at + 2 + 2 * length].decode("utf-16-le")
                yield ident, target

        found = {}
        for rtype, names in entries(root):
            for name, languages in entries(root + (names & 0x7FFFFFFF)):
                _, leaf = next(entries(root + (languages & 0x7FFFFFFF)))
                data_rva, data_size = struct.unpack_from("<II", self.data, root + leaf)
                start = self.offset(data_rva)
                found[(rtype, name)] = self.data[start:start + data_size]
        return found


def def_exports(relative):
    names = []
    with open(os.path.join(ROOT, relative)) as f:
        in_exports = False
        for line in f:
            line = line.split(";")[0].strip()
            if line.upper() == "EXPORTS":
                in_exports = True
            elif in_exports and line:
                names.append(line.split()[0])
    return names


def version_info(block):
    """(fixed file, fixed product, string FileVersion, string ProductVersion) of a VS_VERSIONINFO."""
    signature = block.find(struct.pack("<I", 0xFEEF04BD))
    if signature < 0:
        return None
    ms_file, ls_file, ms_product, ls_product = struct.unpack_from("<IIII", block, signature + 8)
    quad = lambda ms, ls: "%d.%d.%d.%d" % (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)

    def string_value(key):
        pattern = (key + "\0").encode("utf-16-le")
        at = block.find(pattern)
        if at < 0:
            return None
        at += len(pattern)
        at += (4 - at % 4) % 4  # the value starts on a 32-bit boundary
        end = at
        while block[end:end + 2] != b"\0\0":
            end += 2
        return block[at:end].decode("utf-16-le")

    return (quad(ms_file, ls_file), quad(ms_product, ls_product),
            string_value("FileVersion"), string_value("ProductVersion"))


def main():
    if len(sys.argv) != 4 or sys.argv[2] not in MACHINES:
        print(__doc__.strip().splitlines()[3].strip(), file=sys.stderr)
        return 2
    bin_dir, arch, product_version = sys.argv[1:]
    failures = 0

    def check(what, ok, detail=""):
        nonlocal failures
        print("  %s  %s: %s%s" % ("ok  " if ok else "FAIL", arch, what, "" if ok else " (%s)" % detail))
        failures += 0 if ok else 1

    for module in DELIVERABLES:
        path = os.path.join(bin_dir, module)
        if not os.path.isfile(path):
            check(module + " is built", False, "missing in " + bin_dir)
            continue
        try:
            image = PeImage(path)
        except (ValueError, struct.error) as error:
            check(module + " is a PE image", False, str(error))
            continue
        check("%s is a %s image" % (module, arch), image.machine == MACHINES[arch], "machine 0x%04x" % image.machine)
        if module in DEF_FILES:
            expected = sorted(def_exports(DEF_FILES[module]))
            actual = sorted(image.exports())
            check("%s exports exactly the %d undecorated names of %s" % (module, len(expected), DEF_FILES[module]),
                  actual == expected, "exports %s" % actual)
        foreign = [dll for dll in image.imports() if dll.lower() not in WINDOWS_DLLS | OUR_DLLS]
        check(module + " needs no DLL beyond Windows' own and ours", not foreign, "imports " + ", ".join(foreign))
        resources = image.resources()
        version = next((data for (rtype, _), data in resources.items() if rtype == RT_VERSION), None)
        info = version_info(version) if version else None
        if info is None:
            check(module + " has a version resource", False, "none found")
        else:
            fixed_file, fixed_product, string_file, string_product = info
            check("%s version resource agrees (file %s, product %s)" % (module, fixed_file, fixed_product),
                  fixed_file == string_file and fixed_product == string_product == product_version,
                  "strings %s/%s, release %s" % (string_file, string_product, product_version))
        if module in TYPELIB_MODULES:
            typelib = next((data for (rtype, _), data in resources.items() if rtype == "TYPELIB"), b"")
            check(module + " embeds its type library", typelib[:4] == b"MSFT", "no MSFT TYPELIB resource")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
