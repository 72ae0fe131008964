#include "fuzz/FuzzReaders.h"

#include <QDirIterator>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

// Replays the fuzzing seeds and every finding kept as a regression file
// through every reader harness, so a fixed crash stays fixed.
class TestFuzzReplay : public QObject
{
    Q_OBJECT

    static QStringList files(const QString &directory)
    {
        QStringList found;
        QDirIterator it(directory, QDir::Files, QDirIterator::Subdirectories);
        while (it.hasNext())
            found.append(it.next());
        found.sort();
        return found;
    }

private Q_SLOTS:
    void replay_data()
    {
        QTest::addColumn<QString>("path");
        QStringList all = files(QStringLiteral(RUVELO_TEST_DATA));
        all += files(QStringLiteral(RUVELO_SOURCE_DIR "/../shared/workbooks"));
        for (const QString &path : all) {
            if (path.endsWith(QLatin1String(".md")) || path.endsWith(QLatin1String(".sh")))
                continue;
            QTest::newRow(qPrintable(path.section(QLatin1Char('/'), -2))) << path;
        }
    }
    void replay()
    {
        QFETCH(QString, path);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray data = file.readAll();
        const auto *bytes = reinterpret_cast<const uint8_t *>(data.constData());
        QElapsedTimer timer;
        timer.start();
        QCOMPARE(fuzzXlsx(bytes, static_cast<size_t>(data.size())), 0);
        QCOMPARE(fuzzXls(bytes, static_cast<size_t>(data.size())), 0);
        QCOMPARE(fuzzCsv(bytes, static_cast<size_t>(data.size())), 0);
        // Under the sanitizers; the readers themselves take a small part of this.
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "TestFuzzReplay.moc"
