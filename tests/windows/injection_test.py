"""Each Win32 call of the file service and of the messages, and each
allocation, made to fail in the built program under Wine (run under
xvfb-run): the launcher starts the program suspended with windows_inject.dll
loaded into it, which makes the Nth call of one imported function fail
(launcher.cpp, inject.cpp). N comes from a counting run of the same program
with the same command line.

usage: injection_test.py LAUNCHER.exe PROGRAM.exe WINE...
       (PROGRAM: sizestamp.exe or its console twin sizestampc.exe)
"""
import os
import re
import sys

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
from wine_case import WineCase, main, windows_path  # noqa: E402
from harness import field  # noqa: E402

BEFORE = b"x" * 30
SIZE = 305419896
EDITED = BEFORE[:16] + field(SIZE) + BEFORE[22:]
EDIT = "/s %d /f {name}" % SIZE
# A folder, refused by the program's own check; a folder the system does not find.
REFUSE = "/s 5 /f dir"
MISSING = "/s 5 /f missing\\{name}"
OUT_OF_MEMORY = "sizestamp: memory failure: out of memory\r\n"


def exact(text):
    return re.escape(text)


def edited(name):
    return exact(name + "\r\nEdited successfully.\r\n")


def system(action, error, name):
    """A file failure in the system's own words, which differ between Wine
    and Windows; the code is the program's own."""
    return exact('sizestamp: file failure: cannot %s "%s": ' % (action, name)) + r"[^\r\n]+" + \
        exact(" (error %d)\r\n" % error)


def own(action, reason, name):
    return exact('sizestamp: file failure: cannot %s "%s": %s\r\n' % (action, name, reason))


# Which call a row fails: the function, and the first word of what the log
# tells of the call (inject.cpp; None: any), and which of the calls that
# match (1: the first).
CALLS = {
    "open": ("CreateFileW", "{name}", 1),
    "attributes": ("GetFileAttributesW", "{name}", 1),
    "full path": ("GetFullPathNameW", "{name}", 1),
    "type": ("GetFileType", "file", 1),
    "information": ("GetFileInformationByHandle", "file", 1),
    "write": ("WriteFile", "file", 1),
    "flush": ("FlushFileBuffers", "file", 1),
    "close": ("CloseHandle", "file", 1),
    "error text": ("FormatMessageW", None, 1),
    "separator": ("GetLocaleInfoEx", None, 1),
    "stdout handle": ("GetStdHandle", "stdout", 1),
    "stderr handle": ("GetStdHandle", "stderr", 1),
    "stdout mode": ("GetConsoleMode", "stdout", 1),
    "stdout": ("WriteFile", "stdout", 1),
    "stdout mode": ("GetConsoleMode", "stdout", 1),
    "stdout console": ("WriteConsoleW", "stdout", 1),
    "stderr console": ("WriteConsoleW", "stderr", 1),
    "stderr": ("WriteFile", "stderr", 1),
    "to UTF-8, length": ("WideCharToMultiByte", None, 1),
    "to UTF-8, text": ("WideCharToMultiByte", None, 2),
    "station": ("GetProcessWindowStation", None, 1),
    "station flags": ("GetUserObjectInformationW", None, 1),
    "box": ("MessageBoxW", None, 1),
}
# call, fault (inject.cpp), command ({name}: the row's own file), exit
# status, standard output and error (patterns), the file's bytes afterwards.
STREAM_FAULTS = [
    # What the system says is all it can say: the file is not touched.
    *[("open", "error=%d" % error, EDIT, 6, "", system("open", error, "{name}"), BEFORE)
      for error in (5, 32, 3, 112)],  # access denied, sharing violation, path not found, disk full
    # A look before the open that fails leaves the verdict to the open itself.
    ("attributes", "error=5", EDIT, 0, edited("{name}"), "", EDITED),
    ("full path", "error=206", EDIT, 0, edited("{name}"), "", EDITED),
    # What the handle is, checked after the open.
    ("type", "error=6", EDIT, 6, "", system("open", 6, "{name}"), BEFORE),
    ("type", "return=3", EDIT, 6, "", own("open", "it is a device or pipe, not a file", "{name}"), BEFORE),
    ("information", "error=5", EDIT, 6, "", system("open", 5, "{name}"), BEFORE),
    ("write", "error=112", EDIT, 6, "", system("write", 112, "{name}"), BEFORE),
    ("write", "written=0", EDIT, 6, "", system("write", 29, "{name}"), BEFORE),
    # A short write: the rest follows where it belongs.
    ("write", "written=3", EDIT, 0, edited("{name}"), "", EDITED),
    # After the write the field may be in the file already; success is never reported.
    ("flush", "error=112", EDIT, 6, "", system("flush", 112, "{name}"), EDITED),
    ("flush", "error=5", EDIT, 6, "", system("flush", 5, "{name}"), EDITED),
    ("close", "error=6", EDIT, 6, "", system("close", 6, "{name}"), EDITED),
    # Without the system's words the code alone is shown.
    ("error text", "error=317", MISSING, 6, "", own("open", "error 3", "missing\\{name}"), None),
    # The user's separator is a comma here: without it the point is taken.
    ("separator", "error=122", "/s 2.5e1 /f {name}", 0, edited("{name}"), "", BEFORE[:16] + field(25) + BEFORE[22:]),
    # A message that cannot be delivered never changes the outcome.
    ("stdout handle", "error=6", EDIT, 0, "", "", EDITED),
    ("stdout handle", "return=0", EDIT, 0, "", "", EDITED),
    ("stdout", "error=232", EDIT, 0, "", "", EDITED),
    ("stdout", "written=0", EDIT, 0, "", "", EDITED),
    ("stdout", "written=5", EDIT, 0, edited("{name}"), "", EDITED),
    ("stderr handle", "error=6", REFUSE, 6, "", "", None),
    ("stderr", "error=232", REFUSE, 6, "", "", None),
    ("stderr", "written=7", REFUSE, 6, "", own("open", "it is a directory", "dir"), None),
    ("to UTF-8, length", "error=122", EDIT, 0, "", "", EDITED),
    ("to UTF-8, text", "error=122", EDIT, 0, "", "", EDITED),
]

# The same with Wine's console on a terminal for the standard streams.
CONSOLE_FAULTS = [
    ("stdout console", "error=6", EDIT, 0, "", "", EDITED),
    ("stdout console", "written=0", EDIT, 0, "", "", EDITED),
    # A short write: the rest follows.
    ("stdout console", "written=4", EDIT, 0, edited("{name}"), "", EDITED),
    ("stderr console", "error=6", REFUSE, 6, "", "", None),
    # Taken for no console, the console gets the UTF-8 bytes: ASCII shows the same.
    ("stdout mode", "error=6", EDIT, 0, edited("{name}"), "", EDITED),
]

# The same on a visible window station, where sizestamp.exe shows a box
# unless it cannot; the console twin never asks for one.
BOX_FAULTS = [
    ("station", "return=0", EDIT, 0, edited("{name}"), "", EDITED),
    ("station flags", "error=5", EDIT, 0, edited("{name}"), "", EDITED),
    ("box", "return=0", EDIT, 0, edited("{name}"), "", EDITED),
    ("box", "return=0", REFUSE, 6, "", own("open", "it is a directory", "dir"), None),
]


class ProgramCase(WineCase):
    """Runs command lines with their calls counted or one of them failed."""

    def setUp(self):
        super().setUp()
        os.mkdir(self.path("dir"))
        self.console = os.path.basename(self.program).lower() == "sizestampc.exe"

    @staticmethod
    def name(n):
        """The file of a test's nth command line; all of one length, so that
        the program allocates as much for each."""
        return "t%03d.bin" % n

    def lines(self, commands, first=0):
        return ["sizestamp.exe " + command.format(name=self.name(n)) for n, command in enumerate(commands, first)]

    def fresh_files(self, count, first=0):
        for n in range(first, first + count):
            self.make(self.name(n), BEFORE)

    def counting_runs(self, mode, lines, display):
        self.fresh_files(len(lines))
        reports = self.launch(mode, lines, display=display, injections=[""] * len(lines))
        for line, report in zip(lines, reports):
            self.assertIn("status", report, line)
            self.assertEqual(report["calls"][0][0], "hooked", report)
        return reports

    def check_faults(self, rows, mode, display):
        lines = self.lines([command for _, _, command, *_ in rows])
        counts = self.counting_runs(mode, lines, display)
        plans = []
        for n, ((call, fault, *_), count) in enumerate(zip(rows, counts)):
            function, word, which = CALLS[call]
            word = word and word.format(name=self.name(n))
            matches = [entry for entry in count["calls"][1:]
                       if entry[1] == function and word in (None, (entry + [None])[3])]
            plans.append("%s %s %s" % (function, matches[which - 1][2], fault) if len(matches) >= which else "")
        self.fresh_files(len(lines))
        reports = self.launch(mode, lines, display=display, injections=plans)
        for n, (row, count, plan, report) in enumerate(zip(rows, counts, plans, reports)):
            call, fault, command, status, out, err, content = row
            name = self.name(n)
            with self.subTest(call=call, fault=fault, command=command):
                if not plan:
                    # Only the console twin may go without the call: it never shows a box.
                    self.assertTrue(self.console and call in ("station", "station flags", "box"), count["calls"])
                    self.assertNotIn(CALLS[call][0], count["calls"][0])
                    continue
                self.assertEqual(report.get("status"), status, report)
                self.assertIn("injected", [entry[-1] for entry in report["calls"]], "the call was not made")
                streams = (("terminal", out + err),) if mode == "terminal" else (("out", out), ("err", err))
                for stream, pattern in streams:
                    self.assertRegex(report[stream], "^%s$" % pattern.replace(re.escape("{name}"), re.escape(name)),
                                     report)
                self.assertNotIn("caption", report, "a box was shown")
                self.assertEqual(self.read(name).hex(" "), (content or BEFORE).hex(" "))


class Injection(ProgramCase):
    def set_decimal_separator(self, separator):
        done = self.wine("reg", "add", r"HKCU\Control Panel\International", "/v", "sDecimal", "/d", separator, "/f")
        self.assertEqual(done.returncode, 0, done)

    def test_each_failure_ends_as_the_call_can_end(self):
        self.set_decimal_separator(",")
        self.addCleanup(self.set_decimal_separator, ".")
        self.check_faults(STREAM_FAULTS, "run", display=False)

    def test_each_failure_on_a_console(self):
        self.check_faults(CONSOLE_FAULTS, "terminal", display=False)

    def test_paths_on_a_volume_reach_the_open_and_the_volume_never(self):
        # Wine serves no volume by its GUID: that the open is asked is what shows here.
        volume = "\\\\?\\Volume{01234567-89ab-cdef-0123-456789abcdef}"
        cases = [(volume + "\\dir\\f.bin", True), ("\\\\.\\Z:\\{D}\\v.bin", True),
                 (volume, False), (volume + "\\", False), ("\\\\.\\Z:", False), ("\\\\.\\Z:\\", False)]
        folder = windows_path(self.dir)[2:]  # without its drive
        paths = [path.replace("{D}", folder.lstrip("\\")) for path, _ in cases]
        counts = self.counting_runs("run", ["sizestamp.exe /s 5 /f " + path for path in paths], display=False)
        for (path, opened), count in zip(cases, counts):
            with self.subTest(path=path):
                opens = [call for call in count["calls"] if call[1:2] == ["CreateFileW"]]
                self.assertEqual(len(opens), 1 if opened else 0, count["calls"])
                self.assertEqual(count["status"], 0 if path.endswith("v.bin") else 6, count)

    def test_no_box_that_cannot_be_shown(self):
        self.assertTrue(os.environ.get("DISPLAY"), "no display: run this under xvfb-run")
        self.check_faults(BOX_FAULTS, "dialogs", display=True)


def allocations(calls):
    """The allocations of a counting run's log, as (sequence, number, size),
    and the sequence number of the program's entry: its first call,
    SetErrorMode, the only one of its kind."""
    entry = [int(call[0]) for call in calls[1:] if call[1] == "SetErrorMode"]
    assert len(entry) == 1, calls
    return [(int(call[0]), int(call[4]), call[-1]) for call in calls[1:] if call[3:4] == ["allocation"]], entry[0]


def outcome(report, name):
    """Status, texts and box, the file's name written as {name}."""
    return tuple(str(report.get(key)).replace(name, "{name}") for key in ("status", "out", "err", "caption", "text"))


class Allocation(ProgramCase):
    """Each allocation the program makes from its entry on, made to fail
    alone (N), then with every later one (N+): no crash, no abort, no hang,
    the memory failure's one message and its status. One kind of failed
    allocation the program never sees: the runtime takes an exception's
    object from a reserve of its own when malloc has none, and the outcome
    stays what it was. The C runtime's allocations before the entry are
    outside the program; they are listed with what their failure does."""

    def setUp(self):
        super().setUp()
        if os.environ.get("SIZESTAMP_COVERAGE_BUILD"):
            # Its allocations at the end, for the counts it writes, would be
            # counted as the program's; the release build's tests run these.
            self.skipTest("a coverage build allocates for its counts")

    def check(self, report, count, command, name, after_write, box_possible):
        self.assertIn("injected", [call[-1] for call in report["calls"]], "the allocation was not made")
        self.assertNotIn("timed_out", report)
        if outcome(report, name) == outcome(count, count["name"]):
            return False  # taken from the runtime's reserve
        self.assertEqual(report.get("status"), 7, report)
        self.assertEqual(report["out"], "")
        box = report.get("caption") is not None
        # A box when one can be had: on the display, with memory for it.
        self.assertEqual(box, box_possible, report)
        if box:
            self.assertEqual((report["text"], report["icon"]), ("Memory failure\r\nout of memory", "error"))
        self.assertEqual(report["err"], "" if box else OUT_OF_MEMORY)
        self.assertEqual(self.read(name), EDITED if command == EDIT and after_write else BEFORE)
        return True

    def run_plans(self, mode, display, rows):
        """rows: (command, plan, count report, whether after the file's
        write); returns the reports, each run with a file of its own."""
        first = 100
        self.fresh_files(len(rows), first)
        return self.launch(mode, self.lines([command for command, *_ in rows], first), display=display,
                           injections=[plan for _, plan, *_ in rows])

    def check_allocations(self, commands, mode, display):
        counts = self.counting_runs(mode, self.lines(commands), display)
        alone, before_entry = [], []
        for n, (command, count) in enumerate(zip(commands, counts)):
            count["name"] = self.name(n)
            found, entry = allocations(count["calls"])
            written = [int(call[0]) for call in count["calls"][1:] if call[1:2] == ["WriteFile"] and call[3] == "file"]
            for sequence, number, size in found:
                if sequence < entry:
                    before_entry.append((command, "allocation %d" % number, count, size))
                else:
                    alone.append((command, "allocation %d" % number, count, bool(written) and sequence > written[0]))
        reports = self.run_plans(mode, display, alone)
        onwards = []
        for n, ((command, plan, count, after_write), report) in enumerate(zip(alone, reports), 100):
            with self.subTest(command=command, plan=plan):
                if self.check(report, count, command, self.name(n), after_write, display):
                    onwards.append((command, plan + "+", count, after_write))
        for command in commands:
            made = sum(1 for row in alone if row[0] == command)
            failed = sum(1 for row in onwards if row[0] == command)
            print("%s, %r: %d allocations from the entry, %d ended as the memory failure, %d taken from the "
                  "runtime's reserve" % (os.path.basename(self.program), command, made, failed, made - failed))
        # Where the program saw the failure, it must also end well when no memory comes back.
        reports = self.run_plans(mode, display, onwards)
        for n, ((command, plan, count, after_write), report) in enumerate(zip(onwards, reports), 100):
            with self.subTest(command=command, plan=plan):
                self.assertTrue(self.check(report, count, command, self.name(n), after_write, False))
        # What failures before the entry do, for the record; without a
        # display, where Wine shows no dialog for a crash.
        if display:
            return
        reports = self.run_plans(mode, display, before_entry)
        for (command, plan, count, size), report in zip(before_entry, reports):
            print("before the entry: %s (%s bytes) with %r: status %s, %r" % (
                plan, size, command, report.get("status"), (report["out"] + report["err"])[:100]))

    def test_every_allocation_from_the_entry_on_the_streams(self):
        self.check_allocations([EDIT, MISSING, REFUSE, "/s 5x /f {name}", ""], "run", display=False)

    def test_every_allocation_from_the_entry_in_a_box(self):
        if self.console:
            self.skipTest("the console twin shows no box")
        self.assertTrue(os.environ.get("DISPLAY"), "no display: run this under xvfb-run")
        self.check_allocations([EDIT, MISSING], "dialogs", display=True)


if __name__ == "__main__":
    main()
