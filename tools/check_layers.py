#!/usr/bin/env python3
"""Fails when a source file includes a header from a folder above its own or from another
folder of its own floor, or declares a thread_local of a type that is not a plain scalar or
pointer.

The floors, lowest first: base/; manifest/ and net/; sync/, gta/, update/ and system/;
ui/; launcher/. A folder may include itself and the floors below it; what two folders of
one floor share belongs on a floor below both.

mingw-w64 emulates thread-local storage and may free a thread's block before the destructors
of its thread_local objects run at thread exit: an object with a destructor there is a heap
use-after-free that usually passes silently. Only types without one are allowed.
Usage: check_layers.py [source root]
"""
import pathlib
import re
import sys

FLOORS = {
    "base": 0,
    "manifest": 1, "net": 1,
    "sync": 2, "gta": 2, "update": 2, "system": 2,
    "ui": 3,
    "launcher": 4,
}
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"/]+)/[^"]+"', re.MULTILINE)
# The type of a thread_local declaration and whether its declarator is a pointer.
THREAD_LOCAL = re.compile(r'\bthread_local\s+((?:(?:static|const|constexpr|volatile)\s+)*)([\w:]+(?:\s*<[^;=]*>)?)\s*(\*?)')
TRIVIAL = re.compile(r'^(?:bool|char|wchar_t|short|int|long|unsigned|signed|float|double|size_t|ptrdiff_t|'
                     r'u?int(?:8|16|32|64|ptr)_t|DWORD|WORD|BYTE|BOOL|HANDLE|LONG|ULONG|UINT)$')


def violations(root):
    for folder, floor in FLOORS.items():
        for path in sorted((root / folder).rglob("*")):
            if path.suffix not in (".h", ".cpp", ".hpp", ".inl"):
                continue
            text = path.read_text(encoding="utf-8", errors="replace")
            for match in INCLUDE.finditer(text):
                target = match.group(1)
                if target not in FLOORS or target == folder or FLOORS[target] < floor:
                    continue
                line = text.count("\n", 0, match.start()) + 1
                where = "a lower floor" if FLOORS[target] > floor else "the same floor"
                yield f"{path.relative_to(root)}:{line}: includes {target}/ from {where} ({folder}/)"
            for match in THREAD_LOCAL.finditer(text):
                kind, pointer = match.group(2), match.group(3)
                if pointer or TRIVIAL.match(kind.replace("std::", "")):
                    continue
                line = text.count("\n", 0, match.start()) + 1
                yield f"{path.relative_to(root)}:{line}: thread_local {kind} may have a destructor"


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    found = list(violations(root))
    for line in found:
        print(line)
    print(f"include floors and thread-locals: {len(found)} violation(s)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
