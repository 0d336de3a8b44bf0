#!/usr/bin/env python3
"""Writes the type stub of the kinetra package from the built module itself.

Every function bound in C++ carries its signature as the first line of its
docstring ("name(arg: type, ...) -> type", written by pybind11 or by the
binding); classes, enums, named tuples and exceptions are introspected. The
stub is therefore never written by hand, and an operation added to a table is
typed and documented where it is bound.

Usage: generate_stub.py PACKAGE -o OUT.pyi (submodules go beside OUT.pyi).
"""
import argparse
import ast
import importlib
import importlib.util
import inspect
import re
import sys
import textwrap
import types
from pathlib import Path

# pybind11's spelling of Python types that typing spells differently.
TYPE_WORDS = {
    "iterator": "Iterator[Any]", "iterable": "Iterable[Any]", "sequence": "Sequence[Any]",
    "Buffer": "Any", "buffer": "Any", "capsule": "Any", "handle": "Any",
    "function": "Callable[..., Any]", "Callable": "Callable[..., Any]",
}
TYPING_NAMES = ["Any", "Callable", "ClassVar", "Dict", "Iterable", "Iterator", "List",
                "NamedTuple", "Optional", "Sequence", "Set", "Tuple", "Union", "overload"]
# Members every pybind11 class has that a user never calls.
SKIPPED_MEMBERS = {"__dict__", "__doc__", "__module__", "__weakref__", "__members__",
                   "__entries", "__setstate__", "__getstate__", "_pybind11_conduit_v1_",
                   "__slots__", "__annotations__", "__match_args__", "__orig_bases__"}
SIGNATURE = re.compile(r"^\s*(?:\d+\.\s+)?([A-Za-z_]\w*)?\((.*)\)\s*->\s*(.+?)\s*$")
DOTTED = re.compile(r"[A-Za-z_][\w]*(?:\.[A-Za-z_]\w*)+")


def split_top(text, separator=","):
    """Splits at separators outside brackets and quotes."""
    parts, depth, quote, current = [], 0, None, ""
    for char in text:
        if quote:
            quote = None if char == quote else quote
        elif char in "'\"":
            quote = char
        elif char in "([{":
            depth += 1
        elif char in ")]}":
            depth -= 1
        elif char == separator and depth == 0:
            parts.append(current.strip())
            current = ""
            continue
        current += char
    if current.strip():
        parts.append(current.strip())
    return parts


class Names:
    """How a stub file spells the classes of the package: its own bare, others qualified."""

    def __init__(self, package, module_name):
        self.spelling = {}
        self.module_name = module_name
        self._collect(package, package.__name__)

    def _collect(self, module, public):
        for name in dir(module):
            value = getattr(module, name)
            if name.startswith("_"):
                continue
            if isinstance(value, types.ModuleType) and value.__name__.startswith(module.__name__.split(".")[0]):
                if public.count(".") == 0:
                    self._collect(value, public + "." + name)
                continue
            if isinstance(value, type):
                here = public == self.module_name
                relative = public[len(self.module_name) + 1:] if public.startswith(self.module_name + ".") else None
                spelled = name if here else (relative + "." + name if relative else public + "." + name)
                full = value.__module__ + "." + value.__qualname__
                self.spelling.setdefault(full, spelled)
                self.spelling.setdefault(public + "." + name, spelled)
                for inner, nested in vars(value).items():
                    if isinstance(nested, type) and nested.__qualname__ == value.__qualname__ + "." + inner:
                        self.spelling.setdefault(full + "." + inner, spelled + "." + inner)

    def type(self, text):
        """A pybind11 type expression rewritten for the stub."""
        text = re.sub(r"numpy\.ndarray\[numpy\.(\w+)(?:\[[^\]]*\])?\]",
                      lambda m: "numpy.typing.NDArray[numpy.%s]" % m.group(1), text)
        text = DOTTED.sub(lambda m: self.spelling.get(m.group(0), m.group(0)), text)
        # A fixed-size array (std::array) is a list in Python.
        text = re.sub(r"\b(\w+)\[(\d+)\]", r"List[\1]", text)
        text = re.sub(r"(?<![\w.])(List|Set|Iterable|Iterator|Sequence)(?![\w\[])", r"\1[Any]", text)
        text = re.sub(r"(?<![\w.])Dict(?![\w\[])", "Dict[Any, Any]", text)
        text = re.sub(r"\bos\.PathLike(?![\w\[])", "os.PathLike[str]", text)
        text = re.sub(r"\bnumpy\.ndarray(?![\w\[])", "numpy.typing.NDArray[Any]", text)
        return re.sub(r"(?<![\w.])(iterator|iterable|sequence|Buffer|buffer|capsule|handle|function|Callable(?!\[))(?![\w\[])",
                      lambda m: TYPE_WORDS[m.group(1)], text)


def parameters(text, names, method):
    """The parameter list of a signature line, defaults as `...` and self bare."""
    out = []
    for index, part in enumerate(split_top(text)):
        if part in ("*", "/"):
            out.append(part)
            continue
        if part.startswith("*"):
            head = part.split(":", 1)
            out.append(head[0] + (": " + names.type(head[1].strip()) if len(head) > 1 else ": Any"))
            continue
        name, _, rest = part.partition(":")
        annotation, _, default = rest.partition("=")
        if method and index == 0:
            out.append(name.strip())
            continue
        item = name.strip() + (": " + names.type(annotation.strip()) if annotation.strip() else ": Any")
        out.append(item + (" = ..." if default.strip() else ""))
    return ", ".join(out)


def doc_body(doc, indent):
    """The docstring of a stub entry: what follows the signature lines."""
    text = "\n".join(doc).strip().replace("\\", "\\\\").replace('"""', "'''")
    if not text:
        return " ..."
    pad = indent + "    "
    lines = [(pad + line).rstrip() for line in text.splitlines()]
    return "\n" + pad + '"""' + "\n".join(lines)[len(pad):] + '"""'


def signatures(name, doc):
    """(parameters, return type) of each overload, and the remaining documentation."""
    lines = (doc or "").splitlines()
    found, rest = [], []
    overloaded = any(line.startswith("Overloaded function.") for line in lines)
    for line in lines:
        match = SIGNATURE.match(line)
        if match and (match.group(1) in (None, name)) and (overloaded or not rest or not "".join(rest).strip()):
            found.append((match.group(2), match.group(3)))
        elif "Overloaded function." in line or re.match(r"^\s*%s\(\*args, \*\*kwargs\)\s*$" % re.escape(name), line):
            continue
        else:
            rest.append(line)
    # A signature the binding wrote itself follows the one pybind11 wrote, and replaces it.
    return (found if overloaded else found[-1:]), rest


def python_signature(function, names):
    """A signature from a Python function's own annotations."""
    try:
        signature = inspect.signature(function)
    except (TypeError, ValueError):
        return "*args: Any, **kwargs: Any", "Any"

    def spell(annotation):
        if annotation is inspect.Parameter.empty:
            return "Any"
        if isinstance(annotation, str):
            return names.type(annotation)
        if isinstance(annotation, type):
            return names.type(annotation.__module__ + "." + annotation.__qualname__).replace("builtins.", "")
        return names.type(repr(annotation).replace("typing.", ""))

    parts, star_done = [], False
    for parameter in signature.parameters.values():
        prefix = {inspect.Parameter.VAR_POSITIONAL: "*", inspect.Parameter.VAR_KEYWORD: "**"}.get(parameter.kind, "")
        if parameter.kind == inspect.Parameter.KEYWORD_ONLY and not star_done:
            parts.append("*")
        if parameter.kind in (inspect.Parameter.KEYWORD_ONLY, inspect.Parameter.VAR_POSITIONAL):
            star_done = True
        if parameter.name in ("self", "cls") and not parts:
            parts.append(parameter.name)
            continue
        default = "" if parameter.default is inspect.Parameter.empty else " = ..."
        parts.append(prefix + parameter.name + ": " + spell(parameter.annotation) + default)
    returns = "Any" if signature.return_annotation is inspect.Signature.empty else spell(signature.return_annotation)
    return ", ".join(parts), returns


def function_lines(name, function, names, indent, method, decorator=None, own_class=None):
    doc = function.__doc__ or ""
    found, rest = signatures(name, doc)
    if name == "__init__":
        found = [(params, "None") for params, _ in found]
    if name in ("__iter__", "__enter__") and own_class:
        # pybind11 says object where the binding returns the instance itself.
        found = [(params, own_class if returns == "object" else returns) for params, returns in found]
    head = [indent + "@" + decorator] if decorator else []
    if not found:
        params, returns = python_signature(function, names)
        returns = "None" if name == "__init__" else returns
        if decorator == "staticmethod" and params.startswith("self"):
            params = params[len("self"):].lstrip(", ")
        return head + [indent + "def %s(%s) -> %s:%s" % (name, params, returns, doc_body(rest, indent))]
    lines = []
    for params, returns in found:
        if len(found) > 1:
            lines.append(indent + "@overload")
        lines += head
        lines.append(indent + "def %s(%s) -> %s:%s" % (
            name, parameters(params, names, method and decorator != "staticmethod"), names.type(returns),
            doc_body(rest if len(found) == 1 else [], indent)))
    return lines


def instance_attributes(cls, names):
    """`self.name = parameter` of a Python class's own __init__, typed as the parameter is."""
    init = cls.__dict__.get("__init__")
    if not isinstance(init, types.FunctionType):
        return []
    try:
        tree = ast.parse(textwrap.dedent(inspect.getsource(init)))
    except (OSError, TypeError, SyntaxError):
        return []
    function = tree.body[0]
    annotations = {arg.arg: ast.unparse(arg.annotation) for arg in function.args.args + function.args.kwonlyargs
                   if arg.annotation is not None}
    found = []
    for node in ast.walk(function):
        if isinstance(node, ast.Assign) and len(node.targets) == 1:
            target = node.targets[0]
            if isinstance(target, ast.Attribute) and isinstance(target.value, ast.Name) and target.value.id == "self":
                kind = annotations.get(node.value.id, "Any") if isinstance(node.value, ast.Name) else "Any"
                found.append("    %s: %s" % (target.attr, names.type(kind)))
    return found


def is_enum(cls):
    return hasattr(cls, "__members__") and hasattr(cls, "__entries")


def class_lines(name, cls, names):
    own = names.spelling.get(cls.__module__ + "." + cls.__qualname__, name)
    if issubclass(cls, tuple) and hasattr(cls, "_fields"):
        lines = ["class %s(NamedTuple):" % name]
        annotations = getattr(cls, "__annotations__", {})
        for field in cls._fields:
            annotation = annotations.get(field)
            spelled = "float" if annotation is None else (
                annotation.__name__ if isinstance(annotation, type) else names.type(str(annotation)))
            lines.append("    %s: %s" % (field, spelled))
        if cls.__doc__ and not cls.__doc__.startswith(name + "("):
            lines.insert(1, "    " + doc_body(cls.__doc__.splitlines(), "").strip())
        return lines
    bases = [b for b in cls.__bases__ if b.__name__ not in ("object", "pybind11_object")]
    spelled_bases = []
    for base in bases:
        full = base.__module__ + "." + base.__qualname__
        spelled_bases.append(names.spelling.get(full, base.__qualname__ if base.__module__ == "builtins" else full))
    lines = ["class %s%s:" % (name, "(%s)" % ", ".join(spelled_bases) if spelled_bases else "")]
    if cls.__doc__ and not is_enum(cls):
        lines.append("    " + doc_body(cls.__doc__.splitlines(), "").strip())
    if is_enum(cls):
        lines += ["    %s: ClassVar[%s]" % (member, own) for member in cls.__members__]
    declared = {name: (kind if isinstance(kind, str) else getattr(kind, "__name__", repr(kind)))
                for name, kind in cls.__dict__.get("__annotations__", {}).items()}
    lines += ["    %s: %s" % (name, names.type(kind)) for name, kind in declared.items()]
    lines += [line for line in instance_attributes(cls, names) if line.split(":")[0].strip() not in declared]
    for member, value in cls.__dict__.items():
        if member in SKIPPED_MEMBERS or (member.startswith("_") and not member.startswith("__")):
            continue
        if is_enum(cls) and member in cls.__members__:
            continue
        if isinstance(value, property):
            # The getter's signature, or one the binding wrote at the start of the property's documentation.
            found, _ = signatures("", value.fget.__doc__ if value.fget else "")
            own_found, doc = signatures(member, value.__doc__ or "")
            found = found or own_found
            returns = names.type(found[0][1]) if found else "Any"
            if value.fget and not found and isinstance(value.fget, types.FunctionType):
                returns = python_signature(value.fget, names)[1]
            lines += ["    @property", "    def %s(self) -> %s:%s" % (member, returns, doc_body(doc, "    "))]
            if value.fset is not None:
                lines += ["    @%s.setter" % member, "    def %s(self, value: %s) -> None: ..." % (member, returns)]
        elif isinstance(value, staticmethod):
            lines += function_lines(member, value.__func__, names, "    ", True, "staticmethod")
        elif isinstance(value, classmethod):
            lines += function_lines(member, value.__func__, names, "    ", True, "classmethod")
        elif callable(value) and not isinstance(value, type):
            if member.startswith("__") and member not in ("__init__", "__call__", "__enter__", "__exit__",
                                                           "__iter__", "__next__", "__len__", "__getitem__",
                                                           "__int__", "__index__", "__eq__", "__ne__",
                                                           "__hash__", "__bool__", "__contains__", "__array__"):
                continue
            inherited = (value.__doc__ or "").startswith("Initialize self")
            if isinstance(value, types.FunctionType) or (value.__doc__ and not inherited):
                lines += function_lines(member, value, names, "    ", True, own_class=own)
        elif isinstance(value, type):
            if value.__qualname__ == cls.__qualname__ + "." + member:
                lines += ["    " + line for line in class_lines(member, value, names)]
        elif not member.startswith("_") and type(value).__module__ != "builtins":
            kind = type(value)
            lines.append("    %s: ClassVar[%s]" % (member, names.type(kind.__module__ + "." + kind.__qualname__)))
        elif not member.startswith("__") and type(value).__name__ == "pybind11_static_property":
            lines.append("    %s: ClassVar[Any]" % member)
        elif not member.startswith("__") and isinstance(value, (int, float, str, bytes, bool)):
            lines.append("    %s: ClassVar[%s]" % (member, type(value).__name__))
    if len(lines) == 1 or (len(lines) == 2 and lines[1].lstrip().startswith('"""')):
        lines.append("    ...")
    return lines


def public_names(module):
    names = getattr(module, "__all__", None)
    return sorted(names) if names is not None else sorted(n for n in dir(module) if not n.startswith("_"))


def referenced_modules(body, package_name):
    """The modules the signatures and annotations name (threading.Event, numpy.typing.NDArray, ...)."""
    code = [line for line in body if re.match(r"^\s*(def |@|\w+: |\w+ = )", line)]
    found = set()
    for prefix in re.findall(r"(?<![\w.])([a-z_]\w*(?:\.[a-z_]\w*)*)\.[A-Za-z_]\w*", "\n".join(code)):
        parts = prefix.split(".")
        for end in range(len(parts), 0, -1):
            candidate = ".".join(parts[:end])
            if parts[0] in (package_name, "self") or parts[0] in sys.modules[package_name].__dict__:
                break
            try:
                if importlib.util.find_spec(candidate) is not None:
                    found.add(candidate)
                    break
            except (ImportError, ValueError):
                continue
    return sorted(found)


def render(module, names, package_name):
    """The stub text of one module, and its submodules to render beside it."""
    body, submodules, aliases = [], [], []
    for name in public_names(module):
        value = getattr(module, name)
        if isinstance(value, types.ModuleType):
            if value.__name__.startswith(package_name):
                submodules.append((name, value))
            continue
        if names.module_name != package_name and getattr(sys.modules[package_name], name, None) is value:
            body.append("from %s import %s as %s" % (package_name, name, name))
        elif isinstance(value, type) and value.__name__ != name and getattr(module, value.__name__, None) is value:
            aliases.append("%s = %s" % (name, value.__name__))
        elif isinstance(value, type):
            body += [""] + class_lines(name, value, names)
        elif callable(value):
            body += function_lines(name, value, names, "", False)
        else:
            kind = type(value)
            spelled = names.spelling.get(kind.__module__ + "." + kind.__qualname__,
                                         kind.__name__ if kind.__module__ == "builtins" else "Any")
            body.append("%s: %s" % (name, spelled))
    head = ["# Generated from the built module by python/generate_stub.py: do not edit."]
    head += ["import " + module_name for module_name in referenced_modules(body, package_name)]
    head += ["from typing import " + ", ".join(TYPING_NAMES)]
    if "." in module.__name__ and module.__name__.split(".")[0] == package_name and names.module_name != package_name:
        head.append("import " + package_name)
    head += ["from . import %s as %s" % (name, name) for name, _ in submodules] if names.module_name == package_name else []
    return "\n".join(head + body + [""] + aliases) + "\n", submodules


def main():
    # The source package beside this script must not shadow the built one.
    here = Path(__file__).resolve().parent
    sys.path[:] = [entry for entry in sys.path if Path(entry or ".").resolve() != here]
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("package")
    parser.add_argument("-o", "--output", required=True, type=Path)
    options = parser.parse_args()
    package = importlib.import_module(options.package)
    text, submodules = render(package, Names(package, options.package), options.package)
    options.output.write_text(text)
    for name, submodule in submodules:
        names = Names(package, options.package + "." + name)
        sub_text, _ = render(submodule, names, options.package)
        # Signatures written by hand name the package's classes as its users do.
        used = sorted(name for name in public_names(package)
                      if re.search(r"(?<![\w.])%s\b" % name, sub_text) and getattr(submodule, name, None) is None)
        imports = ("" if "\nimport %s\n" % options.package in sub_text else "import %s\n" % options.package) + (
            "from %s import %s\n" % (options.package, ", ".join(used)) if used else "")
        sub_text = sub_text.replace("from typing import ", imports + "from typing import ", 1)
        (options.output.parent / (name + ".pyi")).write_text(sub_text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
