#!/usr/bin/python3
"""Print the sheets and non-empty cells of a workbook as JSON.

Reads with openpyxl, a reader independent of the library the tool writes with, so a
test that checks this output checks the file itself.

Output: {"sheets": [name, ...],
         "cells": {sheet: [{"ref": "A1", "type": "s", "value": "..."}, ...]}}
"""
import json
import sys

import openpyxl


def main(argv):
    if len(argv) != 2:
        print("usage: dump_workbook.py FILE.xlsx", file=sys.stderr)
        return 2
    book = openpyxl.load_workbook(argv[1])
    out = {"sheets": book.sheetnames, "cells": {}}
    for sheet in book.worksheets:
        cells = []
        for row in sheet.iter_rows():
            for cell in row:
                if cell.value is None:
                    continue
                cells.append({"ref": cell.coordinate, "type": cell.data_type,
                              "value": str(cell.value)})
        out["cells"][sheet.title] = cells
    json.dump(out, sys.stdout, ensure_ascii=True)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
