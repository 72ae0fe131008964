// import-driver: runs the import engine on a workbook against a GoldMine store
// through the API goldmine::makeGoldMineApi() picks (in-process, or the
// bridge RUVELO_GM7BRIDGE names), without a window. For the bridge benchmark
// and the Windows import under Wine; not a shipped program.
//
//   RUVELO_PASSWORD=... import-driver --sysdir DIR --golddir ALIAS
//       --commondir ALIAS --user NAME --workbook FILE --email-column NAME
//       [--map COLUMN=FIELD]... [--update] [--group NAME]
//
// Log lines go to standard output, messages and the API's stop reason to
// standard error. Exit status: 0 every row written, 1 some failed or the run
// stopped, 2 the run could not start.
#include "goldmine/ApiFactory.h"
#include "goldmine/DdeLink.h"
#include "goldmine/Startup.h"
#include "import/ImportRun.h"
#include "mapping/EntryList.h"
#include "util/Prompts.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

void printTo(std::FILE *stream, const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stream);
    std::fflush(stream);
}

class DriverPrompts : public util::Prompts
{
public:
    void messageBox(const QString &text, const QString &title, util::PromptIcon) override
    {
        printTo(stderr, title + QStringLiteral(": ") + text + QLatin1Char('\n'));
    }
    QString inputBox(const QString &, const QString &, const QString &, bool) override
    {
        return qEnvironmentVariable("RUVELO_PASSWORD");
    }
    // A group name that exists already gets another group, as ruvelo-import
    // --group-exists=add does: a second run over the same store is a test.
    bool question(const QString &text, const QString &) override
    {
        printTo(stderr, text + QStringLiteral(" Yes.\n"));
        return true;
    }
    void setWaitCursor(bool) override {}
};

class DriverSink : public import::ImportSink
{
public:
    void appendLog(const QString &piece) override
    {
        QString text = piece;
        printTo(stdout, text.replace(QStringLiteral("\r\n"), QStringLiteral("\n")));
    }
    void setProgress(const QString &) override {}
    void processEvents() override {}
    void setBusy(bool) override {}
};

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QCommandLineParser parser;
    const QCommandLineOption sysDir(QStringLiteral("sysdir"), QString(), QStringLiteral("DIR"));
    const QCommandLineOption goldDir(QStringLiteral("golddir"), QString(), QStringLiteral("A"));
    const QCommandLineOption commonDir(QStringLiteral("commondir"), QString(), QStringLiteral("A"));
    const QCommandLineOption user(QStringLiteral("user"), QString(), QStringLiteral("NAME"));
    const QCommandLineOption workbook(QStringLiteral("workbook"), QString(), QStringLiteral("F"));
    const QCommandLineOption email(QStringLiteral("email-column"), QString(), QStringLiteral("C"));
    const QCommandLineOption map(QStringLiteral("map"), QString(), QStringLiteral("C=F"));
    const QCommandLineOption update(QStringLiteral("update"));
    const QCommandLineOption group(QStringLiteral("group"), QString(), QStringLiteral("NAME"));
    parser.addOptions({sysDir, goldDir, commonDir, user, workbook, email, map, update, group});
    parser.process(application);

    mapping::EntryList entries;
    for (const QString &mapping : parser.values(map)) {
        const qsizetype split = mapping.lastIndexOf(QLatin1Char('='));
        if (split <= 0) {
            printTo(stderr, QStringLiteral("--map needs COLUMN=FIELD\n"));
            return 2;
        }
        entries.addColumnEntry(mapping.left(split), mapping.mid(split + 1));
    }

    const std::unique_ptr<goldmine::GoldMineApi> api = goldmine::makeGoldMineApi();
    DriverPrompts prompts;
    goldmine::DdeLink link;
    goldmine::ConnectionSettings settings;
    settings.sSysDir = parser.value(sysDir);
    settings.sGoldDir = parser.value(goldDir);
    settings.sCommonDir = parser.value(commonDir);
    settings.sUserName = parser.value(user);
    if (goldmine::RunStartup(link, *api, prompts, settings) != goldmine::StartupOutcome::Ready)
        return 2;

    import::ImportOptions options;
    options.workbookPath = parser.value(workbook);
    options.emailColumn = parser.value(email);
    options.updateMatches = parser.isSet(update);
    options.group = parser.isSet(group);
    options.groupName = parser.value(group);
    DriverSink sink;
    goldmine::ImportState state;
    import::ImportRun run(*api, prompts, state, sink);
    const import::ImportSummary summary = run.btnImport_Click(
        options, [&entries]() -> const mapping::EntryList & { return entries; });
    if (!api->stoppedReason().isEmpty())
        printTo(stderr, api->stoppedReason() + QLatin1Char('\n'));
    if (!summary.started)
        return 2;
    return summary.failedRows > 0 || summary.stopped ? 1 : 0;
}
