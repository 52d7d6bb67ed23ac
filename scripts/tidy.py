#!/usr/bin/python3
"""Runs clang-tidy on the given source files with the compile commands of a build folder,
skipping each file whose preprocessed text passed before with the same checks and the same
clang-tidy: its findings can only be those of that run. The passes are kept under
$XDG_CACHE_HOME/norvik-tidy, keyed with the checkout's path taken out, so another clone of
the same sources (CI's) reuses them.

    scripts/tidy.py BUILD-FOLDER LOG FILE...

Exit status 1 when a file has findings (they go to LOG), 0 otherwise.
"""

import hashlib
import json
import os
import shlex
import subprocess
import sys
from concurrent.futures import ThreadPoolExecutor

ROOT = os.path.realpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))


def preprocessed(entry):
    """The file's text after the preprocessor, without line markers, as the compiler sees it."""
    args = shlex.split(entry["command"])
    out = []
    skip = False
    for arg in args:
        if skip:
            skip = False
        elif arg == "-o":
            skip = True
        elif arg != "-c":
            out.append(arg)
    result = subprocess.run(out + ["-E", "-P"], cwd=entry["directory"], capture_output=True,
                            check=False)
    return result.stdout if result.returncode == 0 else None


def main():
    build, log, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as f:
        commands = {os.path.realpath(e["file"]): e for e in json.load(f)}
    cache = os.path.join(os.environ.get("XDG_CACHE_HOME", os.path.expanduser("~/.cache")),
                         "norvik-tidy")
    os.makedirs(cache, exist_ok=True)
    with open(os.path.join(ROOT, ".clang-tidy"), "rb") as f:
        checks = f.read()
    version = subprocess.run(["clang-tidy", "--version"], capture_output=True, check=True).stdout

    def key(path):
        entry = commands.get(os.path.realpath(path))
        text = preprocessed(entry) if entry else None
        if text is None:
            return None
        digest = hashlib.sha256(checks + version)
        digest.update(text.replace(ROOT.encode(), b"@ROOT@"))
        digest.update(os.path.relpath(os.path.realpath(path), ROOT).encode())
        return digest.hexdigest()

    jobs = os.cpu_count() or 1
    with ThreadPoolExecutor(jobs) as pool:
        keys = dict(zip(files, pool.map(key, files)))
    stale = [f for f in files if not keys[f] or not os.path.exists(os.path.join(cache, keys[f]))]
    print(f"tidy.py: {len(files) - len(stale)} of {len(files)} files passed before; "
          f"checking {len(stale)}")
    if not stale:
        return 0

    def tidy(path):
        run = subprocess.run(["clang-tidy", "-quiet", "-p", build, path], capture_output=True,
                             text=True, check=False)
        findings = [line for line in run.stdout.splitlines()
                    if ("warning:" in line or "error:" in line) and "warnings generated" not in line]
        return path, run.returncode == 0 and not findings, run.stdout + run.stderr

    failed = False
    with open(log, "w", encoding="utf-8") as out, ThreadPoolExecutor(jobs) as pool:
        for path, passed, text in pool.map(tidy, stale):
            out.write(text)
            if passed and keys[path]:
                open(os.path.join(cache, keys[path]), "w", encoding="utf-8").close()
            elif not passed:
                failed = True
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
