"""The live progress line seen through a terminal: a run whose standard
output is a pseudo-terminal shows the line while its long stages run, and
once every drawing of it (up to the blanks and carriage return that erase
it) is taken out, what remains is exactly what the same run writes into a
file, time stamps aside.

Run: MGN_EXE=build/mgn python3 tests/python/live_progress_test.py
"""

import os
import pty
import re
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
MGN = os.environ.get("MGN_EXE", os.path.join(ROOT, "build", "mgn"))


def run_on_terminal(args, folder):
    """Standard output and error of a run on a pseudo-terminal, as bytes."""
    master, slave = pty.openpty()
    process = subprocess.Popen([MGN] + args, cwd=folder, stdout=slave, stderr=slave, stdin=subprocess.DEVNULL)
    os.close(slave)
    chunks = []
    while True:
        try:
            chunk = os.read(master, 65536)
        except OSError:  # the terminal closes with the process
            break
        if not chunk:
            break
        chunks.append(chunk)
    os.close(master)
    assert process.wait() == 0
    # The terminal turns each newline into a carriage return and a newline.
    return b"".join(chunks).replace(b"\r\n", b"\n").decode()


def screen(text):
    """The lines a terminal shows after printing the text: a carriage return
    goes back to the start of the line, later characters overwrite earlier
    ones (trailing blanks are not told apart from nothing)."""
    lines = []
    for line in text.split("\n"):
        shown = []
        column = 0
        for char in line:
            if char == "\r":
                column = 0
                continue
            if column < len(shown):
                shown[column] = char
            else:
                shown.append(char)
            column += 1
        lines.append("".join(shown).rstrip(" "))
    return lines


def seconds(stamp):
    hours, minutes, secs = (int(v) for v in stamp.split(":"))
    return 3600 * hours + 60 * minutes + secs


def without_times(lines):
    return [re.sub(r"(Real time consumed|Memory consumed) .*", r"\1", re.sub(r"\d\d:\d\d:\d\d", "hh:mm:ss", line))
            for line in lines]


class LiveProgress(unittest.TestCase):
    def test_terminal_run_equals_file_run_without_the_line(self):
        model = os.path.join(ROOT, "tests", "models", "sphere.mgn")
        with open(model) as f:
            surface_only = "".join(line for line in f if not line.startswith("region"))
        with tempfile.TemporaryDirectory() as folder:
            with open(os.path.join(folder, "sphere.mgn"), "w") as f:
                f.write(surface_only)
            # Some seconds of meshing surfaces: half a million triangles.
            args = ["-i", "sphere.mgn", "-d", "0.008", "-o", "sphere.mgnmesh"]
            shown = run_on_terminal(args, folder)
            os.replace(os.path.join(folder, "sphere.mgnmesh"), os.path.join(folder, "terminal.mgnmesh"))
            with open(os.path.join(folder, "out"), "w") as out, open(os.path.join(folder, "err"), "w") as err:
                subprocess.run([MGN] + args, cwd=folder, stdout=out, stderr=err, check=True)
            with open(os.path.join(folder, "out")) as out, open(os.path.join(folder, "err")) as err:
                written = out.read() + err.read()
            # The line was drawn when the surface stage lasted longer than
            # the half second before it appears (the stamps of the stages
            # before and after it are two seconds apart or more).
            stamps = {name: seconds(stamp) for name, stamp in
                      re.findall(r"(Curves|Surfaces) discretized +(\d\d:\d\d:\d\d)", shown)}
            if (stamps["Surfaces"] - stamps["Curves"]) % 86400 >= 2:
                self.assertIn("\rMeshing surfaces: ", shown)
            # What the terminal shows at the end: the line drawn over and
            # blanked out, no character of it left.
            self.assertEqual(without_times(screen(shown)), without_times(screen(written)))
            with open(os.path.join(folder, "terminal.mgnmesh")) as a, open(os.path.join(folder, "sphere.mgnmesh")) as b:
                self.assertEqual(a.read(), b.read())


if __name__ == "__main__":
    unittest.main()
