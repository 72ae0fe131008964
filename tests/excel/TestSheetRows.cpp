// Rows put together from the runs of cells a reader finds, and tables over
// them: runs of one row joined, rows out of order sorted within the bounds,
// columns met late named and found, column names given in linear time.
#include "Builders.h"

#include "excel/Limits.h"
#include "excel/SheetRows.h"
#include "excel/Table.h"
#include "excel/Workbook.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace excel;

namespace {

// A sheet given as its runs: (row, first column, values...).
struct Run
{
    int row;
    int column;
    QVariantList values;
};

class FakeCells : public SheetCells
{
public:
    explicit FakeCells(std::vector<Run> runs, std::optional<ColumnSpan> declared = {})
        : m_runs(std::move(runs))
        , m_declared(declared)
    {}

    Result<bool> nextRun(RowCells &run) override
    {
        run.cells.clear();
        if (m_next >= m_runs.size())
            return false;
        const Run &next = m_runs[m_next++];
        run.row = next.row;
        for (int i = 0; i < next.values.size(); ++i)
            run.cells.push_back({next.column + i, next.values.at(i)});
        return true;
    }
    std::optional<ColumnSpan> declaredColumns() const override { return m_declared; }
    Result<std::unique_ptr<SheetCells>> reopen() const override
    {
        return std::unique_ptr<SheetCells>(new FakeCells(m_runs, m_declared));
    }
    const QString &path() const override { return m_path; }

private:
    std::vector<Run> m_runs;
    std::optional<ColumnSpan> m_declared;
    QString m_path = QStringLiteral("fake.xls");
    size_t m_next = 0;
};

class FakeWorkbook : public WorkbookFile
{
public:
    FakeWorkbook(std::vector<Run> runs, std::optional<ColumnSpan> declared = {})
        : m_cells(std::move(runs), declared)
    {}
    const QStringList &sheetNames() const override { return m_names; }
    Result<std::unique_ptr<SheetCells>> openSheet(int) override { return m_cells.reopen(); }

private:
    FakeCells m_cells;
    QStringList m_names{QStringLiteral("Sheet1")};
};

// Every row as its number and its values by column ("" where none).
using Rows = QList<QPair<int, QStringList>>;

Result<Rows> readRows(std::vector<Run> runs)
{
    SheetRows rows(std::make_unique<FakeCells>(std::move(runs)));
    Rows result;
    RowCells row;
    for (;;) {
        Result<bool> more = rows.next(row);
        if (!more)
            return more.error();
        if (!more.value())
            return result;
        QStringList values;
        for (const Cell &cell : row.cells) {
            while (values.size() <= cell.column)
                values.append(QString());
            values[cell.column] = cell.value.toString();
        }
        result.append({row.row, values});
    }
}

// A sheet in order of the given number of cells, one column wide.
std::vector<Run> inOrder(int rows)
{
    std::vector<Run> runs;
    for (int row = 1; row <= rows; ++row)
        runs.push_back({row, 0, {QString::number(row)}});
    return runs;
}

} // namespace

Q_DECLARE_METATYPE(std::vector<Run>)

class TestSheetRows : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void assembled_data()
    {
        QTest::addColumn<std::vector<Run>>("runs");
        QTest::addColumn<Rows>("expected");
        QTest::newRow("in order") << std::vector<Run>{{1, 0, {"a", "b"}}, {2, 0, {"c"}}}
                                  << Rows{{1, {"a", "b"}}, {2, {"c"}}};
        QTest::newRow("a row in several runs")
            << std::vector<Run>{{1, 0, {"a"}}, {1, 1, {"b"}}, {1, 2, {"c"}}, {3, 0, {"d"}}}
            << Rows{{1, {"a", "b", "c"}}, {3, {"d"}}};
        QTest::newRow("column by column")
            << std::vector<Run>{{1, 0, {"h1"}}, {2, 0, {"a1"}}, {3, 0, {"b1"}},
                                {1, 1, {"h2"}}, {2, 1, {"a2"}}, {3, 1, {"b2"}}}
            << Rows{{1, {"h1", "h2"}}, {2, {"a1", "a2"}}, {3, {"b1", "b2"}}};
        QTest::newRow("header written last")
            << std::vector<Run>{{2, 0, {"a"}}, {3, 0, {"b"}}, {1, 0, {"h"}}}
            << Rows{{1, {"h"}}, {2, {"a"}}, {3, {"b"}}};
        QTest::newRow("a row in between")
            << std::vector<Run>{{1, 0, {"h"}}, {5, 0, {"e"}}, {3, 0, {"c"}}, {5, 1, {"f"}}}
            << Rows{{1, {"h"}}, {3, {"c"}}, {5, {"e", "f"}}};
    }

    void assembled()
    {
        QFETCH(std::vector<Run>, runs);
        QFETCH(Rows, expected);
        auto rows = readRows(runs);
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.error().message));
        QCOMPARE(rows.value(), expected);
    }

    void outOfOrderPastTheCheckIsAnError()
    {
        // Rows in order for longer than the reader looks ahead, then one back.
        std::vector<Run> runs = inOrder(int(limits::orderCheckCells) + 100);
        runs.push_back({7, 1, {"late"}});
        auto rows = readRows(runs);
        QVERIFY(!rows);
        QCOMPARE(rows.error().code, ErrorCode::Unsafe);
        QVERIFY2(rows.error().message.contains(QLatin1String("row 7 comes again")),
                 qPrintable(rows.error().message));
        QVERIFY(rows.error().message.contains(QLatin1String("fake.xls")));
    }

    void outOfOrderWithinTheCheckIsSorted()
    {
        // Past the look-ahead, but out of order within it: read whole and sorted.
        std::vector<Run> runs{{2, 0, {"second"}}, {1, 0, {"first"}}};
        for (int row = 3; row < int(limits::orderCheckCells) + 100; ++row)
            runs.push_back({row, 0, {QString::number(row)}});
        auto rows = readRows(runs);
        QVERIFY2(rows, qPrintable(rows ? QString() : rows.error().message));
        QCOMPARE(rows->size(), qsizetype(limits::orderCheckCells) + 99);
        QCOMPARE(rows->at(0), (QPair<int, QStringList>{1, {"first"}}));
        QCOMPARE(rows->at(1), (QPair<int, QStringList>{2, {"second"}}));
    }

    void interleavedOrderSortsQuickly()
    {
        // Rows 1, n, 2, n-1, ...: each would go into the middle of the rows held.
        const int rows = int(limits::orderCheckCells) - 10;
        std::vector<Run> runs;
        for (int low = 1, high = rows; low <= high; ++low, --high) {
            runs.push_back({low, 0, {QString::number(low)}});
            if (high != low)
                runs.push_back({high, 0, {QString::number(high)}});
        }
        QElapsedTimer timer;
        timer.start();
        auto sorted = readRows(runs);
        const qint64 elapsed = timer.elapsed();
        QVERIFY2(sorted, qPrintable(sorted ? QString() : sorted.error().message));
        QCOMPARE(sorted->size(), rows);
        for (int i = 0; i < rows; ++i)
            QCOMPARE(sorted->at(i).first, i + 1);
        QVERIFY2(elapsed < 2000, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    }

    void sortingHasAMemoryBound()
    {
        // Out of order, and more text than may be held to sort it.
        const QString text(qsizetype{64} * 1024, QLatin1Char('x'));
        std::vector<Run> runs{{2, 0, {"b"}}, {1, 0, {"a"}}};
        const qint64 cells = limits::sortedSheetBytes / (text.size() * 2) + 10;
        for (int row = 3; row < 3 + cells; ++row)
            runs.push_back({row, 0, {text}});
        auto rows = readRows(runs);
        QVERIFY(!rows);
        QCOMPARE(rows.error().code, ErrorCode::Unsafe);
        QVERIFY2(rows.error().message.contains(QLatin1String("too many to sort")),
                 qPrintable(rows.error().message));
    }

    // A table over a large sheet trusts what it has met when the first row is
    // handed out, adds a column a later row brings, and finds a column it has
    // not met yet when asked for it.
    void columnsMetLate()
    {
        const int rows = int(limits::orderCheckCells) + 1000;
        std::vector<Run> runs{{1, 0, {"Name", "Email"}}};
        for (int row = 2; row <= rows; ++row)
            runs.push_back({row, 0, {QStringLiteral("n%1").arg(row)}});
        runs.push_back({rows + 1, 3, {"late"}});
        const std::vector<Run> all = runs;

        FakeWorkbook workbook(all, ColumnSpan{0, 1});
        auto names = SheetTable::readColumnNames(workbook, 0);
        QVERIFY(names);
        QCOMPARE(names.value(), (QStringList{"Name", "Email", "F3", "F4"}));

        auto table = SheetTable::open(workbook, 0);
        QVERIFY(table);
        QCOMPARE(table.value()->columnNames(), (QStringList{"Name", "Email"}));
        int read = 0;
        QVariant last;
        for (;;) {
            Result<bool> more = table.value()->next();
            QVERIFY(more);
            if (!more.value())
                break;
            ++read;
            last = table.value()->values().back();
        }
        QCOMPARE(read, rows);
        QCOMPARE(table.value()->columnNames(), (QStringList{"Name", "Email", "F3", "F4"}));
        QCOMPARE(last, QVariant(QStringLiteral("late")));

        auto asked = SheetTable::open(workbook, 0);
        QVERIFY(asked);
        Result<bool> found = asked.value()->findAllColumns();
        QVERIFY(found && found.value());
        QCOMPARE(asked.value()->columnNames(), (QStringList{"Name", "Email", "F3", "F4"}));
        found = asked.value()->findAllColumns();
        QVERIFY(found && !found.value());
    }

    void columnsLeftOfTheDeclaredOnesAreFound()
    {
        // The declared columns start at B; a cell far down is in A.
        const int rows = int(limits::orderCheckCells) + 1000;
        std::vector<Run> runs{{1, 1, {"Name", "Email"}}};
        for (int row = 2; row <= rows; ++row)
            runs.push_back({row, 1, {QStringLiteral("n%1").arg(row)}});
        runs.push_back({rows + 1, 0, {"left"}});
        FakeWorkbook workbook(runs, ColumnSpan{1, 2});
        auto table = SheetTable::open(workbook, 0);
        QVERIFY(table);
        QCOMPARE(table.value()->columnNames(), (QStringList{"F1", "Name", "Email"}));
        auto names = SheetTable::readColumnNames(workbook, 0);
        QVERIFY(names);
        QCOMPARE(names.value(), table.value()->columnNames());
    }

    void columnNames_data()
    {
        QTest::addColumn<QStringList>("texts");
        QTest::addColumn<QStringList>("names");
        QTest::newRow("repeats") << QStringList{"Name", "Name", "Name"}
                                 << QStringList{"Name", "Name1", "Name2"};
        QTest::newRow("a repeat skips a wanted name")
            << QStringList{"Name", "Name", "Name1"} << QStringList{"Name", "Name2", "Name1"};
        QTest::newRow("empty texts by position")
            << QStringList{"", "F1", ""} << QStringList{"F1", "F11", "F3"};
        QTest::newRow("repeats far apart")
            << QStringList{"A", "A1", "A", "A2", "A"} << QStringList{"A", "A1", "A3", "A2", "A4"};
    }

    void columnNames()
    {
        QFETCH(QStringList, texts);
        QFETCH(QStringList, names);
        QCOMPARE(makeColumnNames(std::vector<QString>(texts.cbegin(), texts.cend())), names);
    }

    void manyRepeatedNamesInLinearTime()
    {
        QElapsedTimer timer;
        timer.start();
        const QStringList names =
            makeColumnNames(std::vector<QString>(limits::maxColumns, QStringLiteral("Email")));
        const qint64 elapsed = timer.elapsed();
        QCOMPARE(names.size(), limits::maxColumns);
        QCOMPARE(names.last(), QStringLiteral("Email%1").arg(limits::maxColumns - 1));
        QCOMPARE(QSet<QString>(names.cbegin(), names.cend()).size(), limits::maxColumns);
        QVERIFY2(elapsed < 1000, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    }

    // A real reader's runs through a whole workbook: a large .xlsx whose
    // dimension is too small and whose rows come back once past the check.
    void largeXlsxThroughTheFacade()
    {
        const int rows = int(limits::orderCheckCells) + 10;
        QByteArray data = "<row r=\"1\"><c r=\"A1\" t=\"inlineStr\"><is><t>Email</t></is></c>"
                          "</row>";
        for (int row = 2; row <= rows; ++row)
            data += "<row r=\"" + QByteArray::number(row) + "\"><c r=\"A" +
                    QByteArray::number(row) + "\"><v>" + QByteArray::number(row) + "</v></c></row>";
        data += "<row r=\"" + QByteArray::number(rows + 1) + "\"><c r=\"C" +
                QByteArray::number(rows + 1) + "\"><v>3</v></c></row>";
        builders::Xlsx book;
        book.sheetPrefix = "<dimension ref=\"A1:A2\"/>";
        book.sheets = {{"Sheet1", data}};
        QTemporaryDir dir;
        const QString path = dir.filePath("large.xlsx");
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(book.build());
        file.close();

        QCOMPARE(ReadFirstTableColumns(path).value(), (QStringList{"Email", "F2", "F3"}));
        auto connection = OpenWorkbook(path);
        QVERIFY(connection);
        auto set = OpenSheetRows(*connection.value(), "Sheet1$");
        QVERIFY(set);
        ado::Recordset &recordset = *set.value();
        QCOMPARE(recordset.fieldNames(), QStringList{"Email"});
        // Not met yet: the sheet is read once more for it.
        const int late = recordset.fieldIndex("F3");
        QCOMPARE(late, 2);
        int count = 0;
        QVariant last;
        while (!recordset.Eof()) {
            ++count;
            last = recordset.value(late);
            QVERIFY(recordset.MoveNext());
        }
        QCOMPARE(count, rows);
        QCOMPARE(last, QVariant(3.0));
        QCOMPARE(recordset.fieldNames(), (QStringList{"Email", "F2", "F3"}));
    }
};

QTEST_GUILESS_MAIN(TestSheetRows)
#include "TestSheetRows.moc"
