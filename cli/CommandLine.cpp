#include "cli/CommandLine.h"

#include "mapping/Profile.h"

#include <QCommandLineParser>

namespace cli {

namespace {

const char *const Description = R"(
Imports the first sheet of an Excel workbook (or a CSV file) into GoldMine, as
the Ruvelo window does: each row is matched on its e-mail address (unless
--no-match) and either reported as known (and updated with --update) or written
as a new contact; with --group every contact the run touches joins a new group.

Mappings:
  --map COLUMN=FIELD   the workbook column feeds the GoldMine field; the text is
                       split at its last "=", so column names may hold "="
  --fixed TEXT=FIELD   the fixed text goes into the field for every row
  --profile FILE       the mappings, e-mail column and options saved in a
                       mapping profile; what the command line says wins, and
                       its mappings come after the profile's
  --save-profile FILE  save this run's mappings, e-mail column and options

GoldMine connection: by default from the running GoldMine client over the DDE
link; or given with --sysdir DIR --golddir ALIAS --commondir ALIAS --user NAME.
The password comes from the environment variable RUVELO_PASSWORD, from
--password-file FILE, or from a prompt without echo on a terminal; never from
the command line.

--dry-run checks every row as the import would, with the same lookups, and
writes nothing to GoldMine: one line per problem, then what the import would
do. --report FILE writes what happened to each row (CSV, or .xlsx when FILE
ends so). --columns prints the first table's column names, one a line; --dump
prints its rows as the import reads them, tab-separated, column names first,
with TAB, CR, LF and backslash inside a cell written as \t, \r, \n and \\.
Neither needs GoldMine.

Output: the log lines on standard output as they happen (not with --quiet),
then the closing count; messages and errors on standard error, each starting
with "ruvelo-import: ". On a terminal, standard error shows a progress line.
An interrupt or termination signal lets the row under way finish and stops the
run there; a second one ends the program at once.
Exit status: 0 every row processed without a failure (a dry run: no problem
that would fail a row), 1 some rows failed or the run stopped early (a dry run:
a row would fail), 2 the import could not start (usage, workbook, GoldMine
connection, password, another import running), 130 or 143 stopped by an
interrupt (SIGINT) or termination (SIGTERM) signal.)";

// The options, built once for parsing and for the help text.
struct Options
{
    QCommandLineOption workbook{QStringLiteral("workbook"),
                                QStringLiteral("The workbook (.xls, .xlsx or .csv)."),
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
    QCommandLineOption quiet{QStringLiteral("quiet"),
                             QStringLiteral("No per-row log lines on standard output.")};
    QCommandLineOption dryRun{QStringLiteral("dry-run"),
                              QStringLiteral("Check every row and write nothing to GoldMine.")};
    QCommandLineOption report{QStringLiteral("report"),
                              QStringLiteral("Write what happened to each row to FILE (CSV, or "
                                             ".xlsx)."),
                              QStringLiteral("FILE")};
    QCommandLineOption profile{QStringLiteral("profile"),
                               QStringLiteral("Take mappings, e-mail column and options from a "
                                              "mapping profile."),
                               QStringLiteral("FILE")};
    QCommandLineOption saveProfile{
        QStringLiteral("save-profile"),
        QStringLiteral("Save this run's mappings, e-mail column and options as a profile."),
        QStringLiteral("FILE")};
    QCommandLineOption bridge{
        QStringLiteral("bridge"),
        QStringLiteral("Reach GoldMine's API library through this gm7bridge program (by "
                       "default on Windows, and where RUVELO_GM7BRIDGE names one)."),
        QStringLiteral("PATH")};
    QCommandLineOption version{QStringLiteral("version"),
                               QStringLiteral("Print the program's version and exit.")};

    void addTo(QCommandLineParser &parser) const
    {
        parser.setApplicationDescription(QString::fromUtf8(Description));
        parser.addOptions({workbook, emailColumn, map,         fixed,     noMatch, update,
                           group,    sysDir,      goldDir,     commonDir, user,    passwordFile,
                           columns,  dump,        groupExists, quiet,     dryRun,  report,
                           profile,  saveProfile, bridge,      help,      version});
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
    const bool columns = parser.isSet(o.columns);
    const bool dump = parser.isSet(o.dump);
    if (columns && dump)
        return usage(QStringLiteral("--columns and --dump cannot go together"));
    if ((columns || dump) && parser.isSet(o.dryRun))
        return usage(QStringLiteral("--dry-run checks an import; it cannot go with --%1")
                         .arg(columns ? QStringLiteral("columns") : QStringLiteral("dump")));
    if (parser.isSet(o.noMatch) && parser.isSet(o.update))
        return usage(QStringLiteral("--update updates matched contacts, and --no-match matches "
                                    "none: give one of them"));
    if (columns)
        line.action = Action::Columns;
    else if (dump)
        line.action = Action::Dump;

    // A profile first, so that the command line can say otherwise.
    if (parser.isSet(o.profile)) {
        const mapping::Result<mapping::Profile> profile =
            mapping::readProfile(parser.value(o.profile));
        if (!profile)
            return usage(profile.error().message);
        line.options.emailColumn = profile->emailColumn;
        line.options.match = profile->match;
        line.options.updateMatches = profile->updateMatches;
        line.options.group = profile->group;
        line.options.groupName = profile->groupName;
        line.mappings = profile->mappings;
    }

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

    if (parser.isSet(o.emailColumn))
        line.options.emailColumn = parser.value(o.emailColumn);
    if (parser.isSet(o.noMatch))
        line.options.match = false;
    if (parser.isSet(o.update))
        line.options.updateMatches = true;
    line.options.updateMatches = line.options.match && line.options.updateMatches;
    if (parser.isSet(o.group)) {
        line.options.group = true;
        line.options.groupName = parser.value(o.group);
    }
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
    line.quiet = parser.isSet(o.quiet);
    line.dryRun = parser.isSet(o.dryRun);
    line.reportPath = parser.value(o.report);
    line.saveProfilePath = parser.value(o.saveProfile);
    line.bridgePath = parser.value(o.bridge);
    return line;
}

} // namespace cli
