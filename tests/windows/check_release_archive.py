#!/usr/bin/env python3
"""Checks the release archive that cpack made in a Windows build tree.

Usage: check_release_archive.py SOURCE_DIR BUILD_DIR

The archive is BUILD_DIR/VendraFwUpgrade-VERSION-win64.zip, VERSION the
project's. It holds one folder of that name with exactly: every program the
build made (VendraFwUpgrade.exe and VendraFwUnitInfo.exe, and
VendraFwWebPackage.exe when the build has it), byte for byte as built, and the
README and licence of the sources.
"""

import pathlib
import re
import sys
import zipfile

PROGRAMS = ("VendraFwUpgrade.exe", "VendraFwUnitInfo.exe", "VendraFwWebPackage.exe")
REQUIRED_PROGRAMS = ("VendraFwUpgrade.exe", "VendraFwUnitInfo.exe")
DOCUMENTS = ("README.md", "LICENSE")


def project_version(build):
    cache = (build / "CMakeCache.txt").read_text()
    match = re.search(r"^CMAKE_PROJECT_VERSION:STATIC=(.+)$", cache, re.MULTILINE)
    if not match:
        sys.exit(f"no project version in {build / 'CMakeCache.txt'}")
    return match.group(1)


def main():
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    source, build = pathlib.Path(sys.argv[1]), pathlib.Path(sys.argv[2])
    folder = f"VendraFwUpgrade-{project_version(build)}-win64"
    archive = build / f"{folder}.zip"
    if not archive.is_file():
        sys.exit(f"FAIL: no archive {archive}")

    expected = {name: build / name for name in PROGRAMS if (build / name).is_file()}
    for name in REQUIRED_PROGRAMS:
        if name not in expected:
            sys.exit(f"FAIL: the build made no {name} in {build}")
    expected.update({name: source / name for name in DOCUMENTS})

    failures = []
    with zipfile.ZipFile(archive) as zipped:
        files = {info.filename: info for info in zipped.infolist() if not info.is_dir()}
        wanted = {f"{folder}/{name}" for name in expected}
        for name in sorted(wanted - files.keys()):
            failures.append(f"missing {name}")
        for name in sorted(files.keys() - wanted):
            failures.append(f"unexpected {name}")
        for name, origin in expected.items():
            entry = f"{folder}/{name}"
            if entry in files and zipped.read(entry) != origin.read_bytes():
                failures.append(f"{entry} differs from {origin}")
    if failures:
        sys.exit("FAIL: " + archive.name + ": " + "; ".join(failures))
    print(f"{archive.name}: {', '.join(sorted(expected))}")


if __name__ == "__main__":
    main()
