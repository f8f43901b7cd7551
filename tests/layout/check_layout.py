#!/usr/bin/env python3
"""Checks the reporter's layout: one library per component folder, no cycle between the
libraries, the README's dependency picture equal to what the CMake files link, and no file
named after the old `tikv_` prefix. Reads the CMake files as text, so it needs no build."""
import os
import pathlib
import re
import sys

root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else '.').resolve()
errors = []


def cmake_commands(text, name):
    # Each call of `name(...)`, comments stripped, as a list of words.
    text = re.sub(r'#[^\n]*', '', text)
    for match in re.finditer(r'\b%s\s*\(([^)]*)\)' % name, text):
        yield match.group(1).split()


libraries = {}  # name -> folder
links = {}      # name -> set of qx_ libraries it links
for cmake in sorted((root / 'reporter').rglob('CMakeLists.txt')):
    text = cmake.read_text()
    folder = cmake.parent.relative_to(root).as_posix()
    defined = [words[0] for words in cmake_commands(text, 'add_library')]
    if len(defined) != 1:
        errors.append(f'{folder} defines {len(defined)} libraries: {defined}')
    for name in defined:
        libraries[name] = folder
        links.setdefault(name, set())
    for words in cmake_commands(text, 'target_link_libraries'):
        target, deps = words[0], words[1:]
        links.setdefault(target, set()).update(d for d in deps if d.startswith('qx_'))

# A depth-first walk finds any cycle among the libraries.
state = {}


def visit(name, path):
    if state.get(name) == 'done':
        return
    if state.get(name) == 'open':
        errors.append('cycle: ' + ' -> '.join(path[path.index(name):] + [name]))
        return
    state[name] = 'open'
    for dep in sorted(links.get(name, ())):
        visit(dep, path + [name])
    state[name] = 'done'


for name in sorted(links):
    visit(name, [])

# The README's picture: lines "qx_a ──> qx_b qx_c" (several sources joined by commas).
readme = (root / 'README.md').read_text()
picture = re.search(r'```\n(qx_reporter .*?)```', readme, re.S)
if not picture:
    errors.append('README has no dependency picture')
else:
    drawn = {}
    for line in picture.group(1).splitlines():
        if '──>' not in line:
            continue
        left, right = line.split('──>')
        for source in re.findall(r'qx_\w+', left):
            drawn[source] = set(re.findall(r'qx_\w+', right))
    for name, deps in sorted(links.items()):
        if name == 'qx_reporter':
            continue
        if drawn.get(name, set()) != deps:
            errors.append(f'README draws {name} -> {sorted(drawn.get(name, set()))}, '
                          f'CMake links {sorted(deps)}')

for folder, subfolders, files in os.walk(root):
    subfolders[:] = [s for s in subfolders if not s.startswith(('build', '.'))]
    for file in files:
        if file.startswith('tikv_'):
            errors.append('old file name: ' + os.path.relpath(os.path.join(folder, file), root))

for error in errors:
    print(error)
print(f'{len(libraries)} libraries, {sum(len(d) for d in links.values())} links, '
      f'{len(errors)} problems')
sys.exit(1 if errors else 0)
