#!/usr/bin/env python3
"""Both builds side by side, and whether each target is met; printed by ./bench at the end.

    benchmarks/summary.py LOG...

Reads the "summary <build> <crowd> pass pass_cv floor floor_cv paired paired_cv" lines that
tick_bench (native) and dll-bench.exe (the DLL under Wine) print, and the own instruction counts
that instruction_guard.sh prints.
"""
import re
import sys

PAIRED_TARGET = 1.15  # paired ratio at 64 peds, both builds
PER_PED_TARGET = 600  # own instructions per treated ped
EMPTY_PASS_TARGET = 5000  # own instructions per pass with no peds
CROWDS = [("1", "1"), ("16", "16"), ("64", "64"), ("256", "256"), ("64L", "64 + labels")]


def read(paths):
    rows, counts = {}, {}
    for path in paths:
        with open(path, encoding="utf-8", errors="replace") as log:
            for line in log:
                fields = line.split()
                if len(fields) == 9 and fields[0] == "summary":
                    rows[(fields[1], fields[2])] = [float(v) for v in fields[3:]]
                found = re.search(r"per treated ped \(64 peds\): (\d+) instructions", line)
                if found:
                    counts["per ped"] = int(found.group(1))
                found = re.search(r"per pass with no peds: (\d+) instructions", line)
                if found:
                    counts["empty"] = int(found.group(1))
    return rows, counts


def cell(row, index, digits):
    if row is None or row[index] < 0:
        return "-"
    value = f"{row[index]:.{digits}f}"
    if row[index + 1] >= 0:
        value += f" ({100 * row[index + 1]:.1f}%)"
    return value


def verdict(label, value, target, unit=""):
    if value is None:
        return f"  {label}: not measured in this run"
    met = value <= target
    shown = f"{value:.3f}" if isinstance(value, float) else f"{value:,}"
    return f"  {label} at most {target:,}{unit}: {shown} -- {'met' if met else 'NOT MET'}"


def main():
    rows, counts = read(sys.argv[1:])
    print("\nSummary: pass and floor per frame in ns, and the paired ratio pass / floor; medians of")
    print("the repetitions, their coefficient of variation in brackets")
    header = f"{'peds':<12} {'native pass':>17} {'native floor':>17} {'paired':>15}"
    header += f" {'DLL pass':>17} {'DLL floor':>17} {'paired':>15}"
    print(header)
    for key, label in CROWDS:
        native, dll = rows.get(("native", key)), rows.get(("dll", key))
        line = f"{label:<12} {cell(native, 0, 0):>17} {cell(native, 2, 0):>17}"
        line += f" {cell(native, 4, 3):>15} {cell(dll, 0, 0):>17} {cell(dll, 2, 0):>17}"
        line += f" {cell(dll, 4, 3):>15}"
        print(line)

    def paired(build):
        row = rows.get((build, "64"))
        return row[4] if row is not None and row[4] > 0 else None

    print("Targets:")
    print(verdict("paired ratio at 64 peds, native build,", paired("native"), PAIRED_TARGET))
    print(verdict("paired ratio at 64 peds, DLL under Wine,", paired("dll"), PAIRED_TARGET))
    print(verdict("own instructions per treated ped", counts.get("per ped"), PER_PED_TARGET))
    print(verdict("own instructions per pass with no peds", counts.get("empty"), EMPTY_PASS_TARGET))


if __name__ == "__main__":
    main()
