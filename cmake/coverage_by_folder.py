#!/usr/bin/env python3
"""Sums gcovr's per-file JSON summary into line and branch coverage per top folder."""
import json
import sys


def percent(covered, total):
    return f"{100.0 * covered / total:5.1f} %" if total else "    -  "


def main():
    summary_path, folders = sys.argv[1], sys.argv[2:]
    with open(summary_path, encoding="utf-8") as summary_file:
        files = json.load(summary_file)["files"]
    sums = {folder: [0, 0, 0, 0] for folder in folders}
    for entry in files:
        folder = entry["filename"].split("/", 1)[0]
        if folder in sums:
            row = sums[folder]
            row[0] += entry["line_covered"]
            row[1] += entry["line_total"]
            row[2] += entry["branch_covered"]
            row[3] += entry["branch_total"]
    total = [sum(column) for column in zip(*sums.values())]
    print(f"{'folder':<10} {'lines':>15} {'':>7}  {'branches':>15} {'':>7}")
    for name, row in [*((f + "/", sums[f]) for f in folders), ("all", total)]:
        print(f"{name:<10} {row[0]:>7}/{row[1]:<7} {percent(row[0], row[1])}  "
              f"{row[2]:>7}/{row[3]:<7} {percent(row[2], row[3])}")


if __name__ == "__main__":
    main()
