#!/usr/bin/env python3
"""Fails when a source file includes a header from a folder above its own or from another
folder of its own floor.

The floors, lowest first: base/; manifest/ and net/; sync/, gta/, update/ and system/;
ui/; launcher/. A folder may include itself and the floors below it; what two folders of
one floor share belongs on a floor below both.
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


def main():
    root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).resolve().parent.parent)
    found = list(violations(root))
    for line in found:
        print(line)
    print(f"include floors: {len(found)} violation(s)")
    return 1 if found else 0


if __name__ == "__main__":
    sys.exit(main())
