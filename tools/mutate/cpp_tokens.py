"""A C++ tokenizer for the mutants: identifiers, numbers, literals and punctuators with their offsets and
lines; comments and preprocessor lines are left out, string, character and raw string literals are one
token each."""

from __future__ import annotations

import re
from dataclasses import dataclass

# Longest first: the lexer takes the longest punctuator that matches.
PUNCTUATORS = sorted(
    """<<= >>= <=> ->* ... :: -> ++ -- << >> <= >= == != && || += -= *= /= %= &= |= ^= .* ## { } [ ] ( ) ; :
    ? , . + - * / % ^ & | ~ ! = < > #""".split(),
    key=len,
    reverse=True,
)
IDENTIFIER = re.compile(r"[A-Za-z_]\w*")
NUMBER = re.compile(r"(?:0[xX][0-9A-Fa-f']+|\d[\d']*)(?:\.[\d']*)?(?:[eEpP][+-]?\d+)?[A-Za-z_]*|\.\d[\d']*[A-Za-z_]*")
RAW_STRING = re.compile(r'(?:u8|[uUL])?R"(?P<delimiter>[^()\\\s]{0,16})\(')
STRING_PREFIX = re.compile(r'(?:u8|[uUL])?(?=["\'])')


@dataclass
class Token:
    kind: str  # "identifier", "number", "literal", "punctuator"
    text: str
    start: int
    end: int
    line: int


class LexError(ValueError):
    pass


def tokenize(source: str) -> list[Token]:
    """The tokens of a C++ source outside comments and preprocessor lines."""
    tokens: list[Token] = []
    position, line, at_line_start = 0, 1, True
    length = len(source)
    while position < length:
        char = source[position]
        if char == "\n":
            line += 1
            position += 1
            at_line_start = True
            continue
        if char in " \t\r\f\v":
            position += 1
            continue
        if char == "\\" and source.startswith("\n", position + 1):
            position += 2
            line += 1
            continue
        if source.startswith("//", position):
            end = source.find("\n", position)
            position = length if end < 0 else end
            continue
        if source.startswith("/*", position):
            end = source.find("*/", position + 2)
            if end < 0:
                raise LexError(f"line {line}: unterminated comment")
            line += source.count("\n", position, end)
            position = end + 2
            continue
        if char == "#" and at_line_start:
            # A preprocessor line, with its continuations; comments inside it end with it or are skipped.
            end = position
            while True:
                newline = source.find("\n", end)
                if newline < 0:
                    end = length
                    break
                if source[newline - 1] == "\\":
                    end = newline + 1
                    continue
                end = newline
                break
            line += source.count("\n", position, end)
            position = end
            continue
        at_line_start = False
        raw = RAW_STRING.match(source, position)
        if raw:
            closing = ")" + raw.group("delimiter") + '"'
            end = source.find(closing, raw.end())
            if end < 0:
                raise LexError(f"line {line}: unterminated raw string")
            end += len(closing)
            tokens.append(Token("literal", source[position:end], position, end, line))
            line += source.count("\n", position, end)
            position = end
            continue
        prefix = STRING_PREFIX.match(source, position)
        if prefix and (prefix.end() > position or char in "\"'"):
            quote = source[prefix.end()]
            end = prefix.end() + 1
            while end < length and source[end] != quote:
                if source[end] == "\n":
                    raise LexError(f"line {line}: unterminated literal")
                end += 2 if source[end] == "\\" else 1
            if end >= length:
                raise LexError(f"line {line}: unterminated literal")
            end += 1
            suffix = IDENTIFIER.match(source, end)  # user-defined literal suffixes (""sv)
            if suffix:
                end = suffix.end()
            tokens.append(Token("literal", source[position:end], position, end, line))
            position = end
            continue
        number = NUMBER.match(source, position)
        if number and (char.isdigit() or char == "."):
            tokens.append(Token("number", number.group(), position, number.end(), line))
            position = number.end()
            continue
        identifier = IDENTIFIER.match(source, position)
        if identifier:
            tokens.append(Token("identifier", identifier.group(), position, identifier.end(), line))
            position = identifier.end()
            continue
        for punctuator in PUNCTUATORS:
            if source.startswith(punctuator, position):
                tokens.append(Token("punctuator", punctuator, position, position + len(punctuator), line))
                position += len(punctuator)
                break
        else:
            raise LexError(f"line {line}: unexpected character {char!r}")
    return tokens


BRACKETS = {"(": ")", "[": "]", "{": "}"}


def matching(tokens: list[Token], index: int) -> int:
    """The index of the bracket that pairs with the one at index: forwards from an opening bracket,
    backwards from a closing one."""
    here = tokens[index].text
    forwards = here in BRACKETS
    other = BRACKETS[here] if forwards else next(opening for opening, closing in BRACKETS.items() if closing == here)
    depth = 0
    for position in range(index, len(tokens)) if forwards else range(index, -1, -1):
        text = tokens[position].text
        if tokens[position].kind != "punctuator":
            continue
        if text == here:
            depth += 1
        elif text == other:
            depth -= 1
            if depth == 0:
                return position
    raise LexError(f"line {tokens[index].line}: unbalanced {here!r}")
