"""Checks on the built sizestamp.exe that need no Windows.

  check_program.py imports OBJDUMP PROGRAM
      a GUI-subsystem program that imports system DLLs only: with -static no
      MinGW runtime DLL has to travel with it
  check_program.py resources PROGRAM MANIFEST VERSION
      the manifest is well-formed XML (Windows refuses to start a program
      whose manifest is not, Wine does not notice) and is embedded as it is,
      and the version information carries the project's version
  check_program.py size PROGRAM MAX_BYTES
      the program as built, the one people copy, is no larger than MAX_BYTES
"""
import os
import subprocess
import sys
import xml.etree.ElementTree as ElementTree

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "msvcrt.dll",
               "ucrtbase.dll", "ntdll.dll"}


def imports(objdump, program):
    headers = subprocess.run([objdump, "-p", program], capture_output=True, text=True, check=True).stdout
    dlls = {line.split(":", 1)[1].strip().lower() for line in headers.splitlines() if "DLL Name:" in line}
    problems = ["imports %s, which is not a system DLL" % dll for dll in sorted(dlls - SYSTEM_DLLS)]
    if "kernel32.dll" not in dlls:
        problems.append("no imports found in %s" % program)
    if "(Windows GUI)" not in headers:
        problems.append("not a GUI-subsystem program")
    return problems


def utf16(text):
    return text.encode("utf-16-le")


def resources(program, manifest, version):
    problems = []
    raw = open(manifest, "rb").read()
    try:
        ElementTree.fromstring(raw)
    except ElementTree.ParseError as error:
        problems.append("%s is not well-formed XML: %s" % (manifest, error))
    binary = open(program, "rb").read()
    if raw not in binary:
        problems.append("the manifest is not embedded in %s" % program)
    for name, value in (("FileVersion", version), ("ProductVersion", version),
                        ("OriginalFilename", "sizestamp.exe")):
        if utf16(name) + b"\0\0" not in binary or utf16(value) + b"\0\0" not in binary:
            problems.append("the version information lacks %s %s" % (name, value))
    return problems


def size(program, max_bytes):
    length = os.path.getsize(program)
    if length > int(max_bytes):
        return ["%s is %d bytes, over the limit of %s" % (program, length, max_bytes)]
    return []


if __name__ == "__main__":
    found = {"imports": imports, "resources": resources, "size": size}[sys.argv[1]](*sys.argv[2:])
    for problem in found:
        print("FAIL", problem)
    sys.exit(1 if found else 0)
