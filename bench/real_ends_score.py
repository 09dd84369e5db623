#!/usr/bin/env python3
"""Scores the files one recovery saved against the originals that were on the disk.

  real_ends_score.py MANIFEST SAVED_DIR LABEL [SECONDS] [--json OUT] [--in-use DIR]
  real_ends_score.py --by-kind RUN.json...   whole/exact/cut/missed per kind of each run
  real_ends_score.py --table RUN.json...     the runs' totals as a Markdown table

MANIFEST lists the originals, one "path<TAB>kind" a line; every file under SAVED_DIR (its
subfolders too) is a saved file. Each original counts once:
  exact   a saved file is identical to it
  whole   a saved file starts with all of it (exact included)
  cut     a saved file starts like it but holds less of it (it is shorter, or it
          leaves the original's bytes before the original's end)
  missed  no saved file starts with its first bytes
and every saved file that starts like no original is junk. With --in-use, DIR holds the
files still in use on the disk: junk whose first sector is a sector of one of them was
found in clusters in use. Junk saved under undeleted/ (files saved by the names their file
systems still give them) is counted apart too.
"""
import argparse
import hashlib
import json
import os
import sys

KEY = 16        # bytes that file a start in the index (files are at least this long)
PREFIX = 4096   # bytes a saved file must share with an original to count as its start
MIN_CUT = 64    # a saved file shorter than this never counts as a cut original
SECTOR = 512    # saved files start on sector boundaries of the disk
RANK = {"exact": 3, "whole": 2, "cut": 1, None: 0}


def sector_digest(data):
    return hashlib.blake2b(data, digest_size=16).digest()


def in_use_sectors(folder):
    """Digests of every whole sector of the files in `folder` (they start on cluster bounds)."""
    digests = set()
    for name in os.listdir(folder):
        with open(os.path.join(folder, name), "rb") as f:
            while len(block := f.read(SECTOR)) == SECTOR:
                digests.add(sector_digest(block))
    return digests


def read_originals(manifest):
    originals = []  # (name, kind, bytes)
    seen = set()
    with open(manifest) as f:
        for line in f:
            path, kind = line.rstrip("\n").split("\t")[:2]
            data = open(path, "rb").read()
            if len(data) == 0 or data in seen:
                continue
            seen.add(data)
            originals.append((os.path.basename(path), kind, data))
    return originals


def score(args):
    originals = read_originals(args.manifest)
    index = {}
    for i, (_, _, data) in enumerate(originals):
        index.setdefault(data[:KEY], []).append(i)
    in_use = in_use_sectors(args.in_use) if args.in_use else None

    best = [None] * len(originals)  # "exact" > "whole" > "cut"
    junk = junk_in_use = junk_named = 0
    written = 0
    saved = [os.path.join(d, n) for d, _, names in os.walk(args.saved_dir) for n in names]
    for path in saved:
        if not os.path.isfile(path) or os.path.basename(path) == "report.xml":
            continue
        size = os.path.getsize(path)
        written += size
        with open(path, "rb") as f:
            head = f.read(PREFIX)
            matched = False
            for i in index.get(head[:KEY], []) if len(head) >= KEY else []:
                data = originals[i][2]
                n = min(len(data), PREFIX)
                if len(head) >= n:
                    if head[:n] != data[:n]:
                        continue
                elif not (len(head) >= MIN_CUT and head == data[: len(head)]):
                    continue
                matched = True
                verdict = "cut"
                if size >= len(data):
                    f.seek(0)
                    if f.read(len(data)) == data:
                        verdict = "exact" if size == len(data) else "whole"
                if RANK[verdict] > RANK[best[i]]:
                    best[i] = verdict
            if not matched:
                junk += 1
                named = os.path.relpath(path, args.saved_dir).startswith("undeleted" + os.sep)
                junk_named += named
                # A saved file's last sector may be partial on the disk side too: only whole
                # first sectors are looked up.
                if in_use is not None and len(head) >= SECTOR and \
                        sector_digest(head[:SECTOR]) in in_use:
                    junk_in_use += 1

    totals = {"exact": 0, "whole": 0, "cut": 0, "missed": 0}
    by_kind = {}
    files = {}
    for (name, kind, _), verdict in zip(originals, best):
        files[name] = verdict or "missed"
        row = by_kind.setdefault(kind, {"exact": 0, "whole": 0, "cut": 0, "missed": 0, "n": 0})
        row["n"] += 1
        if verdict is None:
            row["missed"] += 1
            totals["missed"] += 1
            continue
        if verdict in ("exact", "whole"):
            row["whole"] += 1
            totals["whole"] += 1
        if verdict == "exact":
            row["exact"] += 1
            totals["exact"] += 1
        if verdict == "cut":
            row["cut"] += 1
            totals["cut"] += 1
    seconds = float(args.seconds) if args.seconds is not None else None
    result = dict(label=args.label, originals=len(originals), junk=junk,
                  junk_in_use=junk_in_use if in_use is not None else None, junk_named=junk_named,
                  mb_written=written / 1e6, seconds=seconds, by_kind=by_kind, files=files,
                  **totals)
    row = "%-20s %5d %6d %6d %5d %6d %6d" % (
        args.label, len(originals), totals["whole"], totals["exact"], totals["cut"],
        totals["missed"], junk)
    if in_use is not None:
        row += " %6d" % junk_in_use
    row += " %9.1f" % (written / 1e6)
    if seconds is not None:
        row += " %9.1f" % seconds
    print(row)
    if args.json:
        with open(args.json, "w") as f:
            json.dump(result, f)


def by_kind_table(paths):
    runs = [json.load(open(p)) for p in paths if os.path.exists(p)]
    if not runs:
        return
    print("per kind, whole/exact/cut/missed of the files of that kind:")
    width = max(22, *(len(r["label"]) + 2 for r in runs))
    print("%-8s" % "kind" + "".join("%*s" % (width, r["label"]) for r in runs))
    for kind in sorted(runs[0]["by_kind"]):
        cells = []
        for r in runs:
            k = r["by_kind"].get(kind, {"whole": 0, "exact": 0, "cut": 0, "missed": 0, "n": 0})
            cells.append("%*s" % (width, "%d/%d/%d/%d of %d" % (
                k["whole"], k["exact"], k["cut"], k["missed"], k["n"])))
        print("%-8s" % kind + "".join(cells))


def markdown_table(paths):
    runs = [json.load(open(p)) for p in paths if os.path.exists(p)]
    print("| mode | whole | byte-exact | cut | missed | saved files matching no original "
          "| of them in clusters in use | of them saved by a deleted name |")
    print("|---|---|---|---|---|---|---|---|")
    for r in runs:
        in_use = "-" if r.get("junk_in_use") is None else r["junk_in_use"]
        print("| %s | %d | %d | %d | %d | %d | %s | %d |" % (
            r["label"], r["whole"], r["exact"], r["cut"], r["missed"], r["junk"], in_use,
            r.get("junk_named", 0)))


def main():
    if len(sys.argv) > 1 and sys.argv[1] in ("--by-kind", "--table"):
        (by_kind_table if sys.argv[1] == "--by-kind" else markdown_table)(sys.argv[2:])
        return
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("manifest")
    parser.add_argument("saved_dir")
    parser.add_argument("label")
    parser.add_argument("seconds", nargs="?")
    parser.add_argument("--json")
    parser.add_argument("--in-use")
    score(parser.parse_args())


if __name__ == "__main__":
    main()
