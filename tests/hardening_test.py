#!/usr/bin/env python3
"""The hardening of the shipped program, read from the built files.

Usage: hardening_test.py elf READELF NM PROGRAM OWN_CODE...
       hardening_test.py pe OBJDUMP NM PROGRAM OWN_CODE...

OWN_CODE are the static libraries and object files built from src/. Debian's
hardening-check cannot tell PIE or stack protection in a static program (the
C library it carries has canaries of its own), so the program's headers are
read for the one and its own code for the other.

  elf: a static PIE (a random load address, no loader), bound at start-up
       with its relocated data read-only afterwards and a stack that cannot
       execute; its own code has stack canaries and the control-flow
       protection of its machine.
  pe:  a Windows program that moves to a random, high-entropy address (so it
       keeps its relocations) and runs with data execution prevention; its own
       code has stack canaries.
"""
import re
import subprocess
import sys
import unittest

# What -fcf-protection (x86-64) and -mbranch-protection=standard (arm64)
# leave in each object's GNU property note, by readelf -h's "Machine:".
CONTROL_FLOW = {"Advanced Micro Devices X86-64": "x86 feature: IBT, SHSTK",
                "AArch64": "AArch64 feature: BTI, PAC"}


def output(*command):
    return subprocess.run(command, capture_output=True, text=True, check=True).stdout


class OwnCode(unittest.TestCase):
    nm = program = None
    own_code = []

    def test_stack_canaries(self):
        # -fstack-protector-strong guards only functions with arrays or
        # addresses of locals, so each file is asked for one call, not each function.
        self.assertTrue(self.own_code, "no object files given")
        for path in self.own_code:
            with self.subTest(path=path):
                self.assertTrue(re.search(r"(?m)\sU __stack_chk_fail$", output(self.nm, "-A", path)),
                                "no call to __stack_chk_fail")


class Elf(OwnCode):
    readelf = None

    def test_program_headers(self):
        checks = [  # what, command, what its output shows
            ("static PIE", ["file", "-b", self.program], r"\bstatic-pie linked\b"),
            ("bound at start-up, position-independent", [self.readelf, "-dW", self.program],
             r"\(FLAGS_1\)\s+Flags: NOW PIE\s*$"),
            ("read-only after relocation", [self.readelf, "-lW", self.program], r"^\s*GNU_RELRO\s"),
            ("stack not executable", [self.readelf, "-lW", self.program], r"^\s*GNU_STACK\s.*\sRW\s+0x"),
        ]
        for what, command, pattern in checks:
            with self.subTest(what):
                self.assertRegex(output(*command), re.compile(pattern, re.MULTILINE))

    def test_control_flow_protection(self):
        machine = re.search(r"Machine:\s+(.*)", output(self.readelf, "-hW", self.program)).group(1).strip()
        if machine not in CONTROL_FLOW:
            self.skipTest(f"no control-flow protection known for {machine}")
        for path in self.own_code:
            with self.subTest(path=path):
                notes = output(self.readelf, "-nW", path)
                members = max(1, notes.count("File: "))  # readelf -n names each member of an archive
                self.assertEqual(notes.count(CONTROL_FLOW[machine]), members,
                                 f"objects carrying \"{CONTROL_FLOW[machine]}\"")


class Pe(OwnCode):
    objdump = None

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


if __name__ == "__main__":
    CHECKS = {"elf": (Elf, "readelf"), "pe": (Pe, "objdump")}
    if len(sys.argv) < 6 or sys.argv[1] not in CHECKS:
        sys.exit(__doc__)
    check, tool = CHECKS[sys.argv[1]]
    setattr(check, tool, sys.argv[2])
    check.nm, check.program, check.own_code = sys.argv[3], sys.argv[4], sys.argv[5:]
    unittest.main(argv=sys.argv[:1], defaultTest=check.__name__, verbosity=2)
