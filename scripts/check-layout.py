#!/usr/bin/env python3
# SPDX-License-Identifier: GPL-3.0-or-later
"""Checks the source tree's layout rules, on every test run:

- the folders of src/ include each other one way only (no cycle), and core/
  includes nothing from another folder;
- no function in src/ is over 100 lines (data tables are not functions);
- the owner protocol's field names are written as literals in one file,
  src/protocol/owner_protocol.h, whose `field` namespace declares them
  (`inline constexpr QLatin1String kId{"id"};`); everywhere else the code
  names them through it.

What counts as a field name written by hand, outside src/protocol/: a
literal whose whole text is a field name, made a Qt string (QStringLiteral,
QLatin1String, u""...) and used as a key of a JSON object (`object[...]`,
`.value(...)`, `.contains(...)`, `.remove(...)`, `.take(...)`, `.insert(...)`)
or compared with a value (`== QStringLiteral("state")`); and a field name as
a key of JSON written out inside a literal (`"{\"id\": 1, ...}"`). Words
are only read where they are JSON keys, because the same words are
everyday words elsewhere: a command called "status", qv550-cli's "send" and
"wait", PJLink's answers, messages to the user. Other JSON formats whose
keys happen to be the same words either name their keys in constants of
their own (the touch page's messages, the MQTT claim) or, when the whole
file is another format and never speaks to an owner, are listed in
OTHER_FORMATS; such a file that includes what speaks to an owner is a
breach itself. A literal reached through a variable (`QLatin1String(key)`)
is not seen: the check catches the usual slip, not every disguise.

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


RAW_STRING = re.compile(r'(?:u8|u|U|L)?R"([^(\s"]{0,16})\(')


def scan(text):
    """Each comment and literal of C++ source, in order, as (kind, start,
    end, body): kind is "comment", "string" or "char"; start..end is all of
    it (a string's prefix included); body is a string's text."""
    i, n = 0, len(text)
    while i < n:
        if text.startswith("//", i) or text.startswith("/*", i):
            if text[i + 1] == "/":
                j = text.find("\n", i)
                j = n if j < 0 else j
            else:
                j = text.find("*/", i + 2)
                j = n if j < 0 else j + 2
            yield "comment", i, j, ""
            i = j
            continue
        m = RAW_STRING.match(text, i)
        if m and (i == 0 or not (text[i - 1].isalnum() or text[i - 1] == "_")):
            close = ")" + m.group(1) + '"'
            j = text.find(close, m.end())
            j = n if j < 0 else j
            yield "string", i, min(n, j + len(close)), text[m.end():j]
            i = j + len(close)
            continue
        c = text[i]
        # A quote after a digit is a digit separator (1'000), not a literal.
        if c == '"' or (c == "'" and not (i > 0 and text[i - 1].isalnum())):
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            end = j + 1 if j < n and text[j] == c else j
            if c == '"':
                start = i - 1 if i > 0 and text[i - 1] in "uUL" else i
                yield "string", start, end, text[i + 1:j]
            else:
                yield "char", i, end, ""
            i = end
            continue
        i += 1


def strip_code(text):
    """The text with comments removed and every literal emptied; lines kept."""
    out = []
    last = 0
    for kind, start, end, _ in scan(text):
        out.append(text[last:start])
        lines = "\n" * text.count("\n", start, end)
        out.append(lines if kind == "comment" else ('""' if kind == "string" else "''") + lines)
        last = end
    out.append(text[last:])
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


PROTOCOL_HOME = os.path.join("protocol", "owner_protocol.h")
# Files whose JSON is another format entirely, where a common word such as
# "name" or "error" is that format's own key: they are not read for owner
# field names. None of them may include what speaks to an owner (checked
# below), so a file on this list cannot hide owner traffic.
OTHER_FORMATS = {
    "mqtt/ha_discovery.cpp": "Home Assistant's discovery configs",
    "owner/scene_book.cpp": "the scene file",
    "web/web_server.cpp": "the page's HTTP answers (its session and login)",
}
SPEAKS_TO_OWNER = re.compile(r'#\s*include\s+"(?:protocol/|owner/owner_service\.h|owner/owner_server\.h|owner/state_feed\.h|serial/owner_line\.h)')
PROTOCOL_ROOM = "protocol"
# What a literal may be wrapped in on its way to a Qt JSON call.
WRAPPER = re.compile(
    r"(?:QStringLiteral|QLatin1String|QLatin1StringView|QStringView|QString::fromLatin1|QString::fromUtf8"
    r"|QByteArrayLiteral)\s*\(\s*$"
)
# A key of a Qt JSON object (or any map): object[key], object.value(key),
# contains, remove, take, insert, find; or a value compared with one.
KEY_PLACE = re.compile(r"(?:\[|\.(?:value|contains|remove|take|insert|find|constFind)\s*\(|[=!]=)\s*$")


def literals(text):
    """Each string literal of C++ source outside comments: where it starts
    (the index of its quote, or of its raw prefix) and its text."""
    for kind, start, _, body in scan(text):
        if kind == "string":
            yield start, body


def protocol_fields(src):
    """The owner protocol's field names, as its one file declares them in
    its `field` namespace (`inline constexpr QLatin1String kId{"id"};`)."""
    path = os.path.join(src, PROTOCOL_HOME)
    if not os.path.exists(path):
        return set()
    with open(path, encoding="utf-8") as f:
        text = f.read()
    block = re.search(r"namespace field \{(.*?)\} // namespace field", text, re.S)
    if not block:
        return set()
    return set(re.findall(r'constexpr\s+QLatin1String\s+k\w+\s*(?:\{|=\s*QLatin1String\()\s*"([a-z_]+)"', block.group(1)))


def hand_written_fields(path, fields):
    """(line, name) of each owner field name this file writes by hand: as a
    key of a JSON object, as a value compared with one, or as a key inside
    JSON written out in a literal ("{\\"id\\": 1, ...}")."""
    with open(path, encoding="utf-8", errors="replace") as f:
        text = f.read()
    found = []
    for start, body in literals(text):
        line = text.count("\n", 0, start) + 1
        if body in fields:
            before = text[max(0, start - 120):start]
            wrapped = WRAPPER.search(before)
            if wrapped:
                before = before[:wrapped.start()]
            elif not text.startswith("u", start):
                continue  # a plain char literal: no Qt JSON key or value
            if KEY_PLACE.search(before):
                found.append((line, body))
            continue
        for name in re.findall(r'\\"([a-z_]+)\\"\s*:', body):
            if name in fields:
                found.append((line, name))
    return found


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

    fields = protocol_fields(src)
    for path in sources(src):
        if folder_of(src, path) == PROTOCOL_ROOM:
            continue
        if os.path.relpath(path, src) in OTHER_FORMATS:
            with open(path, encoding="utf-8", errors="replace") as f:
                if SPEAKS_TO_OWNER.search(f.read()):
                    problems.append(f"{os.path.relpath(path, root)}: speaks to an owner, so it cannot be read as another format")
            continue
        for line, name in hand_written_fields(path, fields):
            problems.append(f"{os.path.relpath(path, root)}:{line}: the owner protocol's field \"{name}\" written by hand")

    for problem in problems:
        print(problem)
    if problems:
        return 1
    arrows = "; ".join(f"{a} -> {', '.join(sorted(b))}" for a, b in sorted(edges.items()))
    print(f"layout holds: {arrows}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
