"""`python -m kinetra` runs the kinetra command-line tool that comes with the package.

The console scripts `kinetra` and `kinetra-sim` of a pip installation come here
too: the programs themselves lie in the package's bin/ directory. Installed with
`make install`, they are PREFIX/bin beside the PREFIX/lib/... the package is in;
in a build tree, beside build/python.
"""
import os
import subprocess
import sys
from pathlib import Path
from typing import List, NoReturn, Optional

_ELF_MAGIC = b"\x7fELF"


def _is_program(path: Path) -> bool:
    """A compiled program, not a script of the same name (a console script would run itself)."""
    try:
        with path.open("rb") as file:
            return os.access(path, os.X_OK) and file.read(len(_ELF_MAGIC)) == _ELF_MAGIC
    except OSError:
        return False


def find_program(name: str) -> Optional[Path]:
    """The path of the bundled program `name`, or None when this installation has none."""
    here = Path(__file__).resolve().parent
    candidates = [here / "bin" / name]
    candidates += [parent / "bin" / name for parent in here.parents]
    candidates += [parent / name for parent in list(here.parents)[:2]]
    return next((path for path in candidates if _is_program(path)), None)


def run(name: str, arguments: List[str]) -> NoReturn:
    """Replaces this process by the program `name` with `arguments`, or exits 127 if it is missing."""
    program = find_program(name)
    if program is None:
        sys.stderr.write("kinetra: the program %s is not installed with this package\n" % name)
        sys.exit(127)
    if os.name == "posix":
        os.execv(str(program), [name] + arguments)
    sys.exit(subprocess.call([str(program)] + arguments))


def main() -> NoReturn:
    """The `kinetra` tool with this process's arguments."""
    run("kinetra", sys.argv[1:])


def simulator_main() -> NoReturn:
    """The `kinetra-sim` simulator program with this process's arguments."""
    run("kinetra-sim", sys.argv[1:])


if __name__ == "__main__":
    main()
