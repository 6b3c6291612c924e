#!/usr/bin/env python3
"""Prints the shape of the product's include graph (src/ and tools/), folder by folder.

    python3 scripts/include_graph.py [-v] [--check]

Figures: folder links (a folder including another), folder pairs that include each other
both ways, cycles among folders and among files, the layers (a folder's layer is the
longest chain of folders below it; folders on one cycle share a layer) and the links that
do not point down a layer (each link inside a cycle, or to a folder of the same or a
higher layer). -v lists the links, the pairs and the cycles. --check exits 1 when a
file cycle or a folder pair both ways appears, the floor (src/base) includes any other
folder, or more than MOST_NOT_DOWN links do not point down; else 0.
"""
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
TREES = ("src", "tools")
FLOOR = "src/base"
MOST_NOT_DOWN = 2
INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def product_files():
    files = []
    for tree in TREES:
        for folder, _, names in os.walk(os.path.join(ROOT, tree)):
            for name in names:
                if name.endswith((".h", ".cpp", ".c")):
                    files.append(os.path.relpath(os.path.join(folder, name), ROOT))
    return sorted(files)


def resolve(including, target, known):
    # As the builds search: beside the including file, then from src/.
    for base in (os.path.dirname(including), "src"):
        path = os.path.normpath(os.path.join(base, target))
        if path in known:
            return path
    return None


def strongly_connected(nodes, edges):
    """Tarjan's algorithm; the components, each a sorted list."""
    index, low, stack, on_stack, result = {}, {}, [], set(), []
    counter = [0]

    def visit(node):
        index[node] = low[node] = counter[0]
        counter[0] += 1
        stack.append(node)
        on_stack.add(node)
        for nxt in sorted(edges.get(node, ())):
            if nxt not in index:
                visit(nxt)
                low[node] = min(low[node], low[nxt])
            elif nxt in on_stack:
                low[node] = min(low[node], index[nxt])
        if low[node] == index[node]:
            component = []
            while True:
                top = stack.pop()
                on_stack.discard(top)
                component.append(top)
                if top == node:
                    break
            result.append(sorted(component))

    sys.setrecursionlimit(10000)
    for node in sorted(nodes):
        if node not in index:
            visit(node)
    return result


def main():
    verbose = "-v" in sys.argv[1:]
    check = "--check" in sys.argv[1:]
    files = product_files()
    known = set(files)
    file_edges = {}
    for path in files:
        with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
            text = f.read()
        for target in INCLUDE.findall(text):
            found = resolve(path, target, known)
            if found and found != path:
                file_edges.setdefault(path, set()).add(found)

    folder = os.path.dirname
    folders = sorted({folder(p) for p in files})
    links = {}
    for src, targets in file_edges.items():
        for dst in targets:
            if folder(src) != folder(dst):
                links.setdefault(folder(src), set()).add(folder(dst))
    link_list = sorted((a, b) for a, bs in links.items() for b in bs)
    pairs = sorted((a, b) for a, b in link_list if a < b and a in links.get(b, ()))

    components = strongly_connected(folders, links)
    component_of = {n: i for i, c in enumerate(components) for n in c}
    folder_cycles = [c for c in components if len(c) > 1]
    file_cycles = [c for c in strongly_connected(files, file_edges) if len(c) > 1]

    # Tarjan yields components below before those above, so one pass sets the layers.
    layer = {}
    for i, component in enumerate(components):
        below = [layer[component_of[b]] for a in component for b in links.get(a, ())
                 if component_of[b] != i]
        layer[i] = 1 + max(below, default=-1)
    up = [(a, b) for a, b in link_list if layer[component_of[b]] >= layer[component_of[a]]]

    print("folders:", len(folders))
    print("folder links:", len(link_list))
    print("pairs both ways:", len(pairs))
    print("folder cycles:", len(folder_cycles))
    print("file cycles:", len(file_cycles))
    print("layers:", 1 + max(layer.values(), default=-1))
    print("links not pointing down:", len(up))
    if verbose:
        for name in folders:
            print("layer %d  %s" % (layer[component_of[name]], name))
        for a, b in link_list:
            print("link  %s -> %s%s" % (a, b, "  (not down)" if (a, b) in up else ""))
        for a, b in pairs:
            print("pair  %s <-> %s" % (a, b))
        for c in folder_cycles + file_cycles:
            print("cycle ", " ".join(c))
    if check:
        floor_up = sorted(links.get(FLOOR, ()))
        for name in floor_up:
            print("the floor %s includes %s" % (FLOOR, name))
        for a, b in pairs:
            print("%s and %s include each other" % (a, b))
        too_many_up = len(up) > MOST_NOT_DOWN
        if too_many_up:
            print("%d links do not point down (at most %d): %s" %
                  (len(up), MOST_NOT_DOWN, ", ".join("%s -> %s" % link for link in up)))
        return 1 if file_cycles or floor_up or pairs or too_many_up else 0
    return 0


if __name__ == "__main__":
    sys.exit(main())
