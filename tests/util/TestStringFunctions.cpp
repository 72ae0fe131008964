#include "util/StringFunctions.h"

#include <QTest>

using namespace util;

class TestStringFunctions : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void isNothing()
    {
        QVERIFY(SF_isNothing(QString()));
        QVERIFY(SF_isNothing(QStringLiteral("")));
        QVERIFY(!SF_isNothing(QStringLiteral(" ")));
        QVERIFY(!SF_isNothing(QStringLiteral("\t")));
    }

    void removeAllOnce_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<QString>("expected");
        QTest::newRow("joined occurrence stays") << "aabb"
                                                 << "ab"
                                                 << "ab";
        QTest::newRow("empty needle") << "a b"
                                      << ""
                                      << "a b";
        QTest::newRow("empty text") << ""
                                    << "x"
                                    << "";
        QTest::newRow("adjacent occurrences") << "xxx"
                                              << "x"
                                              << "";
        QTest::newRow("case-sensitive") << "AbAB"
                                        << "ab"
                                        << "AbAB";
        QTest::newRow("several units") << "a--b--c"
                                       << "--"
                                       << "abc";
        QTest::newRow("overlapping pairs") << "aaa"
                                           << "aa"
                                           << "a";
    }
    void removeAllOnce()
    {
        QFETCH(QString, text);
        QFETCH(QString, needle);
        QFETCH(QString, expected);
        QCOMPARE(SF_removeAllOnce(text, needle), expected);
    }

    void removeAll_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("needle");
        QTest::addColumn<QString>("expected");
        QTest::newRow("repeats until none") << "aabb"
                                            << "ab"
                                            << "";
        QTest::newRow("nested") << "aaabbb"
                                << "ab"
                                << "";
        QTest::newRow("spaces everywhere") << " jo hn@x.com "
                                           << " "
                                           << "john@x.com";
        QTest::newRow("tab and nbsp stay") << QString(" a\tb") + QChar(0x00A0) + "c "
                                           << " " << QString("a\tb") + QChar(0x00A0) + "c";
        QTest::newRow("slashes of custom entry") << "/A/B/"
                                                 << "/"
                                                 << "AB";
        QTest::newRow("only slashes") << "//"
                                      << "/"
                                      << "";
        QTest::newRow("empty needle") << "a b"
                                      << ""
                                      << "a b";
        QTest::newRow("empty text") << ""
                                    << " "
                                    << "";
        QTest::newRow("surrogate pair kept")
            << QString::fromUtf8("a \U0001F600 b") << " " << QString::fromUtf8("a\U0001F600b");
    }
    void removeAll()
    {
        QFETCH(QString, text);
        QFETCH(QString, needle);
        QFETCH(QString, expected);
        QCOMPARE(SF_removeAll(text, needle), expected);
    }

    void split_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("separator");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("right");
        QTest::newRow("entry") << "Company\tCOMPANY"
                               << "\t"
                               << "Company"
                               << "COMPANY";
        QTest::newRow("no separator") << "Company"
                                      << "\t"
                                      << "Company"
                                      << "Company";
        QTest::newRow("empty separator") << "a\tb"
                                         << ""
                                         << "a\tb"
                                         << "a\tb";
        QTest::newRow("begins with it") << "\tX"
                                        << "\t"
                                        << ""
                                        << "X";
        QTest::newRow("ends with it") << "X\t"
                                      << "\t"
                                      << "X"
                                      << "";
        QTest::newRow("first of two") << "a\tb\tc"
                                      << "\t"
                                      << "a"
                                      << "b\tc";
        QTest::newRow("several units") << "left::right::x"
                                       << "::"
                                       << "left"
                                       << "right::x";
        QTest::newRow("case-sensitive") << "aXbxc"
                                        << "x"
                                        << "aXb"
                                        << "c";
        QTest::newRow("empty text") << ""
                                    << "\t"
                                    << ""
                                    << "";
    }
    void split()
    {
        QFETCH(QString, text);
        QFETCH(QString, separator);
        QFETCH(QString, left);
        QFETCH(QString, right);
        QCOMPARE(SF_splitLeft(text, separator), left);
        QCOMPARE(SF_splitRight(text, separator), right);
    }

    void ptrToString()
    {
        QCOMPARE(PtrToString(nullptr), QString());
        const char empty[] = "";
        QVERIFY(PtrToString(empty).isEmpty());
        const char plain[] = "C0123456789ABCD";
        QCOMPARE(PtrToString(plain), QStringLiteral("C0123456789ABCD"));
        // Bytes after the terminating zero are not part of the text.
        const char stopped[] = {'a', 'b', '\0', 'c', '\0'};
        QCOMPARE(PtrToString(stopped), QStringLiteral("ab"));
        const char utf8[] = "M\xc3\xbcller \xe2\x82\xac";
        QCOMPARE(PtrToString(utf8), QString::fromUtf8("Müller €"));
    }
};

QTEST_GUILESS_MAIN(TestStringFunctions)
#include "TestStringFunctions.moc"
