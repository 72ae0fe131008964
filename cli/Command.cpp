#include "cli/Command.h"

#include "cli/ConsolePrompts.h"
#include "excel/Workbook.h"
#include "goldmine/DdeLink.h"
#include "goldmine/GoldMineApi.h"
#include "goldmine/ImportLock.h"
#include "mapping/EntryList.h"
#include "util/Version.h"

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

// Writes the log to standard output as the pieces arrive.
class ConsoleSink : public import::ImportSink
{
public:
    void appendLog(const QString &piece) override
    {
        if (piece == QLatin1String("\r\n")) {
            std::fputc('\n', stdout);
            std::fflush(stdout);
            return;
        }
        QString text = piece;
        text.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        printOut(text);
        if (text.endsWith(QLatin1Char('\n')))
            std::fflush(stdout);
    }
    void setProgress(const QString &) override {}
    void processEvents() override {}
    void setBusy(bool) override {}
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

int runImport(const CommandLine &commandLine, goldmine::GoldMineApi &api)
{
    mapping::EntryList entries;
    for (const mapping::MappingArgument &mapping : commandLine.mappings)
        mapping::addMapping(entries, mapping);

    ConsolePrompts prompts;
    prompts.setPasswordFile(commandLine.passwordFile);
    goldmine::ConnectionSettings settings = commandLine.settings;
    goldmine::DdeLink link;
    const goldmine::StartupOutcome outcome = goldmine::RunStartup(link, api, prompts, settings);
    if (outcome != goldmine::StartupOutcome::Ready || prompts.passwordFailed())
        return CouldNotStart;

    prompts.setQuestionAnswer(commandLine.addGroupWithExistingName,
                              QStringLiteral("give --group-exists=add to make another one."));
    const std::unique_ptr<goldmine::ImportLock> lock = goldmine::makeImportLock(settings);
    goldmine::ImportState state;
    ConsoleSink sink;
    import::ImportRun run(api, prompts, state, sink);
    run.setLock(lock.get());
    const import::ImportSummary summary = run.btnImport_Click(
        commandLine.options, [&entries]() -> const mapping::EntryList & { return entries; });
    if (!summary.started)
        return CouldNotStart;
    printOut(summary.closingText() + QLatin1Char('\n'));
    std::fflush(stdout);
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
