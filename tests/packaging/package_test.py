#!/usr/bin/env python3
"""The manual page and the packages, checked the way a user would meet them.

Usage: package_test.py manual MANUAL
       package_test.py deb CPACK CPACK_CONFIG WORK_DIR
       package_test.py zip CPACK CPACK_CONFIG WORK_DIR EMULATOR...

A missing tool skips the test (status 77) on a developer's machine and fails it
under CI, where scripts/install-deps has installed everything.
"""
import glob
import os
import shutil
import subprocess
import sys
import zipfile

SKIPPED = 77
SIZE, FIELD = "305419896", b"\0\0\x78\x56\x34\x12"
DEB_FILES = {
    "usr/bin/sizestamp",
    "usr/share/man/man1/sizestamp.1.gz",
    "usr/share/doc/sizestamp/README.md",
    "usr/share/doc/sizestamp/copyright",
    "usr/share/doc/sizestamp/changelog.gz",
    "usr/share/lintian/overrides/sizestamp",
}
ZIP_FILES = {"sizestamp.exe", "README.txt", "LICENSE.txt"}


def require(*tools):
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        print("not installed:", " ".join(missing))
        sys.exit(1 if os.environ.get("CI") else SKIPPED)


def run(*command, **options):
    done = subprocess.run(command, capture_output=True, text=True, timeout=300, **options)
    if done.returncode != 0:
        sys.exit(f"{' '.join(command)} ended with {done.returncode}:\n{done.stdout}{done.stderr}")
    return done


def check_manual(manual):
    require("groff", "man")
    env = dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80")
    for command in (["groff", "-t", "-man", "-Tutf8", "-ww", "-z", manual],
                    ["man", "--warnings", "-E", "UTF-8", "-l", "-Tutf8", "-Z", manual]):
        warnings = run(*command, env=env).stderr
        if warnings:
            sys.exit(f"{command[0]} warns about {manual}:\n{warnings}")


def build_package(cpack, config, generator, work):
    shutil.rmtree(work, ignore_errors=True)
    run(cpack, "--config", config, "-G", generator, "-B", work)
    packages = glob.glob(os.path.join(work, "*." + generator.lower()))
    if len(packages) != 1:
        sys.exit(f"expected one .{generator.lower()} in {work}, found {packages}")
    return packages[0]


def listed_files(root):
    return {os.path.relpath(os.path.join(folder, name), root).replace(os.sep, "/")
            for folder, _, names in os.walk(root) for name in names}


def check_edit(command, folder):
    """Runs an installed program on a real 100-byte file and checks every byte."""
    original = bytes(range(100))
    with open(os.path.join(folder, "target.bin"), "wb") as f:
        f.write(original)
    done = run(*command, "/s", SIZE, "/f", "target.bin", cwd=folder)
    with open(os.path.join(folder, "target.bin"), "rb") as f:
        edited = f.read()
    expected = original[:16] + FIELD + original[22:]
    if edited != expected:
        sys.exit(f"{command[-1]} wrote {edited.hex(' ')}\nexpected {expected.hex(' ')}")
    return done.stdout


def check_deb(cpack, config, work):
    require("dpkg-deb", "lintian")
    os.umask(0o077)  # the packager's umask must not reach the package's permissions
    package = build_package(cpack, config, "DEB", work)
    # Warnings count too: the one tag the package overrides carries its reason.
    print(run("lintian", "--fail-on", "error,warning", "--pedantic", package).stdout)
    root = os.path.join(work, "unpacked")
    run("dpkg-deb", "-x", package, root)
    if listed_files(root) != DEB_FILES:
        sys.exit(f"the package holds {sorted(listed_files(root))}\nexpected {sorted(DEB_FILES)}")
    out = check_edit([os.path.join(root, "usr/bin/sizestamp")], root)
    if out != "target.bin\nEdited successfully.\n":
        sys.exit(f"unexpected output {out!r}")


def check_zip(cpack, config, work, emulator):
    package = build_package(cpack, config, "ZIP", work)
    with zipfile.ZipFile(package) as archive:
        archive.extractall(work)
    top = os.path.join(work, os.path.splitext(os.path.basename(package))[0])
    if listed_files(top) != ZIP_FILES:
        sys.exit(f"the zip holds {sorted(listed_files(top))}\nexpected {sorted(ZIP_FILES)}")
    check_edit([*emulator, os.path.join(top, "sizestamp.exe")], top)


def main(mode, *args):
    if mode == "manual":
        check_manual(*args)
    elif mode == "deb":
        check_deb(*args)
    elif mode == "zip":
        check_zip(args[0], args[1], args[2], list(args[3:]))
    else:
        sys.exit(__doc__)
    print(mode, "passed")


if __name__ == "__main__":
    main(*sys.argv[1:])
