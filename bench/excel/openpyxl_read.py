"""Reads every cell of a workbook's first sheet with openpyxl in read-only mode,
turning each value into text, for comparison with our reader."""
import sys

import openpyxl

workbook = openpyxl.load_workbook(sys.argv[1], read_only=True)
sheet = workbook.worksheets[0]
rows = 0
characters = 0
for row in sheet.iter_rows(values_only=True):
    for value in row:
        characters += len("" if value is None else str(value))
    rows += 1
print(f"{rows} rows, {characters} characters")
