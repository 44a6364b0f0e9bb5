#!/usr/bin/env python3
"""No function in the given folders (C and C++ sources) is longer than a limit, 60 lines unless
--limit says otherwise, counted from the line of its opening brace to the line of its closing
brace; lambdas count as functions of their own. Prints the longest function of each folder and
every function over the limit, and fails when one is over.

    check-function-length.py [--limit N] FOLDER..."""
import argparse
import pathlib
import re
import sys

CONTROL = re.compile(r"^(else\s+)?(if|for|while|switch|catch)\b")
HEAD_END = re.compile(r"\)\s*(const|override|noexcept|final|mutable|->\s*[\w:<>,\s]+?)*\s*$")


def strip(text):
    """Comments, strings, characters and preprocessor lines blanked out, line breaks kept."""
    out, i, n = [], 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith("//", i) or (c == "#" and (i == 0 or text[i - 1] == "\n")):
            j = text.find("\n", i)
            i = n if j < 0 else j
        elif text.startswith("/*", i):
            j = text.find("*/", i + 2)
            j = n if j < 0 else j + 2
            out.append("\n" * text.count("\n", i, j))
            i = j
        elif c in "\"'":
            j = i + 1
            while j < n and text[j] != c:
                j += 2 if text[j] == "\\" else 1
            out.append(" ")
            i = j + 1
        else:
            out.append(c)
            i += 1
    return "".join(out)


def functions(path):
    text = strip(path.read_text(encoding="utf-8"))
    stack, head_start, line = [], 0, 1
    for i, c in enumerate(text):
        if c == "\n":
            line += 1
        elif c == "{":
            head = " ".join(text[head_start:i].split())
            is_function = bool(HEAD_END.search(head)) and not CONTROL.match(head)
            stack.append((line, is_function, head))
            head_start = i + 1
        elif c == "}":
            if stack:
                start, is_function, head = stack.pop()
                if is_function:
                    yield start, line - start + 1, head
            head_start = i + 1
        elif c == ";":
            head_start = i + 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--limit", type=int, default=60)
    parser.add_argument("folders", nargs="+", type=pathlib.Path)
    args = parser.parse_args()
    over = []
    for folder in args.folders:
        longest = (0, "", "")
        for path in sorted(p for p in folder.rglob("*") if p.suffix in (".c", ".cpp", ".h")):
            for start, length, head in functions(path):
                where = f"{folder.name}/{path.relative_to(folder)}:{start}"
                if length > longest[0]:
                    longest = (length, where, head[-70:])
                if length > args.limit:
                    over.append(f"{where}: {length} lines: {head[-70:]}")
        print(f"{folder.name}/: longest function {longest[0]} lines at {longest[1]} ({longest[2]})")
    for entry in over:
        print(f"over {args.limit} lines: {entry}")
    return 1 if over else 0


if __name__ == "__main__":
    sys.exit(main())
