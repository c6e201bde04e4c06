"""What a long run of game-sim.exe showed, from its results and heap JSON: the figures for a
person and the faults, shared by scripts/soak.sh and the soak test."""
import json


def load(results_path, heap_path):
    with open(results_path, encoding="utf-8") as file:
        results = json.load(file)
    with open(heap_path, encoding="utf-8") as file:
        heap = json.load(file)
    return results, heap


def faults(results, heap, frames, save_loads, memory_bound):
    """Everything that went wrong in the run, as sentences; empty when it held up."""
    found = []
    totals = results["totals"]
    if totals["frames"] != frames:
        found.append(f"{totals['frames']} frames run, not {frames}")
    if totals["saveLoads"] != save_loads:
        found.append(f"{totals['saveLoads']} save loads, not {save_loads}")
    for key in ("protocolErrors", "unknownNatives"):
        if totals[key]:
            found.append(f"{totals[key]} {key}")
    if totals["changedFrames"]:
        found.append(f"{totals['changedFrames']} frames differ from the frame before them, the "
                     f"first at frame {totals['firstChangedFrame']}")
    if not heap["countedFromLoad"]:
        found.append("the plug-in's heap was counted only after its load")
    steady = heap["steadyFrames"]
    if steady["allocations"]:
        found.append(f"{steady['allocations']} allocations in {steady['framesAllocating']} steady "
                     f"frames, the first in frame {steady['firstAllocatingFrame']}")
    if heap["atEnd"]["strangerFrees"] or heap["afterUnload"]["strangerFrees"]:
        found.append("the plug-in freed blocks it was not seen to allocate")
    starts = heap["scriptStarts"]
    if len(starts) != save_loads + 1:
        found.append(f"{len(starts)} script starts counted, not {save_loads + 1}")
    live = {(start["liveBlocks"], start["liveBytes"]) for start in starts}
    if len(live) > 1:
        found.append("live blocks after the first frame differ between script starts: " +
                     ", ".join(f"{s['liveBlocks']} at frame {s['frame']}" for s in starts))
    if heap["afterUnload"]["liveBlocks"] > heap["afterLoad"]["liveBlocks"]:
        found.append(f"{heap['afterUnload']['liveBlocks']} blocks live after unload, more than "
                     f"the {heap['afterLoad']['liveBlocks']} after load")
    tenth, end = heap["memory"]["tenth"], heap["memory"]["end"]
    if tenth is None or end is None:
        found.append("the process's memory was not read")
    else:
        for key in ("workingSet", "privateBytes"):
            growth = end[key] - tenth[key]
            if growth > memory_bound:
                found.append(f"{key} grew by {growth / 1024:.0f} KiB from frame {tenth['frame']} "
                             f"to the end, more than {memory_bound / 1024:.0f} KiB")
    return found


def summary(results, heap, seconds):
    """The run's figures, for a person to read."""
    totals = results["totals"]
    tenth, end = heap["memory"]["tenth"], heap["memory"]["end"]
    mib = lambda count: f"{count / 1048576:.2f} MiB"
    lines = [
        f"{totals['frames']} frames of {len(results['frames'][0]['peds']) - 1} peds in "
        f"{seconds:.1f} s: {totals['frames'] / seconds:.0f} frames per second",
        f"{totals['saveLoads']} save loads; {totals['natives']} native calls, "
        f"{totals['labels']} labels, {totals['accuracySets']} accuracy sets, "
        f"{totals['protocolErrors']} protocol errors, {totals['unknownNatives']} unknown natives",
        "Frames between save loads like the frame before: " +
        ("every one" if totals["changedFrames"] == 0 else
         f"NO, {totals['changedFrames']} differ, the first at frame "
         f"{totals['firstChangedFrame']}"),
    ]
    if tenth and end:
        lines.append(
            f"Process memory at frame {tenth['frame']} (10 %): working set "
            f"{mib(tenth['workingSet'])}, private {mib(tenth['privateBytes'])}; at the end: "
            f"{mib(end['workingSet'])}, {mib(end['privateBytes'])} "
            f"({(end['workingSet'] - tenth['workingSet']) / 1024:+.0f} KiB, "
            f"{(end['privateBytes'] - tenth['privateBytes']) / 1024:+.0f} KiB)")
    steady = heap["steadyFrames"]
    starts = sorted({start["liveBlocks"] for start in heap["scriptStarts"]})
    lines.append(
        f"The plug-in's heap: {heap['afterLoad']['liveBlocks']} live blocks after load "
        f"({heap['afterLoad']['liveBytes']} bytes), "
        f"{heap['afterFirstFrame']['liveBlocks']} after the first frame, "
        f"{heap['atEnd']['liveBlocks']} at the end, {heap['afterUnload']['liveBlocks']} after "
        f"unload ({heap['afterUnload']['liveBytes']} bytes); "
        f"{heap['atEnd']['allocations']} allocations and {heap['atEnd']['frees']} frees in all; "
        f"{steady['allocations']} allocations in {steady['frames']} steady frames; live blocks "
        f"after each script start's first frame: {', '.join(map(str, starts))}")
    return "\n".join(lines)


if __name__ == "__main__":
    import sys
    results_file, heap_file, elapsed, expected_frames, expected_loads, bound = sys.argv[1:7]
    run_results, run_heap = load(results_file, heap_file)
    print(summary(run_results, run_heap, float(elapsed)))
    problems = faults(run_results, run_heap, int(expected_frames), int(expected_loads),
                      int(bound))
    for problem in problems:
        print("FAULT: " + problem)
    print("Long run: " + ("held up" if not problems else "FAILED"))
    sys.exit(1 if problems else 0)
