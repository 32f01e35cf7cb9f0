#!/usr/bin/env python3
"""Prints the upper-case table of formats/disc/name_fold.cpp: the Unicode simple
uppercase mappings of the Basic Multilingual Plane, as runs of
{first, last, delta, step} (step 2: every other unit from first).

Python's unicodedata gives the full mappings; where a full mapping has more
than one character the simple mapping is the character itself, except for
the Greek letters with ypogegrammeni, whose simple mappings are the
prosgegrammeni forms listed below.

    python3 tools/disc/make_case_table.py
"""
import unicodedata

SIMPLE = {0x1FB3: 0x1FBC, 0x1FC3: 0x1FCC, 0x1FF3: 0x1FFC}
for base in (0x1F80, 0x1F90, 0x1FA0):
    for u in range(base, base + 8):
        SIMPLE[u] = u + 8


def upper(u):
    if u in SIMPLE:
        return SIMPLE[u]
    full = chr(u).upper()
    return ord(full) if len(full) == 1 and ord(full) <= 0xFFFF else u


runs = []
for u in range(0x10000):
    if 0xD800 <= u <= 0xDFFF:
        continue
    t = upper(u)
    if t == u:
        continue
    d = t - u
    if runs:
        first, last, delta, step = runs[-1]
        gap = u - last
        if delta == d and (gap == step or (first == last and gap in (1, 2))):
            runs[-1] = (first, u, d, gap)
            continue
    runs.append((u, u, d, 1))

print("    // Unicode %s simple uppercase, %d runs (tools/disc/make_case_table.py)"
      % (unicodedata.unidata_version, len(runs)))
cells = ["{0x%04X, 0x%04X, %d, %d}," % r for r in runs]
for i in range(0, len(cells), 4):
    print("    " + " ".join(cells[i:i + 4]))
