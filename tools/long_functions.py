#!/usr/bin/env python3
"""Lists the functions of C++ sources longer than a limit (default 60 lines).

A function is a brace block whose opening line looks like a function head
(a parameter list, no control keyword, not a class, namespace, enum or
initialiser); its length counts the lines from that head to the closing
brace. Lambdas count as part of the function that holds them. A heuristic
for reading our own code, not a parser: check what it reports by eye.

Usage: tools/long_functions.py [--limit N] [--all] PATH...
"""
import argparse
import os
import re
import sys

CONTROL = re.compile(r"^\s*(?:\}\s*)?(if|else|for|while|switch|do|try|catch)\b")
NOT_FUNCTION = re.compile(r"\b(class|struct|namespace|enum|union)\b[^()]*$|=\s*(?:\[|\{)|\breturn\b|^\s*\[")


def strip(text):
    """Blanks out comments, strings and character literals, keeping lines."""
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i):
            j = text.find("\n", i)
            j = n if j < 0 else j
            out.append(" " * (j - i))
            i = j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c == 'R' and text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = text.find(")" + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r"[^\n]", " ", text[i:j]))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + " " * (j - i - 1) + (c if j < n else ""))
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def functions(path):
    """(first line, length in lines, head) of every function in the file."""
    with open(path, encoding="utf-8", errors="replace") as f:
        text = strip(f.read())
    # Preprocessor lines hold no heads.
    text = re.sub(r"(?m)^[ \t]*#.*$", lambda m: " " * len(m.group(0)), text)
    stack = []  # (offset of the head, whether the block is a function body)
    found = []
    last_end = 0  # just after the last ";", "{" or "}"
    for pos, c in enumerate(text):
        if c == "{":
            head = text[last_end:pos]
            flat = " ".join(head.split())
            inside = any(is_function for _, is_function in stack)
            is_function = (not inside and flat.endswith((")", "const", "noexcept", "override", "final"))
                           or (not inside and re.search(r"\)\s*(const\s*)?(noexcept\s*)?:", flat) is not None))
            is_function = is_function and "(" in flat and not CONTROL.search(flat) and not NOT_FUNCTION.search(flat)
            offset = last_end + (len(head) - len(head.lstrip()))
            stack.append((offset, is_function))
            last_end = pos + 1
        elif c == "}":
            if stack:
                offset, is_function = stack.pop()
                if is_function:
                    first = text.count("\n", 0, offset) + 1
                    last = text.count("\n", 0, pos) + 1
                    found.append((first, last - first + 1, " ".join(text[offset:offset + 200].split("{")[0].split())))
            last_end = pos + 1
        elif c == ";":
            last_end = pos + 1
    return found


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--limit", type=int, default=60)
    parser.add_argument("--all", action="store_true", help="list every function, longest first")
    parser.add_argument("paths", nargs="+")
    args = parser.parse_args()
    rows = []
    for root in args.paths:
        files = [root] if os.path.isfile(root) else [
            os.path.join(d, f) for d, _, fs in os.walk(root) for f in fs if f.endswith((".cpp", ".h"))]
        for path in sorted(files):
            for line, length, head in functions(path):
                rows.append((length, path, line, head))
    rows.sort(key=lambda r: -r[0])
    over = [r for r in rows if args.all or r[0] > args.limit]
    for length, path, line, head in over:
        name = re.sub(r"\s+", " ", head)[:90]
        print(f"{length:4d}  {path}:{line}  {name}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
