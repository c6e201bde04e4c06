#!/usr/bin/env python3
"""Both builds side by side over every copy of their binaries, and whether each target is met;
printed by ./bench at the end.

    benchmarks/summary.py LOG...

Reads the "summary <build> <crowd> pass pass_cv floor floor_cv paired paired_cv" lines that
tick_bench (native) and dll-bench.exe (the DLL under Wine) print, one log per copy of a binary,
the "start <flavour> ..." lines of dll-bench.exe --from-start for the normal DLL and the capture
flavour, and the own instruction counts that instruction_guard.sh prints. A build's figure for a crowd is
the median over its copies of each copy's own median; the range is the lowest and highest copy.

The timing target is that the per-frame cost is the natives' own: a pass costs at most its floor
(paired ratio at most 1.0) on this machine. How far below 1.0 a pass lands follows the processor
as much as the code, so the verdict names the processor and the load it was measured under. The
instruction counts are exact, the same on every machine for one build; printed as counted, beside
the budgets instruction_guard.sh holds them to.
"""
import os
import re
import statistics
import sys

PAIRED_TARGET = 1.0  # median paired ratio at 64 peds over the copies, both builds
CROWDS = [("1", "1"), ("16", "16"), ("64", "64"), ("256", "256"), ("64L", "64 + labels")]
PASS, FLOOR, PAIRED = 0, 2, 4  # fields of a summary line after its crowd


def read(paths):
    """Per (build, crowd) one row per copy; the instruction counts, in the guard's order; per
    flavour (release, capture) the first frames of a script, one row per copy."""
    rows, counts, starts = {}, [], {}
    starts["native"] = []
    for path in paths:
        with open(path, encoding="utf-8", errors="replace") as log:
            for line in log:
                fields = line.split()
                if len(fields) == 9 and fields[0] == "summary":
                    rows.setdefault((fields[1], fields[2]), []).append(
                        [float(v) for v in fields[3:]])
                # "start FLAVOUR FRAMES PEDS MEDIAN MEAN FIRST LAST FILE-BYTES LONGEST"
                # (dll-bench.exe)
                if len(fields) == 10 and fields[0] == "start":
                    starts.setdefault(fields[1], []).append([float(v) for v in fields[2:]])
                # "capture-frames FRAMES PEDS" and 9 figures (capture-frames, natively)
                if len(fields) == 12 and fields[0] == "capture-frames":
                    starts["native"].append([float(v) for v in fields[1:]])
                # "ok: WHAT: N instructions, budget B", or OVER BUDGET; "counted: WHAT: N ..."
                found = re.match(r"(?:ok|OVER BUDGET|counted): (.*): (\d+) instructions"
                                 r"(?:, budget (\d+))?$", line.strip())
                if found:
                    counts.append((found.group(1), int(found.group(2)),
                                   int(found.group(3)) if found.group(3) else None))
    return rows, counts, starts


def processor_name():
    """The model name /proc/cpuinfo gives, or a plain word where there is none."""
    try:
        with open("/proc/cpuinfo", encoding="utf-8", errors="replace") as info:
            for line in info:
                key, _, value = line.partition(":")
                if key.strip() == "model name" and value.strip():
                    return value.strip()
    except OSError:
        pass
    return "an unnamed processor"


def load_average():
    try:
        return "load average " + ", ".join(f"{v:.2f}" for v in os.getloadavg())
    except OSError:
        return "load average unknown"


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
    return f"  {label}, at most {target:.2f}: {value:.3f}{detail} -- {'met' if met else 'NOT MET'}"


def count_line(label, count, budget):
    guarded = f" (instruction_budget fails above {budget:,})" if budget is not None else ""
    return f"  {label}: {count:,}{guarded}"


def capture_lines(starts):
    """The capture flavour's frames beside the normal DLL's over the frames it records, under
    Wine: the median over the copies of each copy's median frame and longest frame after the
    first, the recording's first frame (which opens the file and writes its start) and its last
    (which ends the file)."""
    release, capture = starts.get("release"), starts.get("capture")
    if not release or not capture:
        print("Capture flavour: not measured in this run")
        return
    frames, peds = int(capture[0][0]), int(capture[0][1])
    normal = statistics.median(row[2] for row in release)
    recorded = statistics.median(row[2] for row in capture)
    ratios = [c[2] / r[2] for r, c in zip(release, capture)]
    print(f"Capture flavour beside the normal DLL, the first {frames} frames of a script at {peds} "
          f"peds (DLL under Wine, {len(capture)} copy(ies), on {processor_name()}, "
          f"{load_average()} at the end of the run):")
    print(f"  per frame: normal {normal / 1000:.1f} us, capture {recorded / 1000:.1f} us, ratio "
          f"{recorded / normal:.2f} (copy by copy: {' '.join(f'{v:.2f}' for v in ratios)})")
    longest = statistics.median(row[7] for row in capture)
    print(f"  the capture's longest frame after the first: {longest / 1000:.1f} us, "
          f"{longest / recorded:.2f} times its median (the normal DLL's: "
          f"{statistics.median(row[7] / row[2] for row in release):.2f}; copy by copy: "
          f"{' '.join(f'{row[7] / row[2]:.2f}' for row in capture)})")
    native = starts.get("native")
    if native:
        def cell(i):
            return statistics.median(row[i] for row in native)
        print(f"  natively, in processor time ({len(native)} run(s)): recording {cell(2):.1f} us a "
              f"frame, its longest {cell(3):.1f} us ({cell(3) / cell(2):.2f} times the median; "
              f"run by run: {' '.join(f'{row[3] / row[2]:.2f}' for row in native)}), the recorder "
              f"idle {cell(6):.1f} us (longest {cell(7):.1f} us); first frame {cell(4) / 1000:.2f} "
              f"ms, last {cell(5) / 1000:.2f} ms; in wall time recording {cell(8):.1f} us, longest "
              f"{cell(9) / 1000:.2f} ms")
    print(f"  the recording's first frame (the file opened, its start written): "
          f"{statistics.median(row[4] for row in capture) / 1e6:.2f} ms, its last (the file "
          f"ended): {statistics.median(row[5] for row in capture) / 1e6:.2f} ms; the file: "
          f"{statistics.median(row[6] for row in capture) / 1e6:.1f} MB")


def main():
    rows, counts, starts = read(sys.argv[1:])
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

    print(f"Target: the per-frame cost is the natives' own, on {processor_name()} "
          f"({load_average()} at the end of the run):")
    for build, name in (("native", "native build"), ("dll", "DLL under Wine")):
        value, detail = paired(build)
        print(verdict(f"median paired ratio at 64 peds, {name}", value, PAIRED_TARGET, detail))
    capture_lines(starts)
    print("Own instructions, exact counts of this build (the same on any machine):")
    if not counts:
        print("  not counted in this run")
    for label, count, budget in counts:
        print(count_line(label, count, budget))


if __name__ == "__main__":
    main()
