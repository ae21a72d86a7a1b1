#!/usr/bin/env python3
"""Builds task and result archives with plistlib, and reads ours back.

Usage: task_archives.py write OUTPUT_DIRECTORY
       task_archives.py read ARCHIVE   (prints the root's class and scalar fields)
"""
import os
import plistlib
import sys
import uuid
from plistlib import UID

FIXED_UUID = uuid.UUID("0F1E2D3C-4B5A-6978-8796-A5B4C3D2E1F0")


class Archive:
    def __init__(self):
        self.objects = ["$null"]
        self.classes = {}

    def add(self, value):
        self.objects.append(value)
        return UID(len(self.objects) - 1)

    def cls(self, *chain):
        if chain[0] not in self.classes:
            self.classes[chain[0]] = self.add({"$classname": chain[0], "$classes": list(chain)})
        return self.classes[chain[0]]

    def obj(self, chain, **fields):
        fields["$class"] = self.cls(*chain)
        return self.add(fields)

    def uuid(self):
        return self.obj(("NSUUID", "NSObject"), **{"NS.uuidbytes": FIXED_UUID.bytes})

    def url(self, text):
        return self.obj(("NSURL", "NSObject"), **{"NS.base": UID(0), "NS.relative": self.add(text)})

    def dumps(self, root):
        return plistlib.dumps({"$version": 100000, "$archiver": "NSKeyedArchiver",
                               "$top": {"root": root}, "$objects": self.objects},
                              fmt=plistlib.FMT_BINARY, sort_keys=False)


TASK = ("KLVPrivilegedAccessTask", "NSObject")


def task(name, **fields):
    a = Archive()
    root = a.add(None)
    built = {key: (value(a) if callable(value) else value) for key, value in fields.items()}
    built["$class"] = a.cls(name, *TASK)
    a.objects[root.data] = built
    return a.dumps(root)


def result(type_, value=None, error=None):
    a = Archive()
    root = a.add(None)
    fields = {"type": type_, "value": UID(0), "error": UID(0)}
    if value is not None:
        fields["value"] = a.add(value)
    if error is not None:
        info = a.obj(("NSDictionary", "NSObject"),
                     **{"NS.keys": [a.add("NSURL")],
                        "NS.objects": [a.url("file:///tmp/gone")]})
        fields["error"] = a.obj(("NSError", "NSObject"), NSCode=error[1],
                                NSDomain=a.add(error[0]), NSUserInfo=info)
    fields["$class"] = a.cls("KLVResultObject", "NSObject")
    a.objects[root.data] = fields
    return a.dumps(root)


def write(directory):
    archives = {
        "remover": task("KLVPrivilegedAccessFileRemoverTask",
                        uuid=Archive.uuid, url=lambda a: a.url("file:///tmp/target%20file")),
        "remover_without_url": task("KLVPrivilegedAccessFileRemoverTask", uuid=Archive.uuid),
        "terminator": task("KLVPrivilegedAccessProcessTerminatorTask", uuid=Archive.uuid,
                           processIdentifier=4242),
        "terminator_zero": task("KLVPrivilegedAccessProcessTerminatorTask", uuid=Archive.uuid,
                                processIdentifier=0),
        "enumerator": task("KLVPrivilegedAccessEnumeratorTask", uuid=Archive.uuid,
                           rootURL=lambda a: a.url("file:///var/root"),
                           shouldCollectDirectory=True, maxEnumerationDepth=3),
        "base_task": task("KLVPrivilegedAccessTask", uuid=Archive.uuid),
        "result_mixed": result(3, "failure", ("kKLVFileRemoverErrorDomain", 3)),
        "result_empty_with_value": result(0, "success"),
        "result_empty": result(0),
    }
    for name, data in archives.items():
        with open(os.path.join(directory, name + ".archive"), "wb") as stream:
            stream.write(data)


def read(path):
    with open(path, "rb") as stream:
        top = plistlib.load(stream)
    assert top["$archiver"] == "NSKeyedArchiver" and top["$version"] == 100000
    objects = top["$objects"]
    root = objects[top["$top"]["root"].data]
    print("class=" + objects[root["$class"].data]["$classname"])
    for key in sorted(root):
        value = root[key]
        if key == "$class":
            continue
        if isinstance(value, UID):
            target = objects[value.data]
            if isinstance(target, dict) and "NS.relative" in target:
                print(key + "=url:" + objects[target["NS.relative"].data])
            elif isinstance(target, dict) and "NS.uuidbytes" in target:
                print(key + "=uuid:" + str(uuid.UUID(bytes=target["NS.uuidbytes"])).upper())
            elif isinstance(target, dict) and "NSCode" in target:
                print(key + "=error:" + objects[target["NSDomain"].data] + "/" + str(target["NSCode"]))
            else:
                print(key + "=" + str(target))
        else:
            print(key + "=" + str(value))


if __name__ == "__main__":
    if sys.argv[1] == "write":
        write(sys.argv[2])
    else:
        read(sys.argv[2])
