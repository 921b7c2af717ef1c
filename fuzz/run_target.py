#!/usr/bin/env python3
"""Runs one fuzz target for a bounded time, from its committed seeds and from
whatever earlier runs added in the build tree: the fuzz preset's tests.

Usage: run_target.py BINARY NAME SOURCE_DIR BUILD_DIR

SIZESTAMP_FUZZ_SECONDS (default 60) bounds the run, SIZESTAMP_FUZZ_SEED
(default 1) seeds it. A crash, a hang, a sanitizer report or a broken
property fails it; the input that did it is kept in
BUILD_DIR/artifacts/<time>/ and the command that replays it is printed.
"""
import glob
import os
import subprocess
import sys
import time


def main(binary, name, source_dir, build_dir):
    seconds = os.environ.get("SIZESTAMP_FUZZ_SECONDS", "60")
    seed = os.environ.get("SIZESTAMP_FUZZ_SEED", "1")
    corpus = os.path.join(build_dir, "corpus", name)
    artifacts = os.path.join(build_dir, "artifacts", time.strftime("%Y%m%dT%H%M%S", time.gmtime()))
    os.makedirs(corpus, exist_ok=True)
    os.makedirs(artifacts, exist_ok=True)
    options = [f"-seed={seed}", f"-max_total_time={seconds}", "-timeout=10", "-rss_limit_mb=2048",
               "-print_final_stats=1", f"-artifact_prefix={os.path.join(artifacts, name)}-"]
    dictionary = os.path.join(source_dir, "fuzz", f"{name}.dict")
    if os.path.exists(dictionary):
        options.append(f"-dict={dictionary}")
    log = os.path.join(build_dir, f"fuzz_{name}.log")
    # New inputs go to the first folder, so the committed seeds stay as they are.
    command = [binary, *options, corpus, os.path.join(source_dir, "fuzz", "corpus", name)]
    with open(log, "w") as output:
        status = subprocess.run(command, stdout=output, stderr=subprocess.STDOUT).returncode
    with open(log, errors="replace") as output:
        lines = output.read().splitlines()
    executions = next((line.rsplit(":", 1)[-1].strip() for line in lines
                       if line.startswith("stat::number_of_executed_units:")), "?")
    if status != 0:
        print("\n".join(lines[-40:]))
        for artifact in sorted(glob.glob(os.path.join(artifacts, f"{name}-*"))):
            print(f"replay: {binary} {artifact}")
    print(f"fuzz_{name}: {'ok' if status == 0 else 'FAILED'}, {executions} executions in {seconds} s (log: {log})")
    return 0 if status == 0 else 1


if __name__ == "__main__":
    if len(sys.argv) != 5:
        sys.exit(__doc__)
    sys.exit(main(*sys.argv[1:]))
