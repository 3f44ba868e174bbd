"""The gallery meshes as its files and the README say: every example of
examples/ is meshed with the command in its header, and every build/mgn
command of the README's code blocks runs too; each makes the elements its
model asks for, and each example has its picture and a place in the README.

Run: MGN_EXE=build/mgn python3 tests/python/examples_test.py
"""

import os
import re
import shlex
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
EXAMPLES = os.path.join(ROOT, "examples")
MGN = os.environ.get("MGN_EXE", os.path.join(ROOT, "build", "mgn"))


def header_command(path):
    """The 'build/mgn ...' line of an example's header comment."""
    for line in open(path):
        if not line.startswith("#"):
            break
        found = re.match(r"^#\s+(build/mgn\s.*)$", line.rstrip())
        if found:
            return found.group(1)
    return None


def readme_commands():
    """The build/mgn commands of the README's code blocks (the part of a
    line from build/mgn on)."""
    commands = []
    for line in open(os.path.join(ROOT, "README.md")):
        if line.startswith("    ") and "build/mgn -i " in line:
            command = line[line.index("build/mgn -i "):].split("#")[0].split("&&")[0].strip()
            commands.append(command)
    return commands


def run(command, folder):
    """Runs a build/mgn command line in folder with the program under test;
    returns the counts line of the mesh file it writes."""
    args = shlex.split(command)
    args = [MGN] + [os.path.join(ROOT, a) if a.startswith("examples/") else a for a in args[1:]]
    done = subprocess.run(args, cwd=folder, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
    if done.returncode != 0:
        raise AssertionError(f"{command}: exit status {done.returncode}\n{done.stderr}")
    mesh = os.path.join(folder, args[args.index("-o") + 1])
    with open(mesh) as f:
        header = f.readline().split()
        counts = [int(v) for v in f.readline().split()]
    if header[0] == "3":
        counts = [counts[0], counts[1], counts[2], 0, counts[3]]
    return dict(zip(["nodes", "edges", "trias", "quads", "tetras"], counts))


def wanted_elements(model):
    """The element kind the model's top entities make."""
    keywords = {line.split()[0].lower() for line in open(model) if line.strip() and not line.startswith("#")}
    if "region" in keywords:
        return "tetras"
    if "surface" in keywords:
        return "trias"
    return "edges"


class Gallery(unittest.TestCase):
    def test_every_example_meshes_with_its_command(self):
        names = sorted(f for f in os.listdir(EXAMPLES) if f.endswith(".mgn"))
        self.assertGreaterEqual(len(names), 1)
        readme = open(os.path.join(ROOT, "README.md")).read()
        with tempfile.TemporaryDirectory() as folder:
            for name in names:
                with self.subTest(example=name):
                    path = os.path.join(EXAMPLES, name)
                    command = header_command(path)
                    self.assertIsNotNone(command, "no build/mgn command in the header")
                    self.assertIn(f"examples/{name}", command)
                    counts = run(command, folder)
                    self.assertGreater(counts[wanted_elements(path)], 0)
                    stem = name[:-len(".mgn")]
                    self.assertTrue(os.path.isfile(os.path.join(EXAMPLES, "pictures", stem + ".png")))
                    self.assertIn(f"examples/pictures/{stem}.png", readme)

    def test_readme_commands_run(self):
        commands = readme_commands()
        self.assertGreaterEqual(len(commands), 1)
        with tempfile.TemporaryDirectory() as folder:
            for command in commands:
                with self.subTest(command=command):
                    model = os.path.join(ROOT, shlex.split(command)[2])
                    self.assertGreater(run(command, folder)[wanted_elements(model)], 0)


if __name__ == "__main__":
    unittest.main()
