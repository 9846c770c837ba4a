#!/usr/bin/env python3
"""Reads a CSV log with Python's csv module, independently of the writer.

Usage: read_log_csv.py FILE HEADERS
HEADERS is 1 when the file must start with the two header lines, else 0.
Checks that every line ends with CR LF, that the header lines have 21 fields
and every record 21 comma-terminated fields (22 entries, the last empty but
in an event record). Prints one line per record: its 21 fields joined by '|',
and the event's text as a 22nd when there is one. Exits 1 on any
violation, with the reason on stderr.
"""
import csv
import sys


def fail(why):
    print(why, file=sys.stderr)
    sys.exit(1)


def main():
    path, headers = sys.argv[1], sys.argv[2] == "1"
    with open(path, "rb") as f:
        raw = f.read()
    if raw and not raw.endswith(b"\r\n"):
        fail("the file does not end with CR LF")
    if raw.replace(b"\r\n", b"").count(b"\n") or raw.replace(b"\r\n", b"").count(b"\r"):
        fail("a line end other than CR LF")
    with open(path, newline="", encoding="utf-8") as f:
        rows = list(csv.reader(f))
    if headers:
        if len(rows) < 2:
            fail("header lines missing")
        if rows[0] != ["", "", "", "", "", "", "", "Average", "", "", "", "", "", "",
                       "Peak", "", "Burst", "", "", "Crest", "CCDF"]:
            fail("header line 1 is %r" % rows[0])
        if len(rows[1]) != 21 or rows[1][0] != "Date" or rows[1][20] != " Factor":
            fail("header line 2 is %r" % rows[1])
        rows = rows[2:]
    for n, row in enumerate(rows):
        if row and row[0] == "Date":
            fail("header line repeated at record %d" % n)
        if len(row) != 22:
            fail("record %d has %d entries: %r" % (n, len(row), row))
        print("|".join(row if row[21] else row[:21]))


if __name__ == "__main__":
    main()
