#!/usr/bin/env python3
"""Scores the files one recovery saved against the originals that were on the disk.

  real_ends_score.py MANIFEST SAVED_DIR LABEL SECONDS [--json OUT]

MANIFEST lists the originals, one "path<TAB>kind" a line. Each original counts once:
  exact   a saved file is identical to it
  whole   a saved file starts with all of it (exact included)
  cut     a saved file starts like it but holds less of it (it is shorter, or it
          leaves the original's bytes before the original's end)
  missed  no saved file starts with its first bytes
and every saved file that starts like no original is junk.
"""
import json
import os
import sys

KEY = 16        # bytes that file a start in the index (files are at least this long)
PREFIX = 4096   # bytes a saved file must share with an original to count as its start
MIN_CUT = 64    # a saved file shorter than this never counts as a cut original


def main():
    manifest, saved_dir, label, seconds = sys.argv[1:5]
    json_out = sys.argv[6] if len(sys.argv) > 6 and sys.argv[5] == "--json" else None

    originals = []  # (kind, bytes)
    seen = set()
    with open(manifest) as f:
        for line in f:
            path, kind = line.rstrip("\n").split("\t")[:2]
            data = open(path, "rb").read()
            if len(data) == 0 or data in seen:
                continue
            seen.add(data)
            originals.append((kind, data))
    index = {}
    for i, (_, data) in enumerate(originals):
        index.setdefault(data[:KEY], []).append(i)

    best = [None] * len(originals)  # "exact" > "whole" > "cut"
    rank = {"exact": 3, "whole": 2, "cut": 1, None: 0}
    junk = 0
    written = 0
    for name in os.listdir(saved_dir):
        path = os.path.join(saved_dir, name)
        if not os.path.isfile(path) or name == "report.xml":
            continue
        size = os.path.getsize(path)
        written += size
        with open(path, "rb") as f:
            head = f.read(PREFIX)
            matched = False
            for i in index.get(head[:KEY], []) if len(head) >= KEY else []:
                data = originals[i][1]
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
                if rank[verdict] > rank[best[i]]:
                    best[i] = verdict
            if not matched:
                junk += 1

    totals = {"exact": 0, "whole": 0, "cut": 0, "missed": 0}
    by_kind = {}
    for (kind, _), verdict in zip(originals, best):
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
    result = dict(label=label, originals=len(originals), junk=junk,
                  mb_written=written / 1e6, seconds=float(seconds), by_kind=by_kind, **totals)
    print("%-20s %5d %6d %6d %5d %6d %6d %9.1f %9.1f" % (
        label, len(originals), totals["whole"], totals["exact"], totals["cut"],
        totals["missed"], junk, written / 1e6, float(seconds)))
    if json_out:
        with open(json_out, "w") as f:
            json.dump(result, f)


if __name__ == "__main__":
    main()
