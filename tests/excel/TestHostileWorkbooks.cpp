// Files made to hurt a reader: each must fail with a description (or read),
// never crash, hang or allocate without bound. Also the real-world corpus.
#include "Builders.h"
#include "HostileFiles.h"

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

using namespace excel;

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

} // namespace

class TestHostileWorkbooks : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void hostileXlsx_data()
    {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("description"); // a part of the expected text

        for (const HostileFile &hostile : hostileXlsxFiles())
            QTest::newRow(hostile.name) << hostile.data << QString::fromUtf8(hostile.description);
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
        for (const HostileFile &hostile : hostileXlsFiles())
            QTest::newRow(hostile.name) << hostile.data << QString::fromUtf8(hostile.description);
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
