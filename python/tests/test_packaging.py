# The package as users get it: its type stub against the module it describes, a
# strict type check of the examples and a typed sample, the examples themselves,
# and the programs it brings.
import ast
import importlib.util
import inspect
import os
import subprocess
import sys
from pathlib import Path

import pytest

import kinetra

EXAMPLES = sorted((Path(__file__).resolve().parents[2] / "examples" / "python").glob("*.py"))
PACKAGE = Path(kinetra.__file__).resolve().parent
# Bounds each example and type check; the in-process simulator answers far sooner.
RUN_TIMEOUT_S = 120


def stub_names(path):
    """{name: set of member names} of a stub; None for names that are not classes."""
    tree = ast.parse(path.read_text())
    names = {}
    for node in tree.body:
        if isinstance(node, ast.ClassDef):
            names[node.name] = {item.name for item in node.body if isinstance(item, (ast.FunctionDef, ast.ClassDef))} | {
                item.target.id for item in node.body if isinstance(item, ast.AnnAssign)}
        elif isinstance(node, ast.FunctionDef):
            names[node.name] = None
        elif isinstance(node, ast.AnnAssign):
            names[node.target.id] = None
        elif isinstance(node, ast.Assign):
            names.update({target.id: None for target in node.targets})
        elif isinstance(node, ast.ImportFrom) and node.module is None:
            names.update({alias.asname or alias.name: None for alias in node.names})
    return names


def public(names):
    return {name for name in names if not name.startswith("_")}


def test_the_stub_covers_every_public_name_and_member():
    stub = stub_names(PACKAGE / "__init__.pyi")
    assert public(dir(kinetra)) - set(stub) == set()
    assert (PACKAGE / "py.typed").exists()
    missing = {}
    for name, members in stub.items():
        runtime = getattr(kinetra, name)
        if members is None or not inspect.isclass(runtime) or issubclass(runtime, tuple):
            continue
        own = public(vars(runtime)) - set(getattr(runtime, "__members__", {}))
        if own - members:
            missing[name] = own - members
    assert missing == {}


def test_the_stubs_examples_and_a_typed_sample_pass_a_strict_type_check(tmp_path):
    # The generated stubs too: a fault of the generator shows as an error in them.
    sources = [str(path) for path in EXAMPLES + sorted(PACKAGE.glob("*.pyi"))]
    sources.append(str(Path(__file__).with_name("typed_sample.py")))
    result = subprocess.run([sys.executable, "-m", "mypy", "--strict", "--no-incremental",
                             "--cache-dir", str(tmp_path), *sources], capture_output=True, text=True,
                            timeout=RUN_TIMEOUT_S, env=dict(os.environ, PYTHONPATH=str(PACKAGE.parent)))
    assert result.returncode == 0, result.stdout + result.stderr


def run_elsewhere(example):
    """Whether another test file of this suite runs `example` (with what it must print)."""
    return any(example.name in path.read_text() for path in Path(__file__).parent.glob("test_*.py")
               if path.name != Path(__file__).name)


# Every example runs as a test: here, unless another suite's test runs it.
@pytest.mark.parametrize("example", [path for path in EXAMPLES if not run_elsewhere(path)],
                         ids=[path.stem for path in EXAMPLES if not run_elsewhere(path)])
def test_each_example_runs_on_the_simulator(example, tmp_path):
    env = dict(os.environ, MPLBACKEND="Agg", PYTHONPATH=str(PACKAGE.parent))
    result = subprocess.run([sys.executable, str(example)], cwd=tmp_path, capture_output=True, text=True,
                            timeout=RUN_TIMEOUT_S, env=env)
    assert result.returncode == 0, result.stdout + result.stderr


@pytest.mark.parametrize("command, expected", [
    ([sys.executable, "-m", "kinetra", "--help"], "Usage: kinetra"),
    ([sys.executable, "-m", "kinetra", "scan", "--sim"], "driver"),
    ([sys.executable, "-c", "from kinetra.__main__ import simulator_main; simulator_main()", "--help"],
     "usage: kinetra-sim"),
])
def test_the_bundled_programs_run(command, expected):
    result = subprocess.run(command, capture_output=True, text=True, timeout=RUN_TIMEOUT_S)
    assert result.returncode == 0 and expected in result.stdout + result.stderr, result.stdout + result.stderr


def load_generator():
    """python/generate_stub.py, loaded without putting python/ (the source package) on the path."""
    path = Path(__file__).resolve().parents[1] / "generate_stub.py"
    found = importlib.util.spec_from_file_location("generate_stub", path)
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


@pytest.mark.parametrize("doc, expected", [
    # A signature the binding wrote replaced pybind11's, not added as an overload beside it.
    ("f(self: kinetra._core.Bus) -> object\n\nf(self) -> Frame\n\nText.", [("self", "Frame")]),
    ("Overloaded function.\n\n1. f(x: int) -> None\n\n2. f(x: str) -> None\n", [("x: int", "None"), ("x: str", "None")]),
    ("f(a: int) -> int\n\nText that mentions g(b) -> c.", [("a: int", "int")]),
])
def test_the_generator_takes_the_signatures_a_docstring_gives(doc, expected):
    assert load_generator().signatures("f", doc)[0] == expected


@pytest.mark.parametrize("pybind, stub", [
    ("self: kinetra._core.Bus, *, timeout: float = 2.0", "self, *, timeout: float = ..."),  # a bare * kept as is
    ("self: X, values: List[float[32]]", "self, values: List[List[float]]"),                  # std::array
    ("self: X, items: Iterable, callback: Callable", "self, items: Iterable[Any], callback: Callable[..., Any]"),
    ("self: X, out: numpy.ndarray[numpy.float32]", "self, out: numpy.typing.NDArray[numpy.float32]"),
    ("self: X, out: numpy.ndarray, path: os.PathLike", "self, out: numpy.typing.NDArray[Any], path: os.PathLike[str]"),
])
def test_the_generator_writes_parameters_mypy_accepts(pybind, stub):
    generator = load_generator()
    assert generator.parameters(pybind, generator.Names(kinetra, "kinetra"), method=True) == stub
