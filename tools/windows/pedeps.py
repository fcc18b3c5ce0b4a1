#!/usr/bin/python3
"""The DLLs that Windows programs load besides the system's, read from their PE import tables.

  pedeps.py --system LIST --search DIR [--search DIR ...] FILE ...

Prints the path of every DLL that the FILEs import, directly or through each other, found in
the first search directory that has it. System DLLs are never followed: the names in LIST (one a
line, # comments) and the API sets. Fails, naming the importer, on any other import not found.
"""
import argparse
import os
import sys

import pefile


def imported_names(path):
    pe = pefile.PE(path, fast_load=True)
    pe.parse_data_directories(directories=[
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_IMPORT"],
        pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_DELAY_IMPORT"],
    ])
    entries = getattr(pe, "DIRECTORY_ENTRY_IMPORT", []) + getattr(pe, "DIRECTORY_ENTRY_DELAY_IMPORT", [])
    return [entry.dll.decode("ascii") for entry in entries]


def read_system_list(path):
    with open(path, encoding="utf-8") as f:
        return {line.split("#")[0].strip().lower() for line in f} - {""}


def is_system(name, system):
    lower = name.lower()
    return lower in system or lower.startswith(("api-ms-win-", "ext-ms-win-"))


def find(name, search):
    # Windows file names are case-insensitive; the build machine's are not.
    for directory in search:
        for entry in os.listdir(directory):
            if entry.lower() == name.lower():
                return os.path.join(directory, entry)
    return None


def closure(files, search, system):
    found, missing, queue, seen = [], [], list(files), set()
    while queue:
        importer = queue.pop(0)
        for name in imported_names(importer):
            if name.lower() in seen:
                continue
            seen.add(name.lower())
            if is_system(name, system):
                continue
            path = find(name, search)
            if path:
                found.append(path)
                queue.append(path)
            else:
                missing.append(f"{name} (imported by {os.path.basename(importer)})")
    return found, missing


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--system", required=True)
    parser.add_argument("--search", action="append", default=[])
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    found, missing = closure(args.files, args.search, read_system_list(args.system))
    if missing:
        print("not found and not a system DLL: " + ", ".join(missing), file=sys.stderr)
        return 1
    print("\n".join(found))
    return 0


if __name__ == "__main__":
    sys.exit(main())
