#!/usr/bin/env python3
"""Both builds side by side over every copy of their binaries, and whether each target is met;
printed by ./bench at the end.

    benchmarks/summary.py LOG...

Reads the "summary <build> <crowd> pass pass_cv floor floor_cv paired paired_cv" lines that
tick_bench (native) and dll-bench.exe (the DLL under Wine) print, one log per copy of a binary,
and the own instruction counts that instruction_guard.sh prints. A build's figure for a crowd is
the median over its copies of each copy's own median; the range is the lowest and highest copy.
"""
import re
import statistics
import sys

PAIRED_TARGET = 1.10  # median paired ratio at 64 peds over the copies, both builds
PER_PED_TARGET = 550  # own instructions per treated ped
EMPTY_PASS_TARGET = 2600  # own instructions per pass with no peds
CROWDS = [("1", "1"), ("16", "16"), ("64", "64"), ("256", "256"), ("64L", "64 + labels")]
PASS, FLOOR, PAIRED = 0, 2, 4  # fields of a summary line after its crowd


def read(paths):
    """Per (build, crowd) one row per copy; the instruction counts."""
    rows, counts = {}, {}
    for path in paths:
        with open(path, encoding="utf-8", errors="replace") as log:
            for line in log:
                fields = line.split()
                if len(fields) == 9 and fields[0] == "summary":
                    rows.setdefault((fields[1], fields[2]), []).append(
                        [float(v) for v in fields[3:]])
                found = re.search(r"per treated ped \(64 peds\): (\d+) instructions", line)
                if found:
                    counts["per ped"] = int(found.group(1))
                found = re.search(r"per pass with no peds[^:]*: (\d+) instructions", line)
                if found:
                    counts["empty"] = int(found.group(1))
    return rows, counts


def values(copies, index):
    """The copies' figures in one field; a copy where the case did not run has none."""
    return [] if copies is None else [row[index] for row in copies if row[index] > 0]


def median_cell(copies, index, digits):
    found = values(copies, index)
    return f"{statistics.median(found):.{digits}f}" if found else "-"


def range_cell(copies, index):
    found = values(copies, index)
    return f"{min(found):.3f}-{max(found):.3f}" if found else "-"


def verdict(label, value, target, detail=""):
    if value is None:
        return f"  {label}: not measured in this run"
    met = value <= target
    shown = f"{value:.3f}" if isinstance(value, float) else f"{value:,}"
    limit = f"{target:.2f}" if isinstance(target, float) else f"{target:,}"
    return f"  {label}, at most {limit}: {shown}{detail} -- {'met' if met else 'NOT MET'}"


def main():
    rows, counts = read(sys.argv[1:])
    copies = {build: max((len(v) for (b, _), v in rows.items() if b == build), default=0)
              for build in ("native", "dll")}
    print(f"\nSummary over {copies['native']} copy(ies) of the native benchmark and "
          f"{copies['dll']} of the DLL's folder: per crowd the median")
    print("over the copies of each copy's medians (pass and floor per frame in ns, paired ratio")
    print("pass / floor), and the paired ratios' range over the copies (lowest-highest copy)")
    header = f"{'peds':<12} {'native pass':>11} {'floor':>8} {'paired':>7} {'range':>11}"
    header += f" {'DLL pass':>9} {'floor':>8} {'paired':>7} {'range':>11}"
    print(header)
    for key, label in CROWDS:
        native, dll = rows.get(("native", key)), rows.get(("dll", key))
        line = f"{label:<12} {median_cell(native, PASS, 0):>11} {median_cell(native, FLOOR, 0):>8}"
        line += f" {median_cell(native, PAIRED, 3):>7} {range_cell(native, PAIRED):>11}"
        line += f" {median_cell(dll, PASS, 0):>9} {median_cell(dll, FLOOR, 0):>8}"
        line += f" {median_cell(dll, PAIRED, 3):>7} {range_cell(dll, PAIRED):>11}"
        print(line)
    for build, name in (("native", "native"), ("dll", "DLL")):
        found = values(rows.get((build, "64")), PAIRED)
        if found:
            print(f"{name} paired ratio at 64 peds, copy by copy: "
                  + " ".join(f"{v:.3f}" for v in found))

    def paired(build):
        found = values(rows.get((build, "64")), PAIRED)
        if not found:
            return None, ""
        detail = f" (median of {len(found)} copy(ies), range {min(found):.3f}-{max(found):.3f})"
        return statistics.median(found), detail

    print("Targets:")
    for build, name in (("native", "native build"), ("dll", "DLL under Wine")):
        value, detail = paired(build)
        print(verdict(f"median paired ratio at 64 peds, {name}", value, PAIRED_TARGET, detail))
    print(verdict("own instructions per treated ped", counts.get("per ped"), PER_PED_TARGET))
    print(verdict("own instructions per pass with no peds", counts.get("empty"),
                  EMPTY_PASS_TARGET))


if __name__ == "__main__":
    main()
