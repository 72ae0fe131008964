// The Excel 97-2003 reader: committed files saved by gnumeric, and workbook
// streams built record by record for the cases writers rarely produce.
#include "Builders.h"

#include "excel/SheetSource.h"
#include "excel/Table.h"
#include "excel/Workbook.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>
#include <QtEndian>

using namespace excel;

using namespace builders;

namespace {

struct Rows
{
    QStringList sheets;
    QStringList columns;
    QList<QVariantList> rows;
};

Result<Rows> readFirstSheet(Result<std::unique_ptr<excel::WorkbookFile>> opened)
{
    if (!opened)
        return opened.error();
    Rows result;
    result.sheets = opened.value()->sheetNames();
    auto table = excel::SheetTable::open(*opened.value(), 0);
    if (!table)
        return table.error();
    result.columns = table.value()->columnNames();
    for (;;) {
        Result<bool> more = table.value()->next();
        if (!more)
            return more.error();
        if (!more.value())
            break;
        QVariantList row;
        for (const QVariant &value : table.value()->values())
            row.append(value);
        result.rows.append(row);
    }
    return result;
}

Result<Rows> readStream(const QByteArray &workbookStream)
{
    return readFirstSheet(excel::openXlsBuffer(compoundDocument({{"Workbook", workbookStream}})));
}

QByteArray cellHead(int row, int column, int style = 0)
{
    return u16(quint16(row)) + u16(quint16(column)) + u16(quint16(style));
}

QByteArray label(int row, int column, const QString &text)
{
    return record(0x0204, cellHead(row, column) + biffString(text));
}

QByteArray rk(quint32 value)
{
    return u32(value);
}

// An SST record of the given strings (all 8-bit), split into CONTINUE records
// at the given offsets of the string data; the flag byte is inserted where a
// split falls inside a string's characters.
QByteArray sharedStringRecords(const QStringList &strings, const QList<int> &splits,
                               bool wideAfterSplit)
{
    QByteArray data;
    QList<QPair<int, int>> characterRanges; // [start, end) of each string's characters
    for (const QString &text : strings) {
        data += u16(quint16(text.size())) + QByteArray(1, 0);
        characterRanges.append({int(data.size()), int(data.size() + text.size())});
        data += text.toLatin1();
    }
    QByteArray out;
    int from = 0;
    quint16 type = 0x00FC;
    QByteArray head = u32(quint32(strings.size())) + u32(quint32(strings.size()));
    QList<int> ends = splits;
    ends.append(int(data.size()));
    for (int end : std::as_const(ends)) {
        QByteArray chunk = data.mid(from, end - from);
        bool inside = false;
        for (const auto &range : std::as_const(characterRanges))
            inside = inside || (from > range.first && from < range.second);
        if (type == 0x003C && inside) {
            if (wideAfterSplit) {
                // Characters up to the string's end are written two bytes wide.
                int stringEnd = 0;
                for (const auto &range : std::as_const(characterRanges)) {
                    if (from > range.first && from < range.second)
                        stringEnd = range.second;
                }
                QByteArray wide;
                for (int i = from; i < end; ++i) {
                    wide += data.at(i);
                    if (i < stringEnd)
                        wide += char(0);
                }
                chunk = QByteArray(1, 1) + wide;
            } else {
                chunk = QByteArray(1, 0) + chunk;
            }
        }
        out += record(type, head + chunk);
        head.clear();
        type = 0x003C;
        from = end;
    }
    return out;
}

} // namespace

class TestXlsReader : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void savedByGnumeric()
    {
        auto rows = readFirstSheet(excel::openXlsFile(RUVELO_TEST_DATA "/types.xls"));
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.error().message));
        QCOMPARE(rows->sheets, (QStringList{"Contacts", "Second"}));
        QCOMPARE(rows->columns, (QStringList{"Name", "Email", "F3", "Phone", "Born", "Seen", "At",
                                             "Active", "Total", "Ratio"}));
        QCOMPARE(rows->rows.size(), 2); // the empty row is no row
        const QVariantList &ann = rows->rows.at(0);
        QCOMPARE(ann.at(0), QVariant(QStringLiteral("Ann Lee")));
        QVERIFY(ann.at(2).isNull());
        QCOMPARE(VariantToText(ann.at(3)), QStringLiteral("5551234567"));
        QCOMPARE(ann.at(4), QVariant(QDate(2023, 3, 15)));
        QCOMPARE(ann.at(5), QVariant(QDateTime(QDate(2023, 3, 15), QTime(12, 0), Qt::UTC)));
        QCOMPARE(ann.at(6), QVariant(QTime(18, 0)));
        QCOMPARE(ann.at(7), QVariant(true));
        QCOMPARE(ann.at(8), QVariant(11102469134.0)); // a formula's cached value
        const QVariantList &zoe = rows->rows.at(1);
        QCOMPARE(zoe.at(0), QVariant(QStringLiteral("Zoë Ünal")));
        QCOMPARE(zoe.at(4), QVariant(QDate(1900, 1, 1)));
        QCOMPARE(zoe.at(7), QVariant(false));
        QCOMPARE(VariantToText(zoe.at(8)), QStringLiteral("#DIV/0!"));
        // Longer than one record: the shared strings go on in CONTINUE records.
        const QString longText = zoe.at(9).toString();
        QCOMPARE(longText.size(), 10 + 1800 * 6);
        QVERIFY(longText.endsWith(QLatin1String("01799 ")));
    }

    void dateSystem1904()
    {
        auto rows = readFirstSheet(excel::openXlsFile(RUVELO_TEST_DATA "/date1904.xls"));
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.error().message));
        QCOMPARE(rows->rows, (QList<QVariantList>{{QDate(1904, 1, 1)}, {QDate(2023, 3, 15)}}));
    }

    void cellRecords_data()
    {
        QTest::addColumn<QByteArray>("cells"); // records for row 1 (row 0 is the header "H")
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("NUMBER") << record(0x0203, cellHead(1, 0) + f64(3.25)) << QVariant(3.25);
        QTest::newRow("RK integer")
            << record(0x027E, cellHead(1, 0) + rk((5000u << 2) | 2)) << QVariant(5000.0);
        QTest::newRow("RK negative integer times 100")
            << record(0x027E, cellHead(1, 0) + rk(quint32(-1234 * 4) | 3)) << QVariant(-12.34);
        QTest::newRow("RK float") << record(0x027E, cellHead(1, 0) + rk(0x3FF00000)) // 1.0
                                  << QVariant(1.0);
        QTest::newRow("LABEL wide")
            << record(0x0204, cellHead(1, 0) + biffString(QStringLiteral("Grüße €")))
            << QVariant(QStringLiteral("Grüße €"));
        QTest::newRow("LABEL compressed")
            << record(0x0204, cellHead(1, 0) + biffString(QStringLiteral("plain"), false, false))
            << QVariant(QStringLiteral("plain"));
        QTest::newRow("RSTRING") << record(0x00D6,
                                           cellHead(1, 0) +
                                               biffString(QStringLiteral("rich"), false, false) +
                                               u16(0))
                                 << QVariant(QStringLiteral("rich"));
        QTest::newRow("BOOLERR true")
            << record(0x0205, cellHead(1, 0) + "\x01" + QByteArray(1, 0)) << QVariant(true);
        QTest::newRow("BOOLERR error") << record(0x0205, cellHead(1, 0) + "\x2A\x01")
                                       << QVariant::fromValue(CellError{"#N/A"});
        QTest::newRow("FORMULA number")
            << record(0x0006, cellHead(1, 0) + f64(42) + QByteArray(6, 0)) << QVariant(42.0);
        QTest::newRow("FORMULA text after a shared formula")
            << record(0x0006, cellHead(1, 0) + QByteArray(6, 0) + "\xFF\xFF" + QByteArray(6, 0)) +
                   record(0x04BC, QByteArray(10, 0)) +
                   record(0x0207, biffString(QStringLiteral("made")))
            << QVariant(QStringLiteral("made"));
        QTest::newRow("FORMULA boolean")
            << record(0x0006, cellHead(1, 0) + QByteArray("\x01\x00\x01\x00\x00\x00\xFF\xFF", 8) +
                                  QByteArray(6, 0))
            << QVariant(true);
        QTest::newRow("FORMULA error")
            << record(0x0006, cellHead(1, 0) + QByteArray("\x02\x00\x07\x00\x00\x00\xFF\xFF", 8) +
                                  QByteArray(6, 0))
            << QVariant::fromValue(CellError{"#DIV/0!"});
        QTest::newRow("FORMULA empty text")
            << record(0x0006, cellHead(1, 0) + QByteArray("\x03\x00\x00\x00\x00\x00\xFF\xFF", 8) +
                                  QByteArray(6, 0))
            << QVariant();
        QTest::newRow("FORMULA text without its STRING record")
            << record(0x0006, cellHead(1, 0) + QByteArray(6, 0) + "\xFF\xFF" + QByteArray(6, 0)) +
                   record(0x0203, cellHead(1, 1) + f64(1))
            << QVariant();
        QTest::newRow("LABELSST out of range")
            << record(0x00FD, cellHead(1, 0) + u32(7)) << QVariant();
        QTest::newRow("FORMULA under the Excel 4.0 id")
            << record(0x0406, cellHead(1, 0) + f64(42) + QByteArray(6, 0)) << QVariant(42.0);
        QTest::newRow("FORMULA text continued, compressed throughout")
            << record(0x0006, cellHead(1, 0) + QByteArray(6, 0) + "\xFF\xFF" + QByteArray(6, 0)) +
                   record(0x0207, u16(6) + QByteArray(1, 0) + "abc") +
                   record(0x003C, QByteArray(1, 0) + "def")
            << QVariant(QStringLiteral("abcdef"));
        QTest::newRow("FORMULA text continued after an empty CONTINUE")
            << record(0x0006, cellHead(1, 0) + QByteArray(6, 0) + "\xFF\xFF" + QByteArray(6, 0)) +
                   record(0x0207, u16(4) + QByteArray(1, 0) + "ab") + record(0x003C, {}) +
                   record(0x003C, QByteArray(1, 1) + QByteArray("c\0d\0", 4))
            << QVariant(QStringLiteral("abcd"));
        QTest::newRow("FORMULA text cut short")
            << record(0x0006, cellHead(1, 0) + QByteArray(6, 0) + "\xFF\xFF" + QByteArray(6, 0)) +
                   record(0x0207, u16(6) + QByteArray(1, 0) + "abc")
            << QVariant();
    }

    void cellRecords()
    {
        QFETCH(QByteArray, cells);
        QFETCH(QVariant, expected);
        // Column I keeps row 1 a row even when the cell under test holds nothing.
        const QByteArray sheet =
            label(0, 0, "H") + label(0, 1, "I") + cells + record(0x0203, cellHead(1, 1) + f64(1));
        auto rows = readStream(biffWorkbook({}, {"Sheet1"}, {sheet}));
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.error().message));
        QCOMPARE(rows->columns, (QStringList{"H", "I"}));
        QCOMPARE(rows->rows.size(), 1);
        QCOMPARE(rows->rows.at(0).at(0), expected);
    }

    void mulRkSpreadsOverColumns()
    {
        const QByteArray mulRk =
            record(0x00BD, u16(1) + u16(1) + u16(0) + rk((1u << 2) | 2) + u16(0) +
                               rk((2u << 2) | 2) + u16(0) + rk((3u << 2) | 2) + u16(3));
        const QByteArray sheet = label(0, 0, "A") + label(0, 1, "B") + label(0, 2, "C") +
                                 label(0, 3, "D") + mulRk + label(2, 0, "next");
        auto rows = readStream(biffWorkbook({}, {"Sheet1"}, {sheet}));
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.error().message));
        QCOMPARE(rows->rows, (QList<QVariantList>{
                                 {QVariant(), 1.0, 2.0, 3.0},
                                 {QStringLiteral("next"), QVariant(), QVariant(), QVariant()}}));
    }

    void sharedStringsAcrossContinue_data()
    {
        QTest::addColumn<QList<int>>("splits");
        QTest::addColumn<bool>("wide");
        // Strings: "Email" (3+5 bytes), "Alphabet" (3+8), "x" (3+1).
        QTest::newRow("whole strings per record") << QList<int>{8} << false;
        QTest::newRow("split inside characters") << QList<int>{6, 14} << false;
        QTest::newRow("split inside, then wide") << QList<int>{13} << true;
        QTest::newRow("split in a string's header") << QList<int>{9} << false;
    }

    void sharedStringsAcrossContinue()
    {
        QFETCH(QList<int>, splits);
        QFETCH(bool, wide);
        const QStringList strings{"Email", "Alphabet", "x"};
        const QByteArray globals = sharedStringRecords(strings, splits, wide);
        const QByteArray sheet = record(0x00FD, cellHead(0, 0) + u32(0)) +
                                 record(0x00FD, cellHead(1, 0) + u32(1)) +
                                 record(0x00FD, cellHead(2, 0) + u32(2));
        auto rows = readStream(biffWorkbook(globals, {"Sheet1"}, {sheet}));
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.error().message));
        QCOMPARE(rows->columns, QStringList{"Email"});
        QCOMPARE(rows->rows,
                 (QList<QVariantList>{{QStringLiteral("Alphabet")}, {QStringLiteral("x")}}));
    }

    void formatsAndDates_data()
    {
        QTest::addColumn<QByteArray>("globals");
        QTest::addColumn<int>("style");
        QTest::addColumn<QVariant>("expected");
        const QByteArray xfs = record(0x00E0, u16(0) + u16(0) + QByteArray(16, 0))      // general
                               + record(0x00E0, u16(0) + u16(14) + QByteArray(16, 0))   // date
                               + record(0x00E0, u16(0) + u16(164) + QByteArray(16, 0)); // custom
        const QByteArray custom = record(0x041E, u16(164) + biffString("dd/mm/yyyy hh:mm"));
        QTest::newRow("general") << xfs << 0 << QVariant(45000.0);
        QTest::newRow("built-in date") << xfs << 1 << QVariant(QDate(2023, 3, 15));
        QTest::newRow("custom date-time")
            << QByteArray(custom + xfs) << 2
            << QVariant(QDateTime(QDate(2023, 3, 15), QTime(0, 0), Qt::UTC));
        QTest::newRow("1904 system")
            << QByteArray(record(0x0022, u16(1)) + xfs) << 1 << QVariant(QDate(2027, 3, 16));
    }

    void formatsAndDates()
    {
        QFETCH(QByteArray, globals);
        QFETCH(int, style);
        QFETCH(QVariant, expected);
        const QByteArray sheet =
            label(0, 0, "When") + record(0x0203, cellHead(1, 0, style) + f64(45000));
        auto rows = readStream(biffWorkbook(globals, {"Sheet1"}, {sheet}));
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.error().message));
        QCOMPARE(rows->rows.at(0).at(0), expected);
    }

    void chartSheetsAreNotTables()
    {
        QByteArray stream =
            biffWorkbook({}, {"Chart1", "Data"}, {label(0, 0, "c"), label(0, 0, "d")});
        // Mark the first sheet entry as a chart (its type byte follows the offset and visibility).
        const qsizetype entry = stream.indexOf(QByteArray("\x85\x00", 2));
        QVERIFY(entry > 0);
        stream[entry + 4 + 5] = 0x02;
        auto rows = readStream(stream);
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.error().message));
        QCOMPARE(rows->sheets, QStringList{"Data"});
        QCOMPARE(rows->columns, QStringList{"d"});
    }

    void biff5Strings()
    {
        // Excel 5/95: 8-bit text in the workbook's code page (here Windows-1252).
        const QByteArray text = "\x80 5";
        const QByteArray sheet = record(0x0204, cellHead(0, 0) + u16(quint16(text.size())) + text) +
                                 record(0x0203, cellHead(1, 0) + f64(9));
        const QByteArray stream =
            biffWorkbook(record(0x0042, u16(1252)), {"Blatt"}, {sheet}, 0x0500);
        auto rows = readFirstSheet(excel::openXlsBuffer(compoundDocument({{"Book", stream}})));
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.error().message));
        QCOMPARE(rows->sheets, QStringList{"Blatt"});
        QCOMPARE(rows->columns, QStringList{QStringLiteral("€ 5")});
        QCOMPARE(rows->rows, (QList<QVariantList>{{9.0}}));
    }

    void workbookStreamChosen_data()
    {
        QTest::addColumn<QStringList>("streams"); // stream names, in the order written
        QTest::addColumn<QString>("header");      // the header the chosen stream holds
        QTest::newRow("Workbook only") << QStringList{"Workbook"} << "Workbook";
        QTest::newRow("Book only") << QStringList{"Book"} << "Book";
        QTest::newRow("Book beside Workbook") << QStringList{"Book", "Workbook"} << "Workbook";
        QTest::newRow("Workbook beside Book") << QStringList{"Workbook", "Book"} << "Workbook";
        QTest::newRow("BOOK beside WorkBook") << QStringList{"BOOK", "WorkBook"} << "WorkBook";
    }

    void workbookStreamChosen()
    {
        QFETCH(QStringList, streams);
        QFETCH(QString, header);
        Parts parts;
        for (const QString &name : std::as_const(streams))
            parts.emplace_back(name, biffWorkbook({}, {"S"}, {label(0, 0, name)}));
        auto rows = readFirstSheet(excel::openXlsBuffer(compoundDocument(parts)));
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.error().message));
        QCOMPARE(rows->columns, QStringList{header});
    }

    // Excel 2.x to 4.0 saved bare record streams: told apart from other
    // files by their first record, and refused with advice.
    void bareOldFormats_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<ErrorCode>("code");
        const QByteArray cells = record(0x0204, cellHead(0, 0) + u16(1) + "x") + record(0x000A, {});
        QTest::newRow("Excel 2.1 worksheet")
            << QByteArray(record(0x0009, u16(2) + u16(0x0010)) + cells) << ErrorCode::OldFormat;
        QTest::newRow("Excel 3.0 chart")
            << QByteArray(record(0x0209, u16(0) + u16(0x0020) + u16(0)) + cells)
            << ErrorCode::OldFormat;
        QTest::newRow("Excel 4.0 workbook")
            << QByteArray(record(0x0409, u16(0) + u16(0x0100) + u16(0)) + cells)
            << ErrorCode::OldFormat;
        QTest::newRow("a long first record is no BOF")
            << QByteArray(record(0x0409, QByteArray(200, 0x10)) + cells) << ErrorCode::NotWorkbook;
        QTest::newRow("an unknown sheet type is no BOF")
            << QByteArray(record(0x0009, u16(2) + u16(0x7777)) + cells) << ErrorCode::NotWorkbook;
        QTest::newRow("text") << QByteArray("Name;Email\n") << ErrorCode::NotWorkbook;
    }

    void bareOldFormats()
    {
        QFETCH(QByteArray, file);
        QFETCH(ErrorCode, code);
        QTemporaryDir dir;
        const QString path = dir.filePath("old.xls");
        QFile out(path);
        QVERIFY(out.open(QIODevice::WriteOnly));
        out.write(file);
        out.close();
        auto opened = excel::openWorkbookFile(path);
        QVERIFY(!opened);
        QCOMPARE(opened.error().code, code);
        QVERIFY(opened.error().message.contains(path));
        if (code == ErrorCode::OldFormat)
            QVERIFY2(opened.error().message.contains(QLatin1String("save it as .xls or .xlsx")),
                     qPrintable(opened.error().message));
    }

    void streamNameCase()
    {
        const QByteArray stream = biffWorkbook({}, {"S"}, {label(0, 0, "h")});
        auto rows = readFirstSheet(excel::openXlsBuffer(compoundDocument({{"WORKBOOK", stream}})));
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.error().message));
        QCOMPARE(rows->columns, QStringList{"h"});
    }

    void rootEntryWithSiblingsRefused()
    {
        // libgsf loses any sibling a root entry names (found by fuzzing): such
        // a file must be refused before libgsf reads its directory.
        const QByteArray stream = biffWorkbook({}, {"S"}, {label(0, 0, "h")});
        QByteArray file = compoundDocument({{"Workbook", stream}});
        const auto at = [&file](qsizetype offset) {
            return qFromLittleEndian<quint32>(file.constData() + offset);
        };
        const qsizetype sector = qsizetype(1)
                                 << qFromLittleEndian<quint16>(file.constData() + 0x1e);
        const qsizetype rootEntry = std::max<qsizetype>(512, sector) + at(0x30) * sector;
        QCOMPARE(at(rootEntry + 0x44), 0xffffffffu);
        QVERIFY(readFirstSheet(excel::openXlsBuffer(file)));

        qToLittleEndian<quint32>(1, file.data() + rootEntry + 0x44); // the Workbook entry
        auto rows = readFirstSheet(excel::openXlsBuffer(file));
        QVERIFY(!rows);
        QVERIFY2(rows.error().message.contains(QStringLiteral("root entry is damaged")),
                 qPrintable(rows.error().message));
    }
};

QTEST_GUILESS_MAIN(TestXlsReader)
#include "TestXlsReader.moc"
