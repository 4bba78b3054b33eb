#!/usr/bin/env python3
"""Prints the notices of the third-party code in qtbase, from its qt_attribution.json files:
name, version, copyright and licence of each, with the licence file's text where one is named.
    qt_notices.py QTBASE_SOURCE_DIR"""
import json
import os
import sys

root = sys.argv[1]
entries = []
for folder, _, files in os.walk(root):
    if "qt_attribution.json" not in files:
        continue
    with open(os.path.join(folder, "qt_attribution.json"), encoding="utf-8") as f:
        data = json.loads(f.read(), strict=False)
    for entry in data if isinstance(data, list) else [data]:
        entries.append((folder, entry))

print("Third-party code in the Qt libraries (qtbase), as listed by Qt's attribution files.\n")
for folder, entry in sorted(entries, key=lambda e: e[1].get("Name", "")):
    print("=" * 78)
    print(entry.get("Name", entry.get("Id", "?")), entry.get("Version", ""))
    if entry.get("Homepage"):
        print("Home page:", entry["Homepage"])
    print("Licence:", entry.get("License", "?"))
    copyright_text = entry.get("Copyright", "")
    if isinstance(copyright_text, list):
        copyright_text = "\n".join(copyright_text)
    if copyright_text:
        print(copyright_text)
    files = entry.get("LicenseFiles") or ([entry["LicenseFile"]] if entry.get("LicenseFile") else [])
    for name in files:
        path = os.path.join(folder, name)
        if os.path.isfile(path):
            print("-" * 78)
            with open(path, encoding="utf-8", errors="replace") as f:
                print(f.read().rstrip())
    print()
