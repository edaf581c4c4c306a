"""Mutants of C++ sources, made on tokens: comments, string and character literals and preprocessor lines
are never touched, and `<` / `>` change only where they stand as comparisons (a space on each side, as
clang-format writes a binary operator; a template's brackets have none inside them)."""

from __future__ import annotations

import re

from cpp_tokens import Token, matching, tokenize
from mutant import Mutant

INTEGER = re.compile(r"(?P<digits>0[xX][0-9A-Fa-f']+|[1-9][\d']*|0)(?P<suffix>[uUlLzZ]*)")

CONTROL_HEADS = {"if", "while", "for", "switch", "catch"}
# After these a `{` opens a block of statements (or a class, enum, or namespace, handled apart).
BLOCK_AFTER = {"else", "do", "try"}
SPECIFIERS_BEFORE_BODY = {"const", "noexcept", "override", "final", "mutable"}


def _spaced(source: str, token: Token) -> bool:
    """Whether a token stands between blanks, as a binary operator does in formatted code."""
    return (token.start > 0 and source[token.start - 1] in " \t\n" and token.end < len(source)
            and source[token.end] in " \t\n")


class _Structure:
    """Which braces open blocks of statements, where statements start, and the heads of if/while/for."""

    def __init__(self, tokens: list[Token]):
        self.tokens = tokens
        self.code_braces: dict[int, str] = {}  # index of "{" -> "function" or "control"
        self.statement_starts: set[int] = set()
        self.control_ends: dict[int, int] = {}  # index of "(" after a control keyword -> its ")"
        self.closing_kinds: dict[int, str | None] = {}  # index of "}" -> the kind of block it closes
        self._scan()

    def _kind_of_brace(self, index: int, stack: list[str]) -> str | None:
        tokens = self.tokens
        previous = index - 1
        while previous >= 0 and tokens[previous].text in SPECIFIERS_BEFORE_BODY:
            previous -= 1
        if previous < 0:
            return None
        before = tokens[previous]
        if before.text in BLOCK_AFTER:
            return "control"
        if before.text == ")":
            opening = matching(tokens, previous)
            if opening > 0 and tokens[opening - 1].text in CONTROL_HEADS:
                return "control"
            return "function"
        if before.text == "]":  # a lambda without parameters
            return "function"
        if before.text in (";", "{", "}") and stack and stack[-1] is not None:
            return "control"  # a nested block
        if before.text == ":" and stack and stack[-1] is not None:
            return "control"  # a case's block
        return None

    def _scan(self) -> None:
        tokens = self.tokens
        stack: list[str | None] = []
        pending_case = False
        index = 0
        while index < len(tokens):
            token = tokens[index]
            text = token.text
            in_code = bool(stack) and stack[-1] is not None
            if token.kind == "punctuator" and text == "{":
                kind = self._kind_of_brace(index, stack)
                stack.append(kind)
                if kind:
                    self.code_braces[index] = kind
                    self.statement_starts.add(index + 1)
            elif token.kind == "punctuator" and text == "}":
                closed = stack.pop() if stack else None
                self.closing_kinds[index] = closed
                if closed and stack and stack[-1] is not None:
                    self.statement_starts.add(index + 1)
            elif in_code and token.kind == "punctuator" and text == ";":
                self.statement_starts.add(index + 1)
            elif in_code and token.kind == "identifier" and text in ("case", "default"):
                pending_case = True
            elif in_code and pending_case and text == ":":
                pending_case = False
                self.statement_starts.add(index + 1)
            elif in_code and token.kind == "identifier" and text in ("else", "do"):
                self.statement_starts.add(index + 1)
            elif in_code and token.kind == "identifier" and text in ("if", "while", "for", "switch"):
                opening = index + 1
                if opening < len(tokens) and tokens[opening].text == "constexpr":
                    opening += 1
                if opening < len(tokens) and tokens[opening].text == "(":
                    closing = matching(tokens, opening)
                    self.control_ends[opening] = closing
                    self.statement_starts.add(closing + 1)
                    if text == "for":
                        index = closing  # the semicolons inside a for head start no statements
            index += 1

    def statement_end(self, start: int) -> int | None:
        """The index of the `;` that ends the simple statement starting at start, if it is one."""
        depth = 0
        for index in range(start, len(self.tokens)):
            token = self.tokens[index]
            if token.kind != "punctuator":
                continue
            if token.text in "([{":
                depth += 1
            elif token.text in ")]}":
                depth -= 1
                if depth < 0:
                    return None
            elif token.text == ";" and depth == 0:
                return index
        return None


ASSIGNMENTS = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="}


def _capacity_hint(tokens: list[Token], start: int, end: int) -> bool:
    """Whether the statement tokens[start:end+1] is only `name.reserve(...);`."""
    if tokens[end - 1].text != ")":
        return False
    call = matching(tokens, end - 1)
    if call - 2 <= start or tokens[call - 1].text != "reserve" or tokens[call - 2].text not in (".", "->"):
        return False
    return all(token.kind == "identifier" or token.text in ("::", ".", "->") for token in tokens[start:call - 2])


def _droppable(tokens: list[Token], start: int, end: int) -> bool:
    """Whether the statement tokens[start:end+1] does something that dropping it takes away: a call, an
    assignment, an increment, a return, break or continue; never a declaration, whose removal only
    breaks the build."""
    first = tokens[start]
    if first.text in ("return", "break", "continue", "throw"):
        return True
    if first.text in ("++", "--"):
        return True
    if first.kind != "identifier" or first.text in ("if", "while", "for", "switch", "do", "else", "case",
                                                      "default", "goto", "using", "typedef", "static_assert", "catch",
                                                      "try"):
        return False
    # A qualified or member name, then a call, an assignment or an increment.
    index = start + 1
    while index < end:
        text = tokens[index].text
        if text in ("::", ".", "->"):
            if index + 1 < end and tokens[index + 1].kind == "identifier":
                index += 2
                continue
            return False
        if text == "[":
            index = matching(tokens, index) + 1
            continue
        return text in ("(", "++", "--") or text in ASSIGNMENTS
    return False


def _integer_variants(text: str) -> list[str]:
    match = INTEGER.fullmatch(text)
    if not match:
        return []
    digits, suffix = match.group("digits"), match.group("suffix")
    value = int(digits.replace("'", ""), 0)
    hexadecimal = digits[:2].lower() == "0x"
    variants = []
    for changed in (value + 1, value - 1):
        if changed < 0:
            continue
        variants.append((hex(changed) if hexadecimal else str(changed)) + suffix)
    return variants


def mutants(source: str, path: str = "") -> list[Mutant]:
    """Every mutant of one C++ source, each a single change of a few tokens."""
    tokens = tokenize(source)
    structure = _Structure(tokens)
    found: list[Mutant] = []

    def replace(start: int, end: int, text: str, description: str, line: int) -> None:
        found.append(Mutant(path, line, description, start, end, text))

    swaps = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "==", "&&": "||", "||": "&&"}
    for index, token in enumerate(tokens):
        if token.kind == "punctuator" and token.text in swaps and _spaced(source, token):
            new = swaps[token.text]
            replace(token.start, token.end, new, f"{token.text} -> {new}", token.line)
        elif token.kind == "identifier" and token.text in ("true", "false"):
            new = "false" if token.text == "true" else "true"
            replace(token.start, token.end, new, f"{token.text} -> {new}", token.line)
        elif token.kind == "number":
            if (token.text == "0" and index >= 2 and tokens[index - 1].text == "="
                    and tokens[index - 2].text in {")", *SPECIFIERS_BEFORE_BODY}):
                continue  # a pure virtual function's "= 0": any other number only breaks the build
            for new in _integer_variants(token.text):
                replace(token.start, token.end, new, f"{token.text} -> {new}", token.line)

    # A bool that is passed or stored, replaced by each constant: a flag handed on (`Fill{..., cutShort}`,
    # `Finish(context, cutShort)`, `done = cutShort;`) whose value no test tells apart. Only names that this
    # source declares as bool, so that no other type's value becomes a constant.
    bool_names = {tokens[index + 1].text for index, token in enumerate(tokens[:-1])
                  if token.text == "bool" and tokens[index + 1].kind == "identifier"}
    for index, token in enumerate(tokens[1:-1], start=1):
        if token.kind != "identifier" or token.text not in bool_names:
            continue
        before, after = tokens[index - 1].text, tokens[index + 1].text
        condition = before == "(" and index >= 2 and tokens[index - 2].text in CONTROL_HEADS
        passed = before in ("(", "{", ",") and after in (",", ")", "}") and not condition
        stored = before == "=" and after == ";"
        if passed or stored:
            for constant in ("true", "false"):
                replace(token.start, token.end, constant, f"{token.text} -> {constant}", token.line)

    # Negated conditions of if and while.
    for opening, closing in sorted(structure.control_ends.items()):
        keyword = tokens[opening - 1].text
        if keyword == "constexpr" or keyword not in ("if", "while"):
            continue
        inner = source[tokens[opening + 1].start:tokens[closing - 1].end]
        if ";" in (token.text for token in tokens[opening + 1:closing]):
            continue  # an if with an initialiser
        shown = " ".join(inner.split())
        if len(shown) > 50:
            shown = shown[:47] + "..."
        replace(tokens[opening].start, tokens[closing].end, f"(!({inner}))", f"{keyword} ({shown}) -> {keyword} (!(...))",
                tokens[opening].line)

    # Dropped statements and early returns.
    for start in sorted(structure.statement_starts):
        if start >= len(tokens):
            continue
        end = structure.statement_end(start)
        if end is None or not _droppable(tokens, start, end):
            continue
        if (tokens[start].text == "return" and end + 1 < len(tokens)
                and structure.closing_kinds.get(end + 1) == "function"):
            continue  # a function's last return: without it the function does not build
        if _capacity_hint(tokens, start, end):
            continue  # like the hint's arguments below: dropping it changes only speed
        statement = source[tokens[start].start:tokens[end].end]
        shown = " ".join(statement.split())
        if len(shown) > 60:
            shown = shown[:57] + "..."
        replace(tokens[start].start, tokens[end].end, "{}", f"drop `{shown}`", tokens[start].line)
    # A capacity hint changes only how often a container allocates, never what it holds: a mutant of
    # `reserve(...)`'s arguments, or one that drops the hint, is equivalent by construction.
    hints = [(tokens[index + 1].end, tokens[matching(tokens, index + 1)].start)
             for index, token in enumerate(tokens[1:-1], start=1)
             if token.kind == "identifier" and token.text == "reserve" and tokens[index - 1].text in (".", "->")
             and tokens[index + 1].text == "("]
    found = [mutant for mutant in found
             if not any(start <= mutant.start and mutant.end <= end for start, end in hints)]
    found.sort(key=lambda mutant: (mutant.start, mutant.end, mutant.replacement))
    return found
