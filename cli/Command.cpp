#include "cli/Command.h"

#include "cli/ConsolePrompts.h"
#include "cli/ConsoleSink.h"
#include "excel/Workbook.h"
#include "goldmine/DdeLink.h"
#include "goldmine/GoldMineApi.h"
#include "goldmine/ImportLock.h"
#include "import/RowReport.h"
#include "mapping/EntryList.h"
#include "mapping/Profile.h"
#include "util/Version.h"

#include <algorithm>
#include <csignal>
#include <cstdio>

namespace cli {

namespace {

void printOut(const QString &text)
{
    const QByteArray bytes = text.toLocal8Bit();
    std::fwrite(bytes.constData(), 1, static_cast<size_t>(bytes.size()), stdout);
}

QString escapeCell(const QString &text)
{
    QString escaped;
    escaped.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\t':
            escaped += QLatin1String("\\t");
            break;
        case '\r':
            escaped += QLatin1String("\\r");
            break;
        case '\n':
            escaped += QLatin1String("\\n");
            break;
        case '\\':
            escaped += QLatin1String("\\\\");
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}

// The first interrupt or termination signal, 0 until one comes. A signal
// handler can reach nothing else.
volatile std::sig_atomic_t stopSignal = 0;

extern "C" void onStopSignal(int signal)
{
    if (stopSignal != 0) {
        // The second one: no more waiting for the row under way.
        std::signal(signal, SIG_DFL);
        std::raise(signal);
        return;
    }
    stopSignal = signal;
}

// While it lives, SIGINT and SIGTERM ask the run to stop after its row.
class StopOnSignals
{
public:
    StopOnSignals()
    {
        stopSignal = 0;
        struct sigaction action = {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        action.sa_flags = SA_RESTART; // the database's own waits carry on
        sigaction(SIGINT, &action, &m_savedInterrupt);
        sigaction(SIGTERM, &action, &m_savedTerminate);
    }
    ~StopOnSignals()
    {
        sigaction(SIGINT, &m_savedInterrupt, nullptr);
        sigaction(SIGTERM, &m_savedTerminate, nullptr);
    }
    StopOnSignals(const StopOnSignals &) = delete;
    StopOnSignals &operator=(const StopOnSignals &) = delete;

    static bool requested() { return stopSignal != 0; }
    // The exit status of a run a signal stopped: 128 and its number.
    static int exitStatus() { return 128 + stopSignal; }

private:
    struct sigaction m_savedInterrupt = {};
    struct sigaction m_savedTerminate = {};
};

int printColumns(const QString &path)
{
    const excel::Result<QStringList> columns = excel::ReadFirstTableColumns(path);
    if (!columns) {
        printError(excel::OpenFailureText(columns.error()));
        return CouldNotStart;
    }
    for (const QString &column : *columns)
        printOut(column + QLatin1Char('\n'));
    return AllImported;
}

int dumpRows(const QString &path)
{
    excel::Result<std::unique_ptr<excel::ado::Connection>> connection = excel::OpenWorkbook(path);
    if (!connection) {
        printError(excel::OpenFailureText(connection.error()));
        return CouldNotStart;
    }
    const excel::Result<QString> sheet = excel::GetFirstTableName(**connection);
    if (!sheet) {
        printError(sheet.error().message);
        return CouldNotStart;
    }
    excel::Result<std::unique_ptr<excel::ado::Recordset>> rows =
        excel::OpenSheetRows(**connection, *sheet);
    if (!rows) {
        printError(rows.error().message);
        return CouldNotStart;
    }
    excel::ado::Recordset &set = **rows;
    const QStringList names = set.fieldNames();
    QStringList escaped;
    for (const QString &name : names)
        escaped.append(escapeCell(name));
    printOut(escaped.join(QLatin1Char('\t')) + QLatin1Char('\n'));
    while (!set.Eof()) {
        QString line;
        for (int column = 0; column < names.size(); ++column) {
            if (column > 0)
                line += QLatin1Char('\t');
            line += escapeCell(excel::VariantToText(set.value(column)));
        }
        printOut(line + QLatin1Char('\n'));
        const excel::Result<void> moved = set.MoveNext();
        if (!moved) {
            printError(moved.error().message);
            return SomeRowsFailed;
        }
    }
    set.Close();
    (*connection)->Close();
    return AllImported;
}

void printProblems(const import::ImportSummary &summary)
{
    for (const import::Problem &problem : summary.problems) {
        QString where;
        if (problem.row > 0)
            where = QStringLiteral("row %1").arg(problem.row);
        if (!problem.column.isEmpty())
            where += (where.isEmpty() ? QString() : QStringLiteral(", ")) + problem.column;
        printOut((where.isEmpty() ? QString() : where + QStringLiteral(": ")) + problem.message +
                 QLatin1Char('\n'));
    }
    printOut(summary.checkText() + QLatin1Char('\n'));
}

int runImport(const CommandLine &commandLine, goldmine::GoldMineApi &api)
{
    mapping::EntryList entries;
    for (const mapping::MappingArgument &mapping : commandLine.mappings)
        mapping::addMapping(entries, mapping);
    if (!commandLine.saveProfilePath.isEmpty()) {
        mapping::Profile profile;
        profile.emailColumn = commandLine.options.emailColumn;
        profile.match = commandLine.options.match;
        profile.updateMatches = commandLine.options.updateMatches;
        profile.group = commandLine.options.group;
        profile.groupName = commandLine.options.groupName;
        profile.mappings = commandLine.mappings;
        if (const mapping::Result<void> saved =
                mapping::writeProfile(commandLine.saveProfilePath, profile);
            !saved) {
            printError(saved.error().message);
            return CouldNotStart;
        }
    }

    ConsolePrompts prompts;
    prompts.setPasswordFile(commandLine.passwordFile);
    goldmine::ConnectionSettings settings = commandLine.settings;
    goldmine::DdeLink link;
    const goldmine::StartupOutcome outcome = goldmine::RunStartup(link, api, prompts, settings);
    if (outcome != goldmine::StartupOutcome::Ready)
        return CouldNotStart;

    prompts.setQuestionAnswer(commandLine.addGroupWithExistingName,
                              QStringLiteral("give --group-exists=add to make another one."));
    std::unique_ptr<import::RowReport> report;
    if (!commandLine.reportPath.isEmpty()) {
        import::Result<std::unique_ptr<import::RowReport>> opened =
            import::openReport(commandLine.reportPath);
        if (!opened) {
            printError(opened.error().message);
            return CouldNotStart;
        }
        report = std::move(*opened);
    }
    const std::unique_ptr<goldmine::ImportLock> lock = goldmine::makeImportLock(settings);
    goldmine::ImportState state;
    const StopOnSignals signals;
    ConsoleSink sink(commandLine.quiet, &StopOnSignals::requested);
    import::ImportRun run(api, prompts, state, sink);
    run.setLock(lock.get());
    run.setReport(report.get());
    const auto readEntries = [&entries]() -> const mapping::EntryList & {
        return entries;
    };
    const import::ImportSummary summary =
        commandLine.dryRun ? run.check(commandLine.options, readEntries)
                           : run.btnImport_Click(commandLine.options, readEntries);
    if (!summary.started)
        return CouldNotStart;
    if (report) {
        if (const import::Result<void> finished = report->finish(); !finished)
            printError(finished.error().message);
    }
    if (commandLine.dryRun)
        printProblems(summary);
    else
        printOut(summary.closingText() + QLatin1Char('\n'));
    std::fflush(stdout);
    if (StopOnSignals::requested())
        return StopOnSignals::exitStatus();
    if (commandLine.dryRun) {
        const bool fails = std::any_of(summary.problems.begin(), summary.problems.end(),
                                       [](const import::Problem &p) { return p.failsRow; });
        return fails || summary.stopped ? SomeRowsFailed : AllImported;
    }
    return summary.failedRows > 0 || summary.stopped ? SomeRowsFailed : AllImported;
}

} // namespace

void printError(const QString &text)
{
    // A paragraph break reads as a sentence break on one line.
    QString line = text;
    line.replace(QLatin1String("\n\n"), QLatin1String(" "));
    std::fprintf(stderr, "ruvelo-import: %s\n", line.toLocal8Bit().constData());
}

int runCommand(const CommandLine &commandLine, goldmine::GoldMineApi &api)
{
    switch (commandLine.action) {
    case Action::Help:
        printOut(helpText());
        return AllImported;
    case Action::Version:
        printOut(QStringLiteral("ruvelo-import %1\n").arg(util::version()));
        return AllImported;
    case Action::Columns:
        return printColumns(commandLine.options.workbookPath);
    case Action::Dump:
        return dumpRows(commandLine.options.workbookPath);
    case Action::Import:
        break;
    }
    return runImport(commandLine, api);
}

} // namespace cli
