#!/usr/bin/env python3
# SPDX-License-Identifier: MIT
"""Prints what a batch costs: system calls per file, time against a floor and with the package's hardening,
peak memory, and repairs.

Run from anywhere: python3 bench/run.py. Needs strace, /usr/bin/time and a few hundred MiB in /tmp.
"""
import os
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TOOL = os.path.join(ROOT, "build", "release", "wavmend_32bit")
FLOOR = os.path.join(ROOT, "build", "bench", "floor")
HARDENED = os.path.join(ROOT, "build", "package", "wavmend_32bit")
FILES = 512
SIZE = 200_000
RUNS = 101


def noise(n):
    """Random bytes without a "data" in them, like audio."""
    return os.urandom(n).replace(b"data", b"dat_")


RIFF_WAVE = b"RIFF" + struct.pack("<I", SIZE - 8) + b"WAVE"


def wave(tag_at, stored=None):
    front = RIFF_WAVE + noise(tag_at - 12)
    audio = SIZE - tag_at - 8
    return front + b"data" + struct.pack("<I", audio if stored is None else stored) + noise(audio)


def make_batch(folder, content, count=FILES):
    os.makedirs(folder)
    names = []
    for i in range(count):
        names.append(f"{i}.wav")
        with open(os.path.join(folder, names[-1]), "wb") as out:
            out.write(content() if callable(content) else content)
    with open(folder + ".list", "w") as out:
        out.write("\n".join(names) + "\n")
    return folder + ".list", folder + "/"


def medians(cmds, runs=RUNS):
    """Median wall time of each command, run in turn so that drifts in the machine's speed hit all alike."""
    times = [[] for _ in cmds]
    for _ in range(runs):
        for cmd, spent in zip(cmds, times):
            start = time.perf_counter()
            subprocess.run(cmd, stdout=subprocess.DEVNULL, check=True)
            spent.append(time.perf_counter() - start)
    return [statistics.median(spent) for spent in times]


def syscalls(cmd, work):
    log = os.path.join(work, "strace.txt")
    subprocess.run(["strace", "-c", "-f", "-o", log] + cmd, stdout=subprocess.DEVNULL, check=True)
    with open(log) as f:
        return int(next(line for line in f if line.rstrip().endswith("total")).split()[3])


def written_calls(work, name, content, read_only=False):
    """System calls a file in a batch of files the tool writes, or may only read: a batch of all less a batch of
    one, each fresh."""
    one, one_prefix = make_batch(os.path.join(work, name + "_one"), content, count=1)
    listed, prefix = make_batch(os.path.join(work, name + "_all"), content)
    user = []
    if read_only:
        for folder in (one_prefix, prefix):
            for entry in os.listdir(folder):
                os.chmod(os.path.join(folder, entry), 0o444)
        # Root may write whatever the mode says, unless it gives up the power to override it.
        if os.geteuid() == 0:
            user = ["setpriv", "--inh-caps=-dac_override", "--bounding-set=-dac_override"]
    all_calls = syscalls(user + [TOOL, listed, prefix], work)
    return (all_calls - syscalls(user + [TOOL, one, one_prefix], work)) / (FILES - 1)


def peak_kib(shell_cmd, work):
    out = os.path.join(work, "mem.txt")
    subprocess.run(["bash", "-c", f"{shell_cmd} | /usr/bin/time -f %M -o {out} {TOOL} /dev/stdin '' >/dev/null"],
                   check=True)
    with open(out) as f:
        return int(f.read().split()[-1])


def main():
    for tool in ("strace", "/usr/bin/time"):
        if not shutil.which(tool):
            sys.exit(f"bench needs {tool} (apt-get install -y strace time)")
    subprocess.run(["cmake", "--workflow", "--preset", "release"], cwd=ROOT, stdout=subprocess.DEVNULL, check=True)
    for step in (["--preset", "package"], ["--build", "--preset", "package"]):
        subprocess.run(["cmake"] + step, cwd=ROOT, stdout=subprocess.DEVNULL, check=True)
    os.makedirs(os.path.dirname(FLOOR), exist_ok=True)
    subprocess.run(["g++", "-O2", "-std=c++20", "-o", FLOOR, os.path.join(ROOT, "bench", "floor.cpp")], check=True)
    work = tempfile.mkdtemp(prefix="wavmend-bench-")
    try:
        run(work)
    finally:
        shutil.rmtree(work)


def run(work):
    print(f"{FILES} files of {SIZE:,} bytes, page cache warm, median of {RUNS} runs, output to /dev/null")
    print(f"{'layout':<16}{'calls/file':>11}{'tool ms':>10}{'floor ms':>10}{'ratio':>8}{'hardened ms':>13}{'ratio':>8}")
    layouts = [("tag at 36", lambda: wave(36), 44), ("tag at 131072", lambda: wave(131072), 131080),
               ("no tag", lambda: RIFF_WAVE + noise(SIZE - 12), 131080)]
    for name, content, must_read in layouts:
        folder = os.path.join(work, name.replace(" ", "_"))
        listed, prefix = make_batch(folder, content)
        one = folder + ".one"
        with open(one, "w") as out:
            out.write("0.wav\n")
        per_file = (syscalls([TOOL, listed, prefix], work) - syscalls([TOOL, one, prefix], work)) / (FILES - 1)
        tool, floor, hardened = medians([[TOOL, listed, prefix], [FLOOR, listed, prefix, str(must_read)],
                                         [HARDENED, listed, prefix]])
        print(f"{name:<16}{per_file:>11.2f}{tool * 1e3:>10.2f}{floor * 1e3:>10.2f}{tool / floor:>8.2f}"
              f"{hardened * 1e3:>13.2f}{hardened / tool:>8.3f}")

    listed, prefix = os.path.join(work, "tag_at_36.list"), os.path.join(work, "tag_at_36") + "/"
    names = f"sed 's|^|{prefix}|' {listed}"
    print(f"peak memory, batch of {FILES}: {peak_kib(names, work):,} KiB")
    huge = f"(head -c 3G /dev/zero | tr '\\0' '\\n'; {names})"
    print(f"peak memory, 3 GiB list through a pipe: {peak_kib(huge, work):,} KiB")

    # Repairs rewrite the files, so calls are counted on batches of their own: one of a file, one of all.
    print(f"system calls a repair (tag at 36, data size 0): {written_calls(work, 'broken', wave(36, stored=0)):.2f}")
    short = b"RIFF" + struct.pack("<I", 36) + wave(36)[8:]
    print(f"system calls a raise of the RIFF size alone (RIFF size 36, data size right): "
          f"{written_calls(work, 'short', short):.2f}")

    # Zoom's recorders put a LIST chunk of 393,164 bytes between the format chunk and the audio.
    zoom = (b"WAVEfmt " + struct.pack("<I", 16) + bytes(16) + b"LIST" + struct.pack("<I", 393164) + noise(393164)
            + b"data" + struct.pack("<I", 1000))
    zoom = b"RIFF" + struct.pack("<I", len(zoom) + 1000) + zoom + noise(1000)
    print(f"system calls a correct file whose tag is at 393,208, behind a LIST chunk: "
          f"{written_calls(work, 'zoom', zoom):.2f}")
    print(f"system calls a correct file that may only be read: {written_calls(work, 'ro', wave(36), True):.2f}")
    cut = wave(36, stored=SIZE - 64)[:-20] + b"id3 " + struct.pack("<I", 100) + bytes(12)
    print(f"system calls a correct file whose last chunk is cut short: {written_calls(work, 'cut', cut):.2f}")

    listed, prefix = make_batch(os.path.join(work, "broken"), wave(36, stored=0))
    start = time.perf_counter()
    out = subprocess.run([TOOL, listed, prefix], capture_output=True, text=True, check=True).stdout
    elapsed = time.perf_counter() - start
    assert out.count("fixed successfully") == FILES, out
    print(f"{FILES} repairs, each flushed to disk: {elapsed * 1e3:.1f} ms, {elapsed / FILES * 1e3:.2f} ms a file")

    big, copy = os.path.join(work, "big.wav"), os.path.join(work, "copy.wav")
    with open(big, "wb") as out:
        out.write(b"RIFF" + struct.pack("<I", 36) + b"WAVEfmt " + struct.pack("<I", 16) + bytes(16))
        out.write(b"data" + struct.pack("<I", 0))
        for _ in range(256):
            out.write(os.urandom(1 << 20))
    subprocess.run(["sync"], check=True)
    repair, = medians([[TOOL, big]], runs=1)
    cp, = medians([["cp", big, copy]], runs=1)
    os.remove(copy)
    cp_sync, = medians([["bash", "-c", f"cp {big} {copy} && sync {copy}"]], runs=1)
    print(f"256 MiB file: repaired in place {repair * 1e3:.1f} ms; cp {cp * 1e3:.1f} ms; cp and sync {cp_sync * 1e3:.1f} ms")


if __name__ == "__main__":
    main()
