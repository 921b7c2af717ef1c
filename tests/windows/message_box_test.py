"""sizestamp.exe's message boxes on a display (run under xvfb-run): caption,
text, icon and buttons of the success and error messages, and the exit
status once OK is pressed.

usage: message_box_test.py WINEPREFIX LAUNCHER.exe SIZESTAMP.exe
"""
import os
import shutil
import sys
import tempfile

from wine_env import launch

# Tail, icon, exact text (or, for a failure report, how it begins), status.
CASES = [
    ("/s 305419896 /f box.bin", "information", "box.bin\r\nEdited successfully.", 0),
    ("", "error", "Error - Parameters not set", 1),
    ("/s 4294967296 /f box.bin", "error", "Error - File can't exceed 4GB", 2),
    ("/s 5 /f NUL", "error", 'File failure\r\ncannot open "NUL": ', 6),
]


def main(prefix, launcher, program):
    if not os.environ.get("DISPLAY"):
        sys.exit("no display: run this under xvfb-run")
    work = tempfile.mkdtemp(prefix="box-", dir=os.getcwd())
    try:
        lines = ["sizestamp.exe " + tail for tail, *_ in CASES]
        reports = launch(prefix, launcher, "dialogs", program, os.path.join(work, "cases.txt"), lines,
                         display=True, cwd=work)
        written = open(os.path.join(work, "box.bin"), "rb").read()
    finally:
        shutil.rmtree(work)
    problems = []
    if written != bytes(16) + b"\0\0\x78\x56\x34\x12":
        problems.append("box.bin holds %r" % written)
    for (tail, icon, text, status), report in zip(CASES, reports):
        exact = status in (0, 1, 2)
        expected = {"caption": "sizestamp", "icon": icon, "buttons": [[1, "OK"]], "status": status,
                    "text": text if exact else report.get("text", "")}
        if report != expected or not report.get("text", "").startswith(text):
            problems.append("tail %r: got %s, expected %s (text beginning %r)"
                            % (tail, report, expected, text))
    for problem in problems:
        print("FAIL", problem)
    print("%d message boxes, %d problems" % (len(CASES), len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(*sys.argv[1:4]))
