// Files made to hurt a reader: each must fail with a description (or read),
// never crash, hang or allocate without bound. Also the real-world corpus.
#include "Builders.h"

#include "excel/SheetSource.h"
#include "excel/Table.h"
#include "excel/Workbook.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <zip.h>

#include <cstring>

using namespace builders;

namespace {

// Opens and reads every row; the error's description when anything fails.
QString readAll(Result<std::unique_ptr<excel::WorkbookFile>> opened, int *rowCount = nullptr)
{
    if (!opened)
        return opened.error().message;
    for (int sheet = 0; sheet < opened.value()->sheetNames().size(); ++sheet) {
        auto table = excel::SheetTable::open(*opened.value(), sheet);
        if (!table)
            return table.error().message;
        int rows = 0;
        for (;;) {
            Result<bool> more = table.value()->next();
            if (!more)
                return more.error().message;
            if (!more.value())
                break;
            ++rows;
        }
        if (rowCount && sheet == 0)
            *rowCount = rows;
    }
    return {};
}

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
            putU32(ole, (firstFatSector + 1) * sectorSize + 4 * start,
                   target == 0xFFFFFFFF ? start : target);
            return ole;
        }
    }
    qFatal("no Workbook entry");
}

} // namespace

class TestHostileWorkbooks : public QObject
{
    Q_OBJECT

private slots:
    void hostileXlsx_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("description"); // a part of the expected text

        QByteArray normal =
            xlsxWithSheetPart(sheetXml("<sheetData><row><c><v>1</v></c></row></sheetData>"));
        QTest::newRow("declared size past the limit")
            << withDeclaredSize(normal, "xl/worksheets/sheet1.xml", 0xF0000000u)
            << "cannot be read safely";
        QTest::newRow("declared size past the inflation ratio")
            << withDeclaredSize(normal, "xl/worksheets/sheet1.xml", 200u << 20)
            << "inflate more than 1000 times";
        QTest::newRow("more data than declared")
            << withDeclaredSize(normal, "xl/worksheets/sheet1.xml", 10) << "declared size";
        QTest::newRow("billion laughs")
            << xlsxWithSheetPart(billionLaughs()) << "document type declaration";
        QTest::newRow("deep nesting") << xlsxWithSheetPart(deepNesting(5000)) << "levels deep";
        QTest::newRow("not well-formed")
            << xlsxWithSheetPart(sheetXml("<sheetData><row><c><v>1</c></row></sheetData>"))
            << "not well-formed";
        QTest::newRow("part name climbing out")
            << zipArchive({{"../evil.xml", "x"}, {"xl/workbook.xml", "<workbook/>"}})
            << "outside itself";
        QByteArray corrupt = xlsxWithSheetPart(
            sheetXml("<sheetData>" + QByteArray("<row><c><v>12345</v></c></row>").repeated(2000) +
                     "</sheetData>"));
        const qsizetype sheetData = corrupt.indexOf("xl/worksheets/sheet1.xml") + 24;
        for (qsizetype i = sheetData + 40; i < sheetData + 120; ++i)
            corrupt[i] = char(0xFF);
        QTest::newRow("broken deflate data") << corrupt << "damaged";
        QTest::newRow("cut short") << normal.left(normal.size() / 2) << "damaged";
    }

    void hostileXlsx()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, description);
        const QString message = readAll(excel::openXlsxBuffer(file, "hostile.xlsx"));
        QVERIFY2(message.contains(description), qPrintable(message));
        QVERIFY(message.contains(QLatin1String("hostile.xlsx")));
    }

    void encryptedZipEntry()
    {
        if (!zip_encryption_method_supported(ZIP_EM_AES_256, 1))
            QSKIP("this libzip cannot write encrypted entries");
        QTemporaryDir dir;
        const QString path = dir.filePath("locked.xlsx");
        QFile::remove(path);
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(xlsxWithSheetPart(sheetXml("<sheetData/>")));
        out.close();
        int error = 0;
        zip_t *archive = zip_open(QFile::encodeName(path).constData(), 0, &error);
        QVERIFY(archive);
        const zip_int64_t index = zip_name_locate(archive, "xl/workbook.xml", 0);
        QVERIFY(index >= 0);
        QCOMPARE(zip_file_set_encryption(archive, zip_uint64_t(index), ZIP_EM_AES_256, "secret"),
                 0);
        QCOMPARE(zip_close(archive), 0);
        auto connection = OpenWorkbook(path);
        QVERIFY(!connection);
        QVERIFY2(connection.error().message.contains(QLatin1String("protected by a password")),
                 qPrintable(connection.error().message));
    }

    void hostileXls_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("description");
        const QByteArray good = smallWorkbookStream();
        QTest::newRow("password protected (FILEPASS)")
            << compoundDocument(
                   {{"Workbook", biffWorkbook(record(0x002F, QByteArray(54, 0)), {"S"}, {})}})
            << "protected by a password";
        QTest::newRow("encrypted Excel 2007 package")
            << compoundDocument(
                   {{"EncryptionInfo", QByteArray(64, 1)}, {"EncryptedPackage", QByteArray(64, 2)}})
            << "protected by a password";
        QTest::newRow("no workbook stream")
            << compoundDocument({{"Other", QByteArray(64, 1)}}) << "not an Excel workbook";
        QTest::newRow("shared string count past the record")
            << compoundDocument(
                   {{"Workbook", biffWorkbook(record(0x00FC, u32(4000000000u) + u32(4000000000u) +
                                                                 QByteArray(30, 'a')),
                                              {"S"}, {})}})
            << "claims 4000000000 strings";
        QTest::newRow("record past the end of the stream")
            << compoundDocument({{"Workbook", good.left(good.size() - 4) + u16(0x0203) + u16(2000) +
                                                  QByteArray(10, 0)}})
            << "past the end";
        QByteArray farSheet = good;
        putU32(farSheet, farSheet.indexOf(QByteArray("\x85\x00", 2)) + 4, 0x7FFFFFFF);
        QTest::newRow("sheet outside the stream")
            << compoundDocument({{"Workbook", farSheet}}) << "outside the workbook stream";
        QTest::newRow("Excel 2.1 file")
            << compoundDocument({{"Workbook", record(0x0009, u16(2) + u16(0x10))}})
            << "older than Excel 5.0";
        const QByteArray ole = compoundDocument({{"Workbook", good}});
        QTest::newRow("looping sector chain") << withChainLink(ole, 0xFFFFFFFF) << "damaged";
        QTest::newRow("sector chain outside the file")
            << withChainLink(ole, 0x00FFFFF0u) << "damaged";
        QTest::newRow("truncated container") << ole.left(1000) << "damaged";
    }

    void hostileXls()
    {
        QFETCH(QByteArray, file);
        QFETCH(QString, description);
        QElapsedTimer timer;
        timer.start();
        const QString message = readAll(excel::openXlsBuffer(file, "hostile.xls"));
        QVERIFY2(message.contains(description), qPrintable(message));
        QVERIFY(timer.elapsed() < 2000);
    }

    // One-byte changes anywhere in a valid file: read or fail, nothing worse.
    void byteMutations_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<bool>("xls");
        Xlsx book;
        book.sharedStrings = {"Email", "Name", "a@b.c"};
        book.styles = stylesPart({0, 14});
        book.sheets = {{"Sheet1",
                        "<row r=\"1\"><c r=\"A1\" t=\"s\"><v>0</v></c><c r=\"B1\" t=\"s\">"
                        "<v>1</v></c></row><row r=\"2\"><c r=\"A2\" t=\"s\"><v>2</v></c>"
                        "<c r=\"B2\" s=\"1\"><v>45000</v></c></row>"}};
        QTest::newRow("xlsx") << book.build() << false;
        QFile fixture(QStringLiteral(RUVELO_TEST_DATA "/types.xls"));
        QVERIFY(fixture.open(QIODevice::ReadOnly));
        QTest::newRow("xls") << fixture.readAll() << true;
    }

    void byteMutations()
    {
        QFETCH(QByteArray, file);
        QFETCH(bool, xls);
        int failures = 0;
        const qsizetype step = std::max<qsizetype>(1, file.size() / 700);
        for (qsizetype at = 0; at < file.size(); at += step) {
            for (char change : {char(0xFF), char(0x00), char(0x7F)}) {
                QByteArray mutated = file;
                mutated[at] = char(mutated.at(at) ^ change);
                const QString message = xls ? readAll(excel::openXlsBuffer(mutated))
                                            : readAll(excel::openXlsxBuffer(mutated));
                if (!message.isEmpty())
                    ++failures;
            }
        }
        QVERIFY(failures > 0); // the mutations did reach the readers
    }

    // Every workbook of the corpus opens and yields its first table, or fails
    // with a description; none takes a second.
    void corpus()
    {
        const QDir dir(QStringLiteral(RUVELO_SOURCE_DIR "/../shared/workbooks"));
        if (!dir.exists())
            QSKIP("the workbook corpus is not here");
        const QStringList files = dir.entryList({"*.xls", "*.xlsx"}, QDir::Files, QDir::Name);
        QVERIFY(!files.isEmpty());
        int opened = 0;
        QStringList failed;
        for (const QString &name : files) {
            const QString path = dir.filePath(name);
            QElapsedTimer timer;
            timer.start();
            QString message;
            auto connection = OpenWorkbook(path);
            if (!connection) {
                message = connection.error().message;
            } else {
                auto table = GetFirstTableName(*connection.value());
                if (!table) {
                    message = table.error().message;
                } else {
                    auto columns = GetColumnNames(*connection.value(), table.value());
                    auto rows = OpenSheetRows(*connection.value(), table.value());
                    if (!columns)
                        message = columns.error().message;
                    else if (!rows)
                        message = rows.error().message;
                    else
                        while (message.isEmpty() && !rows.value()->Eof()) {
                            for (const QString &column : std::as_const(columns.value()))
                                (void)VariantToText(rows.value()->Fields(column));
                            Result<void> moved = rows.value()->MoveNext();
                            if (!moved)
                                message = moved.error().message;
                        }
                }
            }
            const qint64 elapsed = timer.elapsed();
            QVERIFY2(elapsed < 1000,
                     qPrintable(QStringLiteral("%1 took %2 ms").arg(name).arg(elapsed)));
            if (message.isEmpty()) {
                ++opened;
            } else {
                QVERIFY2(message.trimmed().size() > 10, qPrintable(name));
                failed.append(name + QStringLiteral(": ") + message.trimmed());
            }
        }
        qInfo("%d of %d opened", opened, int(files.size()));
        for (const QString &failure : std::as_const(failed))
            qInfo("%s", qPrintable(failure));
        QVERIFY(opened > files.size() * 9 / 10);
    }
};

QTEST_GUILESS_MAIN(TestHostileWorkbooks)
#include "TestHostileWorkbooks.moc"
