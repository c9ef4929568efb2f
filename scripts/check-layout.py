#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks the source tree's layout rules, on every test run:

- the folders of src/ include each other one way only (no cycle), and core/
  includes nothing from another folder;
- no function in src/ is over 100 lines (data tables are not functions);
- the owner protocol's field names are written as literals in one file.

Prints each breach and exits 1 if there is one. Reads the source as text: a
small C++ lexer drops comments and literals, then braces are matched.
"""
import os
import re
import sys

MAX_FUNCTION_LINES = 100
# Folders that may include only themselves.
SELF_CONTAINED = {"core"}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def sources(root):
    for folder, _, names in os.walk(root):
        for name in sorted(names):
            if name.endswith((".cpp", ".h")):
                yield os.path.join(folder, name)


def folder_of(src, path):
    return os.path.relpath(path, src).split(os.sep)[0]


def include_graph(src):
    edges = {}
    for path in sources(src):
        here = folder_of(src, path)
        with open(path, encoding="utf-8", errors="replace") as f:
            for target in INCLUDE.findall(f.read()):
                there = target.split("/")[0]
                if "/" in target and there != here:
                    edges.setdefault(here, {}).setdefault(there, []).append(os.path.relpath(path, src))
    return edges


def find_cycle(edges):
    state = {}
    stack = []

    def visit(node):
        state[node] = "open"
        stack.append(node)
        for nxt in sorted(edges.get(node, {})):
            if state.get(nxt) == "open":
                return stack[stack.index(nxt):] + [nxt]
            if nxt not in state:
                found = visit(nxt)
                if found:
                    return found
        stack.pop()
        state[node] = "done"
        return None

    for node in sorted(edges):
        if node not in state:
            found = visit(node)
            if found:
                return found
    return None


def strip_code(text):
    """The text with comments removed and every literal emptied; lines kept."""
    out = []
    i, n = 0, len(text)
    raw = re.compile(r'(?:u8|u|U|L)?R"([^(\s"]{0,16})\(')
    while i < n:
        if text.startswith("//", i):
            j = text.find("\n", i)
            i = n if j < 0 else j
            continue
        if text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("\n" * text.count("\n", i, j))
            i = j
            continue
        m = raw.match(text, i)
        if m and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            end = ")" + m.group(1) + '"'
            j = text.find(end, m.end())
            j = n if j < 0 else j + len(end)
            out.append('""' + "\n" * text.count("\n", i, j))
            i = j
            continue
        c = text[i]
        # A quote after a digit is a digit separator (1'000), not a literal.
        if c == '"' or (c == "'" and not (i > 0 and text[i - 1].isalnum())):
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
            continue
        out.append(c)
        i += 1
    return "".join(out)


BLOCK_KEYWORD = re.compile(r"^\s*(?:if|for|while|switch|catch|do|else|try)\b")
# A brace right after a name, in a constructor's initialiser list.
MEMBER_INIT = re.compile(r"\)\s*(?:noexcept\s*)?:\s*\w.*\w\s*$", re.S)
QUALIFIERS = re.compile(r"\b(?:const|noexcept|override|final|mutable|volatile)\b")


def opens_function(before):
    """Whether the text before a brace, back to the last ; { or }, ends a
    function's head: a parameter list, maybe qualified, or a constructor's
    member initialisers."""
    head = before.strip()
    if not head or BLOCK_KEYWORD.match(head):
        return False
    if "=" in head.split("(")[0]:
        return False  # a variable or a table being initialised
    bare = QUALIFIERS.sub("", head).strip()
    bare = re.sub(r"->[^()]*$", "", bare).strip()
    if bare.endswith(")"):
        return True
    return re.search(r"\)\s*(?:noexcept\s*)?:\s*\w", head) is not None


def long_functions(path):
    with open(path, encoding="utf-8", errors="replace") as f:
        code = strip_code(f.read())
    found = []
    stack = []  # (is a function body, where it opened, its head)
    last = 0
    for i, c in enumerate(code):
        if c == "{":
            in_function = any(entry[0] is True for entry in stack)
            head = code[last:i]
            if not in_function and MEMBER_INIT.search(head):
                # `b_{a}` among a constructor's initialisers: the head goes on.
                stack.append(("init", i, head))
                continue
            stack.append((not in_function and opens_function(head), i, head))
            last = i + 1
        elif c == "}":
            if stack:
                is_function, start, head = stack.pop()
                if is_function == "init":
                    continue
                if is_function:
                    first = code.count("\n", 0, start) + 1
                    lines = code.count("\n", start, i) + 1
                    if lines > MAX_FUNCTION_LINES:
                        name = re.search(r"([\w:~]+)\s*\(", head)
                        found.append((first, name.group(1) if name else "?", lines))
            last = i + 1
        elif c == ";":
            last = i + 1
    return found


def protocol_fields(src):
    """The owner protocol's field names, as its one file declares them
    (`inline constexpr ... kField... = "name";`), with that file."""
    path = os.path.join(src, "protocol", "owner_protocol.h")
    if not os.path.exists(path):
        return None, set()
    with open(path, encoding="utf-8") as f:
        names = set(re.findall(r'constexpr[^=;]*\bk\w+\s*=\s*"([a-z_]+)"', f.read()))
    return path, names


def main():
    root = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), ".."))
    src = os.path.join(root, "src")
    problems = []

    edges = include_graph(src)
    cycle = find_cycle(edges)
    if cycle:
        steps = []
        for a, b in zip(cycle, cycle[1:]):
            steps.append(f"{a} -> {b} ({edges[a][b][0]})")
        problems.append("folders include each other: " + ", ".join(steps))
    for folder in sorted(SELF_CONTAINED):
        for there, where in sorted(edges.get(folder, {}).items()):
            problems.append(f"{folder}/ includes {there}/ ({', '.join(sorted(set(where)))})")

    for path in sources(src):
        for first, name, lines in long_functions(path):
            problems.append(f"{os.path.relpath(path, root)}:{first}: {name} is {lines} lines (at most {MAX_FUNCTION_LINES})")

    home, fields = protocol_fields(src)
    if home:
        for path in sources(src):
            if os.path.samefile(path, home) or path == home.replace(".h", ".cpp"):
                continue
            with open(path, encoding="utf-8", errors="replace") as f:
                text = f.read()
            for name in sorted(fields):
                if re.search(r'QStringLiteral\("' + name + r'"\)|QLatin1String\("' + name + r'"\)|\["' + name + r'"\]|value\("' + name + r'"\)', text):
                    problems.append(f"{os.path.relpath(path, root)}: the owner protocol's field \"{name}\" written by hand")

    for problem in problems:
        print(problem)
    if problems:
        return 1
    arrows = "; ".join(f"{a} -> {', '.join(sorted(b))}" for a, b in sorted(edges.items()))
    print(f"layout holds: {arrows}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
