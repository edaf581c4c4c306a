"""Mutants of Python sources through the ast module. Each mutant replaces the source segment of one node
and keeps every other character of the file, and the line count, as it was: tracebacks and the printed
lines stay those of the file on disk."""

from __future__ import annotations

import ast
import copy

from mutant import Mutant

COMPARE_SWAPS = {
    ast.Lt: ast.LtE, ast.LtE: ast.Lt, ast.Gt: ast.GtE, ast.GtE: ast.Gt, ast.Eq: ast.NotEq, ast.NotEq: ast.Eq,
    ast.In: ast.NotIn, ast.NotIn: ast.In, ast.Is: ast.IsNot, ast.IsNot: ast.Is,
}
SYMBOLS = {
    ast.Lt: "<", ast.LtE: "<=", ast.Gt: ">", ast.GtE: ">=", ast.Eq: "==", ast.NotEq: "!=", ast.In: "in",
    ast.NotIn: "not in", ast.Is: "is", ast.IsNot: "is not", ast.And: "and", ast.Or: "or",
}
DROPPED = (ast.Expr, ast.AugAssign, ast.Return, ast.Raise, ast.Continue, ast.Break)


class _Offsets:
    """Character offsets of ast positions (whose columns count UTF-8 bytes)."""

    def __init__(self, source: str):
        self.lines = source.splitlines(keepends=True)
        self.starts = [0]
        for line in self.lines:
            self.starts.append(self.starts[-1] + len(line))

    def __call__(self, line: int, column: int) -> int:
        text = self.lines[line - 1] if line <= len(self.lines) else ""
        return self.starts[line - 1] + len(text.encode()[:column].decode(errors="replace"))


def _skipped_nodes(tree: ast.AST) -> set[int]:
    """Nodes no mutant touches: annotations, f-strings (whose inner positions are unreliable), docstrings,
    and the `if __name__ == "__main__"` block, which no test imports."""
    skipped: set[int] = set()

    def skip(node: ast.AST | None) -> None:
        if node is not None:
            skipped.update(id(inner) for inner in ast.walk(node))

    for node in ast.walk(tree):
        if isinstance(node, (ast.FunctionDef, ast.AsyncFunctionDef)):
            skip(node.returns)
            for argument in ast.walk(node.args):
                if isinstance(argument, ast.arg):
                    skip(argument.annotation)
        elif isinstance(node, ast.AnnAssign):
            skip(node.annotation)
        elif isinstance(node, ast.JoinedStr):
            skip(node)
        elif isinstance(node, ast.If) and "__name__" in ast.unparse(node.test):
            skip(node)
        if isinstance(node, (ast.Module, ast.ClassDef, ast.FunctionDef, ast.AsyncFunctionDef)) and node.body:
            first = node.body[0]
            if isinstance(first, ast.Expr) and isinstance(first.value, ast.Constant) and isinstance(
                    first.value.value, str):
                skip(first)
    return skipped


def mutants(source: str, path: str = "") -> list[Mutant]:
    """Every mutant of one Python source."""
    tree = ast.parse(source)
    offsets = _Offsets(source)
    skipped = _skipped_nodes(tree)
    found: list[Mutant] = []

    def span(node: ast.AST) -> tuple[int, int, int]:
        start = offsets(node.lineno, node.col_offset)
        end = offsets(node.end_lineno, node.end_col_offset)
        return start, end, node.end_lineno - node.lineno

    def expression(node: ast.AST, new: ast.AST, description: str) -> None:
        start, end, extra_lines = span(node)
        # Parentheses keep the precedence the node had, and let the line breaks stay inside them.
        text = "(" + ast.unparse(new) + "\n" * extra_lines + ")"
        found.append(Mutant(path, node.lineno, description, start, end, text))

    for node in ast.walk(tree):
        if id(node) in skipped:
            continue
        if isinstance(node, ast.Compare):
            for index, operator in enumerate(node.ops):
                swapped = COMPARE_SWAPS.get(type(operator))
                if swapped:
                    new = copy.deepcopy(node)
                    new.ops[index] = swapped()
                    expression(node, new, f"{SYMBOLS[type(operator)]} -> {SYMBOLS[swapped]}")
        elif isinstance(node, ast.BoolOp):
            new = copy.deepcopy(node)
            new.op = ast.Or() if isinstance(node.op, ast.And) else ast.And()
            expression(node, new, f"{SYMBOLS[type(node.op)]} -> {SYMBOLS[type(new.op)]}")
        elif isinstance(node, ast.Constant) and isinstance(node.value, bool):
            start, end, _ = span(node)
            found.append(Mutant(path, node.lineno, f"{node.value} -> {not node.value}", start, end,
                                str(not node.value)))
        elif isinstance(node, ast.Constant) and type(node.value) is int:
            start, end, _ = span(node)
            for changed in (node.value + 1, node.value - 1):
                found.append(Mutant(path, node.lineno, f"{source[start:end]} -> {changed}", start, end,
                                    f"({changed})" if changed < 0 else str(changed)))
        if isinstance(node, (ast.If, ast.While)) and id(node.test) not in skipped:
            start, end, _ = span(node.test)
            keyword = "if" if isinstance(node, ast.If) else "while"
            shown = " ".join(source[start:end].split())
            if len(shown) > 50:
                shown = shown[:47] + "..."
            found.append(Mutant(path, node.lineno, f"{keyword} {shown} -> {keyword} not (...)", start, end,
                                f"not ({source[start:end]})"))
        if isinstance(node, DROPPED) or (isinstance(node, ast.Assign) and all(
                isinstance(target, (ast.Attribute, ast.Subscript)) for target in node.targets)):
            if id(node) in skipped:
                continue
            start, end, extra_lines = span(node)
            shown = " ".join(source[start:end].split())
            if len(shown) > 60:
                shown = shown[:57] + "..."
            found.append(Mutant(path, node.lineno, f"drop `{shown}`", start, end, "pass" + "\n" * extra_lines))
    found.sort(key=lambda mutant: (mutant.start, mutant.end, mutant.replacement))
    return found
