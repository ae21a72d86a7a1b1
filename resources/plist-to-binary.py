#!/usr/bin/env python3
"""Converts a property list (XML or binary) to the binary format: plist-to-binary.py IN OUT."""
import plistlib
import sys

with open(sys.argv[1], "rb") as source:
    value = plistlib.load(source)
with open(sys.argv[2], "wb") as target:
    plistlib.dump(value, target, fmt=plistlib.FMT_BINARY, sort_keys=False)
