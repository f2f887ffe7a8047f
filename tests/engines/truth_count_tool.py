#!/usr/bin/python3
"""Stands in for the counting tool in the yardstick's own test: "--engine NAME IMAGE.tif" prints
the cells of IMAGE.csv, the truth beside the frame, as x,y,diameter_um,live."""
import csv
import sys

if len(sys.argv) != 4 or sys.argv[1] != "--engine":
    sys.stderr.write("usage: truth_count_tool.py --engine NAME IMAGE.tif\n")
    sys.exit(2)
with open(sys.argv[3][:-len(".tif")] + ".csv", newline="") as f:
    rows = list(csv.DictReader(f))
print("x,y,diameter_um,live")
for r in rows:
    print("%s,%s,%s,%s" % (r["x"], r["y"], r["diameter_um"], r["live"]))
