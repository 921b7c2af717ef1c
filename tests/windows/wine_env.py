"""What every Windows test driver needs to run programs under Wine."""
import json
import os
import subprocess
import tempfile


def environment(prefix, display=False):
    """The environment for Wine: the build's own prefix, quiet, UTF-8 file names."""
    env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=",
               LC_ALL="C.UTF-8")
    if not display:
        # Without a display a message box falls back to the standard streams.
        env.pop("DISPLAY", None)
        env.pop("WAYLAND_DISPLAY", None)
    return env


def windows_path(path):
    """The Unix path as Wine's drive Z: shows it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def run(command, prefix, display=False, **options):
    """Runs a Wine command; its output goes through files, as Wine's background
    processes may keep a pipe open long after the command has ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        result = subprocess.run(command, env=environment(prefix, display), stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err, timeout=120, **options)
        out.seek(0)
        err.seek(0)
        result.stdout, result.stderr = out.read(), err.read()
    return result


def launch(prefix, launcher, mode, program, cases_file, lines, display=False, **options):
    """Starts program once for each command line of lines, through the
    launcher; returns its reports, one per line, or raises when it gave fewer."""
    with open(cases_file, "w", encoding="utf-8", newline="\n") as file:
        file.writelines(line + "\n" for line in lines)
    command = ["wine", launcher, mode, windows_path(program), windows_path(cases_file)]
    if display:
        # A desktop of its own, made now on this display: the default one may
        # have been made without a display by an earlier test.
        command[1:1] = ["explorer", "/desktop=sizestamp-test,800x600"]
    result = run(command, prefix, display, **options)
    reports_file = cases_file + ".json"
    reports = []
    if os.path.exists(reports_file):
        with open(reports_file, encoding="utf-8") as file:
            reports = [json.loads(line) for line in file]
    if len(reports) != len(lines):
        raise RuntimeError("%d reports for %d command lines: %s" % (len(reports), len(lines), result))
    return reports
