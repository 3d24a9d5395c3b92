#!/usr/bin/env python3
"""Checks that every external command the scripts and tests call comes from a
package that scripts/deps.sh installs, or from one those pull in as a hard
dependency (Depends or Pre-Depends, never Recommends), or from an essential
package every Debian system has.

A command that works here only because this machine happens to have an extra
package installed would be missing on a fresh machine: this catches it on any
machine where the command is installed at all.

    check-commands.py DEPS_SH COMMANDS_TXT
COMMANDS_TXT lists one command a line (# comments); each is looked up in the
system's folders (a wrapper earlier on PATH still needs the packaged command),
its owner found with dpkg -S (through symbolic links and the /bin, /usr/bin
merge), and that owner must be in the closure of `deps.sh --list all`.
"""
import os
import re
import shutil
import subprocess
import sys


def installed_packages():
    fmt = "${Package}\t${Status}\t${Essential}\t${Depends}\t${Pre-Depends}\t${Provides}\n"
    out = subprocess.run(["dpkg-query", "-W", "-f", fmt], check=True,
                         capture_output=True, text=True).stdout
    packages, providers = {}, {}
    for line in out.splitlines():
        name, status, essential, depends, predepends, provides = line.split("\t")
        if not status.endswith("installed") or "not-installed" in status:
            continue
        packages[name] = {"essential": essential == "yes",
                          "deps": parse_relations(depends) + parse_relations(predepends)}
        for alternative in parse_relations(provides):
            for virtual in alternative:
                providers.setdefault(virtual, set()).add(name)
    return packages, providers


def parse_relations(text):
    """'a (>= 1) | b:any, c' -> [['a', 'b'], ['c']]"""
    groups = []
    for group in text.split(","):
        names = []
        for alternative in group.split("|"):
            alternative = re.sub(r"\(.*?\)|\[.*?\]|<.*?>", "", alternative).strip()
            if alternative:
                names.append(alternative.split(":")[0])
        if names:
            groups.append(names)
    return groups


def resolve(name, packages, providers):
    """The installed packages that satisfy a relation on `name`."""
    found = set()
    if name in packages:
        found.add(name)
    found |= providers.get(name, set())
    return found


def closure(roots, packages, providers):
    seen, todo = set(), list(roots)
    while todo:
        name = todo.pop()
        if name in seen:
            continue
        seen.add(name)
        for group in packages.get(name, {}).get("deps", []):
            # A fresh install takes the first alternative that can be had; follow
            # that one, and the others only when it is not installed here.
            chosen = resolve(group[0], packages, providers)
            if not chosen:
                for alternative in group[1:]:
                    chosen = resolve(alternative, packages, providers)
                    if chosen:
                        break
            todo.extend(chosen)
    return seen


def candidates(path):
    """The names dpkg may know a command's file by: itself, its link target,
    and both sides of the /bin, /usr/bin merge."""
    names = [path, os.path.realpath(path)]
    for p in list(names):
        for a, b in (("/usr/bin/", "/bin/"), ("/usr/sbin/", "/sbin/")):
            if p.startswith(a):
                names.append(b + p[len(a):])
            elif p.startswith(b):
                names.append(a + p[len(b):])
    return names


def owners_of(paths):
    """One dpkg -S for every path (one call per path takes seconds)."""
    r = subprocess.run(["dpkg", "-S"] + sorted(set(paths)), capture_output=True, text=True)
    owners = {}
    for line in r.stdout.splitlines():
        if line.startswith("diversion "):
            continue
        head, path = line.rsplit(": ", 1)
        owners[path] = [n.strip().split(":")[0] for n in head.split(",")]
    return owners


def main():
    deps_sh, commands_txt = sys.argv[1], sys.argv[2]
    roots = subprocess.run(["bash", deps_sh, "--list", "all"], check=True,
                           capture_output=True, text=True).stdout.split()
    packages, providers = installed_packages()
    missing_roots = [r for r in roots if r not in packages]
    have = closure(roots, packages, providers)
    essential = {n for n, p in packages.items() if p["essential"]}
    have |= closure(essential, packages, providers)

    commands = []
    with open(commands_txt) as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                commands.append(line)

    found = {}
    for command in commands:
        found[command] = shutil.which(command, path="/usr/sbin:/usr/bin:/sbin:/bin")
    known = owners_of([c for p in found.values() if p for c in candidates(p)])

    failures = []
    for command in commands:
        # Debian's copy: a local wrapper earlier on PATH (/usr/local, a
        # version manager's shims) still has to find the packaged command.
        path = found[command]
        if path is None:
            failures.append(f"{command}: not on PATH (scripts/deps.sh all installs it?)")
            continue
        owners = next((known[c] for c in candidates(path) if c in known), None)
        if owners is None:
            failures.append(f"{command}: {path} belongs to no Debian package")
        elif not any(o in have for o in owners):
            failures.append(f"{command}: {path} comes from {', '.join(owners)}, which "
                            "scripts/deps.sh neither installs nor pulls in as a hard dependency")
        else:
            print(f"ok {command}: {path} ({', '.join(owners)})")
    if missing_roots:
        print("note: not installed here: " + " ".join(missing_roots))
    for failure in failures:
        print("FAIL " + failure)
    print(f"{len(commands) - len(failures)} passed, {len(failures)} failed")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
