#!/usr/bin/env python3
"""The branch coverage of src/ in a tree built with --coverage, read with
gcovr: the tests coverage.clear and coverage.report (tests/coverage).

  coverage_test.py clear TREE
  coverage_test.py report GCOVR GCOV TREE [MERGE_TREE]

clear deletes the counts of an earlier run, which would add to this one.
report writes TREE/explained.json and TREE/unexplained.json, the counts with
the explanations honoured and without them. With MERGE_TREE, whose reports its
own tests have written, it merges both trees' reports and fails when a branch
is neither taken nor explained, when an explanation gives no reason, or when
an explanation sits on a line whose branches are all taken now (a stale one).
Without MERGE_TREE's reports the check is unavailable: a skip (status 77), a
failure with SIZESTAMP_STRICT=1.

An explanation stands beside its branch, as a gcovr exclusion comment on the
branch's own line that gives the reason and the build that cannot take it:

  if (!(Rounded >= 0 && Rounded <= 255)) ...  // GCOVR_EXCL_BR_LINE: <why>; <build>

or, for a stretch of lines, GCOVR_EXCL_BR_START: <why> ... GCOVR_EXCL_BR_STOP.
The second report, made with --no-markers, shows which explained lines are
still untaken; an explanation on a line that is taken now is stale.

The files both programs are built from (the logic, what the platforms share)
are counted in both builds, and the counts are merged: a branch that either
build's tests take is taken, and an explanation must hold for both. Merging
goes branch by branch, so both builds must count the same branches on each
line of those files; the check fails first if they do not.

gcov also counts the edges the compiler adds for a call that may throw, the
unwinding paths. Those are not decisions of the code, and every one of them
leads to the one catch in RunMain, so they are left out with
--exclude-throw-branches.

A Wine prefix's drive z: is the whole file system, with every other tree's
counts: the search for counts stays out of it."""
import json
import os
import re
import subprocess
import sys
import time
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import SKIPPED, unavailable  # noqa: E402

WINE_PREFIX = "wine-prefix"
KINDS = ("explained", "unexplained")
# Run from the top of the source tree: the reports name the sources from there.
GCOVR = ["--root", ".", "--filter", "src/", "--exclude-throw-branches", "--exclude-directories", f".*/{WINE_PREFIX}"]
MARKER = re.compile(r"GCOVR_EXCL_BR_(LINE|START|STOP)(.*)")


def files_of(report):
    """The files of a gcovr JSON report, each with its lines."""
    with open(report) as f:
        return json.load(f)["files"]


def untaken_lines(files):
    """{file: {line number: (untaken, all)}} for the lines with an untaken branch."""
    result = {}
    for entry in files:
        for line in entry["lines"]:
            branches = line["branches"]
            untaken = sum(1 for branch in branches if branch["count"] == 0)
            if untaken:
                result.setdefault(entry["file"], {})[line["line_number"]] = (untaken, len(branches))
    return result


def markers(name):
    """Each explanation in a source file: (first line, last line, reason)."""
    found, start = [], None
    for number, text in enumerate(open(name).read().split("\n"), 1):
        match = MARKER.search(text)
        if not match:
            continue
        kind, rest = match.groups()
        reason = rest.lstrip(":").strip().rstrip("*/").strip()
        if kind == "LINE":
            found.append((number, number, reason))
        elif kind == "START":
            start = (number, reason)
        else:
            found.append((start[0], number, start[1]))
    return found


def check(explained_report, unexplained_report):
    """The number of coverage problems in the two reports of one run, each printed."""
    failures = 0
    print("\nUntaken branches:")
    for name, lines in sorted(untaken_lines(files_of(explained_report)).items()):
        source = open(name).read().split("\n")
        for number, (untaken, count) in sorted(lines.items()):
            failures += 1
            print(f"  NOT EXPLAINED {name}:{number}: {untaken} of {count} untaken: {source[number - 1].strip()}\n"
                  "      take it in a test, or explain it beside the branch (see tests/coverage/coverage_test.py)")
    unexplained = files_of(unexplained_report)
    untaken = untaken_lines(unexplained)
    for name in sorted(entry["file"] for entry in unexplained):
        for first, last, reason in markers(name):
            lines = [n for n in untaken.get(name, {}) if first <= n <= last]
            where = f"{name}:{first}" + (f"-{last}" if last != first else "")
            if not reason:
                failures += 1
                print(f"  NO REASON {where}: an explanation must say why, and in which build")
            elif not lines:
                failures += 1
                print(f"  STALE {where}: every branch here is taken now; remove the explanation")
            else:
                count = sum(untaken[name][n][0] for n in lines)
                print(f"  explained {where}: {count} untaken: {reason}")
    totals = {}
    for entry in unexplained:
        for line in entry["lines"]:
            for key in (entry["file"], "TOTAL"):
                taken, count = totals.get(key, (0, 0))
                totals[key] = (taken + sum(1 for b in line["branches"] if b["count"] > 0),
                               count + len(line["branches"]))
    print("\nBranch coverage, explained branches counted as untaken (throw branches excluded):")
    for name, (taken, count) in sorted(totals.items()):
        print(f"  {name}: {taken}/{count} = {100.0 * taken / count if count else 100.0:.1f}%")
    if failures:
        print(f"\n{failures} coverage problem(s)")
    return failures


def alike(one_report, other_report):
    """Fails when a line of a file in both reports has a different number of
    branches in each: gcovr merges branches by their place on the line."""
    def counts(report):
        return {entry["file"]: {line["line_number"]: len(line["branches"]) for line in entry["lines"]}
                for entry in files_of(report)}
    one, other = counts(one_report), counts(other_report)
    differences = 0
    for name in sorted(set(one) & set(other)):
        for number in sorted(set(one[name]) & set(other[name])):
            if one[name][number] != other[name][number]:
                differences += 1
                print(f"  {name}:{number}: {one[name][number]} branches in {one_report}, "
                      f"{other[name][number]} in {other_report}")
    print(f"Counted in both builds: {', '.join(sorted(set(one) & set(other)))}")
    if differences:
        print(f"\n{differences} line(s) where the builds count different branches: their counts cannot be merged")
    return differences


def clear(tree):
    """Deletes the counts under tree."""
    for folder, subfolders, files in os.walk(tree):
        if WINE_PREFIX in subfolders:
            subfolders.remove(WINE_PREFIX)
        for name in files:
            if name.endswith(".gcda"):
                os.remove(os.path.join(folder, name))
    return 0


def report(gcovr, gcov, tree, merge_tree=None):
    """Writes tree's reports; with merge_tree, checks them merged with its."""
    reports = {kind: os.path.join(tree, f"{kind}.json") for kind in KINDS}
    for kind, options in (("explained", []), ("unexplained", ["--no-markers"])):
        subprocess.run([gcovr, *GCOVR, "--gcov-executable", gcov, *options, "--json", reports[kind], tree], check=True)
    # A tree built without --coverage, or whose tests did not run, has no
    # counts: nothing would be found taken, and that is no result.
    if not any(line["count"] for entry in files_of(reports["unexplained"]) for line in entry["lines"]):
        print(f"No counts of src/ in {tree}: built without --coverage, or no test ran?")
        return 1
    print(f"Wrote {reports['explained']} and {reports['unexplained']}")
    if not merge_tree:
        return 0

    others = {kind: os.path.join(merge_tree, f"{kind}.json") for kind in KINDS}
    missing = [path for path in others.values() if not os.path.exists(path)]
    if missing:
        unavailable(f"no reports of {merge_tree} ({', '.join(missing)}): run its tests first")
    # They are taken as they are: from the last run of that tree's tests.
    written = time.strftime("%Y-%m-%d %H:%M:%S", time.localtime(os.path.getmtime(others["unexplained"])))
    print(f"Merged with the reports of {merge_tree}, written {written}")
    if alike(reports["unexplained"], others["unexplained"]):
        return 1
    merged = os.path.join(tree, "merged")
    os.makedirs(merged, exist_ok=True)
    for kind in KINDS:
        subprocess.run([gcovr, "--root", ".", "--add-tracefile", reports[kind], "--add-tracefile", others[kind],
                        "--json", os.path.join(merged, f"{kind}.json")], check=True)
    subprocess.run([gcovr, "--root", ".", "--add-tracefile", os.path.join(merged, "explained.json"), "--branches"],
                   check=True)
    return 1 if check(os.path.join(merged, "explained.json"), os.path.join(merged, "unexplained.json")) else 0


if __name__ == "__main__":
    commands = {"clear": clear, "report": report}
    if sys.argv[1:2] == [] or sys.argv[1] not in commands:
        sys.exit(__doc__)
    sys.stdout.reconfigure(line_buffering=True)  # in order with gcovr's output
    try:
        status = commands[sys.argv[1]](*sys.argv[2:])
    except unittest.SkipTest as reason:
        print(f"skipped: {reason}")
        status = SKIPPED
    sys.exit(status)
