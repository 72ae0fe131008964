// CSV files through the workbook operations: quoting, separators, encodings,
// the "sep=" line, header names, empty files and the limits on hostile ones.
#include "HostileFiles.h"

#include "ReadTable.h"
#include "excel/Workbook.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace excel;

namespace {

QByteArray utf16(const QString &text, bool bigEndian)
{
    QByteArray out = bigEndian ? QByteArray("\xFE\xFF", 2) : QByteArray("\xFF\xFE", 2);
    for (QChar c : text) {
        const char high = char(c.unicode() >> 8);
        const char low = char(c.unicode() & 0xFF);
        out += bigEndian ? QByteArray(1, high) + QByteArray(1, low)
                         : QByteArray(1, low) + QByteArray(1, high);
    }
    return out;
}

} // namespace

class TestCsvReader : public QObject
{
    Q_OBJECT

    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &data)
    {
        QString path = m_dir.filePath(name);
        QFile file(path);
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        file.write(data);
        return path;
    }

private Q_SLOTS:
    void tables_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<QList<QVariantList>>("rows");
        const QVariant none;
        const QList<QVariantList> ann{{"Ann", "ann@example.com"}};
        const QStringList nameEmail{"Name", "Email"};

        QTest::newRow("comma, line feeds")
            << QByteArray("Name,Email\nAnn,ann@example.com\n") << nameEmail << ann;
        QTest::newRow("carriage return and line feed")
            << QByteArray("Name,Email\r\nAnn,ann@example.com\r\n") << nameEmail << ann;
        QTest::newRow("carriage returns only")
            << QByteArray("Name,Email\rAnn,ann@example.com\r") << nameEmail << ann;
        QTest::newRow("no line break at the end")
            << QByteArray("Name,Email\nAnn,ann@example.com") << nameEmail << ann;
        QTest::newRow("semicolons, a comma in a value")
            << QByteArray("Name;Email;Note\nAnn;ann@example.com;a, b\n")
            << QStringList{"Name", "Email", "Note"}
            << QList<QVariantList>{{"Ann", "ann@example.com", "a, b"}};
        QTest::newRow("TAB") << QByteArray("Name\tEmail\nAnn\tann@example.com\n") << nameEmail
                             << ann;
        QTest::newRow("sep= line")
            << QByteArray("sep=|\nName|Email\nAnn|ann@example.com\n") << nameEmail << ann;
        QTest::newRow("SEP= line against the header's commas")
            << QByteArray("SEP=;\r\nName;Email,Work\r\nAnn;ann@example.com,x\r\n")
            << QStringList{"Name", "Email,Work"}
            << QList<QVariantList>{{"Ann", "ann@example.com,x"}};
        QTest::newRow("quoted separators, quotes and line breaks")
            << QByteArray("Name,Note\n\"Lee, Ann\",\"said \"\"hi\"\"\r\nthen left\"\nBo,x\n")
            << QStringList{"Name", "Note"}
            << QList<QVariantList>{{"Lee, Ann", "said \"hi\"\r\nthen left"}, {"Bo", "x"}};
        QTest::newRow("separators in the quoted header do not count")
            << QByteArray("\"a,b,c\";Email\nx;y\n") << QStringList{"a,b,c", "Email"}
            << QList<QVariantList>{{"x", "y"}};
        QTest::newRow("leading zeros and long numbers stay text")
            << QByteArray("Zip,Phone,Id\n01234,+4915112345678,12345678901234567890\n")
            << QStringList{"Zip", "Phone", "Id"}
            << QList<QVariantList>{{"01234", "+4915112345678", "12345678901234567890"}};
        QTest::newRow("dates and truth values stay text")
            << QByteArray("When,Active\n2024-03-01,TRUE\n01/02/2024,1\n")
            << QStringList{"When", "Active"}
            << QList<QVariantList>{{"2024-03-01", "TRUE"}, {"01/02/2024", "1"}};
        QTest::newRow("empty and repeated header names")
            << QByteArray("Name,,Name,Email,Name\nA,B,C,D,E\n")
            << QStringList{"Name", "F2", "Name1", "Email", "Name2"}
            << QList<QVariantList>{{"A", "B", "C", "D", "E"}};
        QTest::newRow("a trailing separator makes a column")
            << QByteArray("Name,Email,\nAnn,ann@example.com,\n")
            << QStringList{"Name", "Email", "F3"}
            << QList<QVariantList>{{"Ann", "ann@example.com", none}};
        QTest::newRow("a row wider than the header")
            << QByteArray("Name\nAnn,extra\n") << QStringList{"Name", "F2"}
            << QList<QVariantList>{{"Ann", "extra"}};
        QTest::newRow("empty lines are no rows")
            << QByteArray("Name\n\nAnn\n\n,\n") << QStringList{"Name"}
            << QList<QVariantList>{{"Ann"}};
        QTest::newRow("empty fields are empty")
            << QByteArray("A,B,C\n1,,3\n\"\",2,\n") << QStringList{"A", "B", "C"}
            << QList<QVariantList>{{"1", none, "3"}, {none, "2", none}};
        QTest::newRow("a quote never closed runs to the end")
            << QByteArray("A,B\n1,\"two\nthree") << QStringList{"A", "B"}
            << QList<QVariantList>{{"1", "two\nthree"}};
        QTest::newRow("text after a closing quote")
            << QByteArray("A\n\"ab\"cd\n") << QStringList{"A"} << QList<QVariantList>{{"abcd"}};
        QTest::newRow("a quote inside an unquoted field")
            << QByteArray("A\nab\"cd\n") << QStringList{"A"} << QList<QVariantList>{{"ab\"cd"}};
        QTest::newRow("blanks kept") << QByteArray("A,B\n a , b \n") << QStringList{"A", "B"}
                                     << QList<QVariantList>{{" a ", " b "}};
        QTest::newRow("only a header")
            << QByteArray("Name,Email\r\n") << nameEmail << QList<QVariantList>{};
    }

    void tables()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, columns);
        QFETCH(QList<QVariantList>, rows);
        auto table = readFirstTable(write("contacts.csv", content));
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->name, QStringLiteral("contacts#csv"));
        QCOMPARE(table->columns, columns);
        QCOMPARE(table->rows, rows);
    }

    void encodings_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QStringList>("columns");
        QTest::addColumn<QVariantList>("lastRow");
        const QString text = QStringLiteral("Zoë;Ünal € ‚x‘\nÄ;ß\n");
        const QStringList columns{QStringLiteral("Zoë"), QStringLiteral("Ünal € ‚x‘")};
        const QVariantList row{QStringLiteral("Ä"), QStringLiteral("ß")};
        const QString wide = QStringLiteral("名前;山田 😀\n1;2\n");
        const QStringList wideColumns{QStringLiteral("名前"), QStringLiteral("山田 😀")};
        QTest::newRow("UTF-8 with a byte-order mark")
            << QByteArray("\xEF\xBB\xBF" + text.toUtf8()) << columns << row;
        QTest::newRow("UTF-8") << text.toUtf8() << columns << row;
        QTest::newRow("UTF-8 beyond the Basic Multilingual Plane")
            << wide.toUtf8() << wideColumns << QVariantList{"1", "2"};
        QTest::newRow("UTF-16 little-endian")
            << utf16(wide, false) << wideColumns << QVariantList{"1", "2"};
        QTest::newRow("UTF-16 big-endian") << utf16(text, true) << columns << row;
        QTest::newRow("Windows-1252")
            << QByteArray("Zo\xEB;\xDCnal \x80 \x82x\x91\n\xC4;\xDF\n") << columns << row;
        // Valid UTF-8 for longer than any chunk, then a byte that is not.
        QTest::newRow("Windows-1252 far into the file")
            << QByteArray("Name;Note\n" + QByteArray("plain;ascii\n").repeated(10000) +
                          "Ren\xE9;caf\xE9\n")
            << QStringList{"Name", "Note"}
            << QVariantList{QStringLiteral("René"), QStringLiteral("café")};
        QTest::newRow("a UTF-8 sequence cut off at the end is no UTF-8")
            << QByteArray("Zo\xC3\xAB;x\nA;B\xC3") << QStringList{QStringLiteral("ZoÃ«"), "x"}
            << QVariantList{"A", QStringLiteral("BÃ")};
    }

    void encodings()
    {
        QFETCH(QByteArray, content);
        QFETCH(QStringList, columns);
        QFETCH(QVariantList, lastRow);
        auto table = readFirstTable(write("encoded.csv", content));
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->columns, columns);
        QVERIFY(!table->rows.isEmpty());
        QCOMPARE(table->rows.last(), lastRow);
    }

    void emptyFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::newRow("no bytes") << QByteArray();
        QTest::newRow("a byte-order mark only") << QByteArray("\xEF\xBB\xBF");
        QTest::newRow("a sep= line only") << QByteArray("sep=;\r\n");
        QTest::newRow("empty lines only") << QByteArray("\n\r\n\n");
        QTest::newRow("separators only") << QByteArray(",,,\n,\n");
    }

    // An empty file is a table without columns or rows, as an empty sheet is.
    void emptyFiles()
    {
        QFETCH(QByteArray, content);
        auto table = readFirstTable(write("empty.csv", content));
        QVERIFY2(table, qPrintable(table ? QString() : table.error().message));
        QCOMPARE(table->name, QStringLiteral("empty#csv"));
        QVERIFY(table->columns.isEmpty());
        QVERIFY(table->rows.isEmpty());
    }

    void providerAndTableNames()
    {
        const QString path = write("Export.2024.CSV", "Email\na@b.c\n");
        auto connection = OpenWorkbook(path);
        QVERIFY2(connection, qPrintable(connection ? QString() : connection.error().message));
        QCOMPARE(connection.value()->Provider, QStringLiteral("Microsoft.ACE.OLEDB.12.0"));
        QCOMPARE(connection.value()->ConnectionString,
                 QStringLiteral("Data Source=") + path +
                     QStringLiteral(";Extended Properties=\"Text;HDR=Yes;FMT=Delimited\";"));
        auto table = GetFirstTableName(*connection.value());
        QVERIFY(table);
        QCOMPARE(table.value(), QStringLiteral("Export#2024#CSV"));
        // The file's own name reads the same table.
        auto rows = OpenSheetRows(*connection.value(), QStringLiteral("Export.2024.CSV"));
        QVERIFY(rows);
        QCOMPARE(rows.value()->Fields("Email"), QVariant(QStringLiteral("a@b.c")));

        auto missing = OpenWorkbook(m_dir.filePath("missing.csv"));
        QVERIFY(!missing);
        QCOMPARE(missing.error().code, ErrorCode::Missing);
    }

    void hostileFiles_data()
    {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<QString>("description");
        for (const builders::HostileFile &hostile : builders::hostileCsvFiles())
            QTest::newRow(hostile.name) << hostile.data << QString::fromUtf8(hostile.description);
    }

    void hostileFiles()
    {
        QFETCH(QByteArray, content);
        QFETCH(QString, description);
        const QString path = write("hostile.csv", content);
        auto table = readFirstTable(path);
        QVERIFY(!table);
        QCOMPARE(table.error().code, ErrorCode::Unsafe);
        QVERIFY2(table.error().message.contains(description), qPrintable(table.error().message));
        QVERIFY(table.error().message.contains(path));
    }
};

QTEST_GUILESS_MAIN(TestCsvReader)
#include "TestCsvReader.moc"
