#!/usr/bin/env python3
"""Lists C++ functions longer than a limit: python3 scripts/function_lengths.py [--limit 90] DIR...

Preprocessor lines are blanked too. A function is a brace block opened at namespace or class level whose header (the text since
the previous ';', '{' or '}') holds a parameter list. Its length counts the lines from the
header's first line to the closing brace. Comments, strings and character literals are
blanked first; lambdas and local classes count towards the function around them.
"""
import argparse
import pathlib
import re
import sys

NON_FUNCTION = re.compile(r'^\s*(namespace|class|struct|union|enum|extern\s+"C")\b|=\s*$|=\s*\{?$')


def blank(text):
    out = []
    i, n = 0, len(text)
    while i < n:
        c = text[i]
        if text.startswith('//', i):
            j = text.find('\n', i)
            j = n if j < 0 else j
            out.append(' ' * (j - i))
            i = j
        elif text.startswith('/*', i):
            j = text.find('*/', i + 2)
            j = n if j < 0 else j + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif c == 'R' and text.startswith('R"', i):
            m = re.match(r'R"([^(]*)\(', text[i:])
            end = text.find(')' + m.group(1) + '"', i) if m else -1
            j = n if end < 0 else end + len(m.group(1)) + 2
            out.append(re.sub(r'[^\n]', ' ', text[i:j]))
            i = j
        elif c in '"\'':
            j = i + 1
            while j < n and text[j] != c and text[j] != '\n':
                j += 2 if text[j] == '\\' else 1
            out.append(c + ' ' * (j - i - 1) + (c if j < n else ''))
            i = j + 1
        else:
            out.append(c)
            i += 1
    return ''.join(out)


def functions(path):
    text = blank(path.read_text(errors='replace'))
    # Preprocessor lines are no part of any header.
    text = re.sub(r'(?m)^[ \t]*#.*$', lambda m: ' ' * len(m.group(0)), text)
    stack = []  # (kind, start line)
    header_start = 0
    line = 1
    header = []
    for ch in text:
        if ch == '{':
            head = ''.join(header).strip()
            enclosing_is_scope = all(kind == 'scope' for kind, _ in stack)
            if enclosing_is_scope and not NON_FUNCTION.search(head) and re.search(r'\)\s*(const|override|final|noexcept|->[^{]*|:[^{]*|\s)*$', head, re.S):
                stack.append(('function', header_start or line))
            elif enclosing_is_scope and (NON_FUNCTION.search(head) or not head):
                stack.append(('scope', line))
            else:
                stack.append(('block', line))
            header = []
            header_start = 0
        elif ch == '}':
            if stack:
                kind, start = stack.pop()
                if kind == 'function':
                    yield start, line
            header = []
            header_start = 0
        elif ch == ';':
            header = []
            header_start = 0
        else:
            if not ch.isspace() and header_start == 0:
                header_start = line
            header.append(ch)
        if ch == '\n':
            line += 1


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument('--limit', type=int, default=90)
    parser.add_argument('dirs', nargs='+')
    args = parser.parse_args()
    longest = 0
    found = 0
    for d in args.dirs:
        for path in sorted(pathlib.Path(d).rglob('*')):
            if path.suffix not in ('.cpp', '.h', '.inc'):
                continue
            for start, end in functions(path):
                length = end - start + 1
                longest = max(longest, length)
                if length > args.limit:
                    found += 1
                    print(f'{path}:{start}: {length} lines')
    print(f'longest: {longest} lines; over {args.limit}: {found}')
    return 0


if __name__ == '__main__':
    sys.exit(main())
