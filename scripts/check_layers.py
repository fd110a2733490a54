#!/usr/bin/env python3
"""Holds the includes between the folders of src/ to the layers.

The layers and what each may use are the quillnet_layer(...) lines of
src/CMakeLists.txt. Fails when the folders include each other in a cycle,
or when a folder includes one that its line does not name (directly or
through the layers it names), which would be a call upwards.

usage: check_layers.py SRC_DIR
"""
import os
import re
import sys

INCLUDE = re.compile(r'^\s*#\s*include\s*"([a-z0-9_]+)/[^"]+"', re.M)
LAYER = re.compile(r'^\s*quillnet_layer\(\s*([a-z0-9_]+)((?:\s+DEPS(?:\s+[a-z0-9_]+)+)?)\s*\)', re.M)


def folder_includes(src):
    """{folder: {included folder: first file that includes it}}"""
    graph = {}
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        edges = graph.setdefault(folder, {})
        for root, _, files in os.walk(path):
            for name in sorted(files):
                if not name.endswith(('.h', '.cpp', '.c')):
                    continue
                file = os.path.join(root, name)
                with open(file, encoding='utf-8', errors='replace') as f:
                    for target in INCLUDE.findall(f.read()):
                        if target != folder and os.path.isdir(os.path.join(src, target)):
                            edges.setdefault(target, os.path.relpath(file, src))
    return graph


def declared_layers(src):
    with open(os.path.join(src, 'CMakeLists.txt'), encoding='utf-8') as f:
        text = f.read()
    layers = {}
    for name, deps in LAYER.findall(text):
        layers[name] = deps.split()[1:] if deps.strip() else []
    return layers


def cycles(graph):
    """Every cycle once, as a list of folders, found by depth-first search."""
    found, seen_keys = [], set()
    state = {}
    stack = []

    def visit(node):
        state[node] = 'open'
        stack.append(node)
        for nxt in sorted(graph.get(node, {})):
            if state.get(nxt) == 'open':
                cycle = stack[stack.index(nxt):]
                key = frozenset(cycle)
                if key not in seen_keys:
                    seen_keys.add(key)
                    found.append(cycle + [nxt])
            elif nxt not in state:
                visit(nxt)
        stack.pop()
        state[node] = 'done'

    for node in sorted(graph):
        if node not in state:
            visit(node)
    return found


def closure(layers, name):
    out, todo = set(), list(layers.get(name, []))
    while todo:
        dep = todo.pop()
        if dep not in out:
            out.add(dep)
            todo.extend(layers.get(dep, []))
    return out


def main():
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), '..', 'src')
    graph = folder_includes(src)
    layers = declared_layers(src)
    problems = []
    for cycle in cycles(graph):
        steps = [f'{a} -> {b} ({graph[a][b]})' for a, b in zip(cycle, cycle[1:])]
        problems.append('include cycle: ' + ', '.join(steps))
    for folder, edges in sorted(graph.items()):
        if folder not in layers:
            continue
        allowed = closure(layers, folder)
        for target, file in sorted(edges.items()):
            if target not in allowed:
                problems.append(f'{file} includes {target}/, which the {folder} layer does not use '
                                f'(add it to quillnet_layer({folder} DEPS ...) if it is below {folder})')
    for problem in problems:
        print(problem)
    print(f'{len(graph)} folders, {sum(len(e) for e in graph.values())} folder dependencies, '
          f'{len(problems)} problem(s)')
    return 1 if problems else 0


if __name__ == '__main__':
    sys.exit(main())
