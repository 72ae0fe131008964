// The workbook operations as their callers use them: provider choice, the
// first table, its column names and its rows, on .xlsx files written by
// libxlsxwriter and on raw packages that hold what other writers produce.
#include "Builders.h"

#include "ReadTable.h"
#include "excel/Duration.h"
#include "excel/Workbook.h"
#include "excel/ado/Provider.h"

#include <QDate>
#include <QDateTime>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <QTime>

#include <xlsxwriter.h>

using namespace excel;

namespace {

QStringList texts(const QVariantList &row)
{
    QStringList result;
    for (const QVariant &value : row)
        result.append(VariantToText(value));
    return result;
}

QByteArray cellXml(const QByteArray &reference, const QByteArray &body,
                   const QByteArray &attributes = {})
{
    return "<c r=\"" + reference + "\"" + attributes + ">" + body + "</c>";
}

// A small BIFF8 workbook: one sheet, one text cell "Name" over the number 7.
QByteArray smallXls()
{
    using namespace builders;
    const QByteArray cells = record(0x0204, u16(0) + u16(0) + u16(0) + biffString("Name")) +
                             record(0x0203, u16(1) + u16(0) + u16(0) + f64(7));
    return compoundDocument({{"Workbook", biffWorkbook({}, {"Sheet1"}, {cells})}});
}

} // namespace

class TestWorkbookAccess : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir m_dir;
    QString m_decimal = QStringLiteral(".");

    QString write(const QString &name, const QByteArray &data)
    {
        QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        file.write(data);
        return path;
    }

    QString xlsx(const QString &name, const builders::Xlsx &book)
    {
        return write(name, book.build());
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        // The same checks run once more under a German locale (see CMakeLists).
        if (qgetenv("LC_ALL").startsWith("de"))
            m_decimal = QStringLiteral(",");
    }

    void providerChoice_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QString>("content");
        QTest::addColumn<QString>("provider"); // empty: nothing is opened
        QTest::addColumn<QString>("properties");
        const QString ace = QStringLiteral("Microsoft.ACE.OLEDB.12.0");
        const QString jet = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
        const QString excel12 = QStringLiteral(";Extended Properties=Excel 12.0;");
        const QString excel8 = QStringLiteral(";Extended Properties=Excel 8.0;");
        QTest::newRow("xlsx") << "book.xlsx"
                              << "xlsx" << ace << excel12;
        QTest::newRow("XLSX in capitals") << "BOOK.XLSX"
                                          << "xlsx" << ace << excel12;
        QTest::newRow("xlsx without a dot") << "bookxlsx"
                                            << "xlsx" << ace << excel12;
        QTest::newRow("XLS in capitals") << "book.XLS"
                                         << "xls" << jet << excel8;
        QTest::newRow("xls") << "book.xls"
                             << "xls" << jet << excel8;
        QTest::newRow("xlsm") << "book.xlsm"
                              << "xlsx" << QString() << QString();
        QTest::newRow("xlsb") << "book.xlsb"
                              << "xlsx" << QString() << QString();
        QTest::newRow("csv") << "book.csv"
                             << "csv" << ace
                             << ";Extended Properties=\"Text;HDR=Yes;FMT=Delimited\";";
        QTest::newRow("CSV in capitals")
            << "BOOK.CSV"
            << "csv" << ace << ";Extended Properties=\"Text;HDR=Yes;FMT=Delimited\";";
        QTest::newRow("csv without a dot") << "bookcsv"
                                           << "csv" << QString() << QString();
        QTest::newRow("xls and a blank") << "book.xls "
                                         << "xls" << QString() << QString();
        QTest::newRow("empty path") << ""
                                    << "" << QString() << QString();
    }

    void providerChoice()
    {
        QFETCH(QString, fileName);
        QFETCH(QString, content);
        QFETCH(QString, provider);
        QFETCH(QString, properties);
        QString path;
        if (content == QLatin1String("xlsx")) {
            builders::Xlsx book;
            book.sheets = {{"Sheet1", "<row><c t=\"inlineStr\"><is><t>Name</t></is></c></row>"}};
            path = xlsx(fileName, book);
        } else if (content == QLatin1String("xls")) {
            path = write(fileName, smallXls());
        } else if (content == QLatin1String("csv")) {
            path = write(fileName, "Name\nAnn\n");
        }
        auto connection = OpenWorkbook(path);
        if (provider.isEmpty()) {
            QVERIFY(!connection);
            // An ending no provider takes; with no file at all it is missing.
            QCOMPARE(connection.error().code,
                     path.isEmpty() ? ErrorCode::Missing : ErrorCode::WrongEnding);
            QVERIFY(connection.error().message.contains(path));
            return;
        }
        QVERIFY2(connection, qPrintable(connection ? QString() : connection.error().message));
        QCOMPARE(connection.value()->Provider, provider);
        QCOMPARE(connection.value()->ConnectionString,
                 QStringLiteral("Data Source=") + path + properties);
        QCOMPARE(connection.value()->CursorLocation, 3);
        QVERIFY(connection.value()->isOpen());
        QCOMPARE(connection.value()->provider()->name(), provider);
        auto table = GetFirstTableName(*connection.value());
        QVERIFY(table);
        QCOMPARE(GetColumnNames(*connection.value(), table.value()).value(), QStringList{"Name"});
    }

    void openFailures_data()
    {
        QTest::addColumn<QString>("fileName");
        QTest::addColumn<QByteArray>("content"); // null: no file at all
        QTest::addColumn<QString>("description");
        QTest::addColumn<ErrorCode>("code");
        QTest::newRow("missing") << "missing.xlsx" << QByteArray() << "The file does not exist: %1"
                                 << ErrorCode::Missing;
        QTest::newRow("text named xlsx")
            << "text.xlsx" << QByteArray("Name,Email\n") << "The file is not an Excel workbook: %1"
            << ErrorCode::NotWorkbook;
        QTest::newRow("text named xls")
            << "text.xls" << QByteArray("Name,Email\n") << "The file is not an Excel workbook: %1"
            << ErrorCode::NotWorkbook;
        QTest::newRow("empty file")
            << "empty.xlsx" << QByteArray("") << "The file is not an Excel workbook: %1"
            << ErrorCode::NotWorkbook;
        QTest::newRow("zip without workbook")
            << "other.xlsx" << builders::zipArchive({{"readme.txt", "hello"}})
            << "The file is not an Excel workbook: %1" << ErrorCode::NotWorkbook;
    }

    void openFailures()
    {
        QFETCH(QString, fileName);
        QFETCH(QByteArray, content);
        QFETCH(QString, description);
        QFETCH(ErrorCode, code);
        const QString path = content.isNull() ? m_dir.filePath(fileName) : write(fileName, content);
        auto connection = OpenWorkbook(path);
        QVERIFY(!connection);
        QCOMPARE(connection.error().code, code);
        QCOMPARE(connection.error().message, description.arg(path));
    }

    void contentDecidesTheReader()
    {
        // A workbook saved under the other format's ending still reads.
        builders::Xlsx book;
        book.sheets = {{"Sheet1", "<row><c t=\"inlineStr\"><is><t>Name</t></is></c></row>"
                                  "<row><c><v>3</v></c></row>"}};
        auto fromXlsx = readFirstTable(write("renamed.xls", book.build()));
        QVERIFY(fromXlsx);
        QCOMPARE(fromXlsx->rows.size(), 1);
        auto fromXls = readFirstTable(write("renamed.xlsx", smallXls()));
        QVERIFY(fromXls);
        QCOMPARE(fromXls->rows, (QList<QVariantList>{{7.0}}));
    }

    void firstWorksheetInTabOrder()
    {
        const QString path = m_dir.filePath("sheets.xlsx");
        lxw_workbook *workbook = workbook_new(path.toUtf8().constData());
        lxw_chartsheet *charts = workbook_add_chartsheet(workbook, "Chart");
        lxw_worksheet *zeta = workbook_add_worksheet(workbook, "Zeta");
        lxw_worksheet *alpha = workbook_add_worksheet(workbook, "Alpha");
        worksheet_write_string(zeta, 0, 0, "Zeta name", nullptr);
        worksheet_write_string(zeta, 1, 0, "z", nullptr);
        worksheet_write_string(alpha, 0, 0, "Alpha name", nullptr);
        worksheet_write_string(alpha, 1, 0, "a", nullptr);
        worksheet_write_string(alpha, 2, 0, "b", nullptr);
        lxw_chart *chart = workbook_add_chart(workbook, LXW_CHART_COLUMN);
        chart_add_series(chart, nullptr, "=Zeta!$A$2:$A$2");
        chartsheet_set_chart(charts, chart);
        QCOMPARE(workbook_close(workbook), LXW_NO_ERROR);

        auto table = readFirstTable(path);
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->name, QStringLiteral("Zeta$"));
        QCOMPARE(table->columns, QStringList{"Zeta name"});
        QCOMPARE(table->rows, (QList<QVariantList>{{QStringLiteral("z")}}));

        auto connection = OpenWorkbook(path);
        QVERIFY(connection);
        auto tables = connection.value()->OpenSchema(ado::adSchemaTables);
        QVERIFY(tables);
        QCOMPARE(tables.value()->RecordCount(), 2);
        QStringList names;
        for (; !tables.value()->Eof(); (void)tables.value()->MoveNext())
            names.append(tables.value()->Fields("TABLE_NAME").toString());
        QCOMPARE(names, (QStringList{"Zeta$", "Alpha$"}));
        // The second table is readable by its name too.
        auto rows = OpenSheetRows(*connection.value(), "Alpha$");
        QVERIFY(rows);
        QCOMPARE(rows.value()->Fields("Alpha name").toString(), QStringLiteral("a"));
    }

    void columnNames_data()
    {
        QTest::addColumn<QByteArray>("headerRow");
        QTest::addColumn<QByteArray>("prefix");
        QTest::addColumn<QStringList>("columns");
        const auto text = [](const char *reference, const char *value) {
            return cellXml(reference, QByteArray("<is><t>") + value + "</t></is>",
                           " t=\"inlineStr\"");
        };
        QTest::newRow("column order, not sorted")
            << text("A1", "Zip") + text("B1", "Email") + text("C1", "Address") << QByteArray()
            << QStringList{"Zip", "Email", "Address"};
        QTest::newRow("empty header cells")
            << text("A1", "Email") + text("C1", "Name") + text("E1", "Phone") << QByteArray()
            << QStringList{"Email", "F2", "Name", "F4", "Phone"};
        QTest::newRow("repeated names")
            << text("A1", "Name") + text("C1", "Name") + text("D1", "Name1") + text("E1", "Name")
            << QByteArray() << QStringList{"Name", "F2", "Name2", "Name1", "Name3"};
        QTest::newRow("numbers and booleans as names")
            << cellXml("A1", "<v>2024</v>") + cellXml("B1", "<v>1</v>", " t=\"b\"") << QByteArray()
            << QStringList{"2024", "True"};
        QTest::newRow("declared columns wider than the header")
            << text("B1", "Email") << QByteArray("<dimension ref=\"A1:D3\"/>")
            << QStringList{"F1", "Email", "F3", "F4"};
        QTest::newRow("whole-width range does not make 16384 columns")
            << text("A1", "Email") + text("B1", "Name")
            << QByteArray("<dimension ref=\"A1:XFD1048576\"/>") << QStringList{"Email", "Name"};
        QTest::newRow("no header row at the top")
            << QByteArray() << QByteArray() << QStringList{"F1", "Late"};
    }

    void columnNames()
    {
        QFETCH(QByteArray, headerRow);
        QFETCH(QByteArray, prefix);
        QFETCH(QStringList, columns);
        builders::Xlsx book;
        QByteArray data = "<row r=\"1\">" + headerRow + "</row>";
        if (headerRow.isEmpty()) {
            // Header in row 3; a data cell left of it in row 5 widens the table.
            data = "<row r=\"3\"><c r=\"B3\" t=\"inlineStr\"><is><t>Late</t></is></c></row>"
                   "<row r=\"5\"><c r=\"A5\"><v>1</v></c></row>";
        }
        book.sheetPrefix = prefix;
        book.sheets = {{"Sheet1", data}};
        auto table = readFirstTable(xlsx("columns.xlsx", book));
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->columns, columns);
    }

    void valuesFromLibxlsxwriter()
    {
        const QString path = m_dir.filePath("values.xlsx");
        lxw_workbook *workbook = workbook_new(path.toUtf8().constData());
        lxw_worksheet *sheet = workbook_add_worksheet(workbook, "Contacts");
        lxw_format *date = workbook_add_format(workbook);
        format_set_num_format(date, "dd/mm/yyyy");
        lxw_format *stamp = workbook_add_format(workbook);
        format_set_num_format(stamp, "yyyy-mm-dd hh:mm:ss");
        lxw_format *clock = workbook_add_format(workbook);
        format_set_num_format(clock, "h:mm AM/PM");
        const char *headers[] = {"Name", "Phone", "Sum", "Born", "Seen", "At", "Active", "Total"};
        for (int c = 0; c < 8; ++c)
            worksheet_write_string(sheet, 0, lxw_col_t(c), headers[c], nullptr);
        worksheet_write_string(sheet, 1, 0, "Ann Lee", nullptr);
        worksheet_write_number(sheet, 1, 1, 5551234567.0, nullptr);
        worksheet_write_number(sheet, 1, 2, 0.1 + 0.2, nullptr);
        lxw_datetime born = {1985, 7, 4, 0, 0, 0};
        worksheet_write_datetime(sheet, 1, 3, &born, date);
        lxw_datetime seen = {2024, 2, 29, 13, 45, 30};
        worksheet_write_datetime(sheet, 1, 4, &seen, stamp);
        lxw_datetime at = {0, 0, 0, 18, 30, 0};
        worksheet_write_datetime(sheet, 1, 5, &at, clock);
        worksheet_write_boolean(sheet, 1, 6, 1, nullptr);
        worksheet_write_formula_num(sheet, 1, 7, "=B2*2", nullptr, 11102469134.0);
        // Row 3 is empty and is no row; row 4 merges B4:C4.
        worksheet_write_string(sheet, 3, 0, "Bo", nullptr);
        worksheet_merge_range(sheet, 3, 1, 3, 2, "merged", nullptr);
        worksheet_write_number(sheet, 3, 7, -2.5, nullptr);
        QCOMPARE(workbook_close(workbook), LXW_NO_ERROR);

        auto table = readFirstTable(path);
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->name, QStringLiteral("Contacts$"));
        QCOMPARE(table->columns.size(), 8);
        QCOMPARE(table->rows.size(), 2);
        const QVariantList &first = table->rows.at(0);
        QCOMPARE(first.at(0), QVariant(QStringLiteral("Ann Lee")));
        QCOMPARE(first.at(1).typeId(), QMetaType::Double);
        QCOMPARE(first.at(3), QVariant(QDate(1985, 7, 4)));
        QCOMPARE(first.at(4), QVariant(QDateTime(QDate(2024, 2, 29), QTime(13, 45, 30), Qt::UTC)));
        QCOMPARE(first.at(5), QVariant(QTime(18, 30)));
        QCOMPARE(first.at(6), QVariant(true));
        const QStringList firstTexts = texts(first);
        QCOMPARE(firstTexts.at(1), QStringLiteral("5551234567"));
        QCOMPARE(firstTexts.at(2), QStringLiteral("0") + m_decimal + QStringLiteral("3"));
        QCOMPARE(firstTexts.at(6), QStringLiteral("True"));
        QCOMPARE(firstTexts.at(7), QStringLiteral("11102469134"));
        const QVariantList &second = table->rows.at(1);
        QCOMPARE(second.at(1), QVariant(QStringLiteral("merged")));
        QVERIFY(second.at(2).isNull()); // the merged range's other cell
        QVERIFY(second.at(3).isNull());
        QCOMPARE(texts(second).at(7), QStringLiteral("-2") + m_decimal + QStringLiteral("5"));
    }

    void variantToText_data()
    {
        QTest::addColumn<QVariant>("value");
        QTest::addColumn<QString>("text"); // "." stands for the decimal separator
        QTest::newRow("null") << QVariant() << "";
        QTest::newRow("invalid date") << QVariant(QDate()) << "";
        QTest::newRow("invalid time") << QVariant(QTime()) << "";
        QTest::newRow("invalid date-time") << QVariant(QDateTime()) << "";
        QTest::newRow("text") << QVariant(QStringLiteral(" Ann ")) << " Ann ";
        QTest::newRow("phone number") << QVariant(5551234567.0) << "5551234567";
        QTest::newRow("sum of tenths") << QVariant(0.1 + 0.2) << "0.3";
        QTest::newRow("zero") << QVariant(0.0) << "0";
        QTest::newRow("negative zero") << QVariant(-0.0) << "0";
        QTest::newRow("negative fraction") << QVariant(-1234.5) << "-1234.5";
        QTest::newRow("large, no exponent") << QVariant(1e20) << "100000000000000000000";
        QTest::newRow("fifteen digits kept")
            << QVariant(123456789012345678.0) << "123456789012346000";
        QTest::newRow("small, no exponent") << QVariant(0.00000015) << "0.00000015";
        QTest::newRow("rounded to fifteen digits") << QVariant(2.0 / 3.0) << "0.666666666666667";
        QTest::newRow("integer") << QVariant(42) << "42";
        QTest::newRow("true") << QVariant(true) << "True";
        QTest::newRow("false") << QVariant(false) << "False";
        QTest::newRow("error") << QVariant::fromValue(CellError{"#N/A"}) << "#N/A";
        QTest::newRow("division error") << QVariant::fromValue(CellError{"#DIV/0!"}) << "#DIV/0!";
    }

    void variantToText()
    {
        QFETCH(QVariant, value);
        QFETCH(QString, text);
        text.replace(QLatin1Char('.'), m_decimal);
        QCOMPARE(VariantToText(value), text);
    }

    void datesInTextForm()
    {
        const QLocale system = QLocale::system();
        const QDate date(2024, 3, 9);
        const QString dateText = VariantToText(date);
        QCOMPARE(dateText, system.toString(date, QLocale::ShortFormat));
        const QString stamp = VariantToText(QDateTime(date, QTime(14, 5, 0), Qt::UTC));
        QVERIFY2(stamp.startsWith(dateText + QLatin1Char(' ')), qPrintable(stamp));
        QVERIFY2(stamp.contains(QLatin1String("05")), qPrintable(stamp));
        // Seconds are shown when there are any, even if the short form has none.
        const QString withSeconds = VariantToText(QTime(9, 8, 7));
        QVERIFY2(withSeconds.contains(QLatin1String("07")), qPrintable(withSeconds));
        for (const QTime &time : {QTime(9, 8), QTime(21, 5), QTime(0, 0)})
            QCOMPARE(VariantToText(time), system.toString(time, QLocale::ShortFormat));
        for (const QDate &day : {QDate(1900, 1, 1), QDate(2031, 12, 31), QDate(1999, 7, 4)})
            QCOMPARE(VariantToText(day), system.toString(day, QLocale::ShortFormat));
    }

    // An elapsed time reads like a time of day in the system's format, but its
    // hours run on past 24 and it has no AM/PM marker.
    void durationsInTextForm_data()
    {
        QTest::addColumn<qint64>("milliseconds");
        QTest::addColumn<int>("hours");      // -1: one hour, and the duration negative
        QTest::addColumn<QTime>("likeTime"); // the same minutes and seconds
        QTest::newRow("a day") << qint64(24) * 3600000 << 24 << QTime(9, 0);
        QTest::newRow("past a day, with seconds")
            << (qint64{26} * 3600 + qint64{30} * 60 + 15) * 1000 << 26 << QTime(9, 30, 15);
        QTest::newRow("a hundred hours and a minute")
            << (qint64(100) * 3600 + 60) * 1000 << 100 << QTime(9, 1);
        QTest::newRow("under an hour") << qint64(45) * 60000 << 0 << QTime(9, 45);
        QTest::newRow("a negative one") << -qint64(90) * 60000 << -1 << QTime(9, 30);
    }

    void durationsInTextForm()
    {
        QFETCH(qint64, milliseconds);
        QFETCH(int, hours);
        QFETCH(QTime, likeTime);
        // The time at 9 o'clock in the system's form, without its AM/PM marker.
        const QLocale system = QLocale::system();
        QString nine = VariantToText(likeTime);
        nine.remove(system.amText()).remove(system.pmText());
        nine = nine.trimmed();
        const qsizetype hourAt = nine.indexOf(QLatin1Char('9'));
        QVERIFY(hourAt >= 0);
        const qsizetype hourLength = hourAt > 0 && nine.at(hourAt - 1) == QLatin1Char('0') ? 2 : 1;
        const qsizetype hourStart = hourAt - hourLength + 1;
        QString hourText = QString::number(hours < 0 ? 1 : hours);
        if (hourLength == 2 && hourText.size() < 2)
            hourText.prepend(QLatin1Char('0'));
        QString expected = nine;
        expected.replace(hourStart, hourLength, hourText);
        if (hours < 0)
            expected.prepend(QLatin1Char('-'));
        QCOMPARE(VariantToText(QVariant::fromValue(Duration{milliseconds})), expected);
    }

    // Extensions reuse SpreadsheetML's local names in their own namespaces;
    // only SpreadsheetML's elements are read as what their names say.
    void otherVocabulariesIgnored_data()
    {
        QTest::addColumn<QByteArray>("workbookExtra");
        QTest::addColumn<QByteArray>("styles");
        QTest::addColumn<QByteArray>("cell");
        QTest::addColumn<QVariant>("expected");
        const QByteArray open =
            "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
            "xmlns:o=\"urn:other\">";
        QTest::newRow("extension workbookPr after the real one")
            << QByteArray("<workbookPr date1904=\"1\"/><extLst><ext><x15:workbookPr "
                          "xmlns:x15=\"http://schemas.microsoft.com/office/spreadsheetml/2010/11/"
                          "main\" chartTrackingRefBase=\"1\"/></ext></extLst>")
            << builders::stylesPart({0, 14}) << QByteArray("<c s=\"1\"><v>0</v></c>")
            << QVariant(QDate(1904, 1, 1));
        QTest::newRow("number format of another vocabulary")
            << QByteArray()
            << QByteArray(open + "<numFmts><numFmt numFmtId=\"164\" formatCode=\"yyyy-mm-dd\"/>"
                                 "<o:numFmt numFmtId=\"164\" formatCode=\"0.00\"/></numFmts>"
                                 "<cellXfs><xf numFmtId=\"0\"/><xf numFmtId=\"164\"/></cellXfs>"
                                 "</styleSheet>")
            << QByteArray("<c s=\"1\"><v>45000</v></c>") << QVariant(QDate(2023, 3, 15));
        QTest::newRow("cell format of another vocabulary")
            << QByteArray()
            << QByteArray(open + "<cellXfs><xf numFmtId=\"0\"/><o:xf numFmtId=\"0\"/>"
                                 "<xf numFmtId=\"14\"/></cellXfs></styleSheet>")
            << QByteArray("<c s=\"1\"><v>45000</v></c>") << QVariant(QDate(2023, 3, 15));
        QTest::newRow("text of another vocabulary in a shared string")
            << QByteArray() << QByteArray() << QByteArray("<c t=\"s\"><v>0</v></c>")
            << QVariant(QStringLiteral("Ann"));
    }

    void otherVocabulariesIgnored()
    {
        QFETCH(QByteArray, workbookExtra);
        QFETCH(QByteArray, styles);
        QFETCH(QByteArray, cell);
        QFETCH(QVariant, expected);
        builders::Xlsx book;
        book.workbookExtra = workbookExtra;
        book.styles = styles;
        book.sheets = {{"Sheet1", "<row><c t=\"inlineStr\"><is><t>Value</t></is></c></row>"
                                  "<row>" +
                                      cell + "</row>"}};
        book.extraParts = {
            {"xl/sharedStrings.xml",
             "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
             "xmlns:o=\"urn:other\"><si><t>Ann</t><o:t>Lee</o:t></si></sst>"}};
        auto table = readFirstTable(xlsx("vocabularies.xlsx", book));
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->rows, (QList<QVariantList>{{expected}}));
    }

    void dateSystems_data()
    {
        QTest::addColumn<bool>("date1904");
        QTest::addColumn<QByteArray>("serial");
        QTest::addColumn<int>("style");
        QTest::addColumn<QVariant>("expected");
        // Styles: 0 general, 1 date (14), 2 date-time (22), 3 time (21), 4 custom date-time.
        const QDate march15(2023, 3, 15);
        QTest::newRow("1900: day 1")
            << false << QByteArray("1") << 1 << QVariant(QDate(1900, 1, 1));
        QTest::newRow("1900: before the missing leap day")
            << false << QByteArray("59") << 1 << QVariant(QDate(1900, 2, 28));
        QTest::newRow("1900: after the missing leap day")
            << false << QByteArray("61") << 1 << QVariant(QDate(1900, 3, 1));
        QTest::newRow("1900: recent") << false << QByteArray("45000") << 1 << QVariant(march15);
        QTest::newRow("1900: date and time") << false << QByteArray("45000.5") << 2
                                             << QVariant(QDateTime(march15, QTime(12, 0), Qt::UTC));
        QTest::newRow("1900: time only")
            << false << QByteArray("0.75") << 3 << QVariant(QTime(18, 0));
        QTest::newRow("1900: custom format") << false << QByteArray("45000.25") << 4
                                             << QVariant(QDateTime(march15, QTime(6, 0), Qt::UTC));
        QTest::newRow("1900: general stays a number")
            << false << QByteArray("45000") << 0 << QVariant(45000.0);
        QTest::newRow("1900: negative stays a number")
            << false << QByteArray("-3") << 1 << QVariant(-3.0);
        QTest::newRow("1904: day 0") << true << QByteArray("0") << 1 << QVariant(QDate(1904, 1, 1));
        QTest::newRow("1904: recent") << true << QByteArray("43538") << 1 << QVariant(march15);
    }

    void dateSystems()
    {
        QFETCH(bool, date1904);
        QFETCH(QByteArray, serial);
        QFETCH(int, style);
        QFETCH(QVariant, expected);
        builders::Xlsx book;
        book.styles = builders::stylesPart({0, 14, 22, 21, 164}, {"yyyy\\-mm\\-dd hh:mm"});
        if (date1904)
            book.workbookExtra = "<workbookPr date1904=\"1\"/>";
        book.sheets = {
            {"Sheet1", "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>When</t></is></c>"
                       "</row><row r=\"2\"><c r=\"A2\" s=\"" +
                           QByteArray::number(style) + "\"><v>" + serial + "</v></c></row>"}};
        auto table = readFirstTable(xlsx("dates.xlsx", book));
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->rows.size(), 1);
        QCOMPARE(table->rows.at(0).at(0), expected);
    }

    void cellForms_data()
    {
        QTest::addColumn<QByteArray>("cell");
        QTest::addColumn<QVariant>("expected");
        QTest::newRow("shared string")
            << QByteArray("<c t=\"s\"><v>0</v></c>") << QVariant(QStringLiteral("ab\r\ncd"));
        QTest::newRow("rich text without its reading aid")
            << QByteArray("<c t=\"s\"><v>1</v></c>") << QVariant(QStringLiteral("Bold plain"));
        QTest::newRow("shared string out of range")
            << QByteArray("<c t=\"s\"><v>99</v></c>") << QVariant();
        QTest::newRow("inline string with escape")
            << QByteArray("<c t=\"inlineStr\"><is><t>x_x000D_y_x005F_x0041_</t></is></c>")
            << QVariant(QStringLiteral("x\ry_x0041_"));
        QTest::newRow("formula text") << QByteArray("<c t=\"str\"><f>A1&amp;\"\"</f><v>Hi</v></c>")
                                      << QVariant(QStringLiteral("Hi"));
        QTest::newRow("formula number") << QByteArray("<c><f>1+1</f><v>2</v></c>") << QVariant(2.0);
        QTest::newRow("error") << QByteArray("<c t=\"e\"><v>#N/A</v></c>")
                               << QVariant::fromValue(CellError{"#N/A"});
        QTest::newRow("boolean false") << QByteArray("<c t=\"b\"><v>0</v></c>") << QVariant(false);
        QTest::newRow("ISO date") << QByteArray("<c t=\"d\"><v>2021-01-02</v></c>")
                                  << QVariant(QDate(2021, 1, 2));
        QTest::newRow("ISO date-time")
            << QByteArray("<c t=\"d\"><v>2021-01-02T03:04:05</v></c>")
            << QVariant(QDateTime(QDate(2021, 1, 2), QTime(3, 4, 5), Qt::UTC));
        QTest::newRow("empty value") << QByteArray("<c t=\"s\"></c>") << QVariant();
        QTest::newRow("prefixed elements")
            << QByteArray("<x:c xmlns:x=\"http://schemas.openxmlformats.org/spreadsheetml/2006/"
                          "main\"><x:v>12.5</x:v></x:c>")
            << QVariant(12.5);
        QTest::newRow("strict namespace")
            << QByteArray("<s:c xmlns:s=\"http://purl.oclc.org/ooxml/spreadsheetml/main\">"
                          "<s:v>12.5</s:v></s:c>")
            << QVariant(12.5);
        QTest::newRow("an element of another vocabulary is no cell")
            << QByteArray("<x:c xmlns:x=\"urn:x\"><x:v>12.5</x:v></x:c>") << QVariant();
        QTest::newRow("a value of another vocabulary is no value")
            << QByteArray("<c xmlns:x=\"urn:x\"><x:v>12.5</x:v></c>") << QVariant();
        QTest::newRow("ISO time") << QByteArray("<c t=\"d\"><v>10:10:10</v></c>")
                                  << QVariant(QTime(10, 10, 10));
        QTest::newRow("ISO duration past a day")
            << QByteArray("<c t=\"d\"><v>PT24H0M0.000S</v></c>")
            << QVariant::fromValue(Duration{qint64{24} * 3600000});
        QTest::newRow("ISO text that is no date") << QByteArray("<c t=\"d\"><v>2021-02-30</v></c>")
                                                  << QVariant(QStringLiteral("2021-02-30"));
    }

    void cellForms()
    {
        QFETCH(QByteArray, cell);
        QFETCH(QVariant, expected);
        builders::Xlsx book;
        // Rows and cells without references follow the one before.
        book.sheets = {{"Sheet1", "<row><c t=\"inlineStr\"><is><t>Key</t></is></c>"
                                  "<c t=\"inlineStr\"><is><t>Value</t></is></c></row>"
                                  "<row><c t=\"inlineStr\"><is><t>k</t></is></c>" +
                                      cell + "</row>"}};
        book.extraParts = {
            {"xl/sharedStrings.xml",
             "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
             "<si><t>ab_x000D_\ncd</t></si>"
             "<si><r><rPr><b/></rPr><t>Bold</t></r><r><t xml:space=\"preserve\"> "
             "plain</t></r><rPh sb=\"0\" eb=\"1\"><t>ふり</t></rPh></si></sst>"}};
        // No relationship names the strings part: it is found where Excel puts it.
        auto table = readFirstTable(xlsx("forms.xlsx", book));
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->columns, (QStringList{"Key", "Value"}));
        QCOMPARE(table->rows.size(), 1);
        QCOMPARE(table->rows.at(0).at(1), expected);
    }

    void sheetNamesWithBracketsAndSpaces()
    {
        builders::Xlsx book;
        book.sheets = {{"Sales ]Q1 [x]",
                        "<row><c t=\"inlineStr\"><is><t>Email</t></is></c></row>"
                        "<row><c t=\"inlineStr\"><is><t>a@b.c</t></is></c></row>"}};
        auto table = readFirstTable(xlsx("names.xlsx", book));
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->name, QStringLiteral("Sales ]Q1 [x]$"));
        QCOMPARE(table->rows, (QList<QVariantList>{{QStringLiteral("a@b.c")}}));
    }

    void emptySheet()
    {
        builders::Xlsx book;
        book.sheets = {{"Empty", ""}, {"Full", "<row><c><v>1</v></c></row>"}};
        const QString path = xlsx("empty.xlsx", book);
        auto table = readFirstTable(path);
        QVERIFY(table);
        QCOMPARE(table->name, QStringLiteral("Empty$"));
        QVERIFY(table->columns.isEmpty());
        QVERIFY(table->rows.isEmpty());
        auto connection = OpenWorkbook(path);
        QVERIFY(connection);
        auto rows = OpenSheetRows(*connection.value(), "Empty$");
        QVERIFY(rows);
        QVERIFY(rows.value()->Eof());
        QVERIFY(!rows.value()->MoveNext());
    }

    void noWorksheet()
    {
        builders::Xlsx book; // a workbook whose sheets are all missing
        auto connection = OpenWorkbook(xlsx("none.xlsx", book));
        QVERIFY(connection);
        auto table = GetFirstTableName(*connection.value());
        QVERIFY(!table);
        QCOMPARE(table.error().code, ErrorCode::NoTable);
    }

    void fieldsByName()
    {
        builders::Xlsx book;
        book.sheets = {{"Sheet1",
                        "<row><c t=\"inlineStr\"><is><t>E-Mail</t></is></c>"
                        "<c t=\"inlineStr\"><is><t>Name</t></is></c></row>"
                        "<row><c><v>1</v></c><c t=\"inlineStr\"><is><t>n</t></is></c></row>"}};
        auto connection = OpenWorkbook(xlsx("fields.xlsx", book));
        QVERIFY(connection);
        auto rows = OpenSheetRows(*connection.value(), "Sheet1$");
        QVERIFY(rows);
        ado::Recordset &set = *rows.value();
        QCOMPARE(set.RecordCount(), -1);
        QCOMPARE(set.fieldNames(), (QStringList{"E-Mail", "Name"}));
        QCOMPARE(set.Fields("Name"), QVariant(QStringLiteral("n")));
        QCOMPARE(set.Fields("e-mail"), QVariant(1.0)); // names match regardless of case
        QVERIFY(!set.Fields("Phone").isValid());
        QVERIFY(!set.hasField("Phone"));
        QCOMPARE(set.fieldIndex("Name"), 1);
        QCOMPARE(set.value(1), QVariant(QStringLiteral("n")));
        QVERIFY(set.MoveNext());
        QVERIFY(set.Eof());
        QVERIFY(set.Fields("Name").isNull());
    }

    void rowsOutliveTheirConnection()
    {
        builders::Xlsx book;
        book.sheets = {{"Sheet1", "<row><c t=\"inlineStr\"><is><t>N</t></is></c></row>"
                                  "<row><c><v>1</v></c></row><row><c><v>2</v></c></row>"}};
        auto connection = OpenWorkbook(xlsx("outlive.xlsx", book));
        QVERIFY(connection);
        auto rows = OpenSheetRows(*connection.value(), "Sheet1$");
        QVERIFY(rows);
        connection.value().reset();
        QCOMPARE(rows.value()->Fields("N"), QVariant(1.0));
        QVERIFY(rows.value()->MoveNext());
        QCOMPARE(rows.value()->Fields("N"), QVariant(2.0));
    }

    void queryForms_data()
    {
        QTest::addColumn<QString>("query");
        QTest::addColumn<bool>("opens");
        QTest::newRow("exact form") << "SELECT * FROM [Sheet1$]" << true;
        QTest::newRow("quoted name") << "SELECT * FROM ['Sheet1$']" << true;
        QTest::newRow("bare sheet name") << "SELECT * FROM [Sheet1]" << true;
        QTest::newRow("lower case") << "select * from [Sheet1$]" << false;
        QTest::newRow("no brackets") << "SELECT * FROM Sheet1$" << false;
        QTest::newRow("unknown table") << "SELECT * FROM [Other$]" << false;
        QTest::newRow("trailing text") << "SELECT * FROM [Sheet1$] WHERE 1" << false;
    }

    void queryForms()
    {
        QFETCH(QString, query);
        QFETCH(bool, opens);
        builders::Xlsx book;
        book.sheets = {{"Sheet1", "<row><c><v>1</v></c></row>"}};
        auto connection = OpenWorkbook(xlsx("query.xlsx", book));
        QVERIFY(connection);
        ado::Recordset rows;
        Result<void> opened = rows.Open(query, *connection.value(), ado::adLockReadOnly);
        QCOMPARE(opened.ok(), opens);
        if (!opened)
            QVERIFY(!opened.error().message.isEmpty());
    }

    void connectionStrings_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("dataSource");
        QTest::addColumn<QString>("properties");
        QTest::newRow("plain") << "Data Source=/a/b.xlsx;Extended Properties=Excel 12.0;"
                               << "/a/b.xlsx"
                               << "Excel 12.0";
        QTest::newRow("semicolon in the path")
            << "Data Source=/a;b/c.xls;Extended Properties=Excel 8.0;"
            << "/a;b/c.xls"
            << "Excel 8.0";
        QTest::newRow("properties text in the path")
            << "Data Source=/x;Extended Properties=y/c.xls;Extended Properties=Excel 8.0;"
            << "/x;Extended Properties=y/c.xls"
            << "Excel 8.0";
        QTest::newRow("no properties") << "Data Source=/a.xlsx"
                                       << "/a.xlsx"
                                       << "";
        QTest::newRow("quoted properties")
            << "Data Source=/a/b.csv;Extended Properties=\"Text;HDR=Yes;FMT=Delimited\";"
            << "/a/b.csv"
            << "Text;HDR=Yes;FMT=Delimited";
    }

    void connectionStrings()
    {
        QFETCH(QString, text);
        QFETCH(QString, dataSource);
        QFETCH(QString, properties);
        auto parsed = ado::parseConnectionString(text);
        QVERIFY(parsed);
        QCOMPARE(parsed->dataSource, dataSource);
        QCOMPARE(parsed->extendedProperties, properties);
    }

    void pathWithSemicolonOpens()
    {
        builders::Xlsx book;
        book.sheets = {{"Sheet1", "<row><c><v>1</v></c></row>"}};
        auto table = readFirstTable(xlsx("odd;name.xlsx", book));
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->columns, QStringList{"1"});
    }

    void connectionRefusals()
    {
        ado::Connection connection;
        connection.Provider = QStringLiteral("Microsoft.Jet.OLEDB.3.51");
        connection.ConnectionString = QStringLiteral("Data Source=/x.xls;");
        Result<void> opened = connection.Open();
        QVERIFY(!opened);
        QCOMPARE(opened.error().message,
                 QStringLiteral("Provider cannot be found. It may not be properly installed."));
        connection.Provider = QStringLiteral("Microsoft.Jet.OLEDB.4.0");
        connection.ConnectionString =
            QStringLiteral("Data Source=/x.xls;Extended Properties=Excel 12.0;");
        opened = connection.Open();
        QVERIFY(!opened);
        QVERIFY(opened.error().message.contains(QLatin1String("Excel 12.0")));
        QVERIFY(!connection.isOpen());
        QVERIFY(!connection.OpenSchema(ado::adSchemaTables));
    }
};

QTEST_GUILESS_MAIN(TestWorkbookAccess)
#include "TestWorkbookAccess.moc"
