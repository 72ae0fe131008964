#include "cli/CommandLine.h"

#include <QCommandLineParser>

namespace cli {

namespace {

const char *const Description = R"(
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

// The options, built once for parsing and for the help text.
struct Options
{
    QCommandLineOption workbook{QStringLiteral("workbook"),
                                QStringLiteral("The workbook (.xls or .xlsx)."),
                                QStringLiteral("FILE")};
    QCommandLineOption emailColumn{QStringLiteral("email-column"),
                                   QStringLiteral("The column that holds e-mail addresses."),
                                   QStringLiteral("NAME")};
    QCommandLineOption map{QStringLiteral("map"),
                           QStringLiteral("Map a column to a GoldMine field."),
                           QStringLiteral("COLUMN=FIELD")};
    QCommandLineOption fixed{QStringLiteral("fixed"),
                             QStringLiteral("Put a fixed text into a GoldMine field."),
                             QStringLiteral("TEXT=FIELD")};
    QCommandLineOption noMatch{QStringLiteral("no-match"),
                               QStringLiteral("Import every row as a new contact.")};
    QCommandLineOption update{QStringLiteral("update"),
                              QStringLiteral("Update the mapped fields of matched contacts.")};
    QCommandLineOption group{QStringLiteral("group"),
                             QStringLiteral("Put every contact the run touches into a new group."),
                             QStringLiteral("NAME")};
    QCommandLineOption sysDir{QStringLiteral("sysdir"),
                              QStringLiteral("GoldMine's system directory."),
                              QStringLiteral("DIR")};
    QCommandLineOption goldDir{QStringLiteral("golddir"),
                               QStringLiteral("GoldMine's database alias."),
                               QStringLiteral("ALIAS")};
    QCommandLineOption commonDir{QStringLiteral("commondir"),
                                 QStringLiteral("GoldMine's common database alias."),
                                 QStringLiteral("ALIAS")};
    QCommandLineOption user{QStringLiteral("user"), QStringLiteral("The GoldMine user."),
                            QStringLiteral("NAME")};
    QCommandLineOption passwordFile{
        QStringLiteral("password-file"),
        QStringLiteral("Read the password from the first line of FILE."), QStringLiteral("FILE")};
    QCommandLineOption columns{QStringLiteral("columns"),
                               QStringLiteral("Print the first table's column names and exit.")};
    QCommandLineOption dump{QStringLiteral("dump"),
                            QStringLiteral("Print the first table's rows and exit.")};
    QCommandLineOption help{{QStringLiteral("h"), QStringLiteral("help")},
                            QStringLiteral("Displays help on commandline options.")};
    QCommandLineOption groupExists{
        QStringLiteral("group-exists"),
        QStringLiteral("When a group of the --group name exists already: refuse (the default) "
                       "or add another group of that name."),
        QStringLiteral("refuse|add"), QStringLiteral("refuse")};
    QCommandLineOption version{QStringLiteral("version"),
                               QStringLiteral("Print the program's version and exit.")};

    void addTo(QCommandLineParser &parser) const
    {
        parser.setApplicationDescription(QString::fromUtf8(Description));
        parser.addOptions({workbook, emailColumn, map, fixed, noMatch, update, group, sysDir,
                           goldDir, commonDir, user, passwordFile, columns, dump, groupExists, help,
                           version});
    }
};

Error usage(const QString &text)
{
    return Error{text, ErrorCode::Usage};
}

} // namespace

QString helpText()
{
    QCommandLineParser parser;
    Options().addTo(parser);
    return parser.helpText();
}

Result<CommandLine> parseCommandLine(const QStringList &arguments)
{
    const Options o;
    QCommandLineParser parser;
    o.addTo(parser);
    if (!parser.parse(arguments))
        return usage(parser.errorText());

    CommandLine line;
    if (parser.isSet(o.help)) {
        line.action = Action::Help;
        return line;
    }
    if (parser.isSet(o.version)) {
        line.action = Action::Version;
        return line;
    }
    if (!parser.positionalArguments().isEmpty())
        return usage(QStringLiteral("unexpected argument: ") +
                     parser.positionalArguments().first());
    if (!parser.isSet(o.workbook))
        return usage(QStringLiteral("--workbook FILE is required (see --help)"));
    line.options.workbookPath = parser.value(o.workbook);
    if (parser.isSet(o.columns))
        line.action = Action::Columns;
    else if (parser.isSet(o.dump))
        line.action = Action::Dump;

    const QStringList mapValues = parser.values(o.map);
    const QStringList fixedValues = parser.values(o.fixed);
    qsizetype nextMap = 0;
    qsizetype nextFixed = 0;
    for (const QString &name : parser.optionNames()) {
        const bool isMap = name == QLatin1String("map") && nextMap < mapValues.size();
        const bool isFixed = name == QLatin1String("fixed") && nextFixed < fixedValues.size();
        if (!isMap && !isFixed)
            continue;
        const QString &argument = isMap ? mapValues.at(nextMap++) : fixedValues.at(nextFixed++);
        mapping::Result<mapping::MappingArgument> parsed =
            mapping::parseMappingArgument(argument, isFixed);
        if (!parsed)
            return usage((isMap ? QStringLiteral("--map: ") : QStringLiteral("--fixed: ")) +
                         parsed.error().message);
        line.mappings.append(*parsed);
    }

    line.options.emailColumn = parser.value(o.emailColumn);
    line.options.match = !parser.isSet(o.noMatch);
    line.options.updateMatches = line.options.match && parser.isSet(o.update);
    line.options.group = parser.isSet(o.group);
    line.options.groupName = parser.value(o.group);
    const QString groupExists = parser.value(o.groupExists);
    if (groupExists != QLatin1String("refuse") && groupExists != QLatin1String("add"))
        return usage(QStringLiteral("--group-exists takes refuse or add, not: ") + groupExists);
    line.addGroupWithExistingName = groupExists == QLatin1String("add");
    // Without the column every row would be written as new, every time.
    if (line.action == Action::Import && line.options.match && line.options.emailColumn.isEmpty())
        return usage(QStringLiteral("--email-column NAME is required unless --no-match is given"));

    const QList<const QCommandLineOption *> given = {&o.sysDir, &o.goldDir, &o.commonDir, &o.user};
    int givenCount = 0;
    for (const QCommandLineOption *option : given)
        givenCount += parser.isSet(*option) ? 1 : 0;
    if (givenCount != 0 && givenCount != given.size())
        return usage(QStringLiteral("--sysdir, --golddir, --commondir and --user go together"));
    line.settings.sSysDir = parser.value(o.sysDir);
    line.settings.sGoldDir = parser.value(o.goldDir);
    line.settings.sCommonDir = parser.value(o.commonDir);
    line.settings.sUserName = parser.value(o.user);
    line.passwordFile = parser.value(o.passwordFile);
    return line;
}

} // namespace cli
