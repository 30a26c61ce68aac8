#!/usr/bin/python3
"""What the built executables weigh, and where the bytes go.

Usage: sizes.py EXE_32 EXE_64 OUT_JSON

For each file: its size; the headers; each section's bytes in the file and
how many of them it uses (its virtual size, capped at the file bytes: the
rest is padding to the file alignment); each resource's data size; and the
resource section's own directory (what it takes beside the data).
"""

import json
import sys

import pefile


def resource_type_name(type_id):
    names = {v: k[3:] for k, v in pefile.RESOURCE_TYPE.items() if isinstance(k, str) and k.startswith("RT_")}
    return names.get(type_id, str(type_id))


def measure(path):
    pe = pefile.PE(path, fast_load=False)
    with open(path, "rb") as f:
        size = len(f.read())
    sections = []
    for s in pe.sections:
        raw = s.SizeOfRawData
        sections.append({
            "name": s.Name.rstrip(b"\0").decode("ascii", "replace"),
            "file_bytes": raw,
            "used_bytes": min(s.Misc_VirtualSize, raw),
        })
    resources = []
    data_total = 0
    if hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        for rtype in pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for entry in rtype.directory.entries:
                for lang in entry.directory.entries:
                    length = lang.data.struct.Size
                    data_total += length
                    resources.append({
                        "type": resource_type_name(rtype.id) if rtype.name is None else str(rtype.name),
                        "id": entry.id if entry.name is None else str(entry.name),
                        "language": lang.id,
                        "bytes": length,
                    })
    rsrc = next((s for s in sections if s["name"] == ".rsrc"), None)
    directory = None
    if rsrc is not None:
        directory = rsrc["used_bytes"] - data_total
    return {
        "path": str(path),
        "machine": "x86-64" if pe.FILE_HEADER.Machine == 0x8664 else "i386",
        "file_bytes": size,
        "headers": pe.OPTIONAL_HEADER.SizeOfHeaders,
        "file_alignment": pe.OPTIONAL_HEADER.FileAlignment,
        "sections": sections,
        "resources": resources,
        "resource_directory_bytes": directory,
    }


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    result = {"exe32": measure(argv[1]), "exe64": measure(argv[2])}
    with open(argv[3], "w") as f:
        json.dump(result, f, indent=1)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
