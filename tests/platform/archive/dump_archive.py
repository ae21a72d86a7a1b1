#!/usr/bin/env python3
"""Reads a keyed archive with plistlib alone and prints its object graph as JSON.

Usage: dump_archive.py ARCHIVE_FILE

Checks the layout that the platform's keyed unarchiver relies on ("$archiver", "$version",
"$top" with "root", "$objects" starting with "$null", class records with "$classname" and
"$classes", objects with "$class") and prints {"root": graph, "duplicateStrings": [...]}:
objects become dictionaries with "$class" (the class chain) and their members, with references
followed; inline strings, numbers and Booleans stay themselves; data becomes {"$data": hex}.
"""
import json
import plistlib
import sys
from plistlib import UID


def fail(message):
    print(message, file=sys.stderr)
    sys.exit(1)


def main():
    with open(sys.argv[1], "rb") as handle:
        raw = handle.read()
    if not raw.startswith(b"bplist00"):
        fail("not a binary property list")
    archive = plistlib.loads(raw, fmt=plistlib.FMT_BINARY)
    if archive.get("$archiver") != "NSKeyedArchiver":
        fail("bad $archiver")
    if archive.get("$version") != 100000:
        fail("bad $version")
    objects = archive["$objects"]
    if objects[0] != "$null":
        fail("$objects does not start with $null")
    root = archive["$top"]["root"]
    if not isinstance(root, UID):
        fail("root is not a UID")

    def resolve(value, depth=0):
        if depth > 64:
            fail("too deep")
        if isinstance(value, UID):
            if value.data == 0:
                return None
            target = objects[value.data]
            if isinstance(target, dict):
                record = objects[target["$class"].data]
                if record["$classes"][0] != record["$classname"]:
                    fail("class chain does not start with the class name")
                if record["$classes"][-1] != "NSObject":
                    fail("class chain does not end with NSObject")
                out = {"$class": record["$classes"]}
                for key, member in target.items():
                    if key != "$class":
                        out[key] = resolve(member, depth + 1)
                return out
            return resolve(target, depth + 1)
        if isinstance(value, list):
            return [resolve(item, depth + 1) for item in value]
        if isinstance(value, bytes):
            return {"$data": value.hex()}
        return value

    strings = [value for value in objects[1:] if isinstance(value, str)]
    duplicates = sorted({s for s in strings if strings.count(s) > 1})
    print(json.dumps({"root": resolve(root), "duplicateStrings": duplicates}, sort_keys=True))


if __name__ == "__main__":
    main()
