#!/usr/bin/env python3
"""Writes keyed archives built independently of the codec under test.

Usage: make_archives.py OUTPUT_DIRECTORY

Each archive is assembled by hand as the platform's keyed archiver lays it out (a binary
property list with "$archiver", "$version", "$top" and "$objects", UIDs as references) and
written with plistlib, so that the C++ decoder is checked against the format itself.
"""
import os
import plistlib
import sys
import uuid
from plistlib import UID


class Archive:
    def __init__(self):
        self.objects = ["$null"]
        self.class_records = {}

    def add(self, value):
        self.objects.append(value)
        return UID(len(self.objects) - 1)

    def reserve(self):
        return self.add(None)

    def put(self, uid, value):
        self.objects[uid.data] = value

    def class_record(self, *chain):
        name = chain[0]
        if name not in self.class_records:
            self.class_records[name] = self.add({"$classes": list(chain), "$classname": name})
        return self.class_records[name]

    def object(self, chain, **fields):
        fields["$class"] = self.class_record(*chain)
        return self.add(fields)

    def string(self, text):
        # The platform shares equal strings; so do we.
        for index, value in enumerate(self.objects):
            if index > 0 and type(value) is str and value == text:
                return UID(index)
        return self.add(text)

    def array(self, uids, chain=("NSArray", "NSObject")):
        return self.object(chain, **{"NS.objects": list(uids)})

    def dictionary(self, pairs, chain=("NSDictionary", "NSObject")):
        return self.object(chain, **{"NS.keys": [k for k, _ in pairs],
                                     "NS.objects": [v for _, v in pairs]})

    def url(self, relative, base=UID(0)):
        return self.object(("NSURL", "NSObject"),
                           **{"NS.base": base, "NS.relative": self.string(relative)})

    def error(self, domain, code, info=None):
        return self.object(("NSError", "NSObject"),
                           NSCode=code, NSDomain=self.string(domain),
                           NSUserInfo=info if info is not None else UID(0))

    def data(self, root, version=100000, archiver="NSKeyedArchiver", fmt=plistlib.FMT_BINARY):
        top = {"$version": version, "$archiver": archiver, "$top": {"root": root},
               "$objects": self.objects}
        return plistlib.dumps(top, fmt=fmt, sort_keys=False)


FIXED_UUID = uuid.UUID("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0")


def standard_classes():
    a = Archive()
    root = a.reserve()
    pairs = []

    def entry(key, uid):
        pairs.append((a.string(key), uid))

    entry("string", a.string("hello ✓"))
    entry("integer", a.add(-42))
    entry("large", a.add(2**40))
    entry("real", a.add(2.5))
    entry("bool", a.add(True))
    entry("data", a.add(b"\x00\x01\xff"))
    entry("date", a.object(("NSDate", "NSObject"), **{"NS.time": 1000.5}))
    entry("uuid", a.object(("NSUUID", "NSObject"), **{"NS.uuidbytes": FIXED_UUID.bytes}))
    entry("url", a.url("file:///tmp/a%20b"))
    entry("relativeURL", a.url("sub/file", base=a.url("file:///tmp/dir/")))
    entry("array", a.array([a.string("a"), a.string("b")]))
    entry("mutableArray", a.array([a.add(1)], chain=("NSMutableArray", "NSArray", "NSObject")))
    entry("set", a.object(("NSSet", "NSObject"), **{"NS.objects": [a.add(7), a.add(8)]}))
    entry("null", a.object(("NSNull", "NSObject")))
    entry("mutableString", a.object(("NSMutableString", "NSString", "NSObject"),
                                    **{"NS.string": "mutable"}))
    underlying = a.error("NSPOSIXErrorDomain", 2)
    info = a.dictionary([(a.string("NSFilePath"), a.string("/tmp/x")),
                         (a.string("NSUnderlyingError"), underlying)],
                        chain=("NSMutableDictionary", "NSDictionary", "NSObject"))
    entry("error", a.error("NSCocoaErrorDomain", 4, info))
    a.put(root, {"NS.keys": [k for k, _ in pairs], "NS.objects": [v for _, v in pairs],
                 "$class": a.class_record("NSDictionary", "NSObject")})
    return a.data(root)


def task(a=None):
    a = a or Archive()
    root = a.reserve()
    fields = {
        "uuid": a.object(("NSUUID", "NSObject"), **{"NS.uuidbytes": FIXED_UUID.bytes}),
        "url": a.url("file:///private/tmp/target"),
        "name": a.string("cleanup"),
        "timeout": 30.0,
        "flag": True,
        "depth": 5,
        "items": a.array([a.string("x"), a.string("y")]),
        "date": a.object(("NSDate", "NSObject"), **{"NS.time": -1.25}),
        "$class": a.class_record("TestTask", "TestBaseTask", "NSObject"),
    }
    a.put(root, fields)
    return a, root


def malformed():
    out = {}

    a = Archive()
    first, second = a.reserve(), a.reserve()
    a.put(first, {"NS.objects": [second], "$class": a.class_record("NSArray", "NSObject")})
    a.put(second, {"NS.objects": [first], "$class": a.class_record("NSArray", "NSObject")})
    out["cycle"] = a.data(first)

    a = Archive()
    itself = a.reserve()
    a.put(itself, {"NS.objects": [itself], "$class": a.class_record("NSArray", "NSObject")})
    out["self-reference"] = a.data(itself)

    a = Archive()
    out["uid-out-of-range"] = a.data(a.array([UID(99)]))

    a = Archive()
    out["root-out-of-range"] = a.data(UID(42))

    a = Archive()
    out["missing-class"] = a.data(a.add({"NS.objects": []}))

    a = Archive()
    record = a.add({"$classes": ["NSArray", "NSObject"]})
    out["class-record-without-name"] = a.data(a.add({"NS.objects": [], "$class": record}))

    a = Archive()
    out["class-record-as-object"] = a.data(a.class_record("NSArray", "NSObject"))

    a = Archive()
    out["wrong-version"] = a.data(a.array([]), version=99999)

    a = Archive()
    out["wrong-archiver"] = a.data(a.array([]), archiver="NSArchiver")

    a = Archive()
    root = a.array([])
    a.objects[0] = "null"
    out["no-null"] = a.data(root)

    a = Archive()
    inner = a.array([])
    for _ in range(300):
        inner = a.array([inner])
    out["deep"] = a.data(inner)

    a = Archive()
    inner = a.array([])
    for _ in range(100):
        inner = a.array([inner])
    out["nested-100"] = a.data(inner)

    a = Archive()
    shared = a.string("same")
    out["wide"] = a.data(a.array([shared] * 5000))

    a = Archive()
    out["unknown-class"] = a.data(a.object(("Evil", "NSObject")))

    a = Archive()
    out["null-element"] = a.data(a.array([UID(0)]))

    a = Archive()
    out["dictionary-mismatch"] = a.data(
        a.object(("NSDictionary", "NSObject"), **{"NS.keys": [a.string("k"), a.string("j")],
                                                   "NS.objects": [a.string("v")]}))

    a = Archive()
    out["uuid-short"] = a.data(a.object(("NSUUID", "NSObject"), **{"NS.uuidbytes": b"\x01\x02"}))

    a = Archive()
    out["nested-dictionary-value"] = a.data(a.object(("NSArray", "NSObject"),
                                                     **{"NS.objects": {"a": 1}}))

    # Errors whose user information lists the next error twice, twenty levels down.
    a = Archive()
    inner = a.error("D", 0)
    for level in range(20):
        inner = a.error("D", level, a.dictionary([(a.string("list"), a.array([inner, inner]))]))
    out["error-bomb"] = a.data(inner)

    # The XML form writes references as {"CF$UID": n}; only the binary form is read.
    out["xml"] = plistlib.dumps({"$archiver": "NSKeyedArchiver", "$version": 100000,
                                 "$top": {"root": {"CF$UID": 1}}, "$objects": ["$null", "x"]},
                                fmt=plistlib.FMT_XML)
    return out


def main():
    directory = sys.argv[1]
    os.makedirs(directory, exist_ok=True)
    archives = {"standard": standard_classes()}
    a, root = task()
    archives["task"] = a.data(root)
    # The same task whose uuid is missing: the subclass's decoder declines it.
    a, root = task()
    del a.objects[root.data]["uuid"]
    archives["task-without-uuid"] = a.data(root)
    # A task of a class that does not support secure coding.
    a, root = task()
    a.objects[a.objects[root.data]["$class"].data] = {
        "$classes": ["InsecureTask", "TestBaseTask", "NSObject"], "$classname": "InsecureTask"}
    archives["insecure-task"] = a.data(root)
    # Our extension: a file handle as an index into the descriptors sent beside the archive.
    a = Archive()
    archives["file-handle"] = a.data(a.array([a.object(("NSFileHandle", "NSObject"),
                                                       **{"NS.descriptorIndex": 0})]))
    archives.update(malformed())
    for name, data in archives.items():
        with open(os.path.join(directory, name + ".archive"), "wb") as handle:
            handle.write(data)


if __name__ == "__main__":
    main()
