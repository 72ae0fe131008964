#include "mapping/EntryList.h"

#include <QSignalSpy>
#include <QTest>

using namespace mapping;

class TestEntryList : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void columnEntriesKeepOrderAndDuplicates()
    {
        EntryList list;
        list.addColumnEntry("Company", "COMPANY");
        list.addColumnEntry("Company", "COMPANY");
        list.addColumnEntry("Name", "CONTACT");
        QCOMPARE(list.count(), 3);
        QCOMPARE(list.entries(),
                 QStringList({"Company\tCOMPANY", "Company\tCOMPANY", "Name\tCONTACT"}));
        QCOMPARE(list.rowCount(), 3);
        QCOMPARE(list.data(list.index(2)).toString(), QStringLiteral("Name\tCONTACT"));
    }

    void makeCustom_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("expectedEntry");
        QTest::addColumn<QString>("expectedValue");
        // Only the wrapping slashes are the entry's; a typed "/" is kept.
        QTest::newRow("slash inside") << "A/B"
                                      << "/A/B/\tCITY"
                                      << "A/B";
        QTest::newRow("slashes at the ends") << "/Sales/EMEA/"
                                             << "//Sales/EMEA//\tCITY"
                                             << "/Sales/EMEA/";
        QTest::newRow("empty answer") << ""
                                      << "//\tCITY"
                                      << "";
        QTest::newRow("spaces kept") << " x "
                                     << "/ x /\tCITY"
                                     << " x ";
    }
    void makeCustom()
    {
        QFETCH(QString, typed);
        QFETCH(QString, expectedEntry);
        QFETCH(QString, expectedValue);
        EntryList list;
        list.addColumnEntry("Town", "CITY");
        list.makeCustom(0, typed);
        QCOMPARE(list.count(), 1);
        QCOMPARE(list.entry(0), expectedEntry);
        const ValueSource source = EntryList::valueSource(list.entry(0));
        QVERIFY(source.custom);
        QCOMPARE(source.fixedValue, expectedValue);
        QCOMPARE(EntryList::halves(list.entry(0)).goldMine, QStringLiteral("CITY"));
    }

    void makeCustomMovesEntryToTheEnd()
    {
        EntryList list;
        list.addColumnEntry("A", "F1");
        list.addColumnEntry("B", "F2");
        list.addColumnEntry("C", "F3");
        QSignalSpy inserted(&list, &QAbstractItemModel::rowsInserted);
        QSignalSpy removed(&list, &QAbstractItemModel::rowsRemoved);
        list.makeCustom(0, "x");
        QCOMPARE(list.entries(), QStringList({"B\tF2", "C\tF3", "/x/\tF1"}));
        QCOMPARE(inserted.count(), 1);
        QCOMPARE(removed.count(), 1);
    }

    void removeAndOutOfRange()
    {
        EntryList list;
        list.addColumnEntry("A", "F1");
        list.addColumnEntry("B", "F2");
        list.remove(5);
        list.remove(-1);
        list.makeCustom(7, "x");
        QCOMPARE(list.count(), 2);
        list.remove(0);
        QCOMPARE(list.entries(), QStringList({"B\tF2"}));
    }

    void halvesAndSources_data()
    {
        QTest::addColumn<QString>("entry");
        QTest::addColumn<QString>("excel");
        QTest::addColumn<QString>("goldMine");
        QTest::addColumn<bool>("custom");
        QTest::addColumn<QString>("value");
        QTest::newRow("column") << "Company\tCOMPANY"
                                << "Company"
                                << "COMPANY" << false << "Company";
        QTest::newRow("no tab") << "Company"
                                << "Company"
                                << "Company" << false << "Company";
        QTest::newRow("column named /x") << "/x\tKEY1"
                                         << "/x"
                                         << "KEY1" << true << "x";
        QTest::newRow("leading space is a column") << " /x\tKEY1"
                                                   << " /x"
                                                   << "KEY1" << false << " /x";
        // A fixed text holding a TAB splits there: the field named is not the one picked.
        QTest::newRow("tab in fixed text") << "/a\tb/\tCITY"
                                           << "/a"
                                           << "b/\tCITY" << true << "a";
    }
    void halvesAndSources()
    {
        QFETCH(QString, entry);
        QFETCH(QString, excel);
        QFETCH(QString, goldMine);
        QFETCH(bool, custom);
        QFETCH(QString, value);
        const EntryHalves halves = EntryList::halves(entry);
        QCOMPARE(halves.excel, excel);
        QCOMPARE(halves.goldMine, goldMine);
        const ValueSource source = EntryList::valueSource(entry);
        QCOMPARE(source.custom, custom);
        QCOMPARE(custom ? source.fixedValue : source.column, value);
    }

    void makeCustomWithTabInText()
    {
        EntryList list;
        list.addColumnEntry("Town", "CITY");
        list.makeCustom(0, "a\tb");
        QCOMPARE(list.entry(0), QStringLiteral("/a\tb/\tCITY"));
        QCOMPARE(EntryList::halves(list.entry(0)).goldMine, QStringLiteral("b/\tCITY"));
    }
};

QTEST_GUILESS_MAIN(TestEntryList)
#include "TestEntryList.moc"
