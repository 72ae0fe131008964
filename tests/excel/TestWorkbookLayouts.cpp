// Workbooks laid out the way some real writers lay them out: the files in
// tests/data made by make-xls.sh and make-xlsx.sh, read through the workbook
// operations as the program reads them.
#include "ReadTable.h"
#include "excel/Duration.h"
#include "excel/Workbook.h"

#include <QDate>
#include <QDateTime>
#include <QElapsedTimer>
#include <QTest>
#include <QTime>

using namespace excel;

namespace {

QString data(const char *name)
{
    return QStringLiteral(RUVELO_TEST_DATA "/") + QLatin1String(name);
}

QString longFormulaText()
{
    QString text;
    for (int i = 0; text.size() < 9000; ++i)
        text += QStringLiteral("Note %1; ").arg(i, 4, 10, QLatin1Char('0'));
    text.truncate(9000);
    return text;
}

} // namespace

class TestWorkbookLayouts : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void layouts_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<QList<QVariantList>>("rows");
        const QVariant none;

        QTest::newRow("xls written column by column")
            << data("rows-column-by-column.xls") << QStringList{"Name", "Email", "Phone"}
            << QList<QVariantList>{{"Ann Lee", "ann@example.com", 5550100.0},
                                   {"Bo Ek", "bo@example.com", 5550101.0},
                                   {"Cy Ng", "cy@example.com", 5550102.0}};
        QTest::newRow("xlsx with a row element per cell")
            << data("rows-repeated.xlsx") << QStringList{"Name", "Email", "Phone"}
            << QList<QVariantList>{{"Ann Lee", "ann@example.com", "555-0100"},
                                   {"Bo Ek", "bo@example.com", "555-0101"}};
        QTest::newRow("xls formula text continued")
            << data("formula-text-continued.xls") << QStringList{"Notes", "Id"}
            << QList<QVariantList>{{longFormulaText(), 1.0}, {"short", 2.0}};
        QTest::newRow("xls formula under the old id")
            << data("formula-old-id.xls") << QStringList{"Item", "Total"}
            << QList<QVariantList>{{"a", 42.0}, {"b", "made by a formula"}, {7.5, none}};
        QTest::newRow("xls shared strings with empty CONTINUE records")
            << data("sst-empty-continue.xls") << QStringList{"Email"}
            << QList<QVariantList>{{"Alphabet soup"}, {"x"}, {"last"}};
        QTest::newRow("xls with a stale Book stream")
            << data("workbook-and-book.xls") << QStringList{"Email"}
            << QList<QVariantList>{{"ann@example.com"}};
        QTest::newRow("xlsx 1904 dates beside an extension")
            << data("date1904-extension.xlsx") << QStringList{"When"}
            << QList<QVariantList>{{QDate(1904, 1, 1)}, {QDate(2023, 3, 15)}};
        QTest::newRow("xlsx ISO 8601 cells")
            << data("iso-dates.xlsx") << QStringList{"When"}
            << QList<QVariantList>{{QDate(2021, 1, 2)},
                                   {QDateTime(QDate(2021, 1, 2), QTime(3, 4, 5), Qt::UTC)},
                                   {QTime(10, 10, 10)},
                                   {QVariant::fromValue(Duration{qint64{24} * 3600000})},
                                   {QVariant::fromValue(Duration{
                                       (qint64{26} * 3600 + qint64{30} * 60 + 15) * 1000})},
                                   {QVariant::fromValue(Duration{qint64{26} * 3600000})},
                                   {QVariant::fromValue(Duration{qint64{-90} * 60000})},
                                   {QVariant::fromValue(Duration{45000})},
                                   {"P1Y"},
                                   {"soon"}};
        const QList<QVariantList> beyondDimension{
            {"Ann Lee", "ann@example.com", 5550100.0, "no header", none},
            {none, none, none, none, "far out"}};
        QTest::newRow("xls cells outside its dimension")
            << data("dimension-too-small.xls") << QStringList{"Name", "Email", "Phone", "F4", "F5"}
            << beyondDimension;
        QTest::newRow("xlsx cells outside its dimension")
            << data("dimension-too-small.xlsx") << QStringList{"Name", "Email", "Phone", "F4", "F5"}
            << QList<QVariantList>{{"Ann Lee", "ann@example.com", 5550100.0, "no header", none},
                                   {none, none, none, none, "far out"}};
    }

    void layouts()
    {
        QFETCH(QString, file);
        QFETCH(QStringList, columns);
        QFETCH(QList<QVariantList>, rows);
        auto table = readFirstTable(file);
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->columns, columns);
        QCOMPARE(table->rows, rows);
    }

    void excel4FileIsTooOld()
    {
        const QString path = data("excel4.xls");
        auto connection = OpenWorkbook(path);
        QVERIFY(!connection);
        QCOMPARE(connection.error().code, ErrorCode::OldFormat);
        const QString message = connection.error().message;
        QVERIFY2(message.contains(QLatin1String("older than Excel 5.0")), qPrintable(message));
        QVERIFY2(message.contains(QLatin1String("save it as .xls or .xlsx")), qPrintable(message));
        QVERIFY(message.contains(path));
    }

    void repeatedHeaderNamedQuickly()
    {
        QElapsedTimer timer;
        timer.start();
        auto table = readFirstTable(data("header-repeated.xlsx"));
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->columns.size(), 16384);
        QCOMPARE(table->columns.at(0), QStringLiteral("Name"));
        QCOMPARE(table->columns.at(1), QStringLiteral("Name1"));
        QCOMPARE(table->columns.at(16383), QStringLiteral("Name16383"));
        QCOMPARE(QSet<QString>(table->columns.cbegin(), table->columns.cend()).size(), 16384);
        QCOMPARE(table->rows.size(), 1);
        QCOMPARE(table->rows.at(0).at(0), QVariant(QStringLiteral("ann@example.com")));
        // Under the sanitizers, the sheet read once for its columns and once for its rows.
        QVERIFY2(elapsed < 1000, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    }
};

QTEST_GUILESS_MAIN(TestWorkbookLayouts)
#include "TestWorkbookLayouts.moc"
