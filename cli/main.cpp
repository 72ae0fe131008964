// ruvelo-import: the import run from the command line, on the same engine as
// the main window, for scheduled and scripted imports.
#include "cli/ConsolePrompts.h"
#include "cli/KillSwitchApi.h"
#include "excel/Workbook.h"
#include "goldmine/DdeLink.h"
#include "goldmine/LibraryGoldMineApi.h"
#include "goldmine/Startup.h"
#include "import/ImportRun.h"
#include "mapping/EntryList.h"

#include <QCommandLineParser>
#include <QCoreApplication>

#include <cstdio>

namespace {

enum ExitCode { AllImported = 0, SomeRowsFailed = 1, CouldNotStart = 2 };

const char *const HelpText = R"(
Imports the first sheet of an Excel workbook into GoldMine, as the Ruvelo
window does: each row is matched on its e-mail address (unless --no-match) and
either reported as known (and updated with --update) or written as a new
contact; with --group every contact the run touches joins a new group.

Mappings:
  --map COLUMN=FIELD   the workbook column feeds the GoldMine field; the text is
                       split at its last "=", so column names may hold "="
  --fixed TEXT=FIELD   the fixed text goes into the field for every row

GoldMine connection: by default from the running GoldMine client over the DDE
link; or given with --sysdir DIR --golddir ALIAS --commondir ALIAS --user NAME.
The password comes from the environment variable RUVELO_PASSWORD, from
--password-file FILE, or from a prompt without echo on a terminal; never from
the command line.

--columns prints the first table's column names, one a line; --dump prints its
rows as the import reads them, tab-separated, column names first, with TAB, CR,
LF and backslash inside a cell written as \t, \r, \n and \\. Neither needs
GoldMine.

Output: the log lines on standard output as they happen, then the closing
count; messages and errors on standard error.
Exit status: 0 every row processed without a failure, 1 some rows failed or the
run stopped early, 2 the import could not start (usage, workbook, GoldMine
connection, password).)";

void printError(const QString &text)
{
    std::fprintf(stderr, "ruvelo-import: %s\n", text.toLocal8Bit().constData());
}

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

// Opens the workbook and its first table, or says why not.
struct OpenTable
{
    std::unique_ptr<excel::ado::Connection> connection;
    QString sheet;
};

bool openTable(const QString &path, OpenTable &table)
{
    auto connection = excel::OpenWorkbook(path);
    if (!connection) {
        printError(QStringLiteral("Can't find the specified file!") + connection.error().message);
        return false;
    }
    table.connection = std::move(connection.value());
    auto sheet = excel::GetFirstTableName(*table.connection);
    if (!sheet) {
        printError(sheet.error().message.trimmed());
        return false;
    }
    table.sheet = sheet.value();
    return true;
}

int printColumns(const QString &path)
{
    OpenTable table;
    if (!openTable(path, table))
        return CouldNotStart;
    const auto columns = excel::GetColumnNames(*table.connection, table.sheet);
    if (!columns) {
        printError(columns.error().message.trimmed());
        return CouldNotStart;
    }
    for (const QString &column : columns.value())
        printOut(column + QLatin1Char('\n'));
    table.connection->Close();
    return AllImported;
}

int dumpRows(const QString &path)
{
    OpenTable table;
    if (!openTable(path, table))
        return CouldNotStart;
    auto rows = excel::OpenSheetRows(*table.connection, table.sheet);
    if (!rows) {
        printError(rows.error().message.trimmed());
        return CouldNotStart;
    }
    excel::ado::Recordset &set = *rows.value();
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
            printError(moved.error().message.trimmed());
            return SomeRowsFailed;
        }
    }
    set.Close();
    table.connection->Close();
    return AllImported;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("ruvelo-import"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromUtf8(HelpText));
    parser.addHelpOption();
    const QCommandLineOption workbook(QStringLiteral("workbook"),
                                      QStringLiteral("The workbook (.xls or .xlsx)."),
                                      QStringLiteral("FILE"));
    const QCommandLineOption emailColumn(QStringLiteral("email-column"),
                                         QStringLiteral("The column that holds e-mail addresses."),
                                         QStringLiteral("NAME"));
    const QCommandLineOption map(QStringLiteral("map"),
                                 QStringLiteral("Map a column to a GoldMine field."),
                                 QStringLiteral("COLUMN=FIELD"));
    const QCommandLineOption fixed(QStringLiteral("fixed"),
                                   QStringLiteral("Put a fixed text into a GoldMine field."),
                                   QStringLiteral("TEXT=FIELD"));
    const QCommandLineOption noMatch(QStringLiteral("no-match"),
                                     QStringLiteral("Import every row as a new contact."));
    const QCommandLineOption update(
        QStringLiteral("update"), QStringLiteral("Update the mapped fields of matched contacts."));
    const QCommandLineOption group(
        QStringLiteral("group"),
        QStringLiteral("Put every contact the run touches into a new group."),
        QStringLiteral("NAME"));
    const QCommandLineOption sysDir(QStringLiteral("sysdir"),
                                    QStringLiteral("GoldMine's system directory."),
                                    QStringLiteral("DIR"));
    const QCommandLineOption goldDir(QStringLiteral("golddir"),
                                     QStringLiteral("GoldMine's database alias."),
                                     QStringLiteral("ALIAS"));
    const QCommandLineOption commonDir(QStringLiteral("commondir"),
                                       QStringLiteral("GoldMine's common database alias."),
                                       QStringLiteral("ALIAS"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("The GoldMine user."),
                                  QStringLiteral("NAME"));
    const QCommandLineOption passwordFile(
        QStringLiteral("password-file"),
        QStringLiteral("Read the password from the first line of FILE."), QStringLiteral("FILE"));
    const QCommandLineOption columns(
        QStringLiteral("columns"),
        QStringLiteral("Print the first table's column names and exit."));
    const QCommandLineOption dump(QStringLiteral("dump"),
                                  QStringLiteral("Print the first table's rows and exit."));
    parser.addOptions({workbook, emailColumn, map, fixed, noMatch, update, group, sysDir, goldDir,
                       commonDir, user, passwordFile, columns, dump});
    if (!parser.parse(QCoreApplication::arguments())) {
        printError(parser.errorText());
        return CouldNotStart;
    }
    if (parser.isSet(QStringLiteral("help"))) {
        printOut(parser.helpText());
        return AllImported;
    }
    if (!parser.positionalArguments().isEmpty()) {
        printError(QStringLiteral("unexpected argument: ") + parser.positionalArguments().first());
        return CouldNotStart;
    }
    if (!parser.isSet(workbook)) {
        printError(QStringLiteral("--workbook FILE is required (see --help)"));
        return CouldNotStart;
    }
    const QString path = parser.value(workbook);
    if (parser.isSet(columns))
        return printColumns(path);
    if (parser.isSet(dump))
        return dumpRows(path);

    // The entries keep the order they were given in across --map and --fixed:
    // when two feed one field, the later one wins, as in the mapping window.
    mapping::EntryList entries;
    const QStringList mapValues = parser.values(map);
    const QStringList fixedValues = parser.values(fixed);
    qsizetype nextMap = 0;
    qsizetype nextFixed = 0;
    for (const QString &name : parser.optionNames()) {
        const bool isMap = name == QLatin1String("map") && nextMap < mapValues.size();
        const bool isFixed = name == QLatin1String("fixed") && nextFixed < fixedValues.size();
        if (!isMap && !isFixed)
            continue;
        const QString &mapping = isMap ? mapValues.at(nextMap++) : fixedValues.at(nextFixed++);
        // Split at the last "=": column names and fixed texts may hold one.
        const qsizetype split = mapping.lastIndexOf(QLatin1Char('='));
        if (split < (isMap ? 1 : 0) || split == mapping.size() - 1) {
            printError(isMap ? QStringLiteral("--map wants COLUMN=FIELD, not: ") + mapping
                             : QStringLiteral("--fixed wants TEXT=FIELD, not: ") + mapping);
            return CouldNotStart;
        }
        if (isMap) {
            entries.addColumnEntry(mapping.left(split), mapping.mid(split + 1));
        } else {
            // A custom entry is a column entry made custom with the typed text.
            entries.addColumnEntry(QString(), mapping.mid(split + 1));
            entries.makeCustom(entries.count() - 1, mapping.left(split));
        }
    }

    import::ImportOptions options;
    options.workbookPath = path;
    options.emailColumn = parser.value(emailColumn);
    options.match = !parser.isSet(noMatch);
    options.updateMatches = options.match && parser.isSet(update);
    options.group = parser.isSet(group);
    options.groupName = parser.value(group);

    cli::ConsolePrompts prompts;
    prompts.setPasswordFile(parser.value(passwordFile));
    goldmine::LibraryGoldMineApi api;
    goldmine::ConnectionSettings settings;
    const QList<QCommandLineOption> given = {sysDir, goldDir, commonDir, user};
    int givenCount = 0;
    for (const QCommandLineOption &option : given)
        givenCount += parser.isSet(option) ? 1 : 0;
    if (givenCount != 0 && givenCount != given.size()) {
        printError(QStringLiteral("--sysdir, --golddir, --commondir and --user go together"));
        return CouldNotStart;
    }
    // Settings given on the command line take the place of the client's
    // answers, so start-up asks GoldMine for nothing over the DDE link.
    settings.sSysDir = parser.value(sysDir);
    settings.sGoldDir = parser.value(goldDir);
    settings.sCommonDir = parser.value(commonDir);
    settings.sUserName = parser.value(user);
    goldmine::DdeLink link;
    const goldmine::StartupOutcome outcome = goldmine::RunStartup(link, api, prompts, settings);
    if (outcome != goldmine::StartupOutcome::Ready || prompts.passwordFailed())
        return CouldNotStart;

    QString hookError;
    const std::unique_ptr<goldmine::GoldMineApi> killSwitch =
        cli::KillSwitchApi::wrapIfArmed(api, &hookError);
    if (!hookError.isEmpty()) {
        printError(hookError);
        return CouldNotStart;
    }
    goldmine::ImportState state;
    ConsoleSink sink;
    import::ImportRun run(killSwitch ? *killSwitch : api, prompts, state, sink);
    prompts.setImporting(true);
    const import::ImportSummary summary = run.btnImport_Click(
        options, [&entries]() -> const mapping::EntryList & { return entries; });
    if (!summary.started)
        return CouldNotStart;
    return summary.failedRows > 0 || summary.stopped ? SomeRowsFailed : AllImported;
}
