#!/usr/bin/env python3
"""The manual page and the release packages, checked the way a user, a Debian
maintainer and a Windows administrator meet them: the installed program
edits a file, the manual is lint-free, the copyright file and the notices
name the code each program carries, every date is the source date, and the
Windows texts and resources are right.

Usage: package_test.py manual MANUAL
       package_test.py deb PACKAGE [EMULATOR...]
       package_test.py zip PACKAGE SOURCE_DATE_EPOCH [EMULATOR...]
       package_test.py release RELEASE_DIR

deb and zip check a package that scripts/release built (lintian runs there
too); the program it holds runs through EMULATOR, if given.
release checks the record of a release made on this machine: its checksum
files, Debian's .buildinfo files and RELEASE-INFO. A missing tool skips a
test on a developer's machine and fails it with SIZESTAMP_STRICT=1, where
scripts/install-deps has installed everything. When every test
was skipped the status is 77.
"""
import glob
import gzip
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import time
import unittest
import zipfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import PATTERN, FolderCase, exit_status, field, pe_imported_functions, require  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIZE = 305419896
EXIT_STATUSES = range(8)
DEB_FILES = {
    "usr/bin/sizestamp",
    "usr/share/man/man1/sizestamp.1.gz",
    "usr/share/doc/sizestamp/copyright",
    "usr/share/doc/sizestamp/changelog.Debian.gz",
    "usr/share/lintian/overrides/sizestamp",
}
ZIP_FILES = {"sizestamp.exe", "sizestampc.exe", "README.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"}
# The desktop program and its console twin, with the description each shows.
WINDOWS_PROGRAMS = {"sizestamp.exe": "sizestamp", "sizestampc.exe": "sizestamp (console)"}
# The compiler that builds each package's program: Debian's for each
# architecture (what debian/rules uses), MinGW-w64's for the zip.
COMPILERS = {"amd64": "x86_64-linux-gnu-g++", "arm64": "aarch64-linux-gnu-g++",
             "win64": "x86_64-w64-mingw32-g++-win32"}
# Libraries each compiler links into a package's program, by file name.
LINKED_LIBRARIES = {"amd64": ("libstdc++.so", "libgcc.a", "libc.so"), "arm64": ("libstdc++.so", "libgcc.a", "libc.so"),
                    "win64": ("libstdc++.a", "libgcc.a", "libmingwex.a")}


def run(*command, **options):
    options.setdefault("text", True)
    done = subprocess.run(command, capture_output=True, timeout=600, **options)
    if done.returncode != 0:
        raise AssertionError(f"{' '.join(command)} ended with {done.returncode}:\n{done.stdout}{done.stderr}")
    return done


def read_text(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def source_text(name):
    return read_text(os.path.join(SOURCE, name))


def listed_files(root):
    return {os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            for folder, _, names in os.walk(root) for name in names}


def words(text):
    """Text with comment marks and line breaks gone, for comparing wordings."""
    text = re.sub(r"^\s*(//|/\*|\*/|\*)", " ", text, flags=re.M)
    return " ".join(text.split())


def paragraphs(text):
    return [block for block in re.split(r"\n\s*\n", text) if block.strip()]


def debian_package_of(path):
    """The installed Debian package that holds path (a glob pattern may match several)."""
    return run("dpkg-query", "--search", path).stdout.split(":")[0]


def installed(package):
    """A package as dpkg-query names it (architecture and all), and its version."""
    return run("dpkg-query", "--show", "--showformat=${binary:Package} ${Version}", package).stdout


def checksums(path):
    """{file: SHA-256} of a list in sha256sum's format."""
    with open(path, encoding="utf-8") as f:
        return {name: digest for digest, name in (line.rstrip("\n").split("  ", 1) for line in f)}


def runtime_file(compiler, name):
    return os.path.normpath(run(compiler, "-print-file-name=" + name).stdout.strip())


def link(compiler, folder, code, *options):
    """Links a small C++ program; returns its path and the files the linker opened."""
    source = os.path.join(folder, "probe.cpp")
    with open(source, "w", encoding="utf-8") as f:
        f.write(code)
    program = os.path.join(folder, "probe")
    trace = run(compiler, "-O2", source, "-o", program, "-Wl,--trace", *options).stdout
    if os.path.isfile(program + ".exe"):  # MinGW adds it
        program += ".exe"
    return program, trace.split()


def startup_files(compiler, folder, *options, main="int main() { return 0; }\n"):
    """The start-up objects (crt*.o) the compiler links into every C++
    program, by name, as the linker reports opening them."""
    _, opened = link(compiler, folder, main, *options)
    return {os.path.basename(path) for path in opened if re.search(r"/[^/]*crt[^/]*\.o$", path)}


def exit_status_lines(text):
    """The exit statuses a user document lists, from its Exit status section."""
    section = re.search(r"^Exit status\n-+\n(.*?)(?=\n\S[^\n]*\n-+\n|\Z)", text, re.M | re.S)
    if not section:
        raise AssertionError("no Exit status section")
    return [int(number) for number in re.findall(r"^ {4}(\d+) {2}\S", section.group(1), re.M)]


class ManualChecks:
    """The checks of a manual page at manual_path: the one the build makes and
    the one the Debian package ships."""
    manual_path = None
    # tool, command, whether its standard output is the page rather than a warning
    LINTERS = (
        ("groff", ["groff", "-t", "-man", "-Tutf8", "-ww", "-z"], False),
        ("man", ["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z"], True),
        ("mandoc", ["mandoc", "-Tlint", "-Wstyle"], False),
    )

    def test_manual_has_no_warnings(self):
        require(*(tool for tool, _, _ in self.LINTERS))
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
        for tool, command, prints_page in self.LINTERS:
            with self.subTest(tool=tool):
                done = subprocess.run(command + [self.manual_path], capture_output=True, text=True, env=env,
                                      timeout=600)
                warnings = done.stderr if prints_page else done.stdout + done.stderr
                self.assertEqual((done.returncode, warnings), (0, ""), f"{tool} on {self.manual_path}")


class Manual(ManualChecks, unittest.TestCase):
    pass


class PackageCase(FolderCase):
    """A built package, unpacked once for the class in a folder of its own."""
    package = None
    emulator = ()

    @classmethod
    def setUpClass(cls):
        if not os.path.isfile(cls.package):
            raise AssertionError(f"no package at {cls.package}")
        cls.work = cls.new_folder(cls.addClassCleanup)

    def check_edit(self, program):
        """Runs a packaged program on a real 100-byte file and checks every
        byte; returns its standard output."""
        self.make("target.bin", PATTERN)
        done = run(*self.emulator, program, "/s", str(SIZE), "/f", "target.bin", cwd=self.dir)
        self.assertEqual(self.read("target.bin").hex(" "), (PATTERN[:16] + field(SIZE) + PATTERN[22:]).hex(" "))
        return done.stdout


class Deb(ManualChecks, PackageCase):

    @classmethod
    def setUpClass(cls):
        require("dpkg-deb", "dpkg-query", "readelf")
        super().setUpClass()
        cls.root = os.path.join(cls.work, "unpacked")
        run("dpkg-deb", "-x", cls.package, cls.root)
        cls.fields = {name: run("dpkg-deb", "--field", cls.package, name).stdout.strip()
                      for name in ("Package", "Version", "Architecture", "Depends", "Built-Using")}
        cls.compiler = COMPILERS[cls.fields["Architecture"]]
        cls.program = os.path.join(cls.root, "usr/bin/sizestamp")
        cls.doc = os.path.join(cls.root, "usr/share/doc/sizestamp")
        copyright_text = read_text(os.path.join(cls.doc, "copyright"))
        cls.copyright = [dict(re.findall(r"^([\w-]+):[ ]?(.*(?:\n[ \t].*)*)", block, re.M))
                         for block in paragraphs(copyright_text)]
        with gzip.open(os.path.join(cls.root, "usr/share/man/man1/sizestamp.1.gz"), "rt", encoding="utf-8") as f:
            cls.manual = f.read()
        cls.manual_path = os.path.join(cls.work, "sizestamp.1")
        with open(cls.manual_path, "w", encoding="utf-8") as f:
            f.write(cls.manual)
        with gzip.open(os.path.join(cls.doc, "changelog.Debian.gz"), "rt", encoding="utf-8") as f:
            cls.changelog = f.read()

    def test_contents(self):
        # The README, compressed or not (test_documents_are_for_users says when).
        readme = {"usr/share/doc/sizestamp/README", "usr/share/doc/sizestamp/README.gz"}
        files = listed_files(self.root)
        self.assertEqual(len(files & readme), 1, files)
        self.assertEqual(files - readme, DEB_FILES)

    def test_installed_program_edits(self):
        out = self.check_edit(self.program)
        self.assertEqual(out, "target.bin\nEdited successfully.\n")

    def test_each_shared_library_is_a_dependency(self):
        """Linked dynamically (Debian's security updates of the C and C++
        libraries reach it), and Depends names the package of each library."""
        dynamic = run("readelf", "--dynamic", "--program-headers", "--wide", self.program).stdout
        self.assertIn("INTERP", dynamic, "not linked dynamically")
        needed = re.findall(r"\(NEEDED\)\s+Shared library: \[(.*)\]", dynamic)
        self.assertTrue(needed)
        multiarch = {"amd64": "x86_64-linux-gnu", "arm64": "aarch64-linux-gnu"}[self.fields["Architecture"]]
        depends = {item.split()[0] for item in self.fields["Depends"].split(", ")}
        for library in needed:
            with self.subTest(library=library):
                self.assertIn(debian_package_of(f"/*lib/{multiarch}/{library}"), depends)
        self.assertEqual(self.fields["Built-Using"], "", "a dynamic program is built using no other source")

    def test_copyright_names_the_start_up_files_linked(self):
        require(self.compiler)
        linked = startup_files(self.compiler, self.dir)
        self.assertTrue(linked)
        header = self.copyright[0]["Comment"]
        self.assertEqual(set(re.findall(r"\b\w*crt\w*\.o\b", header)), linked)

    def test_copyright_patterns_name_the_source_tree(self):
        files = [block["Files"] for block in self.copyright if "Files" in block]
        self.assertEqual(files[0], "*")
        for patterns in files[1:]:
            for pattern in patterns.split():
                with self.subTest(pattern=pattern):
                    self.assertTrue(glob.glob(os.path.join(SOURCE, pattern)), "matches nothing in the sources")

    def test_copyright_explains_every_licence_it_names(self):
        texts = {block["License"].split("\n")[0]: block["License"] for block in self.copyright
                 if "License" in block and "Files" not in block}
        named = {name for block in self.copyright if "Files" in block for name in block["License"].split(" and ")}
        # The header names the licences of what the compiler adds: those
        # paragraphs stand alone.
        named |= set(re.findall(r"License: (.*?) below", " ".join(self.copyright[0]["Comment"].split())))
        self.assertEqual(named, set(texts))
        for name, text in texts.items():
            for common in re.findall(r"/usr/share/common-licenses/[\w.+-]+", text):
                with self.subTest(licence=name, common=common):
                    self.assertTrue(os.path.isfile(common) and not os.path.islink(common), common)

    def test_copyright_quotes_the_licence_texts(self):
        """The licence texts are their authors' words: LICENSE's, and those
        Debian ships for GCC's runtime and libstdc++'s headers."""
        sources = {
            "Expat": [os.path.join(SOURCE, "LICENSE")],
            "GPL-3+ with GCC-exception-3.1 exception": [
                os.path.join("/usr/share/doc", debian_package_of(runtime_file(self.compiler, "libstdc++.so")),
                             "copyright"),
                sorted(glob.glob("/usr/include/c++/*/bits/stl_algo.h"))[-1]],
        }
        # Ours: the pointers to the common licences, the words joining the
        # quotes, and the two libraries picked from GCC's list.
        ours = re.compile(r"^\s*(On Debian systems|Parts of libstdc\+\+|Copyright \(c\) 199|- libgcc)")
        for block in self.copyright:
            name = block.get("License", "").split("\n")[0]
            if "Files" in block or name not in sources:
                continue
            quoted = words(" ".join(read_text(path) for path in sources[name]))
            body = "\n".join(line[1:] for line in block["License"].split("\n")[1:])
            for passage in re.split(r"\n\.\n", body):
                if ours.match(passage):
                    continue
                with self.subTest(licence=name, passage=passage.strip()[:40]):
                    self.assertTrue(words(passage) in quoted, "not in the licence's own text: " + passage)

    def test_changelog_and_manual_carry_the_version_and_one_date(self):
        version = run("dpkg-parsechangelog", "-l", os.path.join(SOURCE, "debian/changelog"),
                      "-S", "Version").stdout.strip()
        released = re.search(r"^ -- .*?  (.*)$", self.changelog, re.M).group(1)
        stamp = time.strptime(released, "%a, %d %b %Y %H:%M:%S +0000")
        for where, found, expected in (
            ("package", self.fields["Version"], version),
            ("changelog's entry", self.changelog.split("\n")[0], f"sizestamp ({version}) unstable; urgency=medium"),
            ("manual", re.search(r"^\.TH \S+ \S+ (\S+) \"sizestamp (\S+)\"", self.manual, re.M).group(1, 2),
             (time.strftime("%Y-%m-%d", stamp), version.rsplit("-", 1)[0])),
        ):
            with self.subTest(where=where):
                self.assertEqual(found, expected)

    def test_archive_entries_are_root_owned_sorted_and_dated(self):
        released = re.search(r"^ -- .*?  (.*)$", self.changelog, re.M).group(1)
        epoch = int(run("date", "-u", "-d", released, "+%s").stdout)
        data = run("dpkg-deb", "--fsys-tarfile", self.package, text=False).stdout
        with tarfile.open(fileobj=io.BytesIO(data)) as archive:
            members = archive.getmembers()
        self.assertEqual([m.name for m in members], sorted(m.name for m in members))
        for member in members:
            with self.subTest(entry=member.name):
                self.assertEqual((member.uid, member.gid, member.uname, member.gname), (0, 0, "root", "root"))
                self.assertLessEqual(member.mtime, epoch)

    def test_documents_are_for_users(self):
        readmes = [name for name in os.listdir(self.doc) if name.startswith("README")]
        self.assertIn(readmes, (["README"], ["README.gz"]))
        path = os.path.join(self.doc, readmes[0])
        with (gzip.open if path.endswith(".gz") else open)(path, "rt", encoding="utf-8") as f:
            readme = f.read()
        self.assertEqual(path.endswith(".gz"), len(readme.encode()) > 4096, "gzip from 4 kB on, as dh_compress")
        self.assertNotRegex(readme, r"cmake|cpack|install-deps|```", "build steps or Markdown")
        manual_statuses = self.manual.split(".SH EXIT STATUS", 1)[1].split(".SH", 1)[0]
        for document, statuses in (("README", exit_status_lines(readme)),
                                   ("manual", [int(n) for n in re.findall(r"^(\d+);", manual_statuses, re.M)])):
            with self.subTest(lists_exit_statuses=document):
                self.assertEqual(statuses, list(EXIT_STATUSES))


class Zip(PackageCase):
    TEXTS = ("README.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt")
    epoch = None

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.version = re.fullmatch(r"sizestamp-(.*)-win64\.zip", os.path.basename(cls.package)).group(1)
        cls.compiler = COMPILERS["win64"]
        with zipfile.ZipFile(cls.package) as archive:
            cls.entries = archive.infolist()
            cls.content = {info.filename.split("/", 1)[1]: archive.read(info) for info in cls.entries}
            archive.extractall(cls.work)
        cls.top = os.path.join(cls.work, os.path.splitext(os.path.basename(cls.package))[0])
        cls.resources = {name: pe_resources(cls.content[name]) for name in WINDOWS_PROGRAMS}

    def test_contents(self):
        self.assertEqual(listed_files(self.top), ZIP_FILES)

    def test_unzipped_programs_edit(self):
        for name in WINDOWS_PROGRAMS:
            with self.subTest(program=name):
                self.check_edit(os.path.join(self.top, name))

    def test_entries_carry_no_trace_of_the_packager(self):
        self.assertEqual([info.filename for info in self.entries], sorted(info.filename for info in self.entries))
        stamp = time.gmtime(self.epoch)[:6]
        for info in self.entries:
            executable = info.filename.endswith(".exe")
            with self.subTest(entry=info.filename):
                self.assertEqual(info.date_time, stamp[:5] + (stamp[5] // 2 * 2,))
                self.assertEqual(info.extra, b"", "no owner, no times beyond the one above")
                self.assertEqual(info.external_attr >> 16, 0o100755 if executable else 0o100644)

    def test_texts_are_plain_with_windows_line_ends(self):
        for name in self.TEXTS:
            text = self.content[name]
            with self.subTest(text=name):
                self.assertGreater(text.count(b"\r\n"), 0)
                self.assertEqual(text.count(b"\n"), text.count(b"\r\n"), "a line ends without CR")
                self.assertEqual(text.count(b"\r"), text.count(b"\r\n"), "a CR without LF")
                self.assertTrue(text.isascii())
                self.assertNotRegex(text, rb"(?m)^#|\*\*|\]\(|```", "Markdown")

    def test_readme_is_for_windows_users(self):
        readme = self.content["README.txt"].decode().replace("\r\n", "\n")
        self.assertEqual(exit_status_lines(readme), list(EXIT_STATUSES))
        for topic, needle in (("cmd", "start \"\" /wait sizestamp.exe"), ("batch file", "%ERRORLEVEL%"),
                              ("PowerShell", "Start-Process"), ("exit code", ".ExitCode"),
                              ("console twin", "sizestampc.exe /s"), ("delayed expansion", "cmd /v:on"),
                              ("status on the same line", "!ERRORLEVEL!"), ("PowerShell's status", "$LASTEXITCODE"),
                              ("no desktop", "standard output"), ("decimal separator", "decimal separator"),
                              ("version", f"Version {self.version}."), ("no build steps", None)):
            with self.subTest(topic=topic):
                if needle is None:
                    self.assertNotRegex(readme, r"cmake|cpack|install-deps|apt")
                else:
                    self.assertIn(needle, readme)

    def test_licence_is_the_projects(self):
        self.assertEqual(self.content["LICENSE.txt"].decode().replace("\r\n", "\n"), source_text("LICENSE"))

    def test_notices_name_each_runtime_and_the_packages(self):
        notices = self.content["THIRD-PARTY-NOTICES.txt"].decode().replace("\r\n", "\n")
        require("dpkg-query")
        for name in ("libstdc++.a", "libmingwex.a"):
            with self.subTest(linked=name):
                package = debian_package_of(runtime_file(self.compiler, name))
                version = run("dpkg-query", "--show", "--showformat=${Package} ${Version}", package).stdout
                self.assertIn("\n  " + version + "\n", notices)
        for heading in ("sizestamp.exe and sizestampc.exe: notices of the code they carry",
                        "GCC runtime libraries: libstdc++, libgcc and libssp", "MinGW-w64 runtime",
                        "GCC RUNTIME LIBRARY EXCEPTION", "Lucent Technologies",
                        "fast_float (inside libstdc++)", "Copyright (c) 2021 The fast_float authors",
                        "Ryu (inside libstdc++)", "Copyright 2018 Ulf Adams",
                        "Boost Software License - Version 1.0"):
            with self.subTest(heading=heading):
                self.assertIn(heading, notices)

    def test_programs_carry_no_winpthreads(self):
        """Built with the win32 thread model, as the notices say: no
        winpthreads, so none of what it imports to control threads."""
        require("x86_64-w64-mingw32-objdump")
        notices = self.content["THIRD-PARTY-NOTICES.txt"].decode()
        self.assertNotIn("winpthreads", notices)
        for name in WINDOWS_PROGRAMS:
            headers = run("x86_64-w64-mingw32-objdump", "-p", os.path.join(self.top, name)).stdout
            imported = pe_imported_functions(headers)
            for function in ("WriteFile", "SuspendThread", "SetThreadContext", "OpenProcess"):
                with self.subTest(program=name, function=function):
                    self.assertEqual(function in imported, function == "WriteFile")

    def test_notices_name_what_the_runtime_brings(self):
        """What the statically linked C++ library brings with the calls the
        program makes, and the start-up files the compiler links, as the
        linker and the symbol table of a program like it show."""
        require(self.compiler)
        notices = " ".join(self.content["THIRD-PARTY-NOTICES.txt"].decode().split())
        # The program turns text into a double and a double into text.
        program, _ = link(self.compiler, self.dir, "#include <charconv>\n"
                          "int main(int, char **argv) { double d = 0; std::from_chars(argv[0], argv[0] + 4, d);"
                          " std::to_chars(argv[0], argv[0] + 4, d); return d > 1; }\n", "-static")
        symbols = run(self.compiler.rsplit("-g++", 1)[0] + "-nm", program).stdout
        for library, mangled in (("fast_float", "10fast_float"), ("Ryu", "3ryu")):
            with self.subTest(library=library):
                self.assertTrue(mangled in symbols, "the probe does not carry it: the test is out of date")
                self.assertIn(f"{library} (inside libstdc++)", notices)
        linked = startup_files(self.compiler, self.dir, "-static", "-mwindows", "-municode",
                               main="int wWinMain() { return 0; }\n")
        self.assertTrue(linked)
        self.assertEqual(set(re.findall(r"\b\w*crt\w*\.o\b", notices.split("1. GCC runtime")[0])), linked)

    def test_notices_quote_debians_licence_texts(self):
        notices = self.content["THIRD-PARTY-NOTICES.txt"].decode().replace("\r\n", "\n")
        sources = ["/usr/share/doc/mingw-w64-x86-64-dev/copyright", "/usr/share/doc/gcc-mingw-w64-base/copyright"]
        sources += glob.glob("/usr/include/c++/*/bits/stl_algo.h")[:1]
        if not all(os.path.isfile(path) for path in sources):
            self.skipTest("MinGW-w64's copyright files are not installed")
        quoted = words(" ".join(read_text(path) for path in sources))
        # Licence passages are the paragraphs of eight or more words that are not ours.
        ours = re.compile(r"^\s*(sizestamp\.exe|They were built|The GNU General Public License, version 3|"
                          r"The runtime's start-up|Its |Parts of libstdc|Copyright|- libgcc)")
        # fast_float's and Ryu's texts are in GCC's source, not in Debian's
        # copyright files: they were compared with it by hand.
        licences = notices.split("\n\n1. ", 1)[1].split("\n\n3. fast_float", 1)[0]
        for passage in paragraphs(licences):
            if ours.match(passage) or len(passage.split()) < 8 or re.match(r".*\n[-=]+$", passage):
                continue
            with self.subTest(passage=passage[:40]):
                self.assertTrue(words(passage) in quoted, "not in Debian's text: " + passage)

    def test_programs_have_an_icon_in_each_size(self):
        for name, resources in self.resources.items():
            with self.subTest(program=name):
                self.check_icon(resources)

    def check_icon(self, resources):
        groups = resources.get(14, {})
        self.assertEqual(len(groups), 1, "one icon group")
        group = next(iter(groups.values()))
        count, = struct.unpack_from("<H", group, 4)
        sizes = []
        for i in range(count):
            width, height, _, _, _, bits, _, icon_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            image = resources[3][icon_id]
            if image.startswith(b"\x89PNG"):
                drawn = struct.unpack_from(">II", image, 16)
            else:  # a DIB: its height counts the mask too
                w, h = struct.unpack_from("<ii", image, 4)
                drawn = (w, h // 2)
            with self.subTest(icon=icon_id):
                self.assertEqual(drawn, (width or 256, height or 256))
                self.assertEqual(bits, 32)
            sizes.append(drawn[0])
        self.assertEqual(sorted(sizes), [16, 32, 48, 256])

    def test_version_information(self):
        for name, description in WINDOWS_PROGRAMS.items():
            with self.subTest(program=name):
                self.check_version_information(self.resources[name], name, description)

    def check_version_information(self, resources, name, description):
        strings, fixed = version_info(resources[16][1])
        copyright_line = re.search(r"^Copyright \(c\) .*$", source_text("LICENSE"), re.M).group(0)
        numbers = tuple(int(n) for n in self.version.split(".")) + (0,)
        for key, expected in (("FileDescription", description), ("ProductName", "sizestamp"),
                              ("CompanyName", re.search(r'set\(CPACK_PACKAGE_VENDOR "(.*)"\)',
                                                         source_text("cmake/packaging.cmake")).group(1)),
                              ("LegalCopyright", copyright_line), ("FileVersion", self.version),
                              ("ProductVersion", self.version), ("OriginalFilename", name)):
            with self.subTest(key=key):
                self.assertEqual(strings.get(key), expected)
        with self.subTest(key="VS_FIXEDFILEINFO"):
            self.assertEqual(fixed, numbers)


class Release(unittest.TestCase):
    """A release's record: what a third party checks it with."""
    folder = None

    @classmethod
    def setUpClass(cls):
        require("dpkg-query", "sha256sum")
        cls.files, cls.info = set(os.listdir(cls.folder)), read_text(os.path.join(cls.folder, "RELEASE-INFO"))
        cls.version = re.search(r"^sizestamp \S+, Debian revision (\S+)$", cls.info, re.M).group(1)

    def test_checksums_cover_every_file(self):
        """The .buildinfo files carry each build's date and environment: they
        have a list of their own, apart from what a rebuild makes again."""
        for sums, covers in (("SHA256SUMS", lambda name: not name.endswith(("SHA256SUMS", ".buildinfo"))),
                             ("BUILDINFO-SHA256SUMS", lambda name: name.endswith(".buildinfo"))):
            with self.subTest(sums=sums):
                self.assertEqual(set(checksums(os.path.join(self.folder, sums))),
                                 {name for name in self.files if covers(name)})
                run("sha256sum", "--quiet", "--strict", "--check", sums, cwd=self.folder)

    def test_each_buildinfo_records_the_files_shipped_from_its_build(self):
        shipped = checksums(os.path.join(self.folder, "SHA256SUMS"))
        for architecture, built in (("amd64", (".dsc", "_amd64.deb")), ("arm64", ("_arm64.deb",))):
            buildinfo = read_text(os.path.join(self.folder, f"sizestamp_{self.version}_{architecture}.buildinfo"))
            block = re.search(r"^Checksums-Sha256:\n((?: .*\n)+)", buildinfo, re.M).group(1)
            recorded = {name: digest for digest, _, name in (line.split() for line in block.splitlines())}
            for suffix in built:
                name = f"sizestamp_{self.version}{suffix}"
                with self.subTest(buildinfo=architecture, file=name):
                    self.assertEqual(recorded.get(name), shipped[name])

    def test_release_info_names_the_system_and_each_toolchain_package(self):
        """This Debian release, and the packages of each compiler and of the
        libraries it links, the arm64 cross libraries among them, and of the
        arm64 libraries whose symbols files set the arm64 package's Depends."""
        system = re.search(r'^PRETTY_NAME="?(.*?)"?$', read_text("/etc/os-release"), re.M).group(1)
        self.assertIn(f"\nbuilt on: {system}, Debian {read_text('/etc/debian_version').strip()}, ", self.info)
        for architecture, compiler in COMPILERS.items():
            require(compiler)
            files = [shutil.which(compiler)] + [runtime_file(compiler, name) for name in LINKED_LIBRARIES[architecture]]
            for path in files:
                with self.subTest(compiler=compiler, file=path):
                    self.assertIn("\n  " + installed(debian_package_of(path)) + "\n", self.info)
        depends = run("dpkg-deb", "--field", os.path.join(self.folder, f"sizestamp_{self.version}_arm64.deb"),
                      "Depends").stdout
        for package in re.findall(r"(?:^|, )([^ ,(]+)", depends):
            with self.subTest(arm64_library=package):
                self.assertIn("\n  " + installed(package + ":arm64") + "\n", self.info)


def pe_resources(image):
    """{type id: {name id: data}} of a PE file's resources, first language each."""
    pe, = struct.unpack_from("<I", image, 0x3C)
    if image[pe:pe + 4] != b"PE\0\0":
        raise AssertionError("not a PE file")
    sections, optional_size = struct.unpack_from("<H12xH", image, pe + 6)
    optional = pe + 24
    directories = optional + (112 if struct.unpack_from("<H", image, optional)[0] == 0x20B else 96)
    resource_rva, _ = struct.unpack_from("<II", image, directories + 2 * 8)
    table = optional + optional_size

    def offset(rva):
        for i in range(sections):
            size, address, _, raw = struct.unpack_from("<IIII", image, table + 40 * i + 8)
            if address <= rva < address + max(size, 1):
                return raw + rva - address
        raise AssertionError(f"RVA {rva:#x} is in no section")

    base = offset(resource_rva)

    def entries(directory):
        named, numbered = struct.unpack_from("<HH", image, base + directory + 12)
        for i in range(named + numbered):
            name, target = struct.unpack_from("<II", image, base + directory + 16 + 8 * i)
            yield name & 0x7FFFFFFF, target

    found = {}
    for kind, names in entries(0):
        for name, languages in entries(names & 0x7FFFFFFF):
            _, leaf = next(entries(languages & 0x7FFFFFFF))
            rva, size = struct.unpack_from("<II", image, base + leaf)
            found.setdefault(kind, {})[name] = image[offset(rva):offset(rva) + size]
    return found


def version_nodes(block, at, end):
    """The (key, value, children's start, end) of each node of a
    VS_VERSIONINFO tree from at to end; every node starts on 4 bytes."""
    def aligned(offset):
        return (offset + 3) & ~3

    while at < end:
        length, value_length, text = struct.unpack_from("<HHH", block, at)
        if length == 0:
            break
        key_end = at + 6
        while block[key_end:key_end + 2] != b"\0\0":
            key_end += 2
        value = aligned(key_end + 2)
        value_end = value + (value_length * 2 if text else value_length)
        yield block[at + 6:key_end].decode("utf-16-le"), block[value:value_end], aligned(value_end), at + length
        at = aligned(at + length)


def version_info(block):
    """The strings of a VS_VERSIONINFO resource and its fixed file version."""
    (key, fixed, children, end), = version_nodes(block, 0, len(block))
    signature, _, ms, ls = struct.unpack_from("<IIII", fixed)
    if key != "VS_VERSION_INFO" or signature != 0xFEEF04BD:
        raise AssertionError("not a VS_VERSIONINFO with its fixed file information")
    strings = {}
    for key, _, tables, tables_end in version_nodes(block, children, end):
        if key == "StringFileInfo":
            for _, _, start, stop in version_nodes(block, tables, tables_end):
                for name, value, _, _ in version_nodes(block, start, stop):
                    strings[name] = value.decode("utf-16-le").rstrip("\0")
    return strings, (ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF)


def main(mode=None, *args):
    if mode == "manual" and len(args) == 1:
        check, (Manual.manual_path,) = Manual, args
    elif mode == "deb" and len(args) >= 1:
        check = Deb
        check.package, *check.emulator = args
    elif mode == "release" and len(args) == 1:
        check, (Release.folder,) = Release, args
    elif mode == "zip" and len(args) >= 2 and args[1].isdigit():
        check = Zip
        check.package, epoch, *check.emulator = args
        check.epoch = int(epoch)
    else:
        sys.exit(__doc__)
    result = unittest.main(argv=sys.argv[:1], defaultTest=check.__name__, exit=False, verbosity=2).result
    sys.exit(exit_status(result))


if __name__ == "__main__":
    main(*sys.argv[1:])
