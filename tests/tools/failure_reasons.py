"""Prints, for each failing test of a CTest JUnit file, its name and the line that says why,
separated by a tab: ./test shows it, wrapped but whole, in the list of failures under its verdict.

usage: failure_reasons.py JUNIT_XML
"""
import os
import re
import sys
import xml.etree.ElementTree as ElementTree


def exception(lines):
    """A Python exception's line ("AssertionError: ..."), or None."""
    for line in lines:
        if re.match(r"\w+(Error|Exception)\b(: |$)", line) and not line.startswith("Traceback"):
            return line
    return None


def reason(output):
    """The first line that says why: a budget overrun, a Python test's exception (its verdict,
    whatever a program it ran printed), a GoogleTest failure with the lines under it, a Python
    exception, a line saying FAIL or error; else the last line printed."""
    lines = [line.rstrip() for line in output.splitlines() if line.strip()]
    for line in lines:
        if line.startswith("OVER BUDGET"):
            return line
    if any(line.startswith("Traceback (most recent call last)") for line in lines):
        raised = exception(lines)
        if raised:
            return raised
    for index, line in enumerate(lines):
        found = re.match(r"(.*?):(\d+): Failure$", line)
        if found:
            where = f"{os.path.basename(found.group(1))}:{found.group(2)}"
            # The assertion's lines up to the test's end: "Expected equality... count Which is: 3".
            after = []
            for line in lines[index + 1:index + 6]:
                if line.startswith("[") or line.endswith(": Failure"):
                    break
                after.append(line.strip())
            return f"{where}: {' '.join(after)}"
    raised = exception(lines)
    if raised:
        return raised
    for line in lines:
        if re.search(r"\b(FAIL(ED)?|[Ee]rror)\b", line):
            return line.strip()
    return lines[-1].strip() if lines else ""


def main():
    for case in ElementTree.parse(sys.argv[1]).getroot().iter("testcase"):
        if case.get("status") != "fail":
            continue
        text = reason(case.findtext("system-out") or "")
        if not text:
            continue
        print(f"{case.get('name')}\t{text}")


if __name__ == "__main__":
    main()
