#include "HostileFiles.h"

#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

// Each hostile file, read in a child process that may not pass 256 MB, must
// fail with a clear description within a second.
class TestHostileBounded : public QObject
{
    Q_OBJECT

    struct Child
    {
        bool exited = false;
        int exitCode = -1;
        qint64 milliseconds = 0;
        long peakKilobytes = 0;
        QString description;
    };

    static constexpr long LimitMegabytes = 256;

    Child readInChild(const QString &path)
    {
        Child child;
        int errorPipe[2];
        if (pipe(errorPipe) != 0)
            return child;
        const QByteArray program = QByteArrayLiteral(RUVELO_BIN_DIR "/hostile-read");
        const QByteArray file = QFile::encodeName(path);
        QElapsedTimer timer;
        timer.start();
        const pid_t pid = fork();
        if (pid == 0) {
            dup2(errorPipe[1], STDERR_FILENO);
            close(errorPipe[0]);
#ifdef RUVELO_SANITIZED
            // The sanitizer reserves address space, so its own limit stands in.
            setenv("ASAN_OPTIONS", "hard_rss_limit_mb=256:detect_leaks=1", 1);
#else
            rlimit limit{LimitMegabytes << 20, LimitMegabytes << 20};
            setrlimit(RLIMIT_AS, &limit);
#endif
            execl(program.constData(), program.constData(), file.constData(), nullptr);
            _exit(127);
        }
        close(errorPipe[1]);
        QByteArray description;
        char buffer[4096];
        ssize_t got = 0;
        while ((got = read(errorPipe[0], buffer, sizeof buffer)) > 0)
            description.append(buffer, got);
        close(errorPipe[0]);
        int status = 0;
        rusage usage{};
        if (wait4(pid, &status, 0, &usage) != pid)
            return child;
        child.milliseconds = timer.elapsed();
        child.exited = WIFEXITED(status);
        child.exitCode = child.exited ? WEXITSTATUS(status) : -WTERMSIG(status);
        child.peakKilobytes = usage.ru_maxrss;
        child.description = QString::fromLocal8Bit(description).trimmed();
        return child;
    }

private Q_SLOTS:
    void hostileFile_data()
    {
        QTest::addColumn<QByteArray>("data");
        QTest::addColumn<QString>("suffix");
        QTest::addColumn<QString>("description");
        for (const auto &hostile : builders::hostileXlsxFiles())
            QTest::newRow(hostile.name) << hostile.data << "xlsx" << hostile.description;
        for (const auto &hostile : builders::hostileXlsFiles())
            QTest::newRow(hostile.name) << hostile.data << "xls" << hostile.description;
        for (const auto &hostile : builders::hostileCsvFiles())
            QTest::newRow(hostile.name) << hostile.data << "csv" << hostile.description;
        // A real bomb: 200 MB of blanks that deflate to a few hundred kilobytes.
        QTest::newRow("zip bomb by content")
            << builders::xlsxWithSheetPart(
                   builders::sheetXml("<sheetData>" + QByteArray(200 << 20, ' ') + "</sheetData>"))
            << "xlsx"
            << "cannot be read safely";
    }
    void hostileFile()
    {
        QFETCH(QByteArray, data);
        QFETCH(QString, suffix);
        QFETCH(QString, description);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("hostile.") + suffix);
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(data);
        file.close();

        const Child child = readInChild(path);
        QVERIFY2(child.exited,
                 qPrintable(QStringLiteral("ended by signal %1").arg(-child.exitCode)));
        if (!description.isEmpty()) {
            QCOMPARE(child.exitCode, 2);
            QVERIFY2(child.description.contains(description), qPrintable(child.description));
            QVERIFY(child.description.contains(path));
        }
        QVERIFY2(child.peakKilobytes < LimitMegabytes * 1024,
                 qPrintable(QStringLiteral("%1 KB").arg(child.peakKilobytes)));
        QVERIFY2(child.milliseconds < 1000,
                 qPrintable(QStringLiteral("%1 ms").arg(child.milliseconds)));
    }
};

QTEST_GUILESS_MAIN(TestHostileBounded)
#include "TestHostileBounded.moc"
