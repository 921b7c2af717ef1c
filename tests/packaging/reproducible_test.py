#!/usr/bin/env python3
"""The same sources give the same bytes, with no setup by whoever builds.

Usage: reproducible_test.py [RELEASE_DIR] [unittest arguments]

Rebuild makes the release a second time, with scripts/release --no-checks,
as another builder would, and compares its SHA256SUMS with the one in
RELEASE_DIR (a release of the same commit, made by scripts/release; without
it the test is skipped, and it fails with SIZESTAMP_STRICT=1). The second builder is the
user nobody, in another folder reached through a symbolic link, with another
umask, time zone, locale and home, and with build flags in its environment
(CFLAGS, CXXFLAGS, LDFLAGS) that the release must keep out. Of RELEASE-INFO
only what names the sources is compared; the .buildinfo files are not.

PlainDebianBuild unpacks the Debian source package of RELEASE_DIR and
configures it as dpkg-buildpackage would, with CXXFLAGS in the environment,
which reach the build there.

InstallStrip installs the Windows build with --strip at two times and
compares the programs.

SourceDate configures the sources in the ways a builder may have them and
checks the date the builds would carry: a git checkout, one reached through a
symbolic link, one whose last commit is signed and shown with its
signature (log.showSignature), sources without history, a git archive and
SOURCE_DATE_EPOCH.

Switching to nobody needs root: without it Rebuild is skipped (status 77
when nothing ran), and it fails with SIZESTAMP_STRICT=1.
"""
import io
import os
import re
import shutil
import struct
import subprocess
import sys
import tarfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(1, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
from harness import STRICT, FolderCase, exit_status, require, unavailable  # noqa: E402

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
RELEASE = None
SECOND_BUILDER = {
    "umask": 0o077,
    "env": {"TZ": "Pacific/Chatham", "LC_ALL": "POSIX", "CFLAGS": "-g -O0", "CXXFLAGS": "-g",
            "CPPFLAGS": "-DNDEBUG", "LDFLAGS": "-Wl,--build-id=none"},
    "as": {"user": "nobody", "group": "nogroup", "extra_groups": []},
}


def run(*command, **options):
    done = subprocess.run(command, capture_output=True, text=True, timeout=3600, **options)
    if done.returncode != 0:
        raise AssertionError(f"{' '.join(command)} ended with {done.returncode}:\n{done.stdout}{done.stderr}")
    return done


def builder_env(**changes):
    """The environment of a builder who set nothing up."""
    env = {k: v for k, v in os.environ.items()
           if k not in ("SOURCE_DATE_EPOCH", STRICT, "MAKEFLAGS", "DEB_BUILD_OPTIONS", "GNUPGHOME")}
    env.update(changes)
    return env


def is_git_checkout(folder):
    return os.path.exists(os.path.join(folder, ".git")) and shutil.which("git") is not None


def git(*args, cwd=SOURCE, **options):
    return run("git", "-c", "safe.directory=*", "-c", "log.showSignature=false", "-C", cwd, *args, **options).stdout


def uncommitted():
    """The checkout's changed and new files, as scripts/release --allow-dirty takes them."""
    return [name for name in git("ls-files", "-z", "--modified", "--others", "--exclude-standard").split("\0")
            if name]


def clone(destination):
    """A clone of the checkout at its last commit, with its uncommitted files on top."""
    git("clone", "--quiet", "--no-hardlinks", SOURCE, destination, cwd=os.path.dirname(destination))
    git("checkout", "--quiet", "--detach", git("rev-parse", "HEAD").strip(), cwd=destination)
    for name in uncommitted():
        if os.path.isfile(os.path.join(SOURCE, name)):
            os.makedirs(os.path.dirname(os.path.join(destination, name)), exist_ok=True)
            shutil.copy(os.path.join(SOURCE, name), os.path.join(destination, name))
    return destination


def copy_files(destination):
    """The checkout's files as they are, tracked or new, without history
    (as if unpacked from an archive)."""
    if not is_git_checkout(SOURCE):
        shutil.copytree(SOURCE, destination, copy_function=shutil.copy, ignore=shutil.ignore_patterns("build"))
        return destination
    for name in git("ls-files", "-z", "--cached", "--others", "--exclude-standard").split("\0"):
        if name and os.path.isfile(os.path.join(SOURCE, name)):
            os.makedirs(os.path.dirname(os.path.join(destination, name)), exist_ok=True)
            shutil.copy(os.path.join(SOURCE, name), os.path.join(destination, name))
    return destination


def release_record(folder):
    """A release's SHA256SUMS less RELEASE-INFO's line, the part of
    RELEASE-INFO that names the sources, and both files whole. The rest of
    RELEASE-INFO names the builder: its system, its command, its tools."""
    with open(os.path.join(folder, "SHA256SUMS"), encoding="utf-8") as f:
        sums = f.read()
    with open(os.path.join(folder, "RELEASE-INFO"), encoding="utf-8") as f:
        info = f.read()
    return re.sub(r"(?m)^\w+  RELEASE-INFO\n", "", sums), info.split("\nbuilt on: ")[0], sums + info


class Rebuild(FolderCase):

    def test_second_release_has_the_same_sums(self):
        if os.geteuid() != 0:
            unavailable("switching to the user nobody needs root")
        if RELEASE is None:
            unavailable("no first release to compare with: give its folder (scripts/release OUTPUT_DIR)")
        require("git")
        # Root's copy of the sources, reached through a symbolic link: the
        # builder can read it but owns neither it nor its history.
        source = clone(os.path.join(self.dir, "source"))
        os.symlink(source, os.path.join(self.dir, "link"))
        work = os.path.join(self.dir, "work")
        os.mkdir(work)
        shutil.chown(work, SECOND_BUILDER["as"]["user"], SECOND_BUILDER["as"]["group"])
        options = ["--allow-dirty"] if uncommitted() else []
        run(os.path.join(self.dir, "link", "scripts", "release"), "--no-checks", *options,
            os.path.join(work, "release"), cwd=work, umask=SECOND_BUILDER["umask"],
            env=builder_env(HOME=work, TMPDIR=work, **SECOND_BUILDER["env"]), **SECOND_BUILDER["as"])
        first, second = (release_record(folder) for folder in (RELEASE, os.path.join(work, "release")))
        print(f"first release:\n{first[2]}\nsecond release:\n{second[2]}", file=sys.stderr)
        self.assertEqual(second[:2], first[:2])


class PlainDebianBuild(FolderCase):
    """Unlike scripts/release, a plain Debian build of the source package
    takes the build flags of its environment, as Debian expects."""

    def test_environment_flags_reach_the_build(self):
        if RELEASE is None:
            unavailable("no release to take the source package from: give its folder")
        require("dpkg-source", "dh_auto_configure")
        dsc, = [name for name in os.listdir(RELEASE) if name.endswith(".dsc")]
        tree = os.path.join(self.dir, "source")
        run("dpkg-source", "--no-check", "-x", os.path.join(RELEASE, dsc), tree, cwd=self.dir)
        run("debian/rules", "override_dh_auto_configure", cwd=tree,
            env=builder_env(CXXFLAGS="-O1 -DSIZESTAMP_FROM_ENVIRONMENT", DEB_BUILD_OPTIONS="nocheck"))
        cache, = [os.path.join(tree, name, "CMakeCache.txt") for name in os.listdir(tree) if name.startswith("obj-")]
        with open(cache, encoding="utf-8") as f:
            flags = re.search(r"^CMAKE_CXX_FLAGS:STRING=(.*)$", f.read(), re.M).group(1)
        self.assertEqual(flags.split()[:2], ["-O1", "-DSIZESTAMP_FROM_ENVIRONMENT"])


class InstallStrip(FolderCase):
    """An install with --strip of the Windows build (build/windows, as the
    windows preset makes it) writes no time into the program: strip would
    write the time of the install, or SOURCE_DATE_EPOCH, into its header."""
    BUILD = os.path.join(SOURCE, "build", "windows")

    def test_stripped_program_is_the_same_at_any_time(self):
        program = os.path.join(self.BUILD, "sizestamp.exe")
        if not os.path.isfile(program):
            unavailable(f"no Windows build at {self.BUILD} (cmake --workflow --preset windows)")
        installed = []
        for number, env in enumerate(({}, {"SOURCE_DATE_EPOCH": "1700000000"})):
            prefix = os.path.join(self.dir, str(number))
            run("cmake", "--install", self.BUILD, "--strip", "--prefix", prefix, env=builder_env(**env))
            with open(os.path.join(prefix, "sizestamp.exe"), "rb") as f:
                installed.append(f.read())
        pe, = struct.unpack_from("<I", installed[0], 0x3C)
        self.assertEqual(struct.unpack_from("<I", installed[0], pe + 8)[0], 0, "TimeDateStamp")
        self.assertEqual(installed[0], installed[1])


class SourceDate(FolderCase):
    """The date a fresh configure finds, from each place it may come from."""

    def configure(self, source, env):
        build = os.path.join(self.dir, "build")
        shutil.rmtree(build, ignore_errors=True)
        out = run("cmake", "-S", source, "-B", build, "-DBUILD_TESTING=OFF", env=env).stdout
        return int(re.search(r"^-- Source date: (\d+), from ", out, re.M).group(1))

    def exported_archive(self):
        """What git archive makes of the last commit."""
        archive = os.path.join(self.dir, "archive")
        os.makedirs(archive)
        tar = subprocess.run(["git", "-c", "safe.directory=*", "-C", SOURCE, "archive", "HEAD"],
                             capture_output=True, check=True).stdout
        with tarfile.open(fileobj=io.BytesIO(tar)) as contents:
            contents.extractall(archive)
        return archive

    def symlinked_checkout(self):
        os.symlink(SOURCE, os.path.join(self.dir, "link"))
        return os.path.join(self.dir, "link")

    def signed_commit(self):
        """A clone whose last commit is signed, with log.showSignature on:
        git log then prints the signature's check with the commit."""
        require("gpg")
        home = os.path.join(self.dir, "gnupg")
        os.mkdir(home, 0o700)
        env = dict(os.environ, GNUPGHOME=home)
        run("gpg", "--batch", "--passphrase", "", "--quick-generate-key", "Builder <builder@example.org>",
            "ed25519", "sign", "never", env=env)
        source = clone(os.path.join(self.dir, "signed"))
        git("-c", "user.name=Builder", "-c", "user.email=builder@example.org", "commit", "--quiet",
            "--allow-empty", "-S", "-m", "signed", cwd=source,
            env=dict(env, GIT_COMMITTER_DATE="@1700000000 +0000", GIT_AUTHOR_DATE="@1700000000 +0000"))
        git("config", "log.showSignature", "true", cwd=source)
        os.environ["GNUPGHOME"] = home
        self.addCleanup(os.environ.pop, "GNUPGHOME")
        return source

    def test_date_by_source(self):
        with open(os.path.join(SOURCE, "packaging/source-date"), encoding="utf-8") as f:
            kept = int(re.search(r"^\d+$", f.read(), re.M).group(0))
        git_checkout = is_git_checkout(SOURCE)
        committed = int(git("log", "-1", "--format=%ct")) if git_checkout else None
        cases = (
            ("git checkout: the last commit", git_checkout, lambda: SOURCE, {}, committed),
            ("through a symbolic link: the last commit", git_checkout, self.symlinked_checkout, {}, committed),
            ("signed, shown with its signature: the last commit", git_checkout, self.signed_commit,
             {"GNUPGHOME": None}, 1700000000),
            ("no history: packaging/source-date", True, lambda: copy_files(os.path.join(self.dir, "copy")), {},
             kept),
            ("git archive: the commit's time", git_checkout, self.exported_archive, {}, committed),
            ("SOURCE_DATE_EPOCH wins", True, lambda: SOURCE, {"SOURCE_DATE_EPOCH": "1700000000"}, 1700000000),
        )
        for name, possible, source, env, expected in cases:
            with self.subTest(source=name):
                if not possible:
                    unavailable("needs a git checkout")
                where = source()
                changes = {k: v if v is not None else os.environ.get(k, "") for k, v in env.items()}
                self.assertEqual(self.configure(where, builder_env(**changes)), expected)


if __name__ == "__main__":
    if len(sys.argv) > 1 and os.path.isfile(os.path.join(sys.argv[1], "SHA256SUMS")):
        RELEASE = os.path.abspath(sys.argv.pop(1))
    result = unittest.main(exit=False, verbosity=2).result
    sys.exit(exit_status(result))
