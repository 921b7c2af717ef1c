#!/usr/bin/env python3
"""The same sources give the same bytes, with no setup by whoever builds.

Usage: reproducible_test.py [SOURCE_DIR] [unittest arguments]

TwoBuilds builds the release artifacts (the native and arm64 programs and
their .deb, sizestamp.exe and the zip) twice, one after the other: first as
root from SOURCE_DIR (default: this checkout), then as nobody from a copy of
it in another folder, with another umask, time zone, locale and home.
SourceDate configures the sources in the ways a builder may have them and
checks the date the packages would carry.

Switching to nobody needs root: without it the test is skipped (status 77),
and it fails under CI (CI set).
"""
import glob
import hashlib
import io
import os
import re
import shutil
import subprocess
import sys
import tarfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import FolderCase, unavailable  # noqa: E402

SKIPPED = 77
SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
UNPRIVILEGED = {"user": "nobody", "group": "nogroup", "extra_groups": []}
# What differs between the two builders, besides the user and the folder.
BUILDERS = (
    {"umask": 0o022, "env": {"TZ": "UTC", "LC_ALL": "C.UTF-8"}, "as": {}},
    {"umask": 0o077, "env": {"TZ": "Pacific/Chatham", "LC_ALL": "POSIX"}, "as": UNPRIVILEGED},
)


def run(*command, **options):
    done = subprocess.run(command, capture_output=True, text=True, timeout=1800, **options)
    if done.returncode != 0:
        raise AssertionError(f"{' '.join(command)} ended with {done.returncode}:\n{done.stdout}{done.stderr}")
    return done


def builder_env(**changes):
    """The environment of a builder who set nothing up."""
    env = {k: v for k, v in os.environ.items() if k not in ("SOURCE_DATE_EPOCH", "CI", "MAKEFLAGS")}
    env.update(changes)
    return env


def configured_date(build):
    with open(os.path.join(build, "CPackConfig.cmake"), encoding="utf-8") as f:
        return int(re.search(r'^set\(CPACK_SIZESTAMP_SOURCE_DATE_EPOCH "(\d+)"\)', f.read(), re.M).group(1))


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def is_git_checkout(folder):
    return os.path.exists(os.path.join(folder, ".git")) and shutil.which("git") is not None


def git(*args):
    return run("git", "-c", "safe.directory=" + SOURCE, "-C", SOURCE, *args).stdout


def copy_sources(destination, with_history):
    """The checkout's files as they are, tracked or new, with fresh file
    times; with its git history or without (as if unpacked from an archive)."""
    if not is_git_checkout(SOURCE):
        shutil.copytree(SOURCE, destination, copy_function=shutil.copy, ignore=shutil.ignore_patterns("build"))
        return destination
    for name in git("ls-files", "-z", "--cached", "--others", "--exclude-standard").split("\0"):
        if name and os.path.isfile(os.path.join(SOURCE, name)):
            os.makedirs(os.path.dirname(os.path.join(destination, name)), exist_ok=True)
            shutil.copy(os.path.join(SOURCE, name), os.path.join(destination, name))
    if with_history:
        shutil.copytree(os.path.join(SOURCE, ".git"), os.path.join(destination, ".git"))
    return destination


def require_root():
    if os.geteuid() != 0:
        unavailable("switching to the user nobody needs root")


class TwoBuilds(FolderCase):
    PRESETS = ("release", "arm64", "windows")
    ARTIFACTS = ("release/sizestamp", "release/packages/*.deb", "arm64/sizestamp", "arm64/packages/*.deb",
                 "windows/sizestamp.exe", "windows/packages/*.zip")

    @classmethod
    def build(cls, source, folder, umask, env, **user):
        def start(*command):
            run(*command, cwd=folder, env=builder_env(HOME=folder, **env), umask=umask, **user)

        for preset in cls.PRESETS:
            tree = os.path.join(folder, preset)
            start("cmake", "--preset", preset, "-S", source, "-B", tree, "-DBUILD_TESTING=OFF")
            start("cmake", "--build", tree, "--parallel", str(os.cpu_count() or 2))
            start("cpack", "--config", os.path.join(tree, "CPackConfig.cmake"), "-B", os.path.join(tree, "packages"))
        return {artifact: glob.glob(os.path.join(folder, artifact)) for artifact in cls.ARTIFACTS}

    @classmethod
    def setUpClass(cls):
        require_root()
        cls.results = []
        for builder in BUILDERS:
            folder = cls.new_folder(cls.addClassCleanup)
            source = SOURCE
            if builder["as"]:
                # Another copy of the sources, in another folder and still
                # root's: the builder can read it but owns neither it nor its history.
                source = copy_sources(os.path.join(folder, "source"), with_history=True)
                folder = os.path.join(folder, "build")
                os.mkdir(folder)
                shutil.chown(folder, builder["as"]["user"], builder["as"]["group"])
            cls.results.append(cls.build(source, folder, builder["umask"], builder["env"], **builder["as"]))

    def test_artifacts_are_identical(self):
        for artifact in self.ARTIFACTS:
            with self.subTest(artifact=artifact):
                found = [paths for paths in (result[artifact] for result in self.results)]
                self.assertEqual([len(paths) for paths in found], [1, 1], found)
                sums = [sha256(paths[0]) for paths in found]
                print(f"{sums[0]}  {sums[1]}  {artifact}", file=sys.stderr)
                self.assertEqual(sums[0], sums[1], f"{found[0][0]} and {found[1][0]} differ")


class SourceDate(FolderCase):
    """The date a fresh configure finds, from each place it may come from."""

    def configure(self, source, env):
        build = os.path.join(self.dir, "build")
        shutil.rmtree(build, ignore_errors=True)
        run("cmake", "-S", source, "-B", build, "-DBUILD_TESTING=OFF", env=env)
        return configured_date(build)

    def exported_archive(self):
        """What git archive makes of the last commit."""
        archive = os.path.join(self.dir, "archive")
        os.makedirs(archive)
        tar = subprocess.run(["git", "-c", "safe.directory=" + SOURCE, "-C", SOURCE, "archive", "HEAD"],
                             capture_output=True, check=True).stdout
        with tarfile.open(fileobj=io.BytesIO(tar)) as contents:
            contents.extractall(archive)
        return archive

    def test_date_by_source(self):
        with open(os.path.join(SOURCE, "packaging/source-date"), encoding="utf-8") as f:
            kept = int(re.search(r"^\d+$", f.read(), re.M).group(0))
        git_checkout = is_git_checkout(SOURCE)
        committed = int(git("log", "-1", "--format=%ct")) if git_checkout else None
        archive_ready = git_checkout and subprocess.run(
            ["git", "-c", "safe.directory=" + SOURCE, "-C", SOURCE, "cat-file", "-e", "HEAD:cmake/source_date.cmake"],
            capture_output=True).returncode == 0
        cases = (
            ("git checkout: the last commit", git_checkout, lambda: SOURCE, {}, committed),
            ("no history: packaging/source-date", True,
             lambda: copy_sources(os.path.join(self.dir, "copy"), with_history=False), {}, kept),
            ("git archive: the commit's time", archive_ready, self.exported_archive, {}, committed),
            ("SOURCE_DATE_EPOCH wins", True, lambda: SOURCE, {"SOURCE_DATE_EPOCH": "1700000000"}, 1700000000),
        )
        for name, possible, source, env, expected in cases:
            with self.subTest(source=name):
                if not possible:
                    self.skipTest("needs a git checkout whose last commit holds cmake/source_date.cmake")
                self.assertEqual(self.configure(source(), builder_env(**env)), expected)


if __name__ == "__main__":
    if len(sys.argv) > 1 and os.path.isdir(sys.argv[1]):
        SOURCE = os.path.abspath(sys.argv.pop(1))
    result = unittest.main(exit=False, verbosity=2).result
    if not result.wasSuccessful():
        sys.exit(1)
    sys.exit(SKIPPED if result.skipped and len(result.skipped) >= result.testsRun else 0)
