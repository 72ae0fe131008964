#include "util/SecretText.h"

#include <QTest>

using namespace util;

// The password's own conversions must agree with Qt's for every text, or a
// password with an accent or an emoji would not open GoldMine.
class TestSecretText : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void agreesWithQt_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("ascii") << "s3cret pw";
        QTest::newRow("empty") << "";
        QTest::newRow("latin") << QStringLiteral("Zoë Ærø");
        QTest::newRow("three bytes") << QStringLiteral("€ 中文");
        QTest::newRow("beyond the plane") << QString::fromUcs4(U"pw\U0001F600x");
    }
    void agreesWithQt()
    {
        QFETCH(QString, text);
        QByteArray bytes;
        bytes.reserve(text.size() * 3 + 1);
        appendSecretLocal8Bit(text, bytes);
        QCOMPARE(bytes, text.toLocal8Bit());
        QCOMPARE(secretFromLocal8Bit(bytes.constData(), bytes.size()), text);
    }

    void brokenBytesBecomeReplacementCharacters()
    {
        const QByteArray broken("a\xff"
                                "b\xe2\x82",
                                5);
        QCOMPARE(secretFromLocal8Bit(broken.constData(), broken.size()),
                 QStringLiteral("a\uFFFDb\uFFFD\uFFFD"));
    }
};

QTEST_GUILESS_MAIN(TestSecretText)
#include "TestSecretText.moc"
