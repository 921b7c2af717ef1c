#!/usr/bin/env python3
"""The manual page and the packages, checked the way a user would meet them.

Usage: package_test.py manual MANUAL
       package_test.py deb CPACK CPACK_CONFIG
       package_test.py zip CPACK CPACK_CONFIG EMULATOR...

A missing tool skips a test on a developer's machine and fails it under CI
(CI set), where scripts/install-deps has installed everything. When every test
was skipped the status is 77.
"""
import glob
import os
import shutil
import subprocess
import sys
import unittest
import zipfile

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import PATTERN, FolderCase, field  # noqa: E402

SKIPPED = 77
SIZE = 305419896
DEB_FILES = {
    "usr/bin/sizestamp",
    "usr/share/man/man1/sizestamp.1.gz",
    "usr/share/doc/sizestamp/README",
    "usr/share/doc/sizestamp/copyright",
    "usr/share/doc/sizestamp/changelog.gz",
    "usr/share/lintian/overrides/sizestamp",
}
ZIP_FILES = {"sizestamp.exe", "README.txt", "LICENSE.txt", "THIRD-PARTY-NOTICES.txt"}


def require(*tools):
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        message = "not installed: " + " ".join(missing)
        if os.environ.get("CI"):
            raise AssertionError(message)
        raise unittest.SkipTest(message)


def run(*command, **options):
    done = subprocess.run(command, capture_output=True, text=True, timeout=300, **options)
    if done.returncode != 0:
        raise AssertionError(f"{' '.join(command)} ended with {done.returncode}:\n{done.stdout}{done.stderr}")
    return done


def listed_files(root):
    return {os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            for folder, _, names in os.walk(root) for name in names}


class Manual(unittest.TestCase):
    manual = None

    def test_no_warnings(self):
        require("groff", "man")
        env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
        for command in (["groff", "-t", "-man", "-Tutf8", "-ww", "-z", self.manual],
                        ["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", self.manual]):
            with self.subTest(tool=command[0]):
                self.assertEqual(run(*command, env=env).stderr, "", f"{command[0]} warns about {self.manual}")


class PackageCase(FolderCase):
    """Builds the package once for the class, in a folder of its own."""
    cpack = config = generator = None

    @classmethod
    def setUpClass(cls):
        cls.work = cls.new_folder(cls.addClassCleanup)
        run(cls.cpack, "--config", cls.config, "-G", cls.generator, "-B", cls.work)
        packages = glob.glob(os.path.join(cls.work, "*." + cls.generator.lower()))
        if len(packages) != 1:
            raise AssertionError(f"expected one .{cls.generator.lower()} in {cls.work}, found {packages}")
        cls.package = packages[0]

    def check_edit(self, *command):
        """Runs an installed program on a real 100-byte file and checks every
        byte; returns its standard output."""
        self.make("target.bin", PATTERN)
        done = run(*command, "/s", str(SIZE), "/f", "target.bin", cwd=self.dir)
        self.assertEqual(self.read("target.bin").hex(" "), (PATTERN[:16] + field(SIZE) + PATTERN[22:]).hex(" "))
        return done.stdout


class Deb(PackageCase):
    generator = "DEB"

    @classmethod
    def setUpClass(cls):
        require("dpkg-deb", "lintian")
        # The packager's umask must not reach the package's permissions.
        cls.addClassCleanup(os.umask, os.umask(0o077))
        super().setUpClass()
        cls.root = os.path.join(cls.work, "unpacked")
        run("dpkg-deb", "-x", cls.package, cls.root)

    def test_lintian_finds_nothing(self):
        # Warnings count too: the one tag the package overrides carries its reason.
        print(run("lintian", "--fail-on", "error,warning", "--pedantic", self.package).stdout)

    def test_contents(self):
        self.assertEqual(listed_files(self.root), DEB_FILES)

    def test_installed_program_edits(self):
        out = self.check_edit(os.path.join(self.root, "usr/bin/sizestamp"))
        self.assertEqual(out, "target.bin\nEdited successfully.\n")


class Zip(PackageCase):
    generator = "ZIP"
    emulator = []

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        with zipfile.ZipFile(cls.package) as archive:
            archive.extractall(cls.work)
        cls.top = os.path.join(cls.work, os.path.splitext(os.path.basename(cls.package))[0])

    def test_contents(self):
        self.assertEqual(listed_files(self.top), ZIP_FILES)

    def test_unzipped_program_edits(self):
        self.check_edit(*self.emulator, os.path.join(self.top, "sizestamp.exe"))


def main(mode=None, *args):
    if mode == "manual" and len(args) == 1:
        check, (Manual.manual,) = Manual, args
    elif mode == "deb" and len(args) == 2:
        check, (Deb.cpack, Deb.config) = Deb, args
    elif mode == "zip" and len(args) > 2:
        check, (Zip.cpack, Zip.config, *Zip.emulator) = Zip, args
    else:
        sys.exit(__doc__)
    result = unittest.main(argv=sys.argv[:1], defaultTest=check.__name__, exit=False, verbosity=2).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(SKIPPED if result.skipped and len(result.skipped) >= result.testsRun else 0)


if __name__ == "__main__":
    main(*sys.argv[1:])
