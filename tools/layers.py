#!/usr/bin/env python3
"""Keeps the includes between the library's folders one-way.

Reads the `#include "..."` lines of the library, takes a header and its source as one unit
and fails when a unit includes one of a higher layer, or when units include each other in a
circle. The layer order below is the only place it is written down (README: Layers).

Usage: tools/layers.py [--graph]   (--graph also prints every unit's layer and includes)
"""
import fnmatch
import os
import re
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
FOLDERS = ["base", "platform", "errlog", "mem", "text", "time", "files", "proc", "console",
           "runtime", "app", "frontwin"]

# Bottom first. A unit may include units of its own layer and of the layers below it.
# A pattern names units (paths without extension); the most specific pattern wins, so a
# folder holding pieces of two layers names the lower pieces file by file.
LAYERS = [
    ("base", ["base/*"]),
    ("system errors", ["platform/syserr", "platform/*/syserr_*"]),
    ("error stack", ["errlog/errstack"]),
    ("log line", ["errlog/logline"]),
    ("input release", ["platform/inputrelease"]),
    ("stack capture", ["errlog/stacktrace", "platform/stackwalk", "platform/*/stackwalk_*",
                       "platform/symbol_name", "platform/symtab/*", "platform/stdstreams",
                       "platform/*/stdstreams_*"]),
    ("platform", ["platform/*", "platform/*/*"]),
    ("interrupts", ["runtime/interrupt"]),
    ("number texts", ["text/numfmt"]),
    ("clock", ["time/clock", "time/crt_time_guard"]),
    ("memory", ["mem/*"]),
    ("date parsing", ["time/parsetime", "time/calnames"]),
    ("text", ["text/*"]),
    ("time", ["time/*"]),
    ("files", ["files/*"]),
    ("program log", ["errlog/*"]),
    ("memory report", ["mem/memreport", "mem/memgauge"]),
    ("processes", ["proc/*"]),
    ("console", ["console/*"]),
    ("start-up and shutdown", ["runtime/*"]),
    ("application", ["app/*", "frontwin/*"]),
]

# Includes against the order that are still to be turned around. A new one fails the check.
KNOWN = set()

# Circles inside one folder still to be broken; a unit joining one, or a new one, fails.
KNOWN_CIRCLES = []

INCLUDE = re.compile(r'^\s*#\s*include\s+"([^"]+)"', re.M)


def unit_of(path):
    return os.path.splitext(path)[0]


def specificity(pattern):
    return (pattern.count("/"), len(pattern.split("*")[0]), "*" not in pattern)


PATTERNS = sorted(((p, i) for i, (_, ps) in enumerate(LAYERS) for p in ps),
                  key=lambda pi: specificity(pi[0]), reverse=True)


def layer_of(unit):
    for pattern, index in PATTERNS:
        if fnmatch.fnmatchcase(unit, pattern) and pattern.count("/") == unit.count("/"):
            return index
    return None


def read_graph():
    graph = {}
    for folder in FOLDERS:
        for dirpath, _, names in os.walk(os.path.join(ROOT, folder)):
            for name in names:
                if not name.endswith((".h", ".cpp")):
                    continue
                path = os.path.relpath(os.path.join(dirpath, name), ROOT).replace(os.sep, "/")
                with open(os.path.join(ROOT, path), encoding="utf-8", errors="replace") as f:
                    text = f.read()
                unit = unit_of(path)
                targets = graph.setdefault(unit, set())
                for inc in INCLUDE.findall(text):
                    target = unit_of(inc)
                    if target != unit and inc.split("/")[0] in FOLDERS:
                        targets.add(target)
    return graph


def cycles(graph):
    """Strongly connected components of more than one unit (Tarjan)."""
    index, low, stack, on_stack, found = {}, {}, [], set(), []
    counter = [0]

    def visit(v):
        index[v] = low[v] = counter[0]
        counter[0] += 1
        stack.append(v)
        on_stack.add(v)
        for w in sorted(graph.get(v, ())):
            if w not in index:
                visit(w)
                low[v] = min(low[v], low[w])
            elif w in on_stack:
                low[v] = min(low[v], index[w])
        if low[v] == index[v]:
            component = []
            while True:
                w = stack.pop()
                on_stack.discard(w)
                component.append(w)
                if w == v:
                    break
            if len(component) > 1:
                found.append(sorted(component))

    sys.setrecursionlimit(10000)
    for v in sorted(graph):
        if v not in index:
            visit(v)
    return found


def main():
    graph = read_graph()
    problems = []
    for unit in sorted(graph):
        if layer_of(unit) is None:
            problems.append(f"{unit}: no layer names it")
    upward = []
    for unit in sorted(graph):
        for target in sorted(graph[unit]):
            lu, lt = layer_of(unit), layer_of(target)
            if lu is None or lt is None or lt <= lu:
                continue
            edge = (unit, target)
            line = f"{unit} ({LAYERS[lu][0]}) includes {target} ({LAYERS[lt][0]})"
            (upward if edge in KNOWN else problems).append(line)
    for edge in sorted(KNOWN):
        if edge[1] not in graph.get(edge[0], ()):
            problems.append(f"{edge[0]} -> {edge[1]} is listed as known but gone: drop it")
    # Known upward includes aside, the units must not form a circle.
    pruned = {u: {t for t in ts if (u, t) not in KNOWN} for u, ts in graph.items()}
    circles = cycles(pruned)
    for component in circles:
        if not any(set(component) <= known for known in KNOWN_CIRCLES):
            problems.append("circle: " + " ".join(component))
    for known in KNOWN_CIRCLES:
        if not any(known <= set(component) for component in circles):
            problems.append("known circle " + " ".join(sorted(known)) + " is gone or smaller: update it")

    if "--graph" in sys.argv:
        for unit in sorted(graph):
            lu = layer_of(unit)
            print(f"{unit} [{LAYERS[lu][0] if lu is not None else '?'}]: "
                  + " ".join(sorted(graph[unit])))
    for line in upward:
        print("known, still to turn around:", line)
    for component in circles:
        print("known circle, still to break:", " ".join(component))
    for line in problems:
        print("layers:", line, file=sys.stderr)
    print(f"layers: {len(graph)} units, {len(upward)} known upward includes, "
          f"{len(problems)} problems")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
