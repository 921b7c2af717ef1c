#!/usr/bin/env python3
"""The manual page and the packages, checked the way a user, a Debian
maintainer and a Windows administrator meet them: the installed program
edits a file, lintian is clean, the manual is lint-free, the notices of the
runtime code the static programs carry are there, every date is the source
date, and the Windows texts and resources are right.

Usage: package_test.py manual MANUAL
       package_test.py deb CPACK CPACK_CONFIG [EMULATOR...]
       package_test.py zip CPACK CPACK_CONFIG [EMULATOR...]

deb and zip build their package once with CPack into a temporary folder and
run the program it holds through EMULATOR, if given. A missing tool skips a
test on a developer's machine and fails it under CI (CI set), where
scripts/install-deps has installed everything. When every test was skipped
the status is 77.
"""
import glob
import gzip
import io
import os
import re
import struct
import subprocess
import sys
import tarfile
import time
import unittest
import zipfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import PATTERN, FolderCase, field, require  # noqa: E402

SKIPPED = 77
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
SIZE = 305419896
EXIT_STATUSES = range(8)
DEB_FILES = {
    "usr/bin/sizestamp",
    "usr/share/man/man1/sizestamp.1.gz",
    "usr/share/doc/sizestamp/README",
    "usr/share/doc/sizestamp/copyright",
    "usr/share/doc/sizestamp/changelog.gz",
    "usr/share/lintian/overrides/sizestamp",
}
ZIP_FILES = {"sizestamp.exe", "sizestampc.exe", "README.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"}
# The desktop program and its console twin, with the description each shows.
WINDOWS_PROGRAMS = {"sizestamp.exe": "sizestamp", "sizestampc.exe": "sizestamp (console)"}


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


def cpack_setting(config, name):
    """A variable's value as CPack reads it from its configuration file."""
    found = re.search(r'^set\(%s "([^"]*)"\)' % re.escape(name), read_text(config), re.M)
    if not found:
        raise AssertionError(f"{config} does not set {name}")
    return found.group(1)


def compiler_of(config):
    """The C++ compiler of the build that CPack's configuration file is in."""
    found, = glob.glob(os.path.join(os.path.dirname(config), "CMakeFiles", "*", "CMakeCXXCompiler.cmake"))
    return re.search(r'^set\(CMAKE_CXX_COMPILER "(.*)"\)$', read_text(found), re.M).group(1)


def words(text):
    """Text with comment marks and line breaks gone, for comparing wordings."""
    text = re.sub(r"^\s*(//|/\*|\*/|\*)", " ", text, flags=re.M)
    return " ".join(text.split())


def paragraphs(text):
    return [block for block in re.split(r"\n\s*\n", text) if block.strip()]


def debian_package_of(path):
    """The installed Debian package that holds path."""
    return run("dpkg-query", "--search", path).stdout.split(":")[0]


def runtime_file(compiler, name):
    return os.path.normpath(run(compiler, "-print-file-name=" + name).stdout.strip())


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
    """Builds the package once for the class, in a folder of its own."""
    cpack = config = generator = None
    emulator = ()

    @classmethod
    def setUpClass(cls):
        cls.work = cls.new_folder(cls.addClassCleanup)
        run(cls.cpack, "--config", cls.config, "-G", cls.generator, "-B", cls.work)
        packages = glob.glob(os.path.join(cls.work, "*." + cls.generator.lower()))
        if len(packages) != 1:
            raise AssertionError(f"expected one .{cls.generator.lower()} in {cls.work}, found {packages}")
        cls.package = packages[0]
        cls.epoch = int(cpack_setting(cls.config, "CPACK_SIZESTAMP_SOURCE_DATE_EPOCH"))
        cls.version = cpack_setting(cls.config, "CPACK_PACKAGE_VERSION")
        cls.compiler = compiler_of(cls.config)

    def check_edit(self, program):
        """Runs a packaged program on a real 100-byte file and checks every
        byte; returns its standard output."""
        self.make("target.bin", PATTERN)
        done = run(*self.emulator, program, "/s", str(SIZE), "/f", "target.bin", cwd=self.dir)
        self.assertEqual(self.read("target.bin").hex(" "), (PATTERN[:16] + field(SIZE) + PATTERN[22:]).hex(" "))
        return done.stdout


class Deb(ManualChecks, PackageCase):
    generator = "DEB"

    @classmethod
    def setUpClass(cls):
        require("dpkg-deb")
        # The packager's umask must not reach the package's permissions.
        cls.addClassCleanup(os.umask, os.umask(0o077))
        super().setUpClass()
        cls.root = os.path.join(cls.work, "unpacked")
        run("dpkg-deb", "-x", cls.package, cls.root)
        cls.doc = os.path.join(cls.root, "usr/share/doc/sizestamp")
        with open(os.path.join(cls.doc, "copyright"), encoding="utf-8") as f:
            cls.copyright = [dict(re.findall(r"^([\w-]+):[ ]?(.*(?:\n[ \t].*)*)", block, re.M))
                             for block in paragraphs(f.read())]
        with gzip.open(os.path.join(cls.root, "usr/share/man/man1/sizestamp.1.gz"), "rt", encoding="utf-8") as f:
            cls.manual = f.read()
        cls.manual_path = os.path.join(cls.work, "sizestamp.1")
        with open(cls.manual_path, "w", encoding="utf-8") as f:
            f.write(cls.manual)

    def test_contents(self):
        self.assertEqual(listed_files(self.root), DEB_FILES)

    def test_installed_program_edits(self):
        out = self.check_edit(os.path.join(self.root, "usr/bin/sizestamp"))
        self.assertEqual(out, "target.bin\nEdited successfully.\n")

    def test_lintian_reports_only_the_overrides(self):
        require("lintian")
        # Its exit status cannot tell: with --show-overrides, lintian's
        # --fail-on counts the overridden tags too.
        report = run("lintian", "-EvIL", "+pedantic", "--tag-display-limit", "0", "--show-overrides",
                     self.package).stdout
        shipped = re.findall(r"^sizestamp: (.*)$", read_text(
            os.path.join(self.root, "usr/share/lintian/overrides/sizestamp")), re.M)
        # A tag of any level fails, as in scripts/release; N: lines are lintian's narration.
        self.assertEqual(re.findall(r"^[A-MP-Z]: .*$", report, re.M), [], report)
        # An override that no longer matches anything must go too.
        self.assertEqual(sorted(re.findall(r"^O: sizestamp: (.*)$", report, re.M)), sorted(shipped), report)
        self.assertLessEqual(set(shipped), set(re.findall(r"^sizestamp: (.*)$", source_text(
            "packaging/lintian-overrides"), re.M)), "overrides that packaging/lintian-overrides lacks")

    def test_built_using_names_the_linked_runtimes(self):
        require("dpkg-query")
        field = run("dpkg-deb", "--field", self.package, "Built-Using").stdout.strip()
        for name in ("libc.a", "libstdc++.a"):
            with self.subTest(linked=name):
                package = debian_package_of(runtime_file(self.compiler, name))
                source = run("dpkg-query", "--show", "--showformat=${source:Package} (= ${source:Version})",
                             package).stdout
                self.assertRegex(source, r"^\S+ \(= [0-9][^)]*\)$")
                self.assertIn(source, field.split(", "))

    def test_copyright_has_a_paragraph_for_each_component(self):
        for component, linked, licence in (
            ("sizestamp", None, "Expat"),
            ("glibc", "libc.a", "LGPL-2.1+ and SunPro"),
            ("gcc", "libstdc++.a", "GPL-3+ with GCC-exception-3.1 exception"),
        ):
            pattern = runtime_file(self.compiler, linked).lstrip("/") if linked else "*"
            with self.subTest(component=component):
                found = [block["License"] for block in self.copyright
                         if "Files" in block and pattern in block["Files"].split()]
                self.assertEqual(found, [licence], pattern)

    def test_copyright_explains_every_licence_it_names(self):
        texts = {block["License"].split("\n")[0]: block["License"] for block in self.copyright
                 if "License" in block and "Files" not in block}
        for block in [b for b in self.copyright if "Files" in b]:
            for name in block["License"].split(" and "):
                with self.subTest(licence=name):
                    self.assertIn(name, texts)
                    for common in re.findall(r"/usr/share/common-licenses/[\w.+-]+", texts[name]):
                        self.assertTrue(os.path.isfile(common) and not os.path.islink(common), common)

    def test_copyright_quotes_debians_licence_texts(self):
        require("dpkg-query")
        sources = {
            "LGPL-2.1+": ["libc.a"], "SunPro": ["libc.a"],
            "GPL-3+ with GCC-exception-3.1 exception": ["libstdc++.a", "stl_algo.h"],
        }
        # Ours: the pointers to the common licences, the words joining the
        # quotes, and the two libraries picked from GCC's list.
        ours = re.compile(r"^\s*(On Debian systems|Parts of libstdc\+\+|Copyright \(c\) 199|- libgcc)")
        for block in self.copyright:
            name = block.get("License", "").split("\n")[0]
            if "Files" in block or name not in sources:
                continue
            quoted = words(" ".join(read_text(self.debian_text(source)) for source in sources[name]))
            body = "\n".join(line[1:] for line in block["License"].split("\n")[1:])
            for passage in re.split(r"\n\.\n", body):
                if ours.match(passage):
                    continue
                with self.subTest(licence=name, passage=passage.strip()[:40]):
                    self.assertTrue(words(passage) in quoted, "not in Debian's text: " + passage)

    def debian_text(self, linked):
        """Where Debian keeps the notices of a runtime file; a header carries its own."""
        if linked.endswith(".h"):
            return sorted(glob.glob("/usr/include/c++/*/bits/" + linked))[-1]
        package = debian_package_of(runtime_file(self.compiler, linked))
        return os.path.join("/usr/share/doc", package.split(":")[0], "copyright")

    def test_changelog_and_manual_carry_the_release_and_the_source_date(self):
        with gzip.open(os.path.join(self.doc, "changelog.gz"), "rt", encoding="utf-8") as f:
            changelog = f.read()
        stamp = time.gmtime(self.epoch)
        for where, found, expected in (
            ("changelog's entry", changelog.split("\n")[0], f"sizestamp ({self.version}) unstable; urgency=medium"),
            ("manual", re.search(r"^\.TH \S+ \S+ (\S+)", self.manual, re.M).group(1),
             time.strftime("%Y-%m-%d", stamp)),
            ("changelog", re.search(r"^ -- .*?  (.*)$", changelog, re.M).group(1),
             time.strftime("%a, %d %b %Y %H:%M:%S +0000", stamp)),
        ):
            with self.subTest(where=where):
                self.assertEqual(found, expected)

    def test_archive_entries_are_root_owned_sorted_and_dated(self):
        data = run("dpkg-deb", "--fsys-tarfile", self.package, text=False).stdout
        with tarfile.open(fileobj=io.BytesIO(data)) as archive:
            members = archive.getmembers()
        self.assertEqual([m.name for m in members], sorted(m.name for m in members))
        for member in members:
            with self.subTest(entry=member.name):
                self.assertEqual((member.uid, member.gid, member.uname, member.gname), (0, 0, "root", "root"))
                self.assertLessEqual(member.mtime, self.epoch)

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
    generator = "ZIP"
    TEXTS = ("README.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt")

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
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
        for name in ("libstdc++.a", "libmingwex.a", "libpthread.a"):
            with self.subTest(linked=name):
                package = debian_package_of(runtime_file(self.compiler, name))
                version = run("dpkg-query", "--show", "--showformat=${Package} ${Version}", package).stdout
                self.assertIn("\n  " + version + "\n", notices)
        for heading in ("GCC runtime libraries: libstdc++ and libgcc", "MinGW-w64 runtime", "winpthreads",
                        "GCC RUNTIME LIBRARY EXCEPTION", "Lucent Technologies", "Lockless Inc."):
            with self.subTest(heading=heading):
                self.assertIn(heading, notices)

    def test_notices_quote_debians_licence_texts(self):
        notices = self.content["THIRD-PARTY-NOTICES.txt"].decode().replace("\r\n", "\n")
        sources = ["/usr/share/doc/mingw-w64-x86-64-dev/copyright", "/usr/share/doc/gcc-mingw-w64-base/copyright"]
        sources += glob.glob("/usr/include/c++/*/bits/stl_algo.h")[:1]
        if not all(os.path.isfile(path) for path in sources):
            self.skipTest("MinGW-w64's copyright files are not installed")
        quoted = words(" ".join(read_text(path) for path in sources))
        # Licence passages are the paragraphs of eight or more words that are not ours.
        ours = re.compile(r"^\s*(sizestamp\.exe|It was built|The GNU General Public License, version 3|"
                          r"The runtime's start-up|Its |Parts of libstdc|Copyright|- libgcc)")
        for passage in paragraphs(notices.split("\n\n1. ", 1)[1]):
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
                              ("CompanyName", cpack_setting(self.config, "CPACK_PACKAGE_VENDOR")),
                              ("LegalCopyright", copyright_line), ("FileVersion", self.version),
                              ("ProductVersion", self.version), ("OriginalFilename", name)):
            with self.subTest(key=key):
                self.assertEqual(strings.get(key), expected)
        with self.subTest(key="VS_FIXEDFILEINFO"):
            self.assertEqual(fixed, numbers)


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
    elif mode in ("deb", "zip") and len(args) >= 2:
        check = {"deb": Deb, "zip": Zip}[mode]
        check.cpack, check.config, *check.emulator = args
    else:
        sys.exit(__doc__)
    result = unittest.main(argv=sys.argv[:1], defaultTest=check.__name__, exit=False, verbosity=2).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(SKIPPED if result.skipped and len(result.skipped) >= result.testsRun else 0)


if __name__ == "__main__":
    main(*sys.argv[1:])
