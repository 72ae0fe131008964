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
        const size_t size = static_cast<size_t>(data.size());
        const struct
        {
            const char *reader;
            ReadOutcome outcome;
        } readings[] = {{"xlsx", readXlsx(bytes, size)},
                        {"xls", readXls(bytes, size)},
                        {"csv", readCsv(bytes, size)}};
        // Every reader either reads the file to its end or says what is wrong.
        for (const auto &reading : readings) {
            QVERIFY2(reading.outcome.read ? reading.outcome.failure.isEmpty()
                                          : !reading.outcome.failure.trimmed().isEmpty(),
                     qPrintable(QStringLiteral("%1: read %2, failure \"%3\"")
                                    .arg(QLatin1String(reading.reader))
                                    .arg(reading.outcome.read)
                                    .arg(reading.outcome.failure)));
        }
        // Under the sanitizers; the readers themselves take a small part of this.
        QVERIFY2(timer.elapsed() < 10000, qPrintable(QString::number(timer.elapsed())));
    }
};

QTEST_GUILESS_MAIN(TestFuzzReplay)
#include "TestFuzzReplay.moc"
