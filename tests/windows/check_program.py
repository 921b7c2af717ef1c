"""Checks on the built sizestamp.exe that need no Windows.

  check_program.py imports OBJDUMP PROGRAM SUBSYSTEM THREADS
      a program of SUBSYSTEM ("gui" for sizestamp.exe, "console" for its twin
      sizestampc.exe, which shows no box) that imports system DLLs only: with
      -static no MinGW runtime DLL has to travel with it. Only the GUI program
      imports user32, and built with the compiler's THREADS model "win32"
      neither imports what controls other threads or processes; terminal-
      server aware
  check_program.py resources PROGRAM MANIFEST VERSION SUBSYSTEM
      the manifest is well-formed XML (Windows refuses to start a program
      whose manifest is not, Wine does not notice) and is embedded as it is,
      with the program's own identity, and Common Controls only for the GUI
      program; the version information carries the project's version and the
      program's own names
  check_program.py size PROGRAM MAX_BYTES
      the program as built, the one people copy, is no larger than MAX_BYTES
"""
import os
import re
import subprocess
import sys
import unittest
import xml.etree.ElementTree as ElementTree

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import pe_imported_functions  # noqa: E402

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll",
               "ucrtbase.dll", "ntdll.dll"}


def utf16(text):
    return text.encode("utf-16-le")


# The subsystem as objdump names it, and the functions only a program that
# shows boxes imports.
SUBSYSTEMS = {"gui": "(Windows GUI)", "console": "(Windows CUI)"}
BOX_FUNCTIONS = ("MessageBoxW", "GetProcessWindowStation", "GetUserObjectInformationW")
# What winpthreads imports to stop and inspect threads; endpoint protection
# flags these in an unsigned program.
THREAD_CONTROL = ("SuspendThread", "ResumeThread", "GetThreadContext", "SetThreadContext", "OpenProcess")


class Imports(unittest.TestCase):
    objdump = program = subsystem = threads = None

    def setUp(self):
        self.headers = subprocess.run([self.objdump, "-p", self.program], capture_output=True, text=True,
                                      check=True).stdout
        self.dlls = {line.split(":", 1)[1].strip().lower() for line in self.headers.splitlines()
                     if "DLL Name:" in line}
        self.imported = pe_imported_functions(self.headers)

    def test_only_system_dlls(self):
        self.assertIn("kernel32.dll", self.dlls, "no imports found")
        for dll in sorted(self.dlls):
            with self.subTest(dll=dll):
                # api-ms-win-*: the Universal C runtime as Windows 10 carries it (MSYS2's UCRT64).
                self.assertTrue(dll in SYSTEM_DLLS or dll.startswith("api-ms-win-"), "not a system DLL")
        # Loading user32 connects a process to the desktop: a console program is spared that.
        with self.subTest(dll="user32.dll"):
            self.assertEqual("user32.dll" in self.dlls, self.subsystem == "gui")

    def test_no_thread_control(self):
        self.assertIn("WriteFile", self.imported, "no imports found")
        if self.threads != "win32":
            self.skipTest("built with the %s thread model, which brings winpthreads" % self.threads)
        for function in THREAD_CONTROL:
            with self.subTest(function=function):
                self.assertFalse(function in self.imported, "imported")

    def test_terminal_server_aware(self):
        found = re.search(r"^DllCharacteristics\s+[0-9a-f]+\n((?:\t+\S+\n)*)", self.headers, re.MULTILINE)
        self.assertIsNotNone(found, "no DllCharacteristics in the PE header")
        self.assertIn("TERMINAL_SERVICE_AWARE", found.group(1).split())

    def test_subsystem(self):
        found = re.search(r"^Subsystem\s+\S+\s+(.*)$", self.headers, re.MULTILINE)
        self.assertIsNotNone(found, "no subsystem in the PE header")
        self.assertEqual(found.group(1).strip(), SUBSYSTEMS[self.subsystem])

    def test_boxes_only_in_the_gui_program(self):
        self.assertIn("WriteFile", self.imported, "no imports found")
        for function in BOX_FUNCTIONS:
            with self.subTest(function=function):
                self.assertEqual(function in self.imported, self.subsystem == "gui")


class Resources(unittest.TestCase):
    program = manifest = version = subsystem = None

    def setUp(self):
        self.name = os.path.splitext(os.path.basename(self.program))[0]
        with open(self.manifest, "rb") as file:
            self.raw_manifest = file.read()
        with open(self.program, "rb") as file:
            self.binary = file.read()

    def test_manifest_is_well_formed(self):
        try:
            ElementTree.fromstring(self.raw_manifest)
        except ElementTree.ParseError as error:
            self.fail("%s is not well-formed XML: %s" % (self.manifest, error))

    def test_manifest_is_embedded_as_it_is(self):
        self.assertTrue(self.raw_manifest in self.binary, "the manifest is not embedded")

    def test_identity_is_the_programs_own(self):
        namespace = "{urn:schemas-microsoft-com:asm.v1}"
        assembly = ElementTree.fromstring(self.raw_manifest)
        identity = assembly.find(namespace + "assemblyIdentity")
        self.assertEqual(identity.get("name"), self.name)
        self.assertEqual(identity.get("version"), self.version + ".0")
        dependencies = [found.get("name") for found in assembly.iter(namespace + "assemblyIdentity")][1:]
        # Common Controls 6 themes the message boxes, which only the GUI program shows.
        self.assertEqual(dependencies, ["Microsoft.Windows.Common-Controls"] if self.subsystem == "gui" else [])

    def test_version_information(self):
        for name, value in (("FileVersion", self.version), ("ProductVersion", self.version),
                            ("OriginalFilename", os.path.basename(self.program)), ("InternalName", self.name)):
            with self.subTest(name=name):
                self.assertTrue(utf16(name) + b"\0\0" in self.binary, "no %s" % name)
                self.assertTrue(utf16(value) + b"\0\0" in self.binary, "no %s %s" % (name, value))


class Size(unittest.TestCase):
    program = max_bytes = None

    def test_within_the_limit(self):
        self.assertLessEqual(os.path.getsize(self.program), int(self.max_bytes))


if __name__ == "__main__":
    CHECKS = {"imports": (Imports, "objdump", "program", "subsystem", "threads"),
              "resources": (Resources, "program", "manifest", "version", "subsystem"),
              "size": (Size, "program", "max_bytes")}
    if len(sys.argv) < 2 or sys.argv[1] not in CHECKS or len(sys.argv) != len(CHECKS[sys.argv[1]]) + 1:
        sys.exit(__doc__)
    check, *names = CHECKS[sys.argv[1]]
    for name, value in zip(names, sys.argv[2:]):
        setattr(check, name, value)
    unittest.main(argv=sys.argv[:1], defaultTest=check.__name__, verbosity=2)
