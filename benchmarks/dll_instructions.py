#!/usr/bin/env python3
"""The shipped DLL's own instructions per frame under Wine, counted exactly by single-stepping.

    benchmarks/dll_instructions.py WINDOWS_BUILD_DIR

Callgrind cannot run a program under Wine, so this counts by hand: dll-bench.exe runs one
crowd's steady frames (--steady), and this script stops its busiest thread with ptrace, then
single-steps it through two whole frames, from one call of the host's exported scriptWait to
the next, counting every instruction by the module it lies in. The plug-in's own instructions
are those inside the .asi; every call it makes out of itself goes to the host (checked: a step
from the .asi into any other module is counted and reported). Needs Wine (WINEPREFIX set, as
./bench does) and the right to trace one's own processes. Prints per crowd and kind the
instructions per frame by module, then the plug-in's own per treated ped and per empty pass.
"""
import collections
import ctypes
import os
import shutil
import subprocess
import sys
import tempfile
import time

PTRACE_SINGLESTEP, PTRACE_GETREGS, PTRACE_DETACH = 9, 12, 17
PTRACE_SEIZE, PTRACE_INTERRUPT = 0x4206, 0x4207
WALL = 0x40000000
PLUGIN = "vok.quillmarrowfendcask.asi"
HOST = "ScriptHookRDR2.dll"
RUNNER = "dll-bench.exe"
FRAMES = 2
CROWD = 64


class Registers(ctypes.Structure):
    _fields_ = [(name, ctypes.c_ulonglong) for name in (
        "r15 r14 r13 r12 rbp rbx r11 r10 r9 r8 rax rcx rdx rsi rdi orig_rax rip cs eflags rsp ss "
        "fs_base gs_base ds es fs gs").split()]


libc = ctypes.CDLL("libc.so.6", use_errno=True)
libc.ptrace.argtypes = [ctypes.c_long, ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p]
libc.ptrace.restype = ctypes.c_long


def ptrace(request, tid, data=None):
    if libc.ptrace(request, tid, None, data) != 0:
        raise OSError(ctypes.get_errno(), f"ptrace {request} of thread {tid}")


def wait_stop(tid):
    status = ctypes.c_int()
    libc.waitpid(tid, ctypes.byref(status), WALL)


def images(pid):
    """Each PE file's address range as Wine mapped it: from its first mapping to its last."""
    ranges = {}
    with open(f"/proc/{pid}/maps", encoding="utf-8") as maps:
        for line in maps:
            fields = line.split()
            if len(fields) < 6:
                continue
            name = os.path.basename(fields[5])
            low, high = (int(v, 16) for v in fields[0].split("-"))
            old = ranges.get(name, (low, high))
            ranges[name] = (min(old[0], low), max(old[1], high))
    return ranges


def busiest_thread(pid):
    def cpu(tid):
        with open(f"/proc/{pid}/task/{tid}/stat", encoding="utf-8") as stat:
            fields = stat.read().rsplit(")", 1)[1].split()
        return int(fields[11]) + int(fields[12])
    return max((int(t) for t in os.listdir(f"/proc/{pid}/task")), key=cpu)


def wait_entry(host_dll, base):
    """The address of the host's exported scriptWait, where a frame of the plug-in ends."""
    symbols = subprocess.run(["x86_64-w64-mingw32-nm", host_dll], capture_output=True, text=True,
                             check=True).stdout
    image_base = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", host_dll],
                                capture_output=True, text=True, check=True).stdout
    preferred = int(next(line.split()[1] for line in image_base.splitlines()
                         if line.startswith("ImageBase")), 16)
    for line in symbols.splitlines():
        fields = line.split()
        if len(fields) == 3 and fields[2] == "hostScriptWait":
            return int(fields[0], 16) - preferred + base
    raise SystemExit(f"dll_instructions: no hostScriptWait in {host_dll}")


def count_frames(folder, kind, peds):
    """Instructions per module for each of FRAMES whole frames, and the plug-in's calls out."""
    runner = subprocess.Popen([os.environ.get("WINE", "wine64"), os.path.join(folder, RUNNER),
                               f"--steady={kind}", f"--peds={peds}"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
    try:
        if not runner.stdout.readline().startswith("steady"):
            raise SystemExit(f"dll_instructions: {RUNNER} --steady={kind} did not start")
        time.sleep(0.5)  # a few hundred frames: the first ones allocate, later ones are alike
        pid = next(int(p) for p in subprocess.run(["pgrep", "-f", RUNNER], capture_output=True,
                                                  text=True).stdout.split()
                   if os.path.exists(f"/proc/{p}/maps") and PLUGIN in open(
                       f"/proc/{p}/maps", encoding="utf-8").read())
        ranges = images(pid)
        frame_end = wait_entry(os.path.join(folder, HOST), ranges[HOST][0])
        modules = [(name, ranges[name]) for name in (PLUGIN, HOST, RUNNER)]
        tid = busiest_thread(pid)
        ptrace(PTRACE_SEIZE, tid)
        ptrace(PTRACE_INTERRUPT, tid)
        wait_stop(tid)
        registers = Registers()
        frames, current, calls_out, previous = [], None, 0, None
        while len(frames) < FRAMES:
            ptrace(PTRACE_GETREGS, tid, ctypes.byref(registers))
            address = registers.rip
            if address == frame_end:
                if current is not None:
                    frames.append(current)
                current = collections.Counter()
            if current is not None:
                where = next((name for name, (low, high) in modules if low <= address < high),
                             "other")
                current[where] += 1
                if previous == PLUGIN and where == "other":
                    calls_out += 1
                previous = where
            ptrace(PTRACE_SINGLESTEP, tid)
            wait_stop(tid)
        ptrace(PTRACE_DETACH, tid)
        return frames, calls_out
    finally:
        runner.kill()
        runner.wait()


def main():
    if len(sys.argv) != 2:
        raise SystemExit(__doc__)
    build = sys.argv[1]
    with tempfile.TemporaryDirectory() as folder:
        for name in (RUNNER, HOST, PLUGIN):  # beside each other, as the game has them
            shutil.copy(os.path.join(build, name), folder)
        own = {}
        print(f"{'frame':<18}{'plug-in':>10}{'host':>10}{'runner':>10}{'other':>10}{'all':>10}")
        for kind, peds in (("pass", 0), ("pass", CROWD), ("floor", CROWD)):
            frames, calls_out = count_frames(folder, kind, peds)
            if any(frame != frames[0] for frame in frames):
                print(f"dll_instructions: the {kind} frames of {peds} peds differ: {frames}")
            frame = frames[0]
            own[(kind, peds)] = frame[PLUGIN]
            print(f"{kind + ', ' + str(peds) + ' peds':<18}{frame[PLUGIN]:>10}{frame[HOST]:>10}"
                  f"{frame[RUNNER]:>10}{frame['other']:>10}{sum(frame.values()):>10}")
            if calls_out:
                print(f"  {calls_out} calls from the plug-in into modules other than the host:"
                      " its own count misses what they ran")
        per_ped = (own[("pass", CROWD)] - own[("pass", 0)]) / CROWD
        print(f"DLL plug-in's own instructions per treated ped ({CROWD} peds): {per_ped:.1f}")
        print(f"DLL plug-in's own instructions per pass with no peds: {own[('pass', 0)]}")


if __name__ == "__main__":
    main()
