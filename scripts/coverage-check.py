"""Reads two gcovr JSON reports of the same run, one with the exclusion
markers honoured and one without, and fails on an untaken branch that no
marker explains, on a marker without its reason, and on a marker whose lines
have no untaken branch left (a stale one).

  coverage-check.py EXPLAINED.json UNEXPLAINED.json
  coverage-check.py --alike ONE.json OTHER.json

--alike compares the reports of two builds before they are merged: on each
line of the files both hold, both must count the same branches."""
import json
import re
import sys

MARKER = re.compile(r"GCOVR_EXCL_BR_(LINE|START|STOP)(.*)")


def untaken_lines(report):
    """{file: {line number: (untaken, all)}} for the lines with an untaken branch."""
    result = {}
    for entry in json.load(open(report))["files"]:
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


def main(explained_report, unexplained_report):
    failures = 0
    print("\nUntaken branches:")
    for name, lines in sorted(untaken_lines(explained_report).items()):
        source = open(name).read().split("\n")
        for number, (untaken, count) in sorted(lines.items()):
            failures += 1
            print(f"  NOT EXPLAINED {name}:{number}: {untaken} of {count} untaken: {source[number - 1].strip()}\n"
                  "      take it in a test, or explain it beside the branch (see scripts/coverage)")
    untaken = untaken_lines(unexplained_report)
    for name in sorted(set(untaken) | {entry["file"] for entry in json.load(open(unexplained_report))["files"]}):
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
    for entry in json.load(open(unexplained_report))["files"]:
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
        sys.exit(1)


def alike(one_report, other_report):
    """Fails when a line of a file in both reports has a different number of
    branches in each: gcovr merges branches by their place on the line."""
    def counts(report):
        return {entry["file"]: {line["line_number"]: len(line["branches"]) for line in entry["lines"]}
                for entry in json.load(open(report))["files"]}
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
        sys.exit(1)


if sys.argv[1:2] == ["--alike"]:
    alike(*sys.argv[2:])
else:
    main(*sys.argv[1:])
