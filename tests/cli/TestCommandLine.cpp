#include "cli/CommandLine.h"

#include <QTest>

using namespace cli;

// The command line read without running anything.
class TestCommandLine : public QObject
{
    Q_OBJECT

    static Result<CommandLine> parse(QStringList arguments)
    {
        arguments.prepend(QStringLiteral("ruvelo-import"));
        return parseCommandLine(arguments);
    }

private Q_SLOTS:
    void importOptions()
    {
        const auto line = parse({"--workbook", "b.xlsx", "--email-column", "Mail", "--update",
                                 "--group", "Fair", "--password-file", "pw", "--sysdir", "/s",
                                 "--golddir", "G:", "--commondir", "C:", "--user", "ANN"});
        QVERIFY2(line, qPrintable(line ? QString() : line.error().message));
        QCOMPARE(line->action, Action::Import);
        QCOMPARE(line->options.workbookPath, QStringLiteral("b.xlsx"));
        QCOMPARE(line->options.emailColumn, QStringLiteral("Mail"));
        QVERIFY(line->options.match);
        QVERIFY(line->options.updateMatches);
        QVERIFY(line->options.group);
        QCOMPARE(line->options.groupName, QStringLiteral("Fair"));
        QCOMPARE(line->passwordFile, QStringLiteral("pw"));
        QCOMPARE(line->settings.sSysDir, QStringLiteral("/s"));
        QCOMPARE(line->settings.sGoldDir, QStringLiteral("G:"));
        QCOMPARE(line->settings.sCommonDir, QStringLiteral("C:"));
        QCOMPARE(line->settings.sUserName, QStringLiteral("ANN"));
    }

    void mappingsKeepTheirOrderAcrossMapAndFixed()
    {
        const auto line =
            parse({"--workbook", "b.xlsx", "--no-match", "--fixed", "Nowhere=CITY", "--map",
                   "Town=CITY", "--map", "A=B=STATE", "--fixed=Sales/EMEA=COMPANY"});
        QVERIFY(line);
        QCOMPARE(line->mappings.size(), 4);
        const auto &m = line->mappings;
        QVERIFY(m[0].fixed && m[0].source == "Nowhere" && m[0].field == "CITY");
        QVERIFY(!m[1].fixed && m[1].source == "Town" && m[1].field == "CITY");
        QVERIFY(!m[2].fixed && m[2].source == "A=B" && m[2].field == "STATE");
        QVERIFY(m[3].fixed && m[3].source == "Sales/EMEA" && m[3].field == "COMPANY");
    }

    void actions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<Action>("action");
        QTest::newRow("help") << QStringList{"--help"} << Action::Help;
        QTest::newRow("version") << QStringList{"--version"} << Action::Version;
        QTest::newRow("columns") << QStringList{"--workbook", "b.xls", "--columns"}
                                 << Action::Columns;
        QTest::newRow("dump") << QStringList{"--workbook", "b.xls", "--dump"} << Action::Dump;
    }
    void actions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(Action, action);
        const auto line = parse(arguments);
        QVERIFY(line);
        QCOMPARE(line->action, action);
    }

    void usageErrors_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("says");
        QTest::newRow("no workbook") << QStringList{"--email-column", "E"} << "--workbook";
        QTest::newRow("stray argument") << QStringList{"--workbook", "b.xls", "x"} << "x";
        QTest::newRow("unknown option") << QStringList{"--workbook", "b.xls", "--frob"} << "frob";
        QTest::newRow("map without field")
            << QStringList{"--workbook", "b", "--map", "N="} << "COLUMN=FIELD";
        QTest::newRow("map without column")
            << QStringList{"--workbook", "b", "--map", "=CITY"} << "COLUMN=FIELD";
        QTest::newRow("fixed without =")
            << QStringList{"--workbook", "b", "--fixed", "Fair"} << "TEXT=FIELD";
        QTest::newRow("tab in a fixed text")
            << QStringList{"--workbook", "b", "--fixed", "a\tb=CITY"} << "TAB";
        QTest::newRow("half a connection")
            << QStringList{"--workbook", "b", "--no-match", "--sysdir", "/s"} << "go together";
        QTest::newRow("matching without an e-mail column")
            << QStringList{"--workbook", "b.xlsx", "--map", "A=CITY"} << "--email-column";
        QTest::newRow("group-exists without a known answer")
            << QStringList{"--workbook", "b", "--no-match", "--group-exists=maybe"}
            << "refuse or add";
    }
    void usageErrors()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, says);
        const auto line = parse(arguments);
        QVERIFY(!line);
        QCOMPARE(line.error().code, ErrorCode::Usage);
        QVERIFY2(line.error().message.contains(says), qPrintable(line.error().message));
    }
};

QTEST_GUILESS_MAIN(TestCommandLine)
#include "TestCommandLine.moc"
