#include "app/RunProgress.h"

#include <QLocale>
#include <QTest>

using namespace app;

class TestRunProgress : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase()
    {
        // Numbers are grouped as the operator's locale writes them.
        QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    }

    void text_data()
    {
        QTest::addColumn<qint64>("done");
        QTest::addColumn<qint64>("total");
        QTest::addColumn<qint64>("elapsedMs");
        QTest::addColumn<QString>("running");
        QTest::addColumn<QString>("finished");
        QTest::newRow("not begun")
            << qint64(0) << qint64(100000) << qint64(0) << "0 of 100,000 rows"
            << "0 of 100,000 rows";
        QTest::newRow("too early for a rate")
            << qint64(40) << qint64(100000) << qint64(499) << "40 of 100,000 rows"
            << "40 of 100,000 rows";
        QTest::newRow("rate and time left") << qint64(1700) << qint64(100000) << qint64(2000)
                                            << "1,700 of 100,000 rows, 850 rows/s, 1:56 left"
                                            << "1,700 of 100,000 rows, 850 rows/s";
        QTest::newRow("hours left") << qint64(100) << qint64(1000000) << qint64(10000)
                                    << "100 of 1,000,000 rows, 10 rows/s, 27:46:30 left"
                                    << "100 of 1,000,000 rows, 10 rows/s";
        QTest::newRow("all done") << qint64(5) << qint64(5) << qint64(1000)
                                  << "5 of 5 rows, 5 rows/s, 0:00 left"
                                  << "5 of 5 rows, 5 rows/s";
        QTest::newRow("more rows than counted")
            << qint64(7) << qint64(5) << qint64(1000) << "7 of 5 rows, 7 rows/s, 0:00 left"
            << "7 of 5 rows, 7 rows/s";
        QTest::newRow("not counted")
            << qint64(1234) << qint64(-1) << qint64(2000) << "1,234 rows, 617 rows/s"
            << "1,234 rows, 617 rows/s";
    }
    void text()
    {
        QFETCH(qint64, done);
        QFETCH(qint64, total);
        QFETCH(qint64, elapsedMs);
        QFETCH(QString, running);
        QFETCH(QString, finished);
        const RunProgress progress{done, total, elapsedMs};
        QCOMPARE(progress.text(), running);
        QCOMPARE(progress.finishedText(), finished);
    }

    void secondsLeftRoundsUp()
    {
        // 3 rows left at 2 rows a second: 1.5 s reads as 2, never as done.
        QCOMPARE((RunProgress{7, 10, 3500}.secondsLeft()), qint64(2));
        QCOMPARE((RunProgress{10, 10, 3500}.secondsLeft()), qint64(0));
        QCOMPARE((RunProgress{0, 10, 3500}.secondsLeft()), qint64(-1));
        QCOMPARE((RunProgress{5, -1, 3500}.secondsLeft()), qint64(-1));
    }

    void durations_data()
    {
        QTest::addColumn<qint64>("seconds");
        QTest::addColumn<QString>("text");
        QTest::newRow("seconds") << qint64(7) << "0:07";
        QTest::newRow("minutes") << qint64(725) << "12:05";
        QTest::newRow("an hour") << qint64(3600) << "1:00:00";
        QTest::newRow("hours") << qint64(3723) << "1:02:03";
    }
    void durations()
    {
        QFETCH(qint64, seconds);
        QFETCH(QString, text);
        QCOMPARE(durationText(seconds), text);
    }
};

QTEST_GUILESS_MAIN(TestRunProgress)
#include "TestRunProgress.moc"
