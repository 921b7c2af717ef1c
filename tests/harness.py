"""What every test of a built program shares: the size field's bytes, a file's
content to stamp, and fresh temporary folders.

A driver sets sys.dont_write_bytecode before importing this module, so that
no __pycache__ is left in the source tree."""
import os
import re
import shutil
import tempfile
import unittest

# A coverage build complains on standard error when it cannot save its counts:
# under a small file-size limit, as a user who may not write them, or, under
# Wine, when another run writes them at the same time.
COVERAGE_NOISE = re.compile(rb"^(?:libgcov )?profiling(?: error)?:.*\r?\n", re.MULTILINE)

# 100 bytes, none of them zero: whatever is written over them shows.
PATTERN = bytes(range(100, 200))


def field(size):
    """The six bytes the program writes at offset 16 for size."""
    return b"\0\0" + size.to_bytes(4, "little")


# The status that tells CTest a test was skipped (SKIP_RETURN_CODE).
SKIPPED = 77


def exit_status(result):
    """A unittest run's status for CTest: 1 when a test failed, SKIPPED when
    every test was skipped, else 0."""
    if not result.wasSuccessful():
        return 1
    return SKIPPED if result.skipped and len(result.skipped) >= result.testsRun else 0


# What makes the program run out of memory: its copies of a long command line
# outgrow an address-space limit that still lets it start (address_space_limits).
MEMORY_HUNGRY_ARGUMENTS = ("/x" + "y" * 130_000, "/s", "5", "/f", "a.bin")
# A sanitizer build runs out of memory itself before the program can.
SANITIZER_OUT_OF_MEMORY = b"AddressSanitizer failed to allocate"


def address_space_limits():
    """(KiB, a function that sets that limit in a child process) for each limit
    from 1 MiB to 64 MiB, the smallest first."""
    import resource  # POSIX only
    for kib in range(1024, 64 * 1024, 32):
        yield kib, lambda kib=kib: resource.setrlimit(resource.RLIMIT_AS, (kib << 10, kib << 10))


def pe_imported_functions(headers):
    """The functions a Windows program imports, read from `objdump -p`."""
    return set(re.findall(r"^\s+[0-9a-f]+\s+\d+\s+(\w+)$", headers, re.MULTILINE))


# The project's own strictness switch: .ci/run sets it, where every tool is
# installed. The CI variable that hosted CI sets in every job does not count.
STRICT = "SIZESTAMP_STRICT"


def unavailable(reason):
    """Stops a test that needs what this machine lacks: a skip on a
    developer's machine, a failure where SIZESTAMP_STRICT=1."""
    if os.environ.get(STRICT) == "1":
        raise AssertionError(reason)
    raise unittest.SkipTest(reason)


def require(*tools):
    """Stops the test, as unavailable does, unless every tool is on the PATH."""
    missing = [tool for tool in tools if shutil.which(tool) is None]
    if missing:
        unavailable("not installed: " + " ".join(missing))


class FolderCase(unittest.TestCase):
    """A test with a temporary folder of its own, removed afterwards."""

    # Where the folders are made; None is the system's temporary folder.
    folder_parent = None

    @classmethod
    def new_folder(cls, cleanup):
        """A fresh folder, removed by cleanup: addCleanup for a test's own,
        addClassCleanup for one its class shares."""
        folder = tempfile.mkdtemp(prefix="sizestamp-", dir=cls.folder_parent)
        os.chmod(folder, 0o755)  # an unprivileged run must reach it
        cleanup(shutil.rmtree, folder, ignore_errors=True)
        return folder

    def setUp(self):
        self.dir = self.new_folder(self.addCleanup)

    def path(self, name):
        return os.path.join(self.dir, name)

    def make(self, name, content):
        with open(self.path(name), "wb") as f:
            f.write(content)
        return content

    def read(self, name):
        with open(self.path(name), "rb") as f:
            return f.read()
