#!/usr/bin/env python3
"""The counts of one ctest run, read from its reports.

    tools/test-report.py RUN_DIR

RUN_DIR holds ctest.xml, ctest's JUnit report (ctest --output-junit), and
reports/, the XML reports of the GoogleTest programs that the run started,
each named after its ctest test (--gtest_output=xml:reports/<test>.xml).
Prints "<passed> <failed> <skipped>", then one line for each test case that
failed or was skipped:

    failed: <test>: <message> (<file>:<line>)
    skipped: <test>: <reason> (<file>:<line>)

A ctest test with a report counts as the test cases in it; one without (a
script, or a program that ended before it wrote its report) counts once, as
ctest saw it, named with the last line of its output. A test that ctest saw
fail counts at least one failure, whatever its report says.
"""
import os
import sys
import xml.etree.ElementTree as ET


def located(element):
    """ "<what> (<file>:<line>)" from GoogleTest's "<file>:<line>\\n<what>"."""
    where, _, what = (element.get("message") or "").partition("\n")
    what = " / ".join(line.strip() for line in what.splitlines() if line.strip())
    return f"{what or 'no reason given'} ({os.path.basename(where)})"


def report_cases(path):
    """(case, verdict, why) for each test case of a GoogleTest report."""
    for case in ET.parse(path).getroot().iter("testcase"):
        name = f"{case.get('classname')}.{case.get('name')}"
        failure, skipped = case.find("failure"), case.find("skipped")
        if failure is not None:
            yield name, "failed", located(failure)
        elif skipped is not None:
            yield name, "skipped", located(skipped)
        elif case.get("status") == "notrun":
            yield name, "skipped", "disabled"
        else:
            yield name, "passed", ""


def reports_by_test(reports):
    """Each report under its ctest test's name: the file's own, and for one
    value-parameterized case also gtest_discover_tests' (the value printed in
    place of its index)."""
    found = {}
    for folder, _, files in os.walk(reports):
        for path in (os.path.join(folder, f) for f in files if f.endswith(".xml")):
            found[os.path.relpath(path, reports)[: -len(".xml")]] = path
            cases = list(ET.parse(path).getroot().iter("testcase"))
            if len(cases) == 1 and cases[0].get("value_param") is not None:
                index_dropped = cases[0].get("name").rpartition("/")[0]
                found[f"{cases[0].get('classname')}.{index_dropped}/{cases[0].get('value_param')}"] = path
    return found


def last_line(test):
    lines = [line.strip() for line in (test.findtext("system-out") or "").splitlines() if line.strip()]
    return lines[-1] if lines else "(nothing)"


def ctest_cases(test, report):
    """(case, verdict, why) for one test of ctest's report."""
    name, status = test.get("name"), test.get("status")
    cases = []
    if report:
        # A program of several test cases is named with them.
        cases = [(name if case == name else f"{name}: {case}", verdict, why)
                 for case, verdict, why in report_cases(report)]
    if status == "fail" and all(verdict != "failed" for _, verdict, _ in cases):
        message = (test.find("failure").get("message") if test.find("failure") is not None else "") or "failed"
        cases.append((name, "failed", f"{message} after {float(test.get('time', 0)):.2f} s"
                      f"{'' if report else ', no report of its own'}; its output ends: {last_line(test)}"))
    elif not cases and status in ("notrun", "disabled"):
        skipped = test.find("skipped")
        reason = skipped.get("message") if skipped is not None else "disabled"
        cases.append((name, "skipped", f"{reason} (ctest); its output ends: {last_line(test)}"))
    elif not cases:
        cases.append((name, "passed", ""))
    return cases


def main(run_dir):
    junit = os.path.join(run_dir, "ctest.xml")
    if not os.path.exists(junit):
        print("0 1 0")
        print(f"failed: {os.path.basename(run_dir)}: no report of ctest's: the run did not get so far")
        return
    reports = reports_by_test(os.path.join(run_dir, "reports"))
    counts = {"passed": 0, "failed": 0, "skipped": 0}
    lines, claimed = [], set()
    for test in ET.parse(junit).getroot().iter("testcase"):
        report = reports.get(test.get("name"))
        claimed.add(report)
        for case, verdict, why in ctest_cases(test, report):
            counts[verdict] += 1
            if verdict != "passed":
                lines.append(f"{verdict}: {case}: {why}")
    for report in sorted(set(reports.values()) - claimed):
        counts["failed"] += 1
        lines.append(f"failed: {report}: a report that no test of the run claims")
    print(counts["passed"], counts["failed"], counts["skipped"])
    for line in lines:
        print(line)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    main(sys.argv[1])
