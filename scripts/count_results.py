#!/usr/bin/env python3
"""Counts test cases over the build folders given: every GoogleTest case from
the programs' XML reports, and every other ctest test (scripts) as one case.
Prints a line per program and the closing "N passed, N failed, N skipped";
exits 1 when anything failed."""
import sys
import xml.etree.ElementTree as ET
from pathlib import Path


def ctest_cases(build):
    path = build / "ctest-junit.xml"
    if not path.exists():
        return []
    out = []
    for case in ET.parse(path).getroot().iter("testcase"):
        status = case.get("status", "run")
        if case.find("failure") is not None or status == "fail":
            state = "failed"
        elif case.find("skipped") is not None or status in ("notrun", "disabled", "skipped"):
            state = "skipped"
        else:
            state = "passed"
        out.append((case.get("name"), state))
    return out


def gtest_counts(report):
    counts = {"passed": 0, "failed": 0, "skipped": 0}
    for case in ET.parse(report).getroot().iter("testcase"):
        if case.find("failure") is not None:
            counts["failed"] += 1
        elif case.get("result") == "skipped" or case.find("skipped") is not None or case.get("status") == "notrun":
            counts["skipped"] += 1
        else:
            counts["passed"] += 1
    return counts


def main(builds):
    total = {"passed": 0, "failed": 0, "skipped": 0}
    for build in map(Path, builds):
        for name, state in ctest_cases(build):
            report = build / "test-reports" / f"{name}.xml"
            if report.exists() and state != "skipped":
                counts = gtest_counts(report)
                # A crash or sanitizer report after the last case still fails the program.
                if state == "failed" and counts["failed"] == 0:
                    counts["failed"] = 1
            else:
                counts = {"passed": 0, "failed": 0, "skipped": 0}
                counts[state] = 1
            print(f"[test] {build.name:>6} {name:<20} {counts['passed']} passed, {counts['failed']} failed, "
                  f"{counts['skipped']} skipped")
            for k in total:
                total[k] += counts[k]
    print(f"{total['passed']} passed, {total['failed']} failed, {total['skipped']} skipped")
    return 1 if total["failed"] else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
