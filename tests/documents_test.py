#!/usr/bin/env python3
"""Every example of the user documents, run against the built program, and
their exit-status tables against the program's outcomes.

usage: documents_test.py posix PROGRAM
       documents_test.py windows SIZESTAMPC.exe [WINE...]
       (WINE...: the build's emulator, scripts/wine and its prefix; none on
       a Windows host)

An example is a transcript. A line that begins with a prompt is a command;
the lines after it, up to the next prompt, are what it prints, standard
output and error together as a console shows them. The prompt names the
shell, and the build tree that runs it:
  $ COMMAND               sh, in the native tree;
  C:\\folder>COMMAND       cmd, in the Windows tree (Wine's cmd in a cross build);
  PS C:\\folder> COMMAND   PowerShell, in the Windows tree where it exists (a
                          Windows host): it is named as not run anywhere else.
All commands of an example run in one shell, in a fresh empty folder, with
the program first on the PATH. In the Windows tree sizestamp.exe is the
console twin sizestampc.exe under the GUI program's name: both write the same
texts, the twin to the console. Trailing blanks and blank lines after an
output are not compared.

How a document marks an example, unseen by its readers:
- Markdown: the comment <!-- example --> on a line of its own before a
  fenced block;
- the manual: the comment .\\" example before the .EX ... .EE block;
- plain text (packaging/README, the zip's README.txt), which can hide
  nothing: an indented block whose first line begins with a prompt is an
  example, and it makes its own fixtures with commands a reader would type.
A mark names the fixtures the test makes before the example runs:
<!-- example: dir/ data/a.bin:100 --> makes the folder dir and the file
data/a.bin of 100 bytes, none of them zero.
A prompt outside an example is an error, so no example goes unchecked by a
slip of its mark.
"""
import glob
import os
import re
import secrets
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.dont_write_bytecode = True  # no __pycache__ in the source tree
HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(1, os.path.join(HERE, "windows"))
from harness import (COVERAGE_NOISE, MEMORY_HUNGRY_ARGUMENTS, PATTERN, SANITIZER_OUT_OF_MEMORY,  # noqa: E402
                     FolderCase, address_space_limits)
from wine_case import windows_path  # noqa: E402

SOURCE = os.path.dirname(HERE)
PROMPTS = (("powershell", re.compile(r"PS [A-Za-z]:\\[^>]*> ?")), ("cmd", re.compile(r"[A-Za-z]:\\[^>\s]*>")),
           ("sh", re.compile(r"\$ ")))
# Where each shell's examples run.
TREES = {"sh": "posix", "cmd": "windows", "powershell": "windows"}
MARK = re.compile(r"example(?::\s*(.*?))?\s*")


def documents():
    """Every document a user reads, by its path in the source tree."""
    return ["README.md", *sorted(os.path.relpath(path, SOURCE) for path in glob.glob(os.path.join(SOURCE, "docs", "*.md"))),
            "man/sizestamp.1.in", "packaging/README", "packaging/windows/README.txt.in"]


def read(document):
    with open(os.path.join(SOURCE, document), encoding="utf-8") as f:
        return f.read().splitlines()


def prompt_of(line):
    """The shell whose prompt begins line, and the command after it; None for another line."""
    for shell, prompt in PROMPTS:
        found = prompt.match(line)
        if found:
            return shell, line[found.end():]
    return None


# --- Reading the examples: each reader yields (line number, fixtures, transcript lines).

def markdown_examples(lines):
    for n, line in enumerate(lines):
        mark = re.fullmatch(r"<!--\s*(.*?)\s*-->", line.strip())
        if not (mark and MARK.fullmatch(mark.group(1))):
            continue
        fence = n + 1
        if fence >= len(lines) or not lines[fence].startswith("```"):
            raise AssertionError(f"line {n + 1}: a mark not followed by a fenced block")
        end = next((k for k in range(fence + 1, len(lines)) if lines[k].startswith("```")), None)
        if end is None:
            raise AssertionError(f"line {fence + 1}: a fenced block without its end")
        yield fence + 2, MARK.fullmatch(mark.group(1)).group(1), lines[fence + 1:end]


ROFF_ESCAPES = {"-": "-", "(dq": '"', "(aq": "'", "(rs": "\\", "e": "\\", "&": "", " ": " ", "fB": "", "fI": "",
                "fR": "", "fP": "", "(ga": "`", "(ti": "~", "(ha": "^"}


def roff_text(line):
    """A line of roff as the reader sees its characters; an escape not known here is an error."""
    def character(escape):
        if escape.group(1) not in ROFF_ESCAPES:
            raise AssertionError(f"an escape the test does not read: {escape.group(0)!r} in {line!r}")
        return ROFF_ESCAPES[escape.group(1)]
    return re.sub(r"\\(\(..|f.|.)", character, line)


def manual_examples(lines):
    for n, line in enumerate(lines):
        mark = re.fullmatch(r'\.\\"\s*(.*?)\s*', line)
        if not (mark and MARK.fullmatch(mark.group(1))):
            continue
        if n + 1 >= len(lines) or lines[n + 1] != ".EX":
            raise AssertionError(f"line {n + 1}: a mark not followed by .EX")
        end = next((k for k in range(n + 2, len(lines)) if lines[k] == ".EE"), None)
        if end is None:
            raise AssertionError(f"line {n + 2}: .EX without .EE")
        yield n + 3, MARK.fullmatch(mark.group(1)).group(1), [roff_text(text) for text in lines[n + 2:end]]


def plain_examples(lines):
    n = 0
    while n < len(lines):
        indent = len(lines[n]) - len(lines[n].lstrip(" "))
        if indent < 4 or not prompt_of(lines[n][indent:]):
            n += 1
            continue
        end = n + 1
        while end < len(lines) and (not lines[end].strip() or lines[end].startswith(" " * indent)):
            end += 1
        yield n + 1, None, [line[indent:] for line in lines[n:end]]
        n = end


def readers(document):
    if document.endswith(".md"):
        return markdown_examples
    if document.endswith(".1.in"):
        return manual_examples
    return plain_examples


class Example:
    def __init__(self, document, line, fixtures, transcript):
        self.name = f"{document}:{line}"
        self.fixtures = (fixtures or "").split()
        self.steps = []  # [command, [output lines]]
        self.shell = None
        for text in transcript:
            prompt = prompt_of(text)
            if prompt:
                if self.shell not in (None, prompt[0]):
                    raise AssertionError(f"{self.name}: prompts of two shells")
                self.shell = prompt[0]
                self.steps.append([prompt[1], []])
            elif self.steps:
                self.steps[-1][1].append(text.rstrip())
            elif text.strip():
                raise AssertionError(f"{self.name}: output before the first prompt: {text!r}")
        if not self.steps:
            raise AssertionError(f"{self.name}: a marked example without a prompt")

    def shown(self, outputs):
        """The transcript with these outputs, as the test compares it."""
        return "".join(f"[{command}]\n" + "".join(line + "\n" for line in trimmed(output))
                       for (command, _), output in zip(self.steps, outputs))


def trimmed(lines):
    lines = [line.rstrip() for line in lines]
    while lines and not lines[-1]:
        lines.pop()
    return lines


def examples_of(document):
    """Its examples, and the lines that show a prompt outside one."""
    lines = read(document)
    found, inside = [], set()
    for line, fixtures, transcript in readers(document)(lines):
        found.append(Example(document, line, fixtures, transcript))
        inside.update(range(line, line + len(transcript)))
    if document.endswith(".1.in"):
        # Every .EX block of the manual is an example.
        strays = [n + 1 for n, line in enumerate(lines) if line == ".EX" and n + 2 not in inside]
    else:
        text = [line.lstrip() if document.endswith(".md") or line.startswith("    ") else "" for line in lines]
        strays = [n + 1 for n, line in enumerate(text) if n + 1 not in inside and prompt_of(line)]
    return found, strays


# --- Exit-status tables: each reader gives {status: its row's text}.

def markdown_statuses(lines):
    start = next(n for n, line in enumerate(lines) if re.fullmatch(r"#+ Exit status", line))
    rows = {}
    for line in lines[start + 1:]:
        if line.startswith("#"):
            break
        row = re.fullmatch(r"\|\s*(\d+)\s*\|(.*)\|", line)
        if row:
            rows[int(row.group(1))] = row.group(2)
    return rows


def manual_statuses(lines):
    text = "\n".join(lines)
    section = text.split(".SH EXIT STATUS", 1)[1].split("\n.SH", 1)[0]
    return {int(status): roff_text(" ".join(row.split("\n")))
            for status, row in re.findall(r"^(\d+);T\{\n(.*?)\nT\}", section, re.M | re.S)}


def plain_statuses(lines):
    start = next(n for n, line in enumerate(lines) if line == "Exit status" and lines[n + 1].startswith("---"))
    rows, status = {}, None
    for line in lines[start + 2:]:
        row = re.fullmatch(r" {4}(\d+) {2}(.*)", line)
        if row:
            status = int(row.group(1))
            rows[status] = row.group(2)
        elif status is not None and line.startswith(" " * 7):
            rows[status] += " " + line.strip()
        elif status is not None and not line.startswith(" "):
            break
    return rows


# The documents that carry the table, with the tree whose program they describe.
STATUS_TABLES = (("README.md", markdown_statuses, "posix"), ("man/sizestamp.1.in", manual_statuses, "posix"),
                 ("packaging/README", plain_statuses, "posix"),
                 ("packaging/windows/README.txt.in", plain_statuses, "windows"))
# A command tail that ends with each status but the last.
OUTCOMES = ((0, "/s 5 /f t.bin"), (1, "/f t.bin"), (2, "/s 4294967296 /f t.bin"), (3, "/s x /f t.bin"),
            (4, "/s -5 /f t.bin"), (5, "/s 1e999 /f t.bin"), (6, "/s 5 /f dir"))
MEMORY_FAILURE = 7


def outcome_words(output):
    """How the program names its outcome in its last line: the words of the
    message or the failure's kind, without the cause."""
    last = trimmed(output)[-1]
    failure = re.match(r"sizestamp: (.+? failure):", last)
    if failure:
        return failure.group(1)
    return last.removeprefix("Error - ").rstrip(".")


class Documents(FolderCase):
    tree = program = None
    wine = []

    @classmethod
    def setUpClass(cls):
        # The program's folder, first on the PATH: under its own name, and in
        # the Windows tree the console twin under both programs' names.
        cls.bin = cls.new_folder(cls.addClassCleanup)
        if cls.tree == "posix":
            os.symlink(cls.program, os.path.join(cls.bin, "sizestamp"))
        else:
            for name in ("sizestamp.exe", "sizestampc.exe"):
                shutil.copy(cls.program, os.path.join(cls.bin, name))

    def runs_here(self, shell):
        """Why the shell's examples are not run here, or None."""
        if shell == "powershell" and not (self.tree == "windows" and os.name == "nt" and powershell()):
            return "PowerShell: not run here, only where it exists, on a Windows host"
        if TREES[shell] != self.tree:
            return f"{shell}: run in the {TREES[shell]} build tree"
        return None

    def test_every_example_prints_what_its_document_shows(self):
        ran = 0
        for document in documents():
            examples = []
            with self.subTest(document=document):
                examples, strays = examples_of(document)
                self.assertEqual(strays, [], "lines that show a prompt outside a marked example")
            for example in examples:
                with self.subTest(example=example.name):
                    reason = self.runs_here(example.shell)
                    if reason:
                        self.skipTest(reason)
                    folder = self.new_folder(self.addCleanup)
                    make_fixtures(folder, example.fixtures)
                    outputs = self.run_commands(example.shell, folder, [command for command, _ in example.steps])
                    ran += 1
                    self.assertEqual(example.shown(outputs), example.shown(output for _, output in example.steps),
                                     "- what the program printed, + what the document shows")
        self.assertGreater(ran, 0, "no example ran")

    def test_links_reach_their_documents_and_the_readme_links_every_one(self):
        linked = set()
        for document in documents():
            if not document.endswith(".md"):
                continue
            for target, anchor in re.findall(r"\]\(([^)#\s:]*)(?:#([^)\s]*))?\)", "\n".join(read(document))):
                path = os.path.normpath(os.path.join(os.path.dirname(document), target)) if target else document
                with self.subTest(document=document, link=f"{target}#{anchor}"):
                    self.assertTrue(os.path.exists(os.path.join(SOURCE, path)))
                    if anchor:
                        self.assertIn(anchor, [slug(line) for line in read(path) if line.startswith("#")])
                if document == "README.md":
                    linked.add(path)
        self.assertLessEqual({document for document in documents() if document.startswith("docs/")}, linked)

    def test_exit_status_tables_name_each_outcome_as_the_program_does(self):
        shell = "sh" if self.tree == "posix" else "cmd"
        status_of = {"sh": "echo $?", "cmd": "echo %ERRORLEVEL%"}[shell]
        name = "sizestamp" if self.tree == "posix" else "sizestamp.exe"
        folder = self.new_folder(self.addCleanup)
        os.mkdir(os.path.join(folder, "dir"))
        commands = [line for _, tail in OUTCOMES for line in (f"{name} {tail}", status_of)]
        outputs = self.run_commands(shell, folder, commands)
        words = {}
        for (status, tail), message, shown_status in zip(OUTCOMES, outputs[::2], outputs[1::2]):
            self.assertEqual(trimmed(shown_status), [str(status)], f"{name} {tail}: {message}")
            words[status] = outcome_words(message)
        unmade = "out of memory: the injection tests make the Windows programs fail so"
        if self.tree == "posix":
            memory = self.out_of_memory()
            if memory:
                words[MEMORY_FAILURE] = outcome_words(memory)
            unmade = "out of memory: the sanitizer runs out of memory itself before the program can"
        for document, statuses, tree in STATUS_TABLES:
            if tree != self.tree:
                continue
            rows = statuses(read(document))
            with self.subTest(document=document):
                self.assertEqual(sorted(rows), list(range(MEMORY_FAILURE + 1)))
            for status, row in rows.items():
                with self.subTest(document=document, status=status):
                    if status not in words:
                        self.skipTest(unmade)
                    self.assertIn(words[status].lower(), " ".join(row.split()).lower())

    def out_of_memory(self):
        """What the program prints when memory runs out: its copies of a long
        command line outgrow an address-space limit that lets it start. None
        under a sanitizer, which runs out first."""
        for _, limit in address_space_limits():
            done = subprocess.run([self.program, *MEMORY_HUNGRY_ARGUMENTS], cwd=self.dir,
                                  capture_output=True, preexec_fn=limit, timeout=20)
            if SANITIZER_OUT_OF_MEMORY in done.stderr:
                return None
            if done.returncode in (0, MEMORY_FAILURE):
                break
        self.assertEqual(done.returncode, MEMORY_FAILURE, "no limit below 64 MiB made the program run out of memory")
        return COVERAGE_NOISE.sub(b"", done.stderr).decode().splitlines()

    # --- Running commands: one shell for all, a line with a fresh token after each.

    def run_commands(self, shell, folder, commands):
        """What each command printed, as a list of lines per command."""
        token = "documents-test-" + secrets.token_hex(8)
        run = {"sh": self.run_sh, "cmd": self.run_cmd, "powershell": self.run_powershell}[shell]
        printed = COVERAGE_NOISE.sub(b"", run(folder, commands, token)).decode("utf-8").replace("\r\n", "\n")
        outputs, current = [], []
        for line in printed.split("\n"):
            if line == f"{token} {len(outputs)}":
                outputs.append(current)
                current = []
            else:
                current.append(line)
        self.assertEqual(len(outputs), len(commands), "the shell ended early:\n" + printed)
        return outputs

    def console(self, command, folder, environment=None, timeout=120):
        """Runs command in folder; standard output and error go to one file,
        so that they keep their order (and no background process of Wine
        holds a pipe open)."""
        with tempfile.TemporaryFile() as printed:
            subprocess.run(command, cwd=folder, env=environment, stdin=subprocess.DEVNULL, stdout=printed,
                           stderr=subprocess.STDOUT, timeout=timeout)
            printed.seek(0)
            return printed.read()

    def run_sh(self, folder, commands, token):
        # The status is kept across the token's line, for an `echo $?` after it.
        script = "".join(f"{command}\nstatus=$?; printf '\\n%s\\n' '{token} {n}'; (exit $status)\n"
                         for n, command in enumerate(commands))
        environment = dict(os.environ, PATH=self.bin + os.pathsep + os.environ["PATH"], LC_ALL="C.UTF-8")
        return self.console(["sh", "-c", script], folder, environment)

    def run_cmd(self, folder, commands, token):
        # echo leaves %ERRORLEVEL% as it was.
        lines = ["@echo off", f'set "PATH={windows_path(self.bin)};%PATH%"']
        for n, command in enumerate(commands):
            lines += [command, f"echo {token} {n}"]
        script = os.path.join(self.dir, "commands.bat")
        with open(script, "w", encoding="ascii", newline="\r\n") as f:
            f.write("\n".join(lines) + "\n")
        return self.console([*self.wine, "cmd", "/c", windows_path(script)], folder)

    def run_powershell(self, folder, commands, token):
        # Dot-sourced, so that a variable set by one command is there for the next.
        lines = [f"$env:PATH = '{self.bin};' + $env:PATH"]
        for n, command in enumerate(commands):
            lines += [f". {{ {command} }} 2>&1 | ForEach-Object {{ \"$_\" }}", f"Write-Output '{token} {n}'"]
        script = os.path.join(self.dir, "commands.ps1")
        with open(script, "w", encoding="utf-8") as f:
            f.write("\n".join(lines) + "\n")
        return self.console([powershell(), "-NoProfile", "-NonInteractive", "-ExecutionPolicy", "Bypass",
                             "-File", script], folder)


def slug(heading):
    """The anchor of a Markdown heading, as GitHub makes it."""
    return re.sub(r"[^\w\- ]", "", heading.lstrip("#").strip().lower()).replace(" ", "-")


def powershell():
    return shutil.which("pwsh") or shutil.which("powershell")


def make_fixtures(folder, fixtures):
    """NAME/ a folder, NAME:LENGTH a file of LENGTH bytes, none of them zero."""
    for fixture in fixtures:
        name, _, length = fixture.partition(":")
        path = os.path.join(folder, name)
        if name.endswith("/"):
            os.makedirs(path)
        elif length.isdigit():
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write((PATTERN * (int(length) // len(PATTERN) + 1))[:int(length)])
        else:
            raise AssertionError(f"a fixture the test cannot make: {fixture!r}")


def main():
    if len(sys.argv) < 3 or sys.argv[1] not in ("posix", "windows"):
        sys.exit(__doc__)
    Documents.tree, Documents.program, *Documents.wine = sys.argv[1:]
    Documents.program = os.path.abspath(Documents.program)
    unittest.main(argv=sys.argv[:1], verbosity=2)


if __name__ == "__main__":
    main()
