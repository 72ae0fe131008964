#include "standin/gm7s32/Store.h"
#include "support/XlsxBuilder.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <crypt.h>
#include <sqlite3.h>

// The password is typed once and goes to the API; it is never written to a
// log, an output, the store, or the process's command line or environment.
class TestPasswordLeaks : public QObject
{
    Q_OBJECT

    static QByteArray sentinel() { return QByteArrayLiteral("Sentinel-9f3e1c-Passw0rd"); }

    QTemporaryDir m_dir;
    QString m_store;

    static bool holdsSentinel(const QByteArray &bytes)
    {
        return bytes.contains(sentinel()) || bytes.contains(sentinel().toLower()) ||
               bytes.contains(QString::fromLatin1(sentinel()).toUtf8().toBase64()) ||
               QString::fromLatin1(bytes).contains(QString::fromLatin1(sentinel()),
                                                   Qt::CaseInsensitive);
    }

    static QByteArray readAll(const QString &path)
    {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }

private Q_SLOTS:
    void initTestCase()
    {
        QVERIFY(m_dir.isValid());
        m_store = m_dir.filePath(QStringLiteral("store"));
        std::string error;
        QVERIFY(
            gm7s32::createStore(m_store.toStdString(), "MASTER", sentinel().toStdString(), &error));
    }

    void storedAsPreferredCryptHash()
    {
        sqlite3 *db = nullptr;
        QVERIFY(sqlite3_open_v2((m_store + "/goldmine.db").toUtf8().constData(), &db,
                                SQLITE_OPEN_READONLY, nullptr) == SQLITE_OK);
        sqlite3_stmt *statement = nullptr;
        QCOMPARE(sqlite3_prepare_v2(db, "SELECT PASSHASH FROM USERS", -1, &statement, nullptr),
                 SQLITE_OK);
        QCOMPARE(sqlite3_step(statement), SQLITE_ROW);
        const QByteArray hash(reinterpret_cast<const char *>(sqlite3_column_text(statement, 0)));
        sqlite3_finalize(statement);
        sqlite3_close(db);

        char *preferred = crypt_gensalt_ra(nullptr, 0, nullptr, 0);
        QVERIFY(preferred != nullptr);
        const QByteArray prefix =
            QByteArray(preferred).left(QByteArray(preferred).indexOf('$', 1) + 1);
        free(preferred);
        QVERIFY2(hash.startsWith(prefix), hash.constData());
        // The hash verifies the password, and is not the password.
        crypt_data data{};
        const char *again = crypt_r(sentinel().constData(), hash.constData(), &data);
        QVERIFY(again != nullptr);
        QCOMPARE(QByteArray(again), hash);
        QVERIFY(!holdsSentinel(hash));
    }

    void commandLineImportLeavesNoTrace()
    {
        QList<QVariantList> rows = {{"Email", "Name"}};
        for (int row = 1; row <= 400; ++row)
            rows.append(
                {QStringLiteral("p%1@example.com").arg(row), QStringLiteral("P %1").arg(row)});
        const QString book = m_dir.filePath(QStringLiteral("book.xlsx"));
        QVERIFY(writeXlsx(book, rows));
        const QString passwordFile = m_dir.filePath(QStringLiteral("password"));
        QFile file(passwordFile);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(sentinel() + '\n');
        file.close();

        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("RUVELO_PASSWORD"));
        process.setProcessEnvironment(environment);
        process.start(QStringLiteral(RUVELO_BIN_DIR "/ruvelo-import"),
                      {"--workbook", book, "--email-column", "Email", "--map", "Name=CONTACT",
                       "--group", "G", "--password-file", passwordFile, "--sysdir", m_store,
                       "--golddir", QString::fromStdString(gm7s32::goldMineAlias()), "--commondir",
                       QString::fromStdString(gm7s32::commonAlias()), "--user", "MASTER"});
        QVERIFY(process.waitForStarted());
        // While it imports, look at it as another process would.
        QByteArray seen;
        const QString proc = QStringLiteral("/proc/%1/").arg(process.processId());
        while (process.state() == QProcess::Running && !process.waitForFinished(20)) {
            seen += readAll(proc + "cmdline") + readAll(proc + "environ");
        }
        process.waitForFinished(120000); // collects the exit status of a finished run
        QCOMPARE(process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(process.exitCode(), 0);
        QVERIFY(!seen.isEmpty());
        const QByteArray output = process.readAllStandardOutput() + process.readAllStandardError();
        QVERIFY(output.contains("400 records processed!"));
        QVERIFY(!holdsSentinel(seen));
        QVERIFY(!holdsSentinel(output));

        QDirIterator files(m_store, QDir::Files | QDir::Hidden);
        int looked = 0;
        while (files.hasNext()) {
            const QString path = files.next();
            QVERIFY2(!holdsSentinel(readAll(path)), qPrintable(path));
            ++looked;
        }
        QVERIFY(looked >= 3);
    }
};

QTEST_GUILESS_MAIN(TestPasswordLeaks)
#include "TestPasswordLeaks.moc"
