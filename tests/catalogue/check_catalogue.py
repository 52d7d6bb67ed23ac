#!/usr/bin/python3
"""Compares the texts of the message catalogue with the texts the sources pass to the
translation lookup: the committed template must hold exactly those, and a translation must
translate each of them and nothing else. Names every text that is missing or left over."""

import argparse
import subprocess
import sys


def unquote(text):
    """The value of one C string literal as gettext writes it."""
    body = text.strip()
    if len(body) < 2 or body[0] != '"' or body[-1] != '"':
        raise ValueError("not a quoted string: " + text)
    out = []
    escapes = {"n": "\n", "t": "\t", '"': '"', "\\": "\\", "r": "\r", "a": "\a", "b": "\b",
               "f": "\f", "v": "\v"}
    i, inner = 0, body[1:-1]
    while i < len(inner):
        if inner[i] == "\\" and i + 1 < len(inner):
            out.append(escapes.get(inner[i + 1], "\\" + inner[i + 1]))
            i += 2
        else:
            out.append(inner[i])
            i += 1
    return "".join(out)


def read_entries(text):
    """Entries of a PO or POT text: {(context, id, plural): (translations, fuzzy)}, without
    the header and without obsolete entries."""
    entries = {}
    current, field, fuzzy = {}, None, False

    def finish():
        nonlocal current, field, fuzzy
        if "msgid" in current and current["msgid"] != "":
            key = (current.get("msgctxt"), current["msgid"], current.get("msgid_plural"))
            strings = [v for k, v in sorted(current.items()) if k.startswith("msgstr")]
            entries[key] = (strings, fuzzy)
        current, field, fuzzy = {}, None, False

    for line in text.splitlines():
        stripped = line.strip()
        if not stripped:
            finish()
        elif stripped.startswith("#~"):
            continue
        elif stripped.startswith("#,"):
            if "msgid" in current:
                finish()
            fuzzy = "fuzzy" in stripped
        elif stripped.startswith("#"):
            continue
        elif stripped.startswith('"'):
            if field is None:
                raise ValueError("continuation without a field: " + line)
            current[field] += unquote(stripped)
        else:
            keyword, _, value = stripped.partition(" ")
            if keyword in ("msgctxt", "msgid") and any(k.startswith("msgstr") for k in current):
                finish()
            field = keyword
            current[field] = unquote(value)
    finish()
    return entries


def describe(key):
    context, msgid, plural = key
    text = repr(msgid)
    if plural is not None:
        text += " / plural " + repr(plural)
    if context is not None:
        text += " in context " + repr(context)
    return text


def report(title, keys):
    if keys:
        print(title)
        for key in sorted(keys, key=lambda k: (k[1], k[2] or "", k[0] or "")):
            print("    " + describe(key))
    return bool(keys)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--source-dir", required=True)
    parser.add_argument("--template", help="the committed template to compare")
    parser.add_argument("--po", action="append", default=[], help="a translation to compare")
    parser.add_argument("xgettext", nargs=argparse.REMAINDER,
                        help="the extraction command line (program, options, sources)")
    args = parser.parse_args()
    command = [a for a in args.xgettext if a != "--"]
    extracted = subprocess.run(command + ["-o", "-"], cwd=args.source_dir, check=True,
                               capture_output=True, text=True).stdout
    wanted = set(read_entries(extracted))
    failed = False
    if args.template:
        with open(args.template, encoding="utf-8") as f:
            committed = set(read_entries(f.read()))
        failed |= report("Texts of the sources missing from " + args.template + ":",
                         wanted - committed)
        failed |= report("Texts in " + args.template + " that no source uses any more:",
                         committed - wanted)
        if failed:
            print("Regenerate the template: cmake --build build --target pot")
    for po in args.po:
        with open(po, encoding="utf-8") as f:
            entries = read_entries(f.read())
        untranslated = {k for k in wanted
                        if k not in entries or entries[k][1] or not all(entries[k][0])}
        failed |= report("Texts of the sources without a translation in " + po + ":",
                         untranslated)
        failed |= report("Entries of " + po + " that no source uses:", set(entries) - wanted)
    if not failed:
        print("%d texts, all accounted for" % len(wanted))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
