"""What a long run of game-sim.exe showed, from its results and heap JSON: the figures for a
person, each beside the limit it is judged by, and the faults; shared by scripts/soak.sh and the
soak test. "soak_check.py options ARG..." checks soak.sh's options before anything is built."""
import argparse
import json

FRAMES = 1000000
SAVE_LOAD_EVERY = 50000
CROWD = 256
# game-sim's own limits, so that a value it would refuse fails before the build.
MOST_FRAMES = 1000000000
MOST_PEDS = 100000


def load(results_path, heap_path):
    with open(results_path, encoding="utf-8") as file:
        results = json.load(file)
    with open(heap_path, encoding="utf-8") as file:
        heap = json.load(file)
    return results, heap


def judged(results, heap, frames, save_loads, memory_bound):
    """Each figure the run is judged by: (what, the figure, its limit, the fault as a sentence or
    None when it is within the limit)."""
    rows = []
    totals = results["totals"]
    rows.append(("frames run", f"{totals['frames']}", f"exactly {frames}",
                 None if totals["frames"] == frames else
                 f"{totals['frames']} frames run, not {frames}"))
    rows.append(("save loads", f"{totals['saveLoads']}", f"exactly {save_loads}",
                 None if totals["saveLoads"] == save_loads else
                 f"{totals['saveLoads']} save loads, not {save_loads}"))
    for key, what in (("protocolErrors", "protocol errors"), ("unknownNatives", "unknown natives")):
        rows.append((what, f"{totals[key]}", "none",
                     f"{totals[key]} {key}" if totals[key] else None))
    changed = totals["changedFrames"]
    rows.append(("frames unlike the frame before them",
                 f"{changed}" + (f", the first at frame {totals['firstChangedFrame']}"
                                 if changed else ""), "none",
                 f"{changed} frames differ from the frame before them, the first at frame "
                 f"{totals['firstChangedFrame']}" if changed else None))
    rows.append(("heap counted from the plug-in's load",
                 "yes" if heap["countedFromLoad"] else "no", "yes",
                 None if heap["countedFromLoad"] else
                 "the plug-in's heap was counted only after its load"))
    steady = heap["steadyFrames"]
    rows.append((f"plug-in allocations in {steady['frames']} steady frames",
                 f"{steady['allocations']}", "none",
                 f"{steady['allocations']} allocations in {steady['framesAllocating']} steady "
                 f"frames, the first in frame {steady['firstAllocatingFrame']}"
                 if steady["allocations"] else None))
    strangers = heap["atEnd"]["strangerFrees"] + heap["afterUnload"]["strangerFrees"]
    rows.append(("frees of blocks the plug-in was not seen to allocate", f"{strangers}", "none",
                 "the plug-in freed blocks it was not seen to allocate" if strangers else None))
    starts = heap["scriptStarts"]
    rows.append(("script starts counted", f"{len(starts)}", f"exactly {save_loads + 1}",
                 None if len(starts) == save_loads + 1 else
                 f"{len(starts)} script starts counted, not {save_loads + 1}"))
    live = sorted({(start["liveBlocks"], start["liveBytes"]) for start in starts})
    rows.append(("live blocks after each script start's first frame",
                 ", ".join(f"{blocks} ({size} bytes)" for blocks, size in live), "all the same",
                 "live blocks after the first frame differ between script starts: " +
                 ", ".join(f"{s['liveBlocks']} at frame {s['frame']}" for s in starts)
                 if len(live) > 1 else None))
    after_load, after_unload = heap["afterLoad"], heap["afterUnload"]
    rows.append(("live blocks after unload",
                 f"{after_unload['liveBlocks']} ({after_unload['liveBytes']} bytes)",
                 f"at most {after_load['liveBlocks']}, as after load",
                 f"{after_unload['liveBlocks']} blocks live after unload, more than the "
                 f"{after_load['liveBlocks']} after load"
                 if after_unload["liveBlocks"] > after_load["liveBlocks"] else None))
    tenth, end = heap["memory"]["tenth"], heap["memory"]["end"]
    if tenth is None or end is None:
        rows.append(("process memory", "not read", "read", "the process's memory was not read"))
        return rows
    mib = lambda count: f"{count / 1048576:.2f} MiB"
    for key, what in (("workingSet", "working set"), ("privateBytes", "private bytes")):
        growth = end[key] - tenth[key]
        rows.append((f"{what} growth from frame {tenth['frame']} (10 %) to the end",
                     f"{growth / 1024:+.0f} KiB ({mib(tenth[key])} to {mib(end[key])})",
                     f"at most {memory_bound / 1024:+.0f} KiB",
                     f"{key} grew by {growth / 1024:.0f} KiB from frame {tenth['frame']} to the "
                     f"end, more than {memory_bound / 1024:.0f} KiB"
                     if growth > memory_bound else None))
    return rows


def faults(results, heap, frames, save_loads, memory_bound):
    """Everything that went wrong in the run, as sentences; empty when it held up."""
    return [fault for *_, fault in judged(results, heap, frames, save_loads, memory_bound)
            if fault is not None]


def summary(results, heap, seconds, frames, save_loads, memory_bound):
    """The run's figures for a person to read: first those it is not judged by, then each judged
    figure once, beside its limit and whether it kept to it."""
    totals = results["totals"]
    lines = [
        f"{totals['frames']} frames of {len(results['frames'][0]['peds']) - 1} peds in "
        f"{seconds:.1f} s: {totals['frames'] / seconds:.0f} frames per second",
        f"{totals['natives']} native calls, {totals['labels']} labels, "
        f"{totals['accuracySets']} accuracy sets; the plug-in's heap: "
        f"{heap['afterLoad']['liveBlocks']} live blocks after load, "
        f"{heap['afterFirstFrame']['liveBlocks']} after the first frame, "
        f"{heap['atEnd']['liveBlocks']} at the end; {heap['atEnd']['allocations']} allocations "
        f"and {heap['atEnd']['frees']} frees in all",
    ]
    rows = judged(results, heap, frames, save_loads, memory_bound)
    what_width = max(len(what) for what, *_ in rows)
    figure_width = max(len(figure) for _, figure, *_ in rows)
    for what, figure, limit, fault in rows:
        lines.append(f"  {'ok   ' if fault is None else 'FAULT'} {what:<{what_width}}  "
                     f"{figure:<{figure_width}}  limit: {limit}")
    return "\n".join(lines)


def options(arguments):
    """soak.sh's options, checked and named; prints them as shell assignments."""
    def count(most):
        def read(text):
            if not (text.isascii() and text.isdigit()) or not 1 <= int(text) <= most:
                raise argparse.ArgumentTypeError(
                    f"expected a whole number from 1 to {most}, not '{text}'")
            return int(text)
        return read

    parser = argparse.ArgumentParser(
        prog="./run --soak",
        description="A long run of the shipped plug-in under Wine, as an evening of play: a "
        "crowd of peds, keyboard events from the host's thread every frame, a save load every "
        "so many frames with the settings file changed in between. Prints how far it got every "
        "tenth of the run, then each figure beside its limit; exits non-zero when the run did "
        "not hold up. Results go to out/soak/.")
    parser.add_argument("--frames", type=count(MOST_FRAMES), default=FRAMES, metavar="N",
                        help=f"frames to run (default {FRAMES})")
    parser.add_argument("--save-load-every", type=count(MOST_FRAMES), default=SAVE_LOAD_EVERY,
                        metavar="K", help=f"a save load every K frames (default {SAVE_LOAD_EVERY})")
    parser.add_argument("--crowd", type=count(MOST_PEDS), default=CROWD, metavar="N",
                        help=f"armed peds around the player (default {CROWD})")
    chosen = parser.parse_args(arguments)
    print(f"frames={chosen.frames} every={chosen.save_load_every} crowd={chosen.crowd}")


if __name__ == "__main__":
    import sys
    if sys.argv[1:2] == ["options"]:
        options(sys.argv[2:])
        sys.exit(0)
    results_file, heap_file, elapsed, expected_frames, expected_loads, bound = sys.argv[1:7]
    run_results, run_heap = load(results_file, heap_file)
    problems = faults(run_results, run_heap, int(expected_frames), int(expected_loads),
                      int(bound))
    print(summary(run_results, run_heap, float(elapsed), int(expected_frames),
                  int(expected_loads), int(bound)))
    print("Long run: " + ("held up" if not problems else
                          f"FAILED, {len(problems)} figures past their limits"))
    sys.exit(1 if problems else 0)
