#!/usr/bin/env python3
"""Rebuilds Talvian/Resources/Localizable.json from the texts passed to L(...) in the sources.

Keys are the Simplified Chinese texts themselves, so the table maps every key to itself;
translators (or a later wording change) edit the values. Existing values are kept.
With --check, exits 1 when a key used in the code is missing from the table.
"""
import json
import pathlib
import re
import sys

ROOT = pathlib.Path(__file__).resolve().parent.parent
TABLE = ROOT / "Talvian" / "Resources" / "Localizable.json"
CALL = re.compile(r'\bL\(\s*((?:"(?:[^"\\]|\\.)*"\s*)+)')
LITERAL = re.compile(r'"((?:[^"\\]|\\.)*)"')
ESCAPES = {"n": "\n", "t": "\t", '"': '"', "\\": "\\", "r": "\r", "'": "'"}


def unescape(text):
    return re.sub(r"\\(.)", lambda m: ESCAPES.get(m.group(1), m.group(1)), text)


def keys_in_sources():
    keys = set()
    for folder in ("TalvianCore", "Talvian"):
        for path in (ROOT / folder).rglob("*"):
            if path.suffix not in (".cpp", ".h"):
                continue
            for call in CALL.finditer(path.read_text(encoding="utf-8")):
                keys.add("".join(unescape(part) for part in LITERAL.findall(call.group(1))))
    return keys


def main():
    keys = keys_in_sources()
    table = json.loads(TABLE.read_text(encoding="utf-8")) if TABLE.exists() else {}
    if "--check" in sys.argv:
        missing = sorted(k for k in keys if k not in table)
        for key in missing:
            print("missing from Localizable.json:", repr(key))
        return 1 if missing else 0
    merged = {key: table.get(key, key) for key in keys}
    TABLE.write_text(json.dumps(merged, ensure_ascii=False, indent=2, sort_keys=True) + "\n", encoding="utf-8")
    print(f"{len(merged)} keys")
    return 0


if __name__ == "__main__":
    sys.exit(main())
