"""The hosted-CI workflows in .github/workflows pass action-validator, which
checks them against GitHub's schema; and it refuses broken copies of them,
so that a pass means something.

usage: workflow_test.py ACTION-VALIDATOR
       (scripts/check-workflows installs the pinned version and runs this)
"""
import glob
import os
import re
import subprocess
import sys
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(1, os.path.dirname(os.path.abspath(__file__)))
from harness import FolderCase  # noqa: E402

WORKFLOWS = sorted(glob.glob(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", ".github", "workflows",
                                          "*.y*ml")))
# Each: what is broken, the pattern and its replacement, applied once.
BREAKAGES = [
    ("a job without a runner", r"(?m)^ +runs-on:.*\n", ""),
    ("a misspelt key", r"(?m)^( +)steps:", r"\1step:"),
    ("a step that neither runs nor uses", r"(?m)^( +- )uses:", r"\1usez:"),
    ("an unknown trigger", r"(?m)^  push:", "  shove:"),
]


class Workflows(FolderCase):
    validator = None

    def validate(self, path):
        return subprocess.run([self.validator, path], capture_output=True, text=True, timeout=120)

    def test_each_workflow_is_valid(self):
        self.assertTrue(WORKFLOWS, "no workflows found")
        for path in WORKFLOWS:
            with self.subTest(workflow=os.path.basename(path)):
                done = self.validate(path)
                self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def test_broken_copies_are_refused(self):
        for path in WORKFLOWS:
            with open(path, encoding="utf-8") as f:
                text = f.read()
            for what, pattern, replacement in BREAKAGES:
                with self.subTest(workflow=os.path.basename(path), broken=what):
                    broken, count = re.subn(pattern, replacement, text, count=1)
                    self.assertEqual(count, 1, "nothing to break")
                    copy = self.path(os.path.basename(path))
                    with open(copy, "w", encoding="utf-8") as f:
                        f.write(broken)
                    self.assertNotEqual(self.validate(copy).returncode, 0)


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit(__doc__)
    Workflows.validator = sys.argv[1]
    unittest.main(argv=sys.argv[:1], verbosity=2)
