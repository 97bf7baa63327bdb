#!/usr/bin/env python3
"""Fails when a language's catalogue misses a text the sources mark for translation, keeps a
text they no longer have, or drops or invents a placeholder ({1}, %1) or a line break. A text
its translator comment calls wrapped (a block of terminal text, wrapped to its width) may take
as many lines as the language needs, but still ends in a line break where the English does.

usage: check_translations.py TEMPLATE LANG.po... -- XGETTEXT ARGS... SOURCES...
The command after -- writes the template (its -o TEMPLATE is added) from the sources.
"""
import ast
import re
import subprocess
import sys


def entries(path, wrapped=None):
    """msgid -> msgstr of a .po or .pot file, the header left out; adds to wrapped the msgids
    whose translator comment says they are wrapped."""
    found, key, field = {}, None, None
    parts = {"msgid": [], "msgstr": []}
    comment = []

    def close():
        if parts["msgid"] or parts["msgstr"]:
            msgid = "".join(parts["msgid"])
            if msgid:
                found[msgid] = "".join(parts["msgstr"])
                if wrapped is not None and "wrapped" in " ".join(comment):
                    wrapped.add(msgid)
        parts["msgid"], parts["msgstr"] = [], []
        comment.clear()

    for line in open(path, encoding="utf-8"):
        line = line.strip()
        if line.startswith("#."):
            close()
            comment.append(line)
            continue
        if not line or line.startswith("#"):
            continue
        key = line.split(" ", 1)[0]
        if key in ("msgid", "msgstr"):
            if key == "msgid" and parts["msgstr"]:
                close()
            field = key
            line = line[len(key):].strip()
        parts[field].append(ast.literal_eval(line))
    close()
    return found


def marks(text, wrapped=False):
    lines = text.endswith("\n") if wrapped else text.count("\n")
    return sorted(re.findall(r"\{[1-9]\}|%[1-9]", text)), lines


def main():
    split = sys.argv.index("--")
    files, command = sys.argv[1:split], sys.argv[split + 1:]
    subprocess.run(command + ["-o", files[0]], check=True)
    wrapped = set()
    template = entries(files[0], wrapped)
    faults = []
    for po in files[1:]:
        translated = entries(po)
        faults += [f"{po}: not translated: {m!r}" for m in template
                   if not translated.get(m)]
        faults += [f"{po}: no longer in the sources: {m!r}" for m in translated
                   if m not in template]
        faults += [f"{po}: placeholders or line breaks differ: {m!r}" for m, t in
                   translated.items()
                   if t and m in template and marks(m, m in wrapped) != marks(t, m in wrapped)]
    for fault in faults:
        print(fault)
    print(f"{len(template)} texts, {len(faults)} faults")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
