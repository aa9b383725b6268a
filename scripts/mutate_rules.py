"""Faults made by rule for scripts/mutate --rules.

Every relational operator of a C++ file gives the faults that move its boundary by one ("<" and "<=",
">" and ">=" swapped, "==" and "!=" swapped), and every integer constant in the operands of a comparison
(a literal, or a constant named kSomething) gives the faults that add one and subtract one. The scanner
knows enough C++ to leave alone what only looks like a comparison: comments, string and character
literals, preprocessor lines, template brackets, shifts and "->"."""

import re
from dataclasses import dataclass

KEYWORDS = {
    "alignas", "alignof", "and", "asm", "auto", "bool", "break", "case", "catch", "char", "class", "const",
    "constexpr", "const_cast", "continue", "decltype", "default", "delete", "do", "double", "dynamic_cast",
    "else", "enum", "explicit", "extern", "false", "float", "for", "friend", "goto", "if", "inline", "int",
    "long", "mutable", "namespace", "new", "noexcept", "not", "nullptr", "operator", "or", "private",
    "protected", "public", "register", "reinterpret_cast", "return", "short", "signed", "sizeof", "static",
    "static_assert", "static_cast", "struct", "switch", "template", "this", "throw", "true", "try", "typedef",
    "typeid", "typename", "union", "unsigned", "using", "virtual", "void", "volatile", "while",
}
# Keywords that may stand before a template's "<".
TEMPLATE_KEYWORDS = {"template", "static_cast", "const_cast", "reinterpret_cast", "dynamic_cast"}
# Type words that may stand inside a template's brackets.
TYPE_KEYWORDS = {"bool", "char", "const", "double", "float", "int", "long", "short", "signed", "unsigned",
                 "void", "volatile", "typename", "class", "auto", "struct", "noexcept", "decltype", "sizeof"}

PUNCTUATORS = sorted([
    "<<=", ">>=", "<=>", "->*", "...", "::", "->", "++", "--", "<<", ">>", "<=", ">=", "==", "!=", "&&", "||",
    "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", ".*", "##",
], key=len, reverse=True)

RELATIONAL = {"<": "<=", "<=": "<", ">": ">=", ">=": ">", "==": "!=", "!=": "=="}
ASSIGNMENTS = {"=", "+=", "-=", "*=", "/=", "%=", "&=", "|=", "^=", "<<=", ">>="}
# What ends an operand of a comparison at its own bracket depth.
OPERAND_ENDS = {"&&", "||", "?", ":", ",", ";", "{", "}", "return", "case", "and", "or", "throw"} | ASSIGNMENTS


@dataclass
class Token:
    kind: str  # "id", "num", "str", "chr", "op"
    text: str
    line: int  # 1-based
    col: int  # offset in its line
    integer: bool = False
    pos: int = 0  # offset in the file


@dataclass
class Fault:
    file: str
    line: int  # 1-based
    original: str  # the whole line as it is
    mutated: str  # the whole line with the fault
    what: str  # e.g. "< -> <=" or "20 -> 21"
    token: int = 0  # the token it changes
    replacement: str = ""  # what that token becomes
    span: tuple = ()  # an operator's operands: the first and the last token
    joined: int = 0  # lines after the first that the fault's line spans (a statement wrapped by the formatter)


def tokenize(text):
    tokens = []
    i, n = 0, len(text)
    line, line_start = 1, 0
    at_line_start = True
    while i < n:
        c = text[i]
        if c == "\n":
            line += 1
            line_start = i + 1
            at_line_start = True
            i += 1
            continue
        if c in " \t\r\f\v":
            i += 1
            continue
        if c == "\\" and text.startswith("\n", i + 1):
            i += 1
            continue
        if c == "#" and at_line_start:
            # A preprocessor line, with its continuations: "#include <x>" is no comparison.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    i += 1
                    line += 1
                    line_start = i + 1
                elif text.startswith("/*", i):
                    end = text.find("*/", i + 2)
                    end = n if end < 0 else end + 2
                    line += text.count("\n", i, end)
                    if text.rfind("\n", i, end) >= 0:
                        line_start = text.rfind("\n", i, end) + 1
                    i = end
                    continue
                i += 1
            continue
        at_line_start = False
        if text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
            continue
        if text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            newlines = text.count("\n", i, end)
            if newlines:
                line += newlines
                line_start = text.rfind("\n", i, end) + 1
            i = end
            continue
        start, col = i, i - line_start
        m = re.compile(r'(?:u8|u|U|L)?R"([^ ()\\\t\n]{0,16})\(').match(text, i)
        if m:
            end = text.find(")" + m.group(1) + '"', m.end())
            end = n if end < 0 else end + len(m.group(1)) + 2
            tokens.append(Token("str", text[start:end], line, col, pos=start))
            newlines = text.count("\n", start, end)
            if newlines:
                line += newlines
                line_start = text.rfind("\n", start, end) + 1
            i = end
            continue
        m = re.compile(r"(?:u8|u|U|L)?(['\"])").match(text, i)
        if m:
            quote = m.group(1)
            i = m.end()
            while i < n and text[i] != quote and text[i] != "\n":
                i += 2 if text[i] == "\\" else 1
            i += 1
            tokens.append(Token("str" if quote == '"' else "chr", text[start:i], line, col, pos=start))
            continue
        m = re.compile(r"\.?[0-9](?:[eEpP][+-]|'[0-9A-Za-z]|[0-9A-Za-z_.])*").match(text, i)
        if m:
            t = m.group(0)
            lower = t.lower()
            if lower.startswith("0x"):
                integer = "." not in t and "p" not in lower
            else:
                integer = "." not in t and "e" not in lower and not lower.endswith("f")
            tokens.append(Token("num", t, line, col, integer, start))
            i = m.end()
            continue
        m = re.compile(r"[A-Za-z_][A-Za-z0-9_]*").match(text, i)
        if m:
            tokens.append(Token("id", m.group(0), line, col, pos=start))
            i = m.end()
            continue
        for p in PUNCTUATORS:
            if text.startswith(p, i):
                break
        else:
            p = c
        tokens.append(Token("op", p, line, col, pos=start))
        i += len(p)
    return tokens


def _template_close(tokens, open_index):
    """The index of the ">" (or ">>") that closes a template's "<" at open_index, or None when the "<"
    is no template bracket. Only type-like tokens may stand between, and something that may follow a
    template name must follow it."""
    depth = 1
    parens = 0
    i = open_index + 1
    while i < len(tokens):
        t = tokens[i]
        if t.kind == "op":
            if t.text == "<":
                if i > 0 and tokens[i - 1].kind == "id":
                    depth += 1
                else:
                    return None
            elif t.text in (">", ">>"):
                if parens:
                    return None
                depth -= len(t.text)
                if depth == 0:
                    break
                if depth < 0:
                    return None
            elif t.text == "(":
                parens += 1
            elif t.text == ")":
                parens -= 1
                if parens < 0:
                    return None
            elif t.text not in ("::", ",", "*", "&", "&&", "..."):
                return None
            elif t.text == "&&" and not (i + 1 < len(tokens) and tokens[i + 1].text in (">", ",", ")")):
                return None
        elif t.kind == "id":
            if t.text in KEYWORDS and t.text not in TYPE_KEYWORDS:
                return None
        elif t.kind != "num":
            return None
        i += 1
    else:
        return None
    if i + 1 >= len(tokens):
        return i
    follow = tokens[i + 1]
    if follow.kind == "id" or follow.text in ("(", "{", "::", ">", ">>", ")", ",", ";", "&", "&&", "*", "...",
                                                "=", "["):
        return i
    return None


def _template_brackets(tokens):
    """Indexes of every token that is a template bracket rather than an operator."""
    brackets = set()
    for i, t in enumerate(tokens):
        if t.text != "<" or t.kind != "op" or i in brackets or i == 0:
            continue
        before = tokens[i - 1]
        if before.kind != "id" or (before.text in KEYWORDS and before.text not in TEMPLATE_KEYWORDS):
            continue
        close = _template_close(tokens, i)
        if close is None:
            continue
        # The brackets nested inside are template brackets too.
        brackets.add(i)
        brackets.add(close)
        for j in range(i + 1, close):
            if tokens[j].text in ("<", ">", ">>"):
                brackets.add(j)
    return brackets


def _is_constant(tokens, i):
    t = tokens[i]
    if t.kind == "num":
        return t.integer
    if t.kind != "id" or not re.fullmatch(r"k[A-Z][A-Za-z0-9_]*", t.text):
        return False
    before = tokens[i - 1].text if i > 0 else ""
    after = tokens[i + 1].text if i + 1 < len(tokens) else ""
    return before not in ("::", ".", "->") and after not in ("(", "::", "<")


def _operand_end(tokens, start, step, brackets):
    """The index of the last token of the operand that begins at start and runs one step at a time:
    up to the first token that ends it at its own bracket depth."""
    opens, closes = ("(", "[", "{"), (")", "]", "}")
    if step < 0:
        opens, closes = closes, opens
    depth = 0
    template = 0
    last = start - step
    i = start
    while 0 <= i < len(tokens):
        t = tokens[i]
        if i in brackets:
            template += (1 if t.text == "<" else -len(t.text)) * step
        elif t.kind == "op" and t.text in opens:
            depth += 1
        elif t.kind == "op" and t.text in closes:
            depth -= 1
            if depth < 0:
                break
        elif depth == 0 and template <= 0 and (t.text in OPERAND_ENDS or t.kind == "op" and t.text in RELATIONAL):
            break
        last = i
        i += step
    return last


def _constants_in(tokens, first, last, brackets):
    """Constants of the tokens first..last that belong to the comparison: not those of call arguments,
    subscripts or template arguments."""
    found = []
    stack = []  # for each open bracket: does it only group?
    template = 0
    for i in range(first, last + 1):
        t = tokens[i]
        if i in brackets:
            template += 1 if t.text == "<" else -len(t.text)
            continue
        if t.kind == "op" and t.text in ("(", "[", "{"):
            before = tokens[i - 1] if i > 0 else None
            call = t.text != "(" or before is not None and (
                before.kind == "id" and before.text not in KEYWORDS or before.text in (")", "]")
                or i - 1 in brackets)
            stack.append(not call)
        elif t.kind == "op" and t.text in (")", "]", "}"):
            if stack:
                stack.pop()
        elif template <= 0 and all(stack) and _is_constant(tokens, i):
            found.append(i)
    return found


def _plus_minus(text):
    """The texts of an integer literal plus one and minus one, in its own base and with its suffix."""
    m = re.fullmatch(r"(0[xX][0-9A-Fa-f']+|0[bB][01']+|[0-9']+)([uUlLzZ]*)", text)
    if not m:
        return []
    digits, suffix = m.group(1), m.group(2)
    clean = digits.replace("'", "")
    if clean[:2] in ("0x", "0X"):
        value, base = int(clean, 16), "x"
    elif clean[:2] in ("0b", "0B"):
        value, base = int(clean[2:], 2), "b"
    elif len(clean) > 1 and clean.startswith("0"):
        value, base = int(clean, 8), "o"
    else:
        value, base = int(clean), "d"

    def spell(v):
        sign = "-" if v < 0 else ""
        v = abs(v)
        if base == "x":
            body = format(v, "X" if any(ch in "ABCDEF" for ch in clean[2:]) else "x")
            return sign + clean[:2] + body.rjust(len(clean) - 2, "0") + suffix
        if base == "b":
            return sign + clean[:2] + format(v, "b") + suffix
        if base == "o":
            return sign + "0" + format(v, "o") + suffix
        return sign + str(v) + suffix

    return [spell(value + 1), spell(value - 1)]


def faults(path, text):
    """Every rule-made fault of one file, in the order of the file."""
    tokens = tokenize(text)
    brackets = _template_brackets(tokens)
    lines = text.split("\n")
    out = []
    seen = set()

    def add(index, replacement, what, span=()):
        token = tokens[index]
        line = lines[token.line - 1]
        mutated = line[:token.col] + replacement + line[token.col + len(token.text):]
        key = (token.line, mutated)
        if key not in seen:
            seen.add(key)
            out.append(Fault(path, token.line, line, mutated, what, index, replacement, span))

    constants = []
    for i, t in enumerate(tokens):
        if t.kind != "op" or t.text not in RELATIONAL or i in brackets:
            continue
        if i > 0 and tokens[i - 1].text == "operator":
            continue
        first = _operand_end(tokens, i - 1, -1, brackets)
        last = _operand_end(tokens, i + 1, 1, brackets)
        add(i, RELATIONAL[t.text], f"{t.text} -> {RELATIONAL[t.text]}", (first, last))
        constants += _constants_in(tokens, first, i - 1, brackets)
        constants += _constants_in(tokens, i + 1, last, brackets)
    for i in sorted(set(constants)):
        t = tokens[i]
        if t.kind == "num":
            for replacement in _plus_minus(t.text):
                text_before = lines[t.line - 1][:t.col]
                spaced = " " + replacement if replacement.startswith("-") and text_before.endswith(("-", "+")) \
                    else replacement
                add(i, spaced, f"{t.text} -> {replacement}")
        else:
            add(i, f"({t.text} + 1)", f"{t.text} -> {t.text} + 1")
            add(i, f"({t.text} - 1)", f"{t.text} -> {t.text} - 1")
    out.sort(key=lambda f: f.line)
    return out


# Switches every fault of a file on by the number in VELTRA_MUTANT, so that one build of the file serves
# all of them and each costs only a run of the tests.
SCHEMATA_PRELUDE = """#include <cstdlib>
namespace { [[maybe_unused]] int veltra_mutant_id_() { static const int id = [] { const char* s = std::getenv("VELTRA_MUTANT"); return s == nullptr ? 0 : std::atoi(s); }(); return id; } [[maybe_unused]] bool veltra_mutant_(int id) { return veltra_mutant_id_() == id; } [[maybe_unused]] int veltra_mutant_delta_(int plus, int minus) { return veltra_mutant_id_() == plus ? 1 : veltra_mutant_id_() == minus ? -1 : 0; } }
"""


def schemata(text, file_faults):
    """The file with every fault in it, each behind its number (the position in file_faults, from 1);
    None where a comparison is an operand of another (a < b == c), which would need more care than
    operands are given here."""
    tokens = tokenize(text)
    brackets = _template_brackets(tokens)
    ops, deltas = {}, {}
    for number, fault in enumerate(file_faults, 1):
        if fault.span:
            first, last = fault.span
            for edge in (first - 1, last + 1):
                if 0 <= edge < len(tokens) and tokens[edge].text in RELATIONAL and edge not in brackets:
                    return None
            ops[fault.token] = (first, last, number, fault.replacement)
        else:
            deltas.setdefault(fault.token, [0, 0])
    # Which sign each constant fault has: the replacement is the literal plus one or minus one.
    for number, fault in enumerate(file_faults, 1):
        if not fault.span:
            original, changed = fault.what.split(" -> ")
            plus = changed.endswith(" + 1") or (not changed.endswith(" - 1") and _plus_minus(original)[0] == changed)
            deltas[fault.token][0 if plus else 1] = number

    def gap(i):
        """The text between token i and the next one, without comments: a line comment inside an operand
        would swallow what is added after it on its line."""
        end = tokens[i].pos + len(tokens[i].text)
        between = text[end:tokens[i + 1].pos] if i + 1 < len(tokens) else text[end:]
        return re.sub(r"//[^\n]*|/\*.*?\*/", " ", between, flags=re.S)

    def render(lo, hi):
        out = []
        i = lo
        while i <= hi:
            site = None
            for j, (first, last, number, replacement) in ops.items():
                if first == i and last <= hi and j <= hi and (site is None or last > site[1]) and (lo, hi) != (first, last):
                    site = (first, last, number, replacement, j)
            if site is not None:
                first, last, number, replacement, j = site
                left, right = render(first, j - 1), render(j + 1, last)
                out.append(f"(veltra_mutant_({number}) ? ({left} {replacement} {right}) : "
                           f"({left} {tokens[j].text} {right}))")
                out.append(gap(last))
                i = last + 1
                continue
            t = tokens[i]
            if i in deltas:
                out.append(f"({t.text} + veltra_mutant_delta_({deltas[i][0]}, {deltas[i][1]}))")
            else:
                out.append(t.text)
            if i < hi:
                out.append(gap(i))
            i += 1
        return "".join(out)

    if not tokens:
        return SCHEMATA_PRELUDE + text
    head = text[:tokens[0].pos]
    out = SCHEMATA_PRELUDE + head + render(0, len(tokens) - 1) + gap(len(tokens) - 1)
    if any(f"veltra_mutant_({number})" not in out for _, _, number, _ in ops.values()):
        return None  # operands that overlap without nesting: no place for some fault
    return out


def function_lines(text, names):
    """The lines (first, last) of the bodies of the functions named, for faults in part of a file."""
    tokens = tokenize(text)
    spans = []
    for i, t in enumerate(tokens):
        if t.kind != "id" or t.text not in names or i + 1 >= len(tokens) or tokens[i + 1].text != "(":
            continue
        j, depth = i + 1, 0
        while j < len(tokens) and not (depth == 0 and tokens[j].text in ("{", ";")):
            depth += tokens[j].text == "("
            depth -= tokens[j].text == ")"
            j += 1
        if j >= len(tokens) or tokens[j].text != "{":
            continue  # a call or a declaration
        depth, k = 0, j
        while k < len(tokens):
            depth += tokens[k].text == "{"
            depth -= tokens[k].text == "}"
            if depth == 0:
                break
            k += 1
        spans.append((t.line, tokens[min(k, len(tokens) - 1)].line))
    return spans
