#include "HostileFiles.h"

#include "excel/Limits.h"

namespace builders {

namespace {

void putU32(QByteArray &data, qsizetype at, quint32 value)
{
    for (int i = 0; i < 4; ++i)
        data[at + i] = char((value >> (8 * i)) & 0xFF);
}

quint32 getU32(const QByteArray &data, qsizetype at)
{
    quint32 value = 0;
    for (int i = 0; i < 4; ++i)
        value |= quint32(quint8(data.at(at + i))) << (8 * i);
    return value;
}

// Rewrites the inflated size an entry declares, in its local and central headers.
QByteArray withDeclaredSize(QByteArray zip, const QByteArray &entryName, quint32 size)
{
    qsizetype at = 0;
    while ((at = zip.indexOf(entryName, at + 1)) > 0) {
        if (zip.mid(at - 30, 4) == QByteArray("PK\x03\x04", 4))
            putU32(zip, at - 30 + 22, size);
        else if (zip.mid(at - 46, 4) == QByteArray("PK\x01\x02", 4))
            putU32(zip, at - 46 + 24, size);
    }
    return zip;
}

QByteArray deepNesting(int depth)
{
    return sheetXml("<sheetData>" + QByteArray("<a>").repeated(depth) +
                    QByteArray("</a>").repeated(depth) + "</sheetData>");
}

QByteArray billionLaughs()
{
    QByteArray dtd = "<?xml version=\"1.0\"?><!DOCTYPE worksheet [<!ENTITY l0 \"ha\">";
    for (int i = 1; i < 10; ++i)
        dtd += "<!ENTITY l" + QByteArray::number(i) + " \"" +
               QByteArray("&l" + QByteArray::number(i - 1) + ";").repeated(10) + "\">";
    dtd += "]><worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
           "<sheetData><row><c t=\"inlineStr\"><is><t>&l9;</t></is></c></row></sheetData>"
           "</worksheet>";
    return dtd;
}

QByteArray smallWorkbookStream()
{
    // Enough cells that the stream lives in the big-sector chain (>= 4096 bytes).
    QByteArray cells = record(0x0204, u16(0) + u16(0) + u16(0) + biffString("Name"));
    for (int row = 1; row < 400; ++row)
        cells += record(0x0203, u16(quint16(row)) + u16(0) + u16(0) + f64(row));
    return biffWorkbook({}, {"Sheet1"}, {cells});
}

// The compound document's FAT entry for the first sector of the named
// stream, to point elsewhere.
QByteArray withChainLink(QByteArray ole, quint32 target)
{
    const qsizetype sectorSize = 512;
    const quint32 directorySector = getU32(ole, 0x30);
    const quint32 firstFatSector = getU32(ole, 0x4C);
    const qsizetype directory = (directorySector + 1) * sectorSize;
    for (qsizetype entry = directory; entry + 128 <= ole.size(); entry += 128) {
        const QString name =
            QString::fromUtf16(reinterpret_cast<const char16_t *>(ole.constData() + entry), 8);
        if (name == QLatin1String("Workbook")) {
            const quint32 start = getU32(ole, entry + 0x74);
            putU32(ole, (firstFatSector + 1) * sectorSize + 4 * qsizetype(start),
                   target == 0xFFFFFFFF ? start : target);
            return ole;
        }
    }
    qFatal("no Workbook entry");
}

} // namespace

QByteArray sheetXml(const QByteArray &body)
{
    return "<?xml version=\"1.0\"?><worksheet xmlns=\"http://schemas.openxmlformats.org/"
           "spreadsheetml/2006/main\">" +
           body + "</worksheet>";
}

// A valid .xlsx whose first sheet part is replaced by the given text.
QByteArray xlsxWithSheetPart(const QByteArray &sheetPart)
{
    return zipArchive(
        {{"[Content_Types].xml", "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                                 "content-types\"/>"},
         {"_rels/.rels",
          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
          "relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
         {"xl/workbook.xml",
          "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
          "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\">"
          "<sheets><sheet name=\"Sheet1\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>"},
         {"xl/_rels/workbook.xml.rels",
          "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
          "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
          "relationships/worksheet\" Target=\"worksheets/sheet1.xml\"/></Relationships>"},
         {"xl/worksheets/sheet1.xml", sheetPart}});
}

std::vector<HostileFile> hostileXlsxFiles()
{
    std::vector<HostileFile> files;
    QByteArray normal =
        xlsxWithSheetPart(sheetXml("<sheetData><row><c><v>1</v></c></row></sheetData>"));
    files.push_back({"declared size past the limit",
                     withDeclaredSize(normal, "xl/worksheets/sheet1.xml", 0xF0000000u),
                     "cannot be read safely"});
    files.push_back({"declared size past the inflation ratio",
                     withDeclaredSize(normal, "xl/worksheets/sheet1.xml", 200u << 20),
                     "inflate more than 1000 times"});
    files.push_back({"more data than declared",
                     withDeclaredSize(normal, "xl/worksheets/sheet1.xml", 10), "declared size"});
    files.push_back(
        {"billion laughs", xlsxWithSheetPart(billionLaughs()), "document type declaration"});
    files.push_back({"deep nesting", xlsxWithSheetPart(deepNesting(5000)), "levels deep"});
    QByteArray prefixes;
    for (int i = 0; i < 5000; ++i)
        prefixes += " xmlns:p" + QByteArray::number(i) + "=\"urn:p" + QByteArray::number(i) + "\"";
    files.push_back({"many namespaces",
                     xlsxWithSheetPart("<?xml version=\"1.0\"?><worksheet xmlns=\"http://"
                                       "schemas.openxmlformats.org/spreadsheetml/2006/main\"" +
                                       prefixes + "><sheetData/></worksheet>"),
                     "namespaces at once"});
    files.push_back({"not well-formed",
                     xlsxWithSheetPart(sheetXml("<sheetData><row><c><v>1</c></row></sheetData>")),
                     "not well-formed"});
    files.push_back({"part name climbing out",
                     zipArchive({{"../evil.xml", "x"}, {"xl/workbook.xml", "<workbook/>"}}),
                     "outside itself"});
    QByteArray corrupt = xlsxWithSheetPart(
        sheetXml("<sheetData>" + QByteArray("<row><c><v>12345</v></c></row>").repeated(2000) +
                 "</sheetData>"));
    const qsizetype sheetData = corrupt.indexOf("xl/worksheets/sheet1.xml") + 24;
    for (qsizetype i = sheetData + 40; i < sheetData + 120; ++i)
        corrupt[i] = char(0xFF);
    files.push_back({"broken deflate data", corrupt, "damaged"});
    files.push_back({"cut short", normal.left(normal.size() / 2), "damaged"});
    return files;
}

std::vector<HostileFile> hostileXlsFiles()
{
    std::vector<HostileFile> files;
    const QByteArray good = smallWorkbookStream();
    files.push_back({"password protected (FILEPASS)",
                     compoundDocument({{"Workbook", biffWorkbook(record(0x002F, QByteArray(54, 0)),
                                                                 {"S"}, {})}}),
                     "protected by a password"});
    files.push_back({"encrypted Excel 2007 package",
                     compoundDocument({{"EncryptionInfo", QByteArray(64, 1)},
                                       {"EncryptedPackage", QByteArray(64, 2)}}),
                     "protected by a password"});
    files.push_back({"no workbook stream", compoundDocument({{"Other", QByteArray(64, 1)}}),
                     "not an Excel workbook"});
    files.push_back(
        {"shared string count past the record",
         compoundDocument(
             {{"Workbook", biffWorkbook(record(0x00FC, u32(4000000000u) + u32(4000000000u) +
                                                           QByteArray(30, 'a')),
                                        {"S"}, {})}}),
         "claims 4000000000 strings"});
    files.push_back({"record past the end of the stream",
                     compoundDocument({{"Workbook", good.left(good.size() - 4) + u16(0x0203) +
                                                        u16(2000) + QByteArray(10, 0)}}),
                     "past the end"});
    QByteArray farSheet = good;
    putU32(farSheet, farSheet.indexOf(QByteArray("\x85\x00", 2)) + 4, 0x7FFFFFFF);
    files.push_back({"sheet outside the stream", compoundDocument({{"Workbook", farSheet}}),
                     "outside the workbook stream"});
    files.push_back({"Excel 2.1 file",
                     compoundDocument({{"Workbook", record(0x0009, u16(2) + u16(0x10))}}),
                     "older than Excel 5.0"});
    const QByteArray ole = compoundDocument({{"Workbook", good}});
    files.push_back({"looping sector chain", withChainLink(ole, 0xFFFFFFFF), "damaged"});
    files.push_back({"sector chain outside the file", withChainLink(ole, 0x00FFFFF0u), "damaged"});
    files.push_back({"truncated container", ole.left(1000), "damaged"});
    return files;
}

std::vector<HostileFile> hostileCsvFiles()
{
    std::vector<HostileFile> files;
    const QByteArray field(excel::limits::maxCellTextBytes + 1, 'x');
    files.push_back({"huge CSV field", "Name\n" + field + "\n", "a field holds more text"});
    files.push_back(
        {"huge quoted CSV field", "Name\n\"" + field + "\"\n", "a field holds more text"});
    files.push_back({"CSV quote never closed",
                     "Name\n\"" + QByteArray("a\n").repeated(excel::limits::maxCellTextBytes),
                     "a field holds more text"});
    files.push_back(
        {"huge CSV line",
         "Name\n" +
             QByteArray(qsizetype{1000} * 1024, 'y')
                 .append(',')
                 .repeated(excel::limits::maxCsvRecordCharacters / (qsizetype{1000} * 1024) + 1),
         "a line holds more than"});
    files.push_back({"more CSV fields than columns",
                     "Name\n" + QByteArray(",").repeated(excel::limits::maxColumns) + "x\n",
                     "more than 16384 fields"});
    return files;
}

} // namespace builders
