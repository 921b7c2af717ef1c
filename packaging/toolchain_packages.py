#!/usr/bin/env python3
"""Prints the Debian packages of a release's toolchain, one "package version"
a line, sorted: those of the files each compiler runs, includes and links
when it builds a small C++ program as the release builds its programs, of
each tool's program, and of the shared libraries of every program among them.

Usage: toolchain_packages.py [--compiler 'COMPILER [OPTION...]']... [--tool PROGRAM]...
                             [--package PACKAGE]...

A tool is a program on the PATH, or any file by its full path. --package
names a package that no file here shows: the data a tool reads, or a library
whose symbols file sets a package's dependencies.

A file that no package holds is printed as "not from a package: PATH".
"""
import argparse
import os
import re
import shlex
import shutil
import subprocess
import sys
import tempfile

sys.dont_write_bytecode = True

# A program that needs the C++ library, its strings and its start-up.
PROBE = "#include <string>\n#include <cstdio>\nint main(int argc, char **argv) {\n" \
        "  std::string name(argv[0]);\n  std::printf(\"%zu\", name.size());\n  return argc;\n}\n"
# The compiler's own programs, as it names them with -print-prog-name.
COMPILER_PROGRAMS = ("cc1plus", "collect2", "lto-wrapper", "as", "ld")


def output(*command):
    done = subprocess.run(command, capture_output=True, text=True)
    if done.returncode != 0:
        sys.exit(f"toolchain_packages: {' '.join(command)} ended with {done.returncode}:\n{done.stderr}")
    return done.stdout


def program_path(name):
    found = name if os.path.isabs(name) else shutil.which(name)
    if not found or not os.path.exists(found):
        sys.exit(f"toolchain_packages: no program {name}")
    return found


def compiler_files(command, folder):
    """What the compiler runs, includes and links for the probe."""
    compiler = program_path(command[0])
    files = {compiler}
    for name in COMPILER_PROGRAMS:
        files.add(program_path(output(compiler, f"-print-prog-name={name}").strip()))
    source = os.path.join(folder, "probe.cpp")
    with open(source, "w", encoding="utf-8") as f:
        f.write(PROBE)
    depends = os.path.join(folder, "probe.d")
    trace = output(compiler, *command[1:], "-O2", "-MD", "-MF", depends, source,
                   "-o", os.path.join(folder, "probe"), "-Wl,--trace")
    with open(depends, encoding="utf-8") as f:
        headers = f.read().replace("\\\n", " ").split(":", 1)[1].split()
    linked = re.findall(r"(/[^\s()]+)", trace)
    # The probe's own files and the compiler's temporary objects, gone by now, leave.
    return files | {path for path in headers + linked if not path.startswith(folder) and os.path.exists(path)}


def shared_libraries(program):
    done = subprocess.run(["ldd", program], capture_output=True, text=True)
    return set(re.findall(r"(?:=> )?(/\S+) \(0x", done.stdout)) if done.returncode == 0 else set()


def spellings(path):
    """The names dpkg may have recorded for a file: as used, without "..",
    with its links resolved, and each through the /lib, /bin and /sbin
    aliases of /usr."""
    names = [path, os.path.normpath(path), os.path.realpath(path)]
    names += [name[len("/usr"):] for name in names if re.match(r"/usr/(lib|bin|sbin)(32|64|x32)?/", name)]
    return list(dict.fromkeys(names))


def owners(paths):
    """{path: packages} for the paths dpkg knows."""
    if not paths:
        return {}
    done = subprocess.run(["dpkg-query", "--search", *paths], capture_output=True, text=True)
    found = {}
    for line in done.stdout.splitlines():
        if line.startswith("diversion "):
            continue
        packages, path = line.split(": ", 1)
        found[path] = packages.split(", ")
    return found


def packages_of(files):
    """The packages of the files, under any of their names (a link's and its
    target's, when both are packaged), and the files none holds."""
    names = {path: spellings(path) for path in files}
    found = owners(sorted({name for spelled in names.values() for name in spelled}))
    packages, unowned = set(), []
    for path, spelled in names.items():
        holders = {package for name in spelled for package in found.get(name, ())}
        packages |= holders
        if not holders:
            unowned.append(path)
    return packages, sorted(unowned)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("--compiler", action="append", default=[], type=shlex.split)
    parser.add_argument("--tool", action="append", default=[])
    parser.add_argument("--package", action="append", default=[])
    args = parser.parse_args()
    files = set()
    with tempfile.TemporaryDirectory() as folder:
        for command in args.compiler:
            files |= compiler_files(command, folder)
    files |= {program_path(tool) for tool in args.tool}
    programs = [path for path in files if os.access(path, os.X_OK) and not path.endswith(".so")]
    files |= {library for program in programs for library in shared_libraries(program)}
    packages, unowned = packages_of(files)
    packages |= set(args.package)
    shown = output("dpkg-query", "--show", "--showformat=${binary:Package} ${Version}\\n", *sorted(packages))
    for line in sorted(set(shown.splitlines())):
        print(line)
    for path in unowned:
        print(f"not from a package: {path}")


if __name__ == "__main__":
    main()
