#!/usr/bin/env python3
"""Runs the fenced code blocks of Markdown files, so that what the README and the
guide show keeps working.

    doc_blocks.py --source DIR --build DIR FILE.md...

What runs, by the block's language:
- sh: each line on its own with bash, in a scratch directory where `build` is the
  build directory and every other entry of the source tree is linked, so the
  paths read as in the text. Lines that run `make` are not run: they build and
  test this tree, of which this test is a part. A line must end with 0.
- python: the block with the built module on PYTHONPATH; it must end with 0.
- cpp: compiled against the built libraries and run; it must end with 0. A
  block without a main() is compiled inside one (its #include lines stay on top).
- a block without a language is a transcript, not code: not run.

A comment on the line before the fence changes that, where a block cannot run
as it stands (keep them few):
    <!-- doc-test: skip REASON -->   not run; the reason says what covers it
    <!-- doc-test: exit N -->        must end with N instead of 0
    <!-- doc-test: interrupt -->     runs until Ctrl-C: it must print a line and,
                                     stopped with SIGINT, end with 0
Exit status 0 when every block did what it should; the failures are listed.
"""

import argparse
import os
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time

MARKER = re.compile(r"<!--\s*doc-test:\s*(skip|exit|interrupt)\b\s*(.*?)\s*-->")
TIME_LIMIT = 120


class Block:
    def __init__(self, path, line, language, text, marker):
        self.path, self.line, self.language, self.text = path, line, language, text
        self.marker = marker  # (kind, argument) or None

    def where(self):
        return f"{os.path.basename(self.path)}:{self.line} ({self.language or 'transcript'})"

    def expected_exit(self):
        return int(self.marker[1].split()[0]) if self.marker and self.marker[0] == "exit" else 0


def blocks_of(path):
    """The fenced blocks of a Markdown file, with the marker before each."""
    with open(path, encoding="utf-8") as markdown:
        lines = markdown.read().split("\n")
    found, i = [], 0
    while i < len(lines):
        fence = re.match(r"^```(\S*)\s*$", lines[i])
        if not fence:
            i += 1
            continue
        start = i
        i += 1
        body = []
        while i < len(lines) and not lines[i].startswith("```"):
            body.append(lines[i])
            i += 1
        i += 1
        before = lines[start - 1] if start > 0 else ""
        marker = MARKER.search(before)
        found.append(Block(path, start + 1, fence.group(1), "\n".join(body) + "\n",
                           (marker.group(1), marker.group(2)) if marker else None))
    return found


def scratch_tree(source, build):
    """A directory that reads like the source tree, with `build` the build directory."""
    root = tempfile.mkdtemp(prefix="kinetra-doc-")
    for entry in os.listdir(source):
        if entry != "build":
            os.symlink(os.path.join(source, entry), os.path.join(root, entry))
    os.symlink(os.path.abspath(build), os.path.join(root, "build"))
    return root


def environment(build):
    env = dict(os.environ)
    env["PYTHONPATH"] = os.path.join(build, "python")
    env["PYTHONDONTWRITEBYTECODE"] = "1"
    env["PATH"] = os.path.abspath(build) + os.pathsep + env.get("PATH", "")
    for variable in ("KINETRA_PORT",):
        env.pop(variable, None)
    return env


def run(command, cwd, env, expected, interrupt=False, stdin=None):
    """Runs one command; returns an error text or None."""
    if interrupt:
        process = subprocess.Popen(command, cwd=cwd, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                   stderr=subprocess.STDOUT, text=True, start_new_session=True)
        # Its first line, or its end, within the bound.
        ready, _, _ = select.select([process.stdout], [], [], TIME_LIMIT)
        first = process.stdout.readline() if ready else ""
        os.killpg(process.pid, signal.SIGINT)
        try:
            rest, _ = process.communicate(timeout=TIME_LIMIT)
        except subprocess.TimeoutExpired:
            os.killpg(process.pid, signal.SIGKILL)
            return "did not end after SIGINT"
        if not first:
            return "printed nothing before its end"
        return None if process.returncode == 0 else f"ended with {process.returncode} after SIGINT:\n{first}{rest}"
    try:
        result = subprocess.run(command, cwd=cwd, env=env, input=stdin, capture_output=True, text=True,
                                timeout=TIME_LIMIT)
    except subprocess.TimeoutExpired:
        return f"still running after {TIME_LIMIT} s"
    if result.returncode != expected:
        return f"ended with {result.returncode}, not {expected}:\n{result.stdout}{result.stderr}"
    return None


def shell_commands(text):
    """The commands of a shell block: continued lines joined, trailing comments cut."""
    commands, pending = [], ""
    for line in text.split("\n"):
        if line.endswith("\\"):
            pending += line[:-1] + " "
            continue
        command = re.sub(r"\s+#\s.*$", "", pending + line).strip()
        pending = ""
        if command and not command.startswith("#"):
            commands.append(command)
    return commands


def with_main(text):
    """A block of statements made a program: its #include lines, then main()."""
    if re.search(r"\bint\s+main\s*\(", text):
        return text
    includes = [line for line in text.split("\n") if line.startswith("#include")]
    body = [line for line in text.split("\n") if not line.startswith("#include")]
    return "\n".join(includes) + "\nint main() {\n" + "\n".join(body) + "\n}\n"


def check_block(block, source, build, tree, env, compiler):
    """Runs one block; returns a list of error texts."""
    interrupt = block.marker is not None and block.marker[0] == "interrupt"
    expected = block.expected_exit()
    if block.language == "sh":
        errors = []
        for command in shell_commands(block.text):
            if re.match(r"^make\b", command):
                continue
            error = run(["bash", "-c", command], tree, env, expected, interrupt)
            if error:
                errors.append(f"`{command}` {error}")
        return errors
    if block.language == "python":
        error = run([sys.executable, "-"], tree, env, expected, stdin=block.text)
        return [error] if error else []
    if block.language == "cpp":
        program = os.path.join(tree, "doc_block")
        with open(program + ".cpp", "w", encoding="utf-8") as code:
            code.write(with_main(block.text))
        compile_command = [compiler, "-std=c++17", "-I", os.path.join(source, "include"),
                           "-I", os.path.join(source, "sim", "include"), program + ".cpp", "-o", program,
                           "-L", build, "-lkinetra_sim", "-lkinetra_transport", "-pthread",
                           "-Wl,-rpath," + os.path.abspath(build)]
        error = run(compile_command, tree, env, 0)
        if error:
            return ["does not compile: " + error]
        error = run([program], tree, env, expected, interrupt)
        return [error] if error else []
    return [f"no way to run a '{block.language}' block: mark it <!-- doc-test: skip REASON -->"]


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--cxx", default="c++", help="the compiler the tree was built with")
    parser.add_argument("files", nargs="+")
    args = parser.parse_args()
    args.source, args.build = os.path.abspath(args.source), os.path.abspath(args.build)
    tree = scratch_tree(args.source, args.build)
    env = environment(args.build)
    failures, ran = [], 0
    for path in args.files:
        for block in blocks_of(path):
            if block.marker and block.marker[0] == "skip" and not block.marker[1]:
                failures.append(f"{block.where()}: a skip without a reason")
                continue
            if not block.language or (block.marker and block.marker[0] == "skip"):
                continue
            ran += 1
            for error in check_block(block, args.source, args.build, tree, env, args.cxx):
                failures.append(f"{block.where()}: {error}")
    shutil.rmtree(tree, ignore_errors=True)  # links and the compiled blocks; never what they point to
    for failure in failures:
        print("FAILED " + failure)
    print(f"{ran} blocks run, {len(failures)} failures")
    return 1 if failures or ran == 0 else 0


if __name__ == "__main__":
    sys.exit(main())
