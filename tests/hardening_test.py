#!/usr/bin/env python3
"""The hardening of the shipped program, read from the linked program itself.

Usage: hardening_test.py elf READELF OBJDUMP NM LINKING PROGRAM OWN_CODE...
       hardening_test.py pe OBJDUMP NM PROGRAM OWN_CODE...

LINKING is how the build linked the program: static (a static PIE) or
dynamic (a PIE), where the toolchain cannot link statically. OWN_CODE are the
static libraries and object files built from src/: they only name which of
the program's functions are the project's own. Every property is read from
PROGRAM; Debian's hardening-check cannot see PIE or canaries in a static one.

  elf: a PIE (a random load address every run), statically linked with no
       loader where LINKING says so, bound at start-up (now) with its
       relocated data read-only afterwards (relro), a stack that cannot
       execute, and stack canaries in the project's own machine code. GNU
       binutils and LLVM's tools (llvm-readelf, llvm-objdump, llvm-nm) alike.
  pe:  a Windows program that moves to a random, high-entropy address (so it
       keeps its relocations) and runs with data execution prevention, and
       carries the canary check that its own code calls.
"""
import re
import subprocess
import sys
import unittest


def output(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


def defined_functions(nm, path):
    """The code symbols that the objects in path (an object file or an archive) define."""
    functions = set()
    for line in output(nm, "--defined-only", path).splitlines():
        fields = line.split()  # address, type, name
        if len(fields) == 3 and fields[1] in "tTW":
            functions.add(fields[2])
    return functions


# The dynamic section's FLAGS_1 entry: GNU readelf writes
# "(FLAGS_1)            Flags: NOW PIE", llvm-readelf "(FLAGS_1)      NOW PIE".
FLAGS_1 = r"\(FLAGS_1\)\s+(?:Flags:\s+)?"
# A call of the canary check: __stack_chk_fail, through the PLT in a dynamic
# program, or __stack_chk_fail_local: what 32-bit x86 code calls in a PIE, and
# the check's other name in the static C library, which llvm-objdump shows in
# place of the first.
CANARY_CALL = re.compile(r"\b(call|calll|callq|bl)\s.*<__stack_chk_fail(_local)?(@plt)?>")


class Patterns(unittest.TestCase):
    """The patterns above on the lines each tool family writes."""

    def test_lines_of_both_tool_families(self):
        lines = [  # pattern, line, whether it matches
            (FLAGS_1 + r".*\bPIE\b", " 0x000000006ffffffb (FLAGS_1)            Flags: NOW PIE", True),
            (FLAGS_1 + r".*\bPIE\b", "  0x000000006ffffffb (FLAGS_1)      NOW PIE ", True),
            (FLAGS_1 + r".*\bNOW\b", "  0x000000006ffffffb (FLAGS_1)      PIE ", False),
            (CANARY_CALL, "  401d2c:\tcall   40a3f0 <__stack_chk_fail>", True),
            (CANARY_CALL, "  1040:\tcall   1030 <__stack_chk_fail@plt>", True),
            (CANARY_CALL, "    1ce2:      \tcallq\t0x56fb0 <__stack_chk_fail_local>", True),
            (CANARY_CALL, "  8049f3a:\tcall   80a5e10 <__stack_chk_fail_local>", True),
            (CANARY_CALL, "  4005d8:\tbl\t4203c0 <__stack_chk_fail>", True),
            (CANARY_CALL, "  401d2c:\tcall   40a3f0 <__stack_chk_guard>", False),
        ]
        for pattern, line, matches in lines:
            with self.subTest(line=line):
                self.assertEqual(re.search(pattern, line) is not None, matches)


class Elf(unittest.TestCase):
    readelf = objdump = nm = linking = program = None
    own_code = []

    def test_headers(self):
        header = output(self.readelf, "-hW", self.program)
        segments = output(self.readelf, "-lW", self.program)
        dynamic = output(self.readelf, "-dW", self.program)
        checks = [  # what, the text read, what it must show (or, with False, must not)
            ("position-independent", header, r"^\s*Type:\s+DYN\b", True),
            ("position-independent", dynamic, FLAGS_1 + r".*\bPIE\b", True),
            ("bound at start-up", dynamic, FLAGS_1 + r".*\bNOW\b", True),
            ("read-only after relocation", segments, r"^\s*GNU_RELRO\s", True),
            ("stack not executable", segments, r"^\s*GNU_STACK\s.*\sRW\s+0x", True),
        ]
        if self.linking == "static":
            checks += [("static: no loader", segments, r"^\s*INTERP\s", False),
                       ("static: no shared library", dynamic, r"\(NEEDED\)", False)]
        for what, text, pattern, present in checks:
            with self.subTest(what, pattern=pattern):
                if present:
                    self.assertRegex(text, re.compile(pattern, re.MULTILINE))
                else:
                    self.assertNotRegex(text, re.compile(pattern, re.MULTILINE))

    def test_stack_canaries(self):
        # -fstack-protector-strong guards only functions with arrays or
        # addresses of locals that return, so each library or object given is
        # asked for one function that checks its canary in the program.
        self.assertTrue(self.own_code, "no object files given")
        checking = set()
        function = None
        for line in output(self.objdump, "-d", "--no-show-raw-insn", self.program).splitlines():
            start = re.match(r"^[0-9a-f]+ <(.+)>:$", line)
            if start:
                function = start.group(1)
            elif function and CANARY_CALL.search(line):
                checking.add(function)
        for path in self.own_code:
            with self.subTest(path=path):
                self.assertTrue(defined_functions(self.nm, path) & checking,
                                "none of its functions checks a stack canary in the program")


class Pe(unittest.TestCase):
    objdump = nm = program = None
    own_code = []

    def test_address_space_layout_and_execution_prevention(self):
        headers = output(self.objdump, "-p", self.program)
        characteristics = re.search(r"^DllCharacteristics\s+\w+\n((?:\t+\S+\n)*)", headers, re.MULTILINE)
        self.assertIsNotNone(characteristics, "no DllCharacteristics")
        flags = characteristics.group(1).split()
        for flag in ("DYNAMIC_BASE", "HIGH_ENTROPY_VA", "NX_COMPAT"):
            with self.subTest(flag):
                self.assertIn(flag, flags)
        with self.subTest("relocations kept"):
            self.assertFalse("relocations stripped" in headers, "the relocations are stripped")
            self.assertRegex(output(self.objdump, "-h", self.program), r"(?m)^\s*\d+\s+\.reloc\s")

    def test_stack_canaries(self):
        # The release program has no symbols to find its functions by. The
        # canary check (libssp's __stack_chk_fail) is linked in only for code
        # that calls it, and MinGW's runtime does not: its text in the program
        # shows the check is there; each of the project's files must call it.
        with open(self.program, "rb") as program:
            self.assertTrue(b"stack smashing detected" in program.read(), "no canary check in the program")
        self.assertTrue(self.own_code, "no object files given")
        for path in self.own_code:
            with self.subTest(path=path):
                self.assertRegex(output(self.nm, "-A", path), r"(?m)\sU __stack_chk_fail$")


if __name__ == "__main__":
    if len(sys.argv) >= 8 and sys.argv[1] == "elf":
        check = Elf
        check.readelf, check.objdump, check.nm, check.linking, check.program = sys.argv[2:7]
        check.own_code = sys.argv[7:]
        if check.linking not in ("static", "dynamic"):
            sys.exit(__doc__)
    elif len(sys.argv) >= 6 and sys.argv[1] == "pe":
        check = Pe
        check.objdump, check.nm, check.program = sys.argv[2:5]
        check.own_code = sys.argv[5:]
    else:
        sys.exit(__doc__)
    unittest.main(argv=sys.argv[:1], defaultTest=[Patterns.__name__, check.__name__], verbosity=2)
