#!/bin/sh
# Remakes the committed Excel 2007 fixtures: workbooks laid out the way some
# real writers lay them out, written part by part with Python's zipfile. Needs
# python3; the results are committed, so the build never needs it.
set -eu
here=$(cd "$(dirname "$0")" && pwd)

python3 - "$here" <<'PY'
import sys, zipfile
here = sys.argv[1]
NS = 'xmlns="http://schemas.openxmlformats.org/spreadsheetml/2006/main"'
R = 'http://schemas.openxmlformats.org/officeDocument/2006/relationships'
X15 = 'http://schemas.microsoft.com/office/spreadsheetml/2010/11/main'
FIXED = (2024, 1, 1, 0, 0, 0)  # entry times, so a remake changes no byte


def esc(t):
    return t.replace('&', '&amp;').replace('<', '&lt;').replace('>', '&gt;')


def text(ref, value):
    return f'<c r="{ref}" t="inlineStr"><is><t>{esc(value)}</t></is></c>'


def book(name, sheet_data, workbook_pr='', dimension='', styles_xfs=('0',),
         shared=None, workbook_end=''):
    path = f'{here}/{name}'
    z = zipfile.ZipFile(path, 'w', zipfile.ZIP_DEFLATED)

    def put(part, data):
        z.writestr(zipfile.ZipInfo(part, FIXED), data, zipfile.ZIP_DEFLATED)

    put('[Content_Types].xml',
        '<Types xmlns="http://schemas.openxmlformats.org/package/2006/content-types">'
        '<Default Extension="rels" ContentType="application/vnd.openxmlformats-package.relationships+xml"/>'
        '<Default Extension="xml" ContentType="application/xml"/>'
        '<Override PartName="/xl/workbook.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.sheet.main+xml"/>'
        '<Override PartName="/xl/worksheets/sheet1.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.worksheet+xml"/>'
        '<Override PartName="/xl/styles.xml" ContentType="application/vnd.openxmlformats-officedocument.spreadsheetml.styles+xml"/></Types>')
    put('_rels/.rels',
        '<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
        f'<Relationship Id="rId1" Type="{R}/officeDocument" Target="xl/workbook.xml"/></Relationships>')
    put('xl/workbook.xml',
        f'<workbook {NS} xmlns:r="{R}" xmlns:mc="http://schemas.openxmlformats.org/markup-compatibility/2006" '
        f'mc:Ignorable="x15" xmlns:x15="{X15}">{workbook_pr}'
        f'<sheets><sheet name="Sheet1" sheetId="1" r:id="rId1"/></sheets>{workbook_end}</workbook>')
    rels = ('<Relationships xmlns="http://schemas.openxmlformats.org/package/2006/relationships">'
            f'<Relationship Id="rId1" Type="{R}/worksheet" Target="worksheets/sheet1.xml"/>'
            f'<Relationship Id="rId2" Type="{R}/styles" Target="styles.xml"/>')
    if shared is not None:
        rels += f'<Relationship Id="rId3" Type="{R}/sharedStrings" Target="sharedStrings.xml"/>'
        put('xl/sharedStrings.xml',
            f'<sst {NS} count="{len(shared)}" uniqueCount="{len(shared)}">'
            + ''.join(f'<si><t>{esc(s)}</t></si>' for s in shared) + '</sst>')
    put('xl/_rels/workbook.xml.rels', rels + '</Relationships>')
    put('xl/styles.xml',
        f'<styleSheet {NS}><fonts count="1"><font><sz val="11"/><name val="Calibri"/></font></fonts>'
        '<fills count="1"><fill><patternFill patternType="none"/></fill></fills>'
        '<borders count="1"><border/></borders><cellStyleXfs count="1"><xf/></cellStyleXfs>'
        f'<cellXfs count="{len(styles_xfs)}">'
        + ''.join(f'<xf numFmtId="{f}" applyNumberFormat="1"/>' for f in styles_xfs)
        + '</cellXfs></styleSheet>')
    put('xl/worksheets/sheet1.xml',
        f'<worksheet {NS}>{dimension}<sheetData>{sheet_data}</sheetData></worksheet>')
    z.close()


# One <row> element per cell, the row number repeated; row 2 comes back once
# more after row 3 with its last cell.
cells = [('A1', 'Name'), ('B1', 'Email'), ('C1', 'Phone'),
         ('A2', 'Ann Lee'), ('B2', 'ann@example.com'),
         ('A3', 'Bo Ek'), ('B3', 'bo@example.com'), ('C3', '555-0101')]
data = ''.join(f'<row r="{ref[1:]}">{text(ref, value)}</row>' for ref, value in cells)
data += f'<row r="2">{text("C2", "555-0100")}</row>'
book('rows-repeated.xlsx', data, dimension='<dimension ref="A1:C3"/>')

# The 1904 date system, and Excel 2013's extension element of the same local
# name after it.
book('date1904-extension.xlsx',
     f'<row r="1">{text("A1", "When")}</row>'
     '<row r="2"><c r="A2" s="1"><v>0</v></c></row>'
     '<row r="3"><c r="A3" s="1"><v>43538</v></c></row>',
     workbook_pr='<workbookPr date1904="1"/>',
     workbook_end='<extLst><ext uri="{140A7094-0E35-4892-8432-C4D2E57EDEB5}">'
                  '<x15:workbookPr chartTrackingRefBase="1"/></ext></extLst>',
     styles_xfs=('0', '14'))

# ISO 8601 values in t="d" cells: dates, date-times, times and durations, and
# two texts that are none of them.
values = ['2021-01-02', '2021-01-02T03:04:05', '10:10:10', 'PT24H0M0.000S',
          'PT26H30M15S', 'P1DT2H', '-PT1H30M', 'P0Y0M0DT0H0M45S', 'P1Y', 'soon']
data = f'<row r="1">{text("A1", "When")}</row>'
for i, value in enumerate(values, 2):
    data += f'<row r="{i}"><c r="A{i}" t="d"><v>{value}</v></c></row>'
book('iso-dates.xlsx', data)

# A <dimension> claiming A1:B3 while the cells reach column E and row 5.
book('dimension-too-small.xlsx',
     f'<row r="1">{text("A1", "Name")}{text("B1", "Email")}{text("C1", "Phone")}</row>'
     f'<row r="2">{text("A2", "Ann Lee")}{text("B2", "ann@example.com")}'
     f'<c r="C2"><v>5550100</v></c>{text("D2", "no header")}</row>'
     f'<row r="5">{text("E5", "far out")}</row>',
     dimension='<dimension ref="A1:B3"/>')

# A header of 16384 cells holding the same text (cells without a reference
# follow the one before).
header = '<c t="s"><v>0</v></c>' * 16384
book('header-repeated.xlsx',
     f'<row r="1">{header}</row><row r="2"><c r="A2" t="s"><v>1</v></c></row>',
     dimension='<dimension ref="A1:XFD2"/>', shared=['Name', 'ann@example.com'])
PY
ls -l "$here"/*.xlsx
