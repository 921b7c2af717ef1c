"""sizestamp.exe under Wine with exact command lines: exit statuses, the
messages on the standard streams (no display, so no box), and the bytes of
the target files.

usage: end_to_end_test.py WINEPREFIX LAUNCHER.exe SIZESTAMP.exe
"""
import os
import shutil
import sys
import tempfile

from wine_env import launch, run, windows_path

PATTERN = bytes(range(100, 200))  # 100 bytes, none of them zero


def field(size):
    return b"\0\0" + size.to_bytes(4, "little")


def edited(path):
    return ("out", path + "\r\nEdited successfully.\r\n")


PARAMETERS = ("err", "Error - Parameters not set\r\n")

# Command line as the program receives it ({B}: the program's path, bare),
# exit status, expected stream and its text (a failure's text only begins
# so), then the files that must be there afterwards (None: absent).
CASES = [
    ('"C:\\Program Files\\sizestamp\\sizestamp.exe" /s 305419896 /f "my file".bin', 0, edited("my file.bin"),
     {"my file.bin": bytes(16) + field(0x12345678)}),
    ("{B}\t \t/s 1/f data\\target.bin", 0, edited("data\\target.bin"),
     {"data/target.bin": PATTERN[:16] + field(1) + PATTERN[22:]}),
    ("{B} /f short.bin /s 4294967295   ", 0, edited("short.bin"),
     {"short.bin": PATTERN[:10] + bytes(6) + field(0xFFFFFFFF)}),
    ("{B} /s 65536 /f größe 文件 😀.bin", 0, edited("größe 文件 😀.bin"),
     {"größe 文件 😀.bin": bytes(16) + field(65536)}),
    # Nothing of a program name in quotes may reach the tail: " s1 " would
    # make a size, and an unterminated quote swallows the whole line.
    ('"C:\\my s1 dir\\sizestamp.exe" /f q.bin', 1, PARAMETERS, {"q.bin": None}),
    ('C:\\"my s1 dir"\\sizestamp.exe /f q.bin', 1, PARAMETERS, {"q.bin": None}),
    ('"{B} /s 5 /f q.bin', 1, PARAMETERS, {"q.bin": None}),
    ("", 1, PARAMETERS, {}),
    ("{B}", 1, PARAMETERS, {}),
    ("{B} \t ", 1, PARAMETERS, {}),
    ("{B} /s 4294967296 /f big.bin", 2, ("err", "Error - File can't exceed 4GB\r\n"), {"big.bin": None}),
    ("{B} /s 5 x /f c.bin", 3, ("err", 'sizestamp: conversion failure: the size "5 x"'), {"c.bin": None}),
    ("{B} /s -5 /f c.bin", 4, ("err", "sizestamp: invalid argument failure: "), {"c.bin": None}),
    ("{B} /s 1e999 /f c.bin", 5, ("err", "sizestamp: overflow failure: "), {"c.bin": None}),
    ("{B} /s 5 /f NUL", 6, ("err", 'sizestamp: file failure: cannot open "NUL": '), {}),
    ("{B} /s 5 /f CON", 6, ("err", 'sizestamp: file failure: cannot open "CON": '), {}),
    # Prefixes that reach devices, volumes and pipes are refused before any open.
    ("{B} /s 5 /f \\\\?\\NUL", 6, ("err", 'sizestamp: file failure: cannot open "\\\\?\\NUL": not a file but a device'), {}),
    ("{B} /s 5 /f \\\\?\\CONOUT$", 6, ("err", 'sizestamp: file failure: cannot open "\\\\?\\CONOUT$": not a file but a device'), {}),
    ("{B} /s 5 /f \\\\?\\C:", 6, ("err", 'sizestamp: file failure: cannot open "\\\\?\\C:": not a file but a device'), {}),
    ("{B} /s 5 /f \\\\localhost\\pipe\\x", 6, ("err", 'sizestamp: file failure: cannot open "\\\\localhost\\pipe\\x": not a file but a device'), {}),
    ("{B} /s 5 /f data", 6, ("err", 'sizestamp: file failure: cannot open "data": '), {}),
    # The tail keeps its trailing tab, which is no blank to trim: no such name.
    ("{B} /s 5 /f tab.bin\t", 6, ("err", 'sizestamp: file failure: cannot open "tab.bin\\x09": '),
     {"tab.bin": None}),
    ("{B} /s 5 /f missing\\x.bin", 6, ("err", 'sizestamp: file failure: cannot open "missing\\x.bin": '),
     {"missing": None}),
]

# With the user's decimal separator set to a comma.
COMMA_CASES = [
    ("{B} /s 2,5e1 /f comma.bin", 0, edited("comma.bin"), {"comma.bin": bytes(16) + field(25)}),
    ("{B} /s 2.5 /f point.bin", 3, ("err", "sizestamp: conversion failure: "), {"point.bin": None}),
]


def prepare(work):
    os.makedirs(os.path.join(work, "data"))
    for name, content in (("data/target.bin", PATTERN), ("short.bin", PATTERN[:10])):
        with open(os.path.join(work, name), "wb") as file:
            file.write(content)


def run_cases(prefix, launcher, program, work, cases, tag):
    cases_file = os.path.join(work, tag + ".txt")
    lines = [line.replace("{B}", windows_path(program)) for line, *_ in cases]
    reports = launch(prefix, launcher, "run", program, cases_file, lines, cwd=work)
    problems = []
    for n, ((line, status, (stream, text), files), report) in enumerate(zip(cases, reports)):
        streams = {}
        for name in ("out", "err"):
            with open("%s.%d.%s" % (cases_file, n, name), "rb") as file:
                streams[name] = file.read().decode("utf-8")
        other = "err" if stream == "out" else "out"
        what = repr(line)
        if report.get("status") != status:
            problems.append("%s: status %s, expected %d" % (what, report, status))
        exact = status in (0, 1, 2)
        if (streams[stream] != text) if exact else not streams[stream].startswith(text):
            problems.append("%s: std%s %r, expected %r" % (what, stream, streams[stream], text))
        if streams[other]:
            problems.append("%s: unexpected std%s %r" % (what, other, streams[other]))
        for name, content in files.items():
            path = os.path.join(work, name)
            actual = open(path, "rb").read() if os.path.isfile(path) else None
            if actual != content:
                problems.append("%s: %s holds %r, expected %r" % (what, name, actual, content))
    return problems


def set_decimal_separator(prefix, separator):
    run(["wine", "reg", "add", r"HKCU\Control Panel\International", "/v", "sDecimal", "/d", separator, "/f"],
        prefix, check=True)


def main(prefix, launcher, program):
    work = tempfile.mkdtemp(prefix="e2e-", dir=os.getcwd())
    try:
        prepare(work)
        problems = run_cases(prefix, launcher, program, work, CASES, "cases")
        set_decimal_separator(prefix, ",")
        try:
            problems += run_cases(prefix, launcher, program, work, COMMA_CASES, "comma")
        finally:
            set_decimal_separator(prefix, ".")
    finally:
        shutil.rmtree(work)
    for problem in problems:
        print("FAIL", problem)
    print("%d cases, %d problems" % (len(CASES) + len(COMMA_CASES), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
