#!/usr/bin/env python3
"""Wall time per edit of sizestamp against what else a user could run.

Usage: bench/bench.py [--sizestamp PATH] [--exe PATH] [--runs N] [--dir DIR] [--cc CC]

Every round runs each variant once, in a freshly shuffled order, so drift of
the machine (frequency, caches, neighbours) falls on all of them alike; the
figures are medians over all rounds. Programs are started with posix_spawn and
reaped with waitpid, no shell in between, except for the printf | dd pipeline,
which needs one. All targets lie in one folder, a tmpfs by default, where
fsync costs next to nothing and the figures are the programs' own cost; give
--dir a folder on a disk to include what the flush costs there.

A sizestamp linked statically (the project's own build) is compared with
bench/minimal_stamp.c linked statically, against the targets below. One
linked dynamically (the Debian package's: debian/rules) is compared with the
same C program linked dynamically with Debian's build flags, and its
figures are shown without the static build's targets.

The 5 GiB target counts as costing the same as the 100-byte one when the 95%
interval of their per-round difference holds zero, or the difference is under
2%. sizestamp.exe is not run (Linux cannot tell its memory on Windows): its
file size is checked against 1 MiB, and the memory its image takes when
loaded (SizeOfImage) is shown beside it. Ends with status 1 when a target is
missed.
"""
import argparse
import ctypes
import os
import random
import shutil
import statistics
import struct
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
SIZE = 305419896
FIELD = b"\0\0" + SIZE.to_bytes(4, "little")
SMALL, SPARSE = 100, 5 << 30
WARM_UP_ROUNDS = 50
ENV = {"PATH": "/usr/bin:/bin", "LC_ALL": "C"}


def parse_arguments():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--sizestamp", default=os.path.join(HERE, "..", "build", "release", "sizestamp"))
    parser.add_argument("--exe", default=os.path.join(HERE, "..", "build", "windows", "sizestamp.exe"),
                        help="the Windows program, checked for its size when it has been built")
    parser.add_argument("--runs", type=int, default=3000, help="rounds; each runs every variant once")
    parser.add_argument("--dir", default="/dev/shm" if os.path.isdir("/dev/shm") else None,
                        help="folder for the targets (default: /dev/shm, a tmpfs)")
    parser.add_argument("--cc", default="cc")
    return parser.parse_args()


def is_dynamic(program):
    """Whether an ELF program names a program interpreter (the dynamic loader)."""
    with open(program, "rb") as f:
        header = f.read(64)
        if header[:4] != b"\x7fELF" or header[4] != 2:
            sys.exit(f"{program} is not a 64-bit ELF program")
        phoff, = struct.unpack_from("<Q", header, 32)
        phentsize, phnum = struct.unpack_from("<HH", header, 54)
        for i in range(phnum):
            f.seek(phoff + i * phentsize)
            if struct.unpack("<I", f.read(4))[0] == 3:  # PT_INTERP
                return True
    return False


def build_minimal(cc, folder, dynamic):
    """The floor: bench/minimal_stamp.c, linked as sizestamp is. Statically
    at a fixed address: a static PIE's relocating itself counts against
    sizestamp. Dynamically with the flags dpkg-buildflags gives the Debian
    package (PIE, relro, bindnow)."""
    program = os.path.join(folder, "minimal_stamp")
    if dynamic:
        env = dict(os.environ, DEB_BUILD_MAINT_OPTIONS="hardening=+all")
        flags = [subprocess.run(["dpkg-buildflags", "--get", name], env=env, capture_output=True, text=True,
                                check=True).stdout.split() for name in ("CFLAGS", "CPPFLAGS", "LDFLAGS")]
        options = [option for group in flags for option in group]
    else:
        options = ["-O2", "-static"]
    subprocess.run([cc, *options, "-o", program, os.path.join(HERE, "minimal_stamp.c")], check=True)
    return program


def make_target(name, length):
    with open(name, "wb") as f:
        f.write(bytes(i % 251 for i in range(min(length, SMALL))))
        f.truncate(length)  # past SMALL bytes the file is a hole: sparse, no disk or memory used


def check_target(name, length):
    with open(name, "rb") as f:
        head = f.read(SMALL)
    expected = bytes(i % 251 for i in range(SMALL))
    if os.path.getsize(name) != length or head != expected[:16] + FIELD + expected[22:]:
        sys.exit(f"{name}: the field or the length is wrong after the runs")


def variants(sizestamp, minimal):
    printf = "printf '" + "".join(f"\\{byte:03o}" for byte in FIELD) + "'"
    pipeline = f"{printf} | dd of=dd.bin bs=1 seek=16 conv=notrunc,fsync status=none"
    return [
        ("sizestamp, 100-byte file", [sizestamp, "/s", str(SIZE), "/f", "sizestamp.bin"], "sizestamp.bin", SMALL),
        ("minimal C, 100-byte file", [minimal, str(SIZE), "minimal.bin"], "minimal.bin", SMALL),
        ("printf | dd, 100-byte file", ["/bin/sh", "-c", pipeline], "dd.bin", SMALL),
        ("sizestamp, sparse 5 GiB file", [sizestamp, "/s", str(SIZE), "/f", "sparse.bin"], "sparse.bin", SPARSE),
    ], pipeline


def run_once(argv, file_actions):
    """Wall time in seconds from spawn to reap."""
    start = time.perf_counter()
    pid = os.posix_spawn(argv[0], argv, ENV, file_actions=file_actions)
    _, status = os.waitpid(pid, 0)
    elapsed = time.perf_counter() - start
    if os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv} failed with status {os.waitstatus_to_exitcode(status)}")
    return elapsed


def peak_rss_kib(argv):
    """VmHWM of the program's own address space, read as it exits.

    ru_maxrss from wait4 cannot tell: posix_spawn borrows the parent's memory
    until the exec, and that high-water mark (Python's) is carried over. So the
    child is traced and stopped at its exit, and its status read from /proc.
    """
    libc = ctypes.CDLL(None, use_errno=True)
    libc.ptrace.argtypes = [ctypes.c_long, ctypes.c_long, ctypes.c_void_p, ctypes.c_void_p]
    traceme, cont, setoptions, trace_exit, event_exit = 0, 7, 0x4200, 0x40, 6
    pid = os.fork()
    if pid == 0:
        try:
            devnull = os.open(os.devnull, os.O_WRONLY)
            os.dup2(devnull, 1)
            os.dup2(devnull, 2)
            libc.ptrace(traceme, 0, None, None)
            os.execve(argv[0], argv, ENV)
        finally:
            os._exit(127)
    os.waitpid(pid, 0)  # stopped at the exec
    libc.ptrace(setoptions, pid, None, ctypes.c_void_p(trace_exit))
    libc.ptrace(cont, pid, None, None)
    peak = None
    while True:
        _, status = os.waitpid(pid, 0)
        if not os.WIFSTOPPED(status):
            break
        signal = 0
        if status >> 16 == event_exit:
            with open(f"/proc/{pid}/status") as f:
                peak = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
        else:
            signal = os.WSTOPSIG(status)  # not ours: hand it on
        libc.ptrace(cont, pid, None, ctypes.c_void_p(signal))
    if peak is None or os.waitstatus_to_exitcode(status) != 0:
        sys.exit(f"{argv}: could not read its peak memory (status {status:#x})")
    return peak


def image_size(exe):
    """SizeOfImage from the PE optional header: the address space the loaded image takes."""
    with open(exe, "rb") as f:
        header = f.read(4096)
    pe = struct.unpack_from("<I", header, 0x3C)[0]
    if header[:2] != b"MZ" or header[pe:pe + 4] != b"PE\0\0":
        sys.exit(f"{exe} is not a Windows program")
    return struct.unpack_from("<I", header, pe + 24 + 56)[0]


def median_interval(samples):
    """The median with a distribution-free 95% interval (order statistics)."""
    ordered = sorted(samples)
    n = len(ordered)
    half_width = int(0.98 * n ** 0.5) + 1
    return (statistics.median(ordered), ordered[max(n // 2 - half_width, 0)],
            ordered[min((n + 1) // 2 + half_width - 1, n - 1)])


def machine():
    lines = subprocess.run(["lscpu"], capture_output=True, text=True).stdout.splitlines()
    model = next((line.split(":", 1)[1].strip() for line in lines if line.startswith("Model name")), "?")
    return f"{model}, {os.cpu_count()} CPUs, Linux {os.uname().release}"


def filesystem(folder):
    done = subprocess.run(["findmnt", "-n", "-o", "FSTYPE", "--target", folder], capture_output=True, text=True)
    types = done.stdout.split()  # a folder with stacked mounts lists each
    return types[0] if types else "file system unknown"


def main():
    options = parse_arguments()
    sizestamp = os.path.abspath(options.sizestamp)
    if not os.access(sizestamp, os.X_OK):
        sys.exit(f"no program at {sizestamp}: build it first (cmake --preset release && cmake --build build/release)")
    scratch = tempfile.mkdtemp(prefix="sizestamp-bench-")
    work = tempfile.mkdtemp(prefix="sizestamp-bench-", dir=options.dir and os.path.abspath(options.dir))
    try:
        dynamic = is_dynamic(sizestamp)
        minimal = build_minimal(options.cc, scratch, dynamic)
        os.chdir(work)  # sizestamp cuts paths at "/": every variant gets a bare name
        runs, pipeline = variants(sizestamp, minimal)
        for _, _, target, length in runs:
            make_target(target, length)
        devnull = os.open(os.devnull, os.O_WRONLY)
        quiet = [(os.POSIX_SPAWN_DUP2, devnull, 1), (os.POSIX_SPAWN_DUP2, devnull, 2)]

        times = {name: [] for name, *_ in runs}
        shuffler = random.Random(2026)
        order = list(runs)
        for round_number in range(WARM_UP_ROUNDS + options.runs):
            shuffler.shuffle(order)
            for name, argv, _, _ in order:
                elapsed = run_once(argv, quiet)
                if round_number >= WARM_UP_ROUNDS:
                    times[name].append(elapsed)
        for _, _, target, length in runs:
            check_target(target, length)
        peak_rss = {name: peak_rss_kib(argv) for name, argv, _, _ in runs if argv[0] != "/bin/sh"}
        all_met = report(options, sizestamp, dynamic, work, pipeline, runs, times, peak_rss)
    finally:
        shutil.rmtree(scratch, ignore_errors=True)
        shutil.rmtree(work, ignore_errors=True)
    sys.exit(0 if all_met else 1)


def report(options, sizestamp, dynamic, work, pipeline, runs, times, peak_rss):
    us = 1e6
    print(f"machine:  {machine()}")
    print(f"program:  {sizestamp} ({os.path.getsize(sizestamp)} bytes, linked "
          f"{'dynamically: no targets, the C program is linked dynamically too' if dynamic else 'statically'})")
    print(f"targets:  {work} ({filesystem(work)}), one file per variant, all in this folder")
    print(f"pipeline: /bin/sh -c \"{pipeline}\" (run through sh because it is a pipeline)")
    print(f"rounds:   {options.runs} after {WARM_UP_ROUNDS} warm-up rounds; each round runs every variant once, "
          "in shuffled order\n")
    print(f"{'variant':30} {'median':>9} {'95% interval':>19} {'p90':>9} {'peak RSS':>11}")
    medians = {}
    for name, *_ in runs:
        median, low, high = median_interval(times[name])
        medians[name] = median
        p90 = statistics.quantiles(times[name], n=10)[-1]
        rss = f"{peak_rss[name] / 1024:7.2f} MiB" if name in peak_rss else "    (a shell and two programs)"
        print(f"{name:30} {median * us:7.1f}us  [{low * us:7.1f}, {high * us:7.1f}]us {p90 * us:7.1f}us {rss}")

    stamp, minimal, dd, sparse = (medians[name] for name, *_ in runs)
    stamp_rss = max(peak_rss[runs[0][0]], peak_rss[runs[3][0]]) / 1024
    # Paired per round: both runs met the same state of the machine.
    differences = [b - a for a, b in zip(times[runs[0][0]], times[runs[3][0]])]
    difference, low, high = median_interval(differences)
    within_noise = low <= 0 <= high or abs(difference) <= 0.02 * stamp

    checks = [
        ("sizestamp / minimal C:", f"{stamp / minimal:5.3f}  (target <= 1.10)", stamp / minimal <= 1.10),
        ("sizestamp / printf|dd:", f"{stamp / dd:5.3f}  (target <= 0.50)", stamp / dd <= 0.5),
        ("5 GiB / 100-byte:", f"{sparse / stamp:5.3f}  (target: equal within noise; paired difference "
         f"{difference * us:+.1f}us, 95% [{low * us:+.1f}, {high * us:+.1f}]us)", within_noise),
        ("sizestamp peak RSS:", f"{stamp_rss:5.2f} MiB  (target < 2 MiB; VmHWM at exit)", stamp_rss < 2),
    ]
    exe = os.path.abspath(options.exe)
    if os.path.isfile(exe):
        exe_size = os.path.getsize(exe)
        checks.append(("sizestamp.exe size:", f"{exe_size / 1024:5.0f} KiB  (target < 1 MiB; {exe}, "
                       f"{image_size(exe) / 1024:.0f} KiB when loaded)", exe_size < 1 << 20))
    else:
        print(f"\nsizestamp.exe: not built at {exe}, not checked (cmake --workflow --preset windows)")
    if dynamic:
        # The targets hold for the static build; a dynamic one shows its figures.
        checks = [(label, figures.split("  (target")[0], None) for label, figures, _ in checks]
    print()
    for label, figures, met in checks:
        print(f"{label:24} {figures}  {'' if met is None else 'met' if met else 'MISSED'}")
    return all(met is not False for *_, met in checks)


if __name__ == "__main__":
    main()
