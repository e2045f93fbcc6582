#!/usr/bin/env python3
"""Drafted schemas against dictionaries: for each dictionary given, the data
files it names are drafted by `gandrel schema` WITHOUT the dictionary, and
each dictionary field is looked for in the draft of its file (the table's
fields or any record type's): found when a drafted field has the same
offset and length and a compatible type.

  schema_compare.py GANDREL OUTDIR DDF_DIR[:DATA_DIR[:CODEPAGE]] ...

Prints one line per dictionary table, then the totals by type class."""
import json
import os
import subprocess
import sys

CLASSES = {
    "string": {"string", "zstring", "lstring", "note", "wstring", "wzstring"},
    "integer": {"integer", "unsigned", "unsigned binary", "autoinc"},
    "date": {"date"},
}
# What a drafted type may be for a dictionary type of each class.
COMPATIBLE = {
    "string": {"string", "zstring", "lstring", "note"},
    "integer": {"integer", "unsigned", "autoinc", "logical"},
    "date": {"date"},
}


def type_class(t):
    for name, members in CLASSES.items():
        if t in members:
            return name
    return "other"


def compatible(dict_type, draft_type):
    c = type_class(dict_type)
    if c in COMPATIBLE:
        return draft_type in COMPATIBLE[c]
    if dict_type in ("logical", "bit"):
        return draft_type in ("logical", "integer", "unsigned")
    if dict_type in ("float", "bfloat"):
        return draft_type == dict_type
    return draft_type == dict_type


def run(args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)


def abspath(schema_path, file):
    return os.path.normcase(os.path.realpath(os.path.join(os.path.dirname(schema_path), file)))


def compare(gandrel, outdir, dictionary_arg, totals, name, run_name):
    parts = dictionary_arg.split(":")
    ddf, data = parts[0], parts[1] if len(parts) > 1 and parts[1] else None
    codepage = parts[2] if len(parts) > 2 else "437"
    dict_json = os.path.join(outdir, run_name + "-dictionary.json")
    args = [gandrel, "schema", "--ddf", ddf, "-o", dict_json, "--codepage", codepage, "-q"]
    if data:
        args += ["--data", data]
    run(args)
    tables = json.load(open(dict_json))["tables"]
    files = {}
    for t in tables:
        path = abspath(dict_json, t["file"])
        if os.path.isfile(path):
            files.setdefault(path, []).append(t)
    draft_json = os.path.join(outdir, run_name + "-draft.json")
    run([gandrel, "schema", *sorted(files), "-o", draft_json, "--codepage", codepage, "-q"])
    drafts = {abspath(draft_json, t["file"]): t for t in json.load(open(draft_json))["tables"]}
    for path, dict_tables in sorted(files.items()):
        draft = drafts.get(path)
        layouts = [] if draft is None else [draft["fields"]] + [r["fields"] for r in draft.get("recordTypes", [])]
        for t in dict_tables:
            best = None
            for fields in layouts or [[]]:
                found = {}
                for f in t["fields"]:
                    c = type_class(f["type"])
                    hit = any(d["offset"] == f["offset"] and d["length"] == f["length"] and
                              compatible(f["type"], d["type"]) for d in fields)
                    n, k = found.get(c, (0, 0))
                    found[c] = (n + 1, k + (1 if hit else 0))
                score = sum(k for _, k in found.values())
                if best is None or score > best[0]:
                    best = (score, found)
            total = sum(n for n, _ in best[1].values())
            print("  %-24s %-28s %3d of %3d fields" % (t["name"], os.path.basename(path), best[0], total))
            for c, (n, k) in best[1].items():
                tn, tk = totals.setdefault(name, {}).get(c, (0, 0))
                totals[name][c] = (tn + n, tk + k)


def corpus_of(path):
    """The corpus folder a dictionary lies in (corpus, corpus-v7plus, ...)."""
    parts = os.path.normpath(path).split(os.sep)
    found = [p for p in parts if p.startswith("corpus")]
    return found[-1] if found else parts[-1]


def main():
    gandrel, outdir = sys.argv[1], sys.argv[2]
    os.makedirs(outdir, exist_ok=True)
    totals = {}
    for i, dictionary_arg in enumerate(sys.argv[3:]):
        print(dictionary_arg)
        compare(gandrel, outdir, dictionary_arg, totals, corpus_of(dictionary_arg.split(":")[0]), "run%d" % i)
    print("\nby corpus and type class (found / fields):")
    grand = {}
    for name, classes in totals.items():
        cells = []
        for c in ("string", "integer", "date", "other"):
            n, k = classes.get(c, (0, 0))
            gn, gk = grand.get(c, (0, 0))
            grand[c] = (gn + n, gk + k)
            cells.append("%s %d/%d" % (c, k, n))
        print("  %-16s %s" % (name, "  ".join(cells)))
    cells = []
    for c in ("string", "integer", "date", "other"):
        n, k = grand.get(c, (0, 0))
        cells.append("%s %d/%d (%s)" % (c, k, n, "%.0f%%" % (100.0 * k / n) if n else "-"))
    print("  %-16s %s" % ("all", "  ".join(cells)))


if __name__ == "__main__":
    main()
