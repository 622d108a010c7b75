#!/usr/bin/env python3
"""Reads parts of a PE image for exe_headers.sh.

  pe_image.py code EXE
      prints "START STOP" (hex addresses): the code of .text, which ends
      where the constructor and destructor lists that the linker's default
      script puts at the end of .text begin (each: -1, pointers into
      .text, 0).  Fails when the lists are not found there.
  pe_image.py resources EXE [VERSION]
      checks the application manifest (RT_MANIFEST 1) and the version
      resource, printing one "ok: ..." or "FAIL: ..." line per point and
      "version: ..." last; VERSION, when given, is the build's version.
      Exit 1 when a point failed.
"""
import struct
import sys
import xml.dom.minidom
import xml.etree.ElementTree as ET

RT_VERSION, RT_MANIFEST = 16, 24
ASM_V1 = "urn:schemas-microsoft-com:asm.v1"
TRUST_NAMESPACES = ("urn:schemas-microsoft-com:asm.v3", "urn:schemas-microsoft-com:asm.v2")
COMPAT_V1 = "urn:schemas-microsoft-com:compatibility.v1"
SUPPORTED_OS = {
    "{e2011457-1546-43c5-a5fe-008deee3d3f0}": "Vista",
    "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}": "7",
    "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}": "8",
    "{1f676c76-80e1-4239-95bb-83d0f6d0da78}": "8.1",
    "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}": "10/11",
}


class Image:
    def __init__(self, path):
        self.data = open(path, "rb").read()
        d = self.data
        if d[:2] != b"MZ":
            raise ValueError("not an MZ image")
        pe = struct.unpack_from("<I", d, 60)[0]
        if d[pe:pe + 4] != b"PE\0\0":
            raise ValueError("not a PE image")
        count, optional_size = struct.unpack_from("<H", d, pe + 6)[0], struct.unpack_from("<H", d, pe + 20)[0]
        optional = pe + 24
        magic = struct.unpack_from("<H", d, optional)[0]
        self.base = struct.unpack_from("<I" if magic == 0x10B else "<Q", d, optional + (28 if magic == 0x10B else 24))[0]
        directories = optional + (96 if magic == 0x10B else 112)
        self.resource_rva = struct.unpack_from("<I", d, directories + 2 * 8)[0]
        self.sections = []
        table = optional + optional_size
        for i in range(count):
            name, vsize, rva, rsize, raw = struct.unpack_from("<8sIIII", d, table + 40 * i)
            self.sections.append((name.rstrip(b"\0").decode(), vsize, rva, rsize, raw))

    def section(self, name):
        for s in self.sections:
            if s[0] == name:
                return s
        raise ValueError(f"no {name} section")

    def at_rva(self, rva, size):
        for _, vsize, start, rsize, raw in self.sections:
            if start <= rva and rva + size <= start + max(vsize, rsize):
                return self.data[raw + rva - start: raw + rva - start + size]
        raise ValueError(f"RVA {rva:#x} outside the sections")


def code_range(image):
    """The addresses of .text before its constructor and destructor lists
    (a PE32 image: four-byte pointers)."""
    _, vsize, rva, _, raw = image.section(".text")
    text = image.data[raw: raw + vsize]
    start, stop = image.base + rva, image.base + rva + vsize
    words = [struct.unpack_from("<I", text, o)[0] for o in range(0, vsize - vsize % 4, 4)]
    end = len(words)
    for _ in ("destructors", "constructors"):  # read backwards: 0, pointers, -1
        if end == 0 or words[end - 1] != 0:
            raise ValueError("no constructor lists at the end of .text")
        end -= 1
        while end > 0 and words[end - 1] != 0xFFFFFFFF:
            if not start <= words[end - 1] < stop:
                raise ValueError(f"constructor list entry {words[end - 1]:#x} outside .text")
            end -= 1
        if end == 0:
            raise ValueError("constructor list without its -1")
        end -= 1
    return start, image.base + rva + 4 * end


def resources(image):
    """{(type, id): bytes} of the first language of each resource."""
    found = {}
    base = image.resource_rva

    def directory(offset, path):
        named, ids = struct.unpack_from("<HH", image.at_rva(base + offset, 16), 12)
        for i in range(named + ids):
            name, target = struct.unpack("<II", image.at_rva(base + offset + 16 + 8 * i, 8))
            if target & 0x80000000:
                directory(target & 0x7FFFFFFF, path + [name])
            else:
                rva, size = struct.unpack("<II", image.at_rva(base + target, 8))
                found.setdefault(tuple(path[:2]), image.at_rva(rva, size))

    if base:
        directory(0, [])
    return found


def check_manifest(text, report):
    """The manifest's points, each reported."""
    raw = xml.dom.minidom.parseString(text)
    declared_twice = []

    def walk(node, in_scope):
        own = [v for k, v in node.attributes.items() if k == "xmlns" or k.startswith("xmlns:")]
        if len(own) > 1 or any(uri in in_scope for uri in own):
            declared_twice.append(node.tagName)
        for child in node.childNodes:
            if child.nodeType == child.ELEMENT_NODE:
                walk(child, in_scope | set(own))

    walk(raw.documentElement, set())
    report(not declared_twice, "one namespace declaration per element, none repeated in scope"
           + (f" (not so: {', '.join(declared_twice)})" if declared_twice else ""))

    root = ET.fromstring(text)
    report(root.tag == f"{{{ASM_V1}}}assembly" and root.get("manifestVersion") == "1.0",
           f"root element assembly in asm.v1, manifestVersion 1.0 (got {root.tag})")
    trust = [e for e in root if e.tag.endswith("}trustInfo")]
    trust_ns = trust[0].tag[1:].split("}")[0] if trust else "none"
    report(len(trust) == 1 and trust_ns in TRUST_NAMESPACES, f"trustInfo in {trust_ns}")
    levels = [e for t in trust for e in t.iter() if e.tag == f"{{{trust_ns}}}requestedExecutionLevel"]
    path_ok = bool(trust) and trust[0].find(
        f"{{{trust_ns}}}security/{{{trust_ns}}}requestedPrivileges/{{{trust_ns}}}requestedExecutionLevel") is not None
    got = [(e.get("level"), e.get("uiAccess")) for e in levels]
    report(path_ok and got == [("requireAdministrator", "false")],
           f"requestedExecutionLevel level=requireAdministrator uiAccess=false (got {got})")
    ids = [e.get("Id") for e in root.iter(f"{{{COMPAT_V1}}}supportedOS")]
    names = [SUPPORTED_OS.get((i or "").lower(), i) for i in ids]
    report(sorted(ids) == sorted(SUPPORTED_OS) and
           root.find(f"{{{COMPAT_V1}}}compatibility/{{{COMPAT_V1}}}application") is not None,
           f"supportedOS: {' '.join(names)}")
    dependencies = [e.tag for e in root.iter() if e.tag.split("}")[-1] in ("dependency", "dependentAssembly")]
    report(not dependencies, "no dependency on other assemblies" + (f" (found {dependencies})" if dependencies else ""))


def version_strings(block):
    """The string table of a VS_VERSIONINFO: {name: value}, and the fixed
    file version as a dotted text."""
    def node(offset):
        length, value_length, kind = struct.unpack_from("<HHH", block, offset)
        key_end = block.index(b"\0\0", offset + 6)
        while (key_end - offset) % 2:
            key_end = block.index(b"\0\0", key_end + 1)
        key = block[offset + 6: key_end].decode("utf-16-le")
        value = (key_end + 2 + 3) & ~3
        return length, value_length, kind, key, value

    length, value_length, _, key, value = node(0)
    if key != "VS_VERSION_INFO" or value_length < 52:
        raise ValueError("no VS_VERSION_INFO")
    signature, _, ms, ls = struct.unpack_from("<IIII", block, value)
    if signature != 0xFEEF04BD:
        raise ValueError("no VS_FIXEDFILEINFO")
    fixed = f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"
    strings = {}

    def children(start, end, depth):
        offset = start
        while offset + 6 <= end:
            size, vlen, kind, name, data = node(offset)
            if size == 0:
                break
            if depth == 2:  # a String: its value is UTF-16 text
                strings[name] = block[data: data + 2 * vlen].decode("utf-16-le").rstrip("\0")
            else:
                children(data if kind == 0 and vlen == 0 else data + vlen, offset + size, depth + 1)
            offset = (offset + size + 3) & ~3

    children((value + value_length + 3) & ~3, length, 0)
    return strings, fixed


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("code", "resources"):
        print(__doc__.strip(), file=sys.stderr)
        return 2
    try:
        image = Image(sys.argv[2])
        if sys.argv[1] == "code":
            start, stop = code_range(image)
            print(f"{start:#x} {stop:#x}")
            return 0
        found = resources(image)
    except (ValueError, struct.error) as e:
        print(f"FAIL: {e}")
        return 1
    failures = []

    def report(ok, what):
        print(("ok: " if ok else "FAIL: ") + what)
        if not ok:
            failures.append(what)

    manifest = found.get((RT_MANIFEST, 1))
    report(manifest is not None, "manifest: RT_MANIFEST resource 1")
    if manifest is not None:
        try:
            check_manifest(manifest, report)
        except Exception as e:  # not XML, or not of the shape looked for
            report(False, f"manifest does not parse: {e}")
    block = found.get((RT_VERSION, 1))
    report(block is not None, "version resource: RT_VERSION 1")
    if block is not None:
        strings, fixed = version_strings(block)
        want = {"FileDescription": "Varentel Installation", "OriginalFilename": "VARSETUP.EXE",
                "InternalName": "VARSETUP.EXE", "ProductName": "Korvix-Studio",
                "CompanyName": "Varentel GmbH", "FileVersion": fixed, "ProductVersion": fixed}
        for name, value in want.items():
            report(strings.get(name) == value, f"{name} \"{strings.get(name)}\"")
        if len(sys.argv) > 3:
            report(fixed == sys.argv[3], f"version {fixed} is the build's ({sys.argv[3]})")
        print(f"version: {fixed}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
