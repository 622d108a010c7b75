#!/bin/bash
# Functions of winsim and the tools are declared in headers only: a
# declaration written again inside a .cpp file is not checked against the
# definition it names, so the two can drift apart unnoticed.  (The compiler's
# -Wmissing-declarations catches a definition without any declaration; this
# catches the stray declaration.)  Lists every function declaration at file or
# namespace scope of a .cpp file, or checks the files given as arguments.
set -u
cd "${SOURCE_DIR:-$(dirname "$0")/../..}" || exit 1
[ $# -gt 0 ] || set -- winsim/*.cpp tools/*/*.cpp
python3 - "$@" <<'EOF'
import re, sys

def code_only(text):
    # Comments, string and character literals and preprocessor lines out;
    # line breaks stay, so that line numbers stay right.
    blank = lambda m: ' ' + '\n' * m.group(0).count('\n')
    text = re.sub(r'//[^\n]*|/\*.*?\*/', blank, text, flags=re.S)
    text = re.sub(r'"(\\.|[^"\\\n])*"|\'(\\.|[^\'\\\n])*\'', '""', text)
    return re.sub(r'^[ \t]*#[^\n]*(\\\n[^\n]*)*', blank, text, flags=re.M)

DECLARATION = re.compile(r'^(template\s*<[^;]*>\s*)?[\w:<>,*&\s]*?[\w>*&]\s+[*&]*\s*(~?[\w:]+)\s*\(.*\)\s*(const)?\s*(noexcept)?$', re.S)
found = 0
for path in sys.argv[1:]:
    text = code_only(open(path, encoding='utf-8', errors='replace').read())
    scopes = []  # True for a namespace or extern "C" block
    statement = ''
    for i, c in enumerate(text):
        if c == '{':
            scopes.append(bool(re.search(r'(\bnamespace\b[\w\s:]*|\bextern\s*"")\s*$', statement)))
            statement = ''
        elif c == '}':
            if scopes: scopes.pop()
            statement = ''
        elif c == ';':
            s = ' '.join(statement.split())
            if all(scopes) and DECLARATION.match(s) and not re.match(r'(typedef|using|return|static_assert|extern "" \w+ \w+;)\b', s) \
                    and '=' not in s.split('(')[0]:
                line = text.count('\n', 0, i) + 1
                print('%s:%d: declared outside a header: %s;' % (path, line, s))
                found += 1
            statement = ''
        else:
            statement += c
sys.exit(1 if found else 0)
EOF
