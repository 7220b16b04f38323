#!/usr/bin/env python3
"""The upper bounds of time in the Wine tests, each beside the longest time
seen under it, from the reports that runs of tools/wine-tests.sh left.

    tools/wine-bounds.py RUN_DIR...      e.g. build/logs/win32-win32

The waits: each test notes in its report, for each bound of its waits (a
service's state, a run of the program, a child of the command runner), the
longest wait under it (tests/wine/WineTestMain.cpp); the test programs: the
time ctest gave each (its JUnit report) beside its TIMEOUT (ctest
--show-only=json-v1 of the run's build). Prints one line for each bound:
the bound, the longest seen, the bound divided by it, and where.
"""
import json
import os
import re
import subprocess
import sys
import xml.etree.ElementTree as ET

PREFIX = "longest_wait_of_"


def waits(run_dir):
    """(bound ms, took ms, where) of every wait noted in the run's reports."""
    run = os.path.basename(os.path.normpath(run_dir))
    reports = os.path.join(run_dir, "reports")
    for file in sorted(os.listdir(reports)) if os.path.isdir(reports) else []:
        for case in ET.parse(os.path.join(reports, file)).getroot().iter("testcase"):
            for noted in case.iter("property"):
                bound = re.fullmatch(PREFIX + r"(\d+)_ms", noted.get("name"))
                if bound:
                    where = f"{run}: {file[:-4]}: {case.get('classname')}.{case.get('name')}"
                    yield int(bound.group(1)), int(noted.get("value")), where


def timeouts(preset):
    """ctest's TIMEOUT of each test of the preset's build, in seconds."""
    listing = subprocess.run(["ctest", "--test-dir", f"build/{preset}", "--show-only=json-v1"],
                             capture_output=True, text=True, check=True).stdout
    found = {}
    for test in json.loads(listing)["tests"]:
        for prop in test.get("properties", []):
            if prop["name"] == "TIMEOUT":
                found[test["name"]] = float(prop["value"])
    return found


def program_times(run_dir):
    """(TIMEOUT s, took s, where) of every test of the run."""
    run = os.path.basename(os.path.normpath(run_dir))
    limits = timeouts(run.split("-")[0])
    for test in ET.parse(os.path.join(run_dir, "ctest.xml")).getroot().iter("testcase"):
        if test.get("name") in limits:
            yield limits[test.get("name")], float(test.get("time")), f"{run}: {test.get('name')}"


def show(title, unit, digits, seen):
    longest = {}
    for bound, took, where in seen:
        if bound not in longest or took > longest[bound][0]:
            longest[bound] = (took, where)
    print(title)
    for bound, (took, where) in sorted(longest.items()):
        ratio = f"{bound / took:.1f}" if took else "-"
        print(f"  {bound:>6g} {unit}  longest {took:>8.{digits}f} {unit}  bound/longest {ratio:>5}  {where}")


def main(run_dirs):
    show("Waits in the tests (bound, the longest wait under it):", "ms", 0,
         [seen for run_dir in run_dirs for seen in waits(run_dir)])
    show("Test programs (ctest's TIMEOUT, the longest run):", "s", 1,
         [seen for run_dir in run_dirs for seen in program_times(run_dir)])


if __name__ == "__main__":
    if len(sys.argv) < 2:
        sys.exit(__doc__)
    main(sys.argv[1:])
