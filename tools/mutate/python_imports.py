"""Which test modules cover which modules: a test covers the modules it imports, directly or through other
modules of the folders. The map follows the imports themselves, so renamed modules keep their tests."""

from __future__ import annotations

import ast
from pathlib import Path


def imported_names(path: Path) -> set[str]:
    """The top-level module names a Python file imports, anywhere in it."""
    names: set[str] = set()
    for node in ast.walk(ast.parse(path.read_text(encoding="utf-8"))):
        if isinstance(node, ast.Import):
            names.update(alias.name.split(".")[0] for alias in node.names)
        elif isinstance(node, ast.ImportFrom) and node.module and node.level == 0:
            names.add(node.module.split(".")[0])
    return names


def covering_tests(tests: list[Path], modules: dict[str, Path]) -> dict[str, set[str]]:
    """Module name -> the names of the test modules that import it, directly or not."""
    imports = {name: imported_names(path) & modules.keys() for name, path in modules.items()}
    coverage: dict[str, set[str]] = {}
    for test in tests:
        reached: set[str] = set()
        todo = list(imported_names(test) & modules.keys())
        while todo:
            name = todo.pop()
            if name not in reached:
                reached.add(name)
                todo.extend(imports[name] - reached)
        for name in reached:
            coverage.setdefault(name, set()).add(test.stem)
    return coverage
