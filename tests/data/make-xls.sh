#!/bin/sh
# Remakes the committed Excel 97-2003 fixtures: small .xlsx sources are written
# with Python's zipfile, then gnumeric's ssconvert saves them as BIFF8; the
# files laid out as no spreadsheet program saves them come record by record
# from the tests' builders (make-xls-fixtures, in the build directory given or
# build/dev). Needs python3 and gnumeric (apt-get install gnumeric); the
# results are committed, so the build never needs either.
# Usage: tests/data/make-xls.sh [build directory]
set -eu
here=$(cd "$(dirname "$0")" && pwd)
build=${1:-$here/../../build/dev}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

python3 - "$work" <<'PY'
import sys, zipfile
work = sys.argv[1]
NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
R = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'

def esc(t):
    return t.replace('&', '&amp;').replace('<', '&lt;').replace('>', '&gt;')

def cell(ref, v):
    if v is None:
        return ''
    if isinstance(v, bool):
        return f'<c r="{ref}" t="b"><v>{int(v)}</v></c>'
    if isinstance(v, tuple):  # (number, style)
        return f'<c r="{ref}" s="{v[1]}"><v>{v[0]}</v></c>'
    if isinstance(v, (int, float)):
        return f'<c r="{ref}"><v>{v}</v></c>'
    if v.startswith('='):
        return f'<c r="{ref}"><f>{esc(v[1:])}</f></c>'
    return f'<c r="{ref}" t="inlineStr"><is><t xml:space="preserve">{esc(v)}</t></is></c>'

def sheet(rows):
    out = []
    for r, row in enumerate(rows, 1):
        cells = ''.join(cell(chr(65 + c) + str(r), v) for c, v in enumerate(row))
        out.append(f'<row r="{r}">{cells}</row>')
    return f'<worksheet {NS}><sheetData>{"".join(out)}</sheetData></worksheet>'

def book(path, sheets, date1904=False):
    z = zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED)
    z.writestr('[Content_Types].xml', '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
               '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
               '<Default Extension="xml" ContentType="application/xml"/>'
               '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
               + ''.join(f'<Override PartName="/xl/worksheets/sheet{i}.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>' for i in range(1, len(sheets) + 1))
               + '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/></Types>')
    z.writestr('_rels/.rels', f'<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               f'<Relationship Id="rId1" Type="{R}/officeDocument" Target="xl/workbook.xml"/></Relationships>')
    pr = '<workbookPr date1904="1"/>' if date1904 else ''
    z.writestr('xl/workbook.xml', f'<workbook {NS} xmlns:r="{R}">{pr}<sheets>'
               + ''.join(f'<sheet name="{esc(n)}" sheetId="{i}" r:id="rId{i}"/>' for i, (n, _) in enumerate(sheets, 1))
               + '</sheets></workbook>')
    z.writestr('xl/_rels/workbook.xml.rels', '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
               + ''.join(f'<Relationship Id="rId{i}" Type="{R}/worksheet" Target="worksheets/sheet{i}.xml"/>' for i in range(1, len(sheets) + 1))
               + f'<Relationship Id="rIdS" Type="{R}/styles" Target="styles.xml"/></Relationships>')
    z.writestr('xl/styles.xml', f'<styleSheet {NS}><numFmts count="1"><numFmt numFmtId="164" formatCode="yyyy-mm-dd hh:mm"/></numFmts>'
               '<fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>'
               '<fills count="1"><fill><patternFill patternType="none"/></fill></fills>'
               '<borders count="1"><border/></borders><cellStyleXfs count="1"><xf/></cellStyleXfs>'
               '<cellXfs count="4"><xf numFmtId="0"/><xf numFmtId="14" applyNumberFormat="1"/>'
               '<xf numFmtId="164" applyNumberFormat="1"/><xf numFmtId="21" applyNumberFormat="1"/></cellXfs></styleSheet>')
    for i, (_, rows) in enumerate(sheets, 1):
        z.writestr(f'xl/worksheets/sheet{i}.xml', sheet(rows))
    z.close()

long_text = 'Long text ' + ''.join(f'{i:05d} ' for i in range(1800))  # splits the SST across CONTINUE records
contacts = [
    ['Name', 'Email', None, 'Phone', 'Born', 'Seen', 'At', 'Active', 'Total', 'Ratio'],
    ['Ann Lee', 'ann@example.com', None, 5551234567, (45000, 1), (45000.5, 2), (0.75, 3), True, '=D2*2', 0.5],
    [],
    ['Zoë Ünal', 'zoe@example.com', 'x', -12.25, (1, 1), None, None, False, '=1/0', long_text],
]
book(f'{work}/types.xlsx', [('Contacts', contacts), ('Second', [['Other'], [1]])])
book(f'{work}/date1904.xlsx', [('Dates', [['When'], [(0, 1)], [(43538, 1)]])], date1904=True)
PY

for name in types date1904; do
    ssconvert --export-type=Gnumeric_Excel:excel_biff8 "$work/$name.xlsx" "$here/$name.xls" 2>/dev/null
done
"$build/bin/make-xls-fixtures" "$here"
ls -l "$here"/*.xls
