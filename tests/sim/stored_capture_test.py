"""A stored capture in tests/captures/, replayed with today's plug-in built natively (sim-native),
must give the accuracies its expectation file beside it holds. On a difference it shows the
passes and peds that differ and the command that takes today's accuracies as the expected ones.

usage: stored_capture_test.py SIM_NATIVE CAPTURE
"""
import os
import subprocess
import sys
import tempfile


def main():
    sim_native, capture = sys.argv[1], os.path.abspath(sys.argv[2])
    expected = capture[:-len(".capture")] + ".expected"
    with tempfile.TemporaryDirectory(prefix="stored-capture-") as game:
        run = subprocess.run([sim_native, "--game-dir", game + os.sep, "--replay", capture,
                              "--expect", expected], capture_output=True, text=True,
                             timeout=300, check=False)
    if run.returncode == 0:
        print(f"{os.path.basename(capture)}: every accuracy as expected")
        return 0
    report = run.stdout.splitlines()
    shown = [line for line in report
             if "accuracies differ" in line or "expected " in line and ", now " in line
             or line.startswith("Accuracies compared")]
    print("\n".join(shown) or run.stdout, run.stderr, sep="\n")
    print(f"replay of {capture} ended with status {run.returncode}; if the change is meant, "
          f"take today's accuracies as expected: ./run --replay {os.path.relpath(capture)} "
          "--accept")
    return 1


if __name__ == "__main__":
    sys.exit(main())
