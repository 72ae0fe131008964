#include "standin/gm7s32/ShaCrypt.h"

#include <QTest>

#include <crypt.h>

// The Windows library's own SHA-crypt gives exactly the hashes libxcrypt
// gives, so a store made on either side opens on the other.
class TestShaCrypt : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void publishedVectors_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("setting");
        QTest::addColumn<QByteArray>("hash");
        // From the SHA-crypt description's own test vectors.
        QTest::newRow("default rounds")
            << QByteArray("Hello world!") << QByteArray("$6$saltstring")
            << QByteArray("$6$saltstring$svn8UoSVapNtMuq1ukKS4tPQd8iKwSMHWjl/O817G3uBnIFNjnQJuesI6"
                          "8u4OTLiBFdcbYEdFCoEOfaS35inz1");
        QTest::newRow("rounds, salt cut to 16")
            << QByteArray("Hello world!") << QByteArray("$6$rounds=10000$saltstringsaltstring")
            << QByteArray("$6$rounds=10000$saltstringsaltst$OW1/O6BYHV6BcXZu8QVeXbDWra3Oeqh0sbHbbMC"
                          "VNSnCM/UrjmM0Dp8vOuZeHBy/YTBmSK6H9qs/y3RnOaw5v.");
    }
    void publishedVectors()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, setting);
        QFETCH(QByteArray, hash);
        QCOMPARE(QByteArray::fromStdString(
                     gm7s32::shaCrypt(password.toStdString(), setting.toStdString())),
                 hash);
    }

    void sameAsLibxcrypt_data()
    {
        QTest::addColumn<QByteArray>("password");
        QTest::addColumn<QByteArray>("setting");
        for (const char *password :
             {"", "a", "Correct Horse 7", "Zo\xc3\xab \xc3\x98rsted",
              "a password longer than the sixty-four bytes of one SHA-512 digest, to wrap"}) {
            for (const char *setting :
                 {"$6$abc", "$6$rounds=1000$0123456789abcdef", "$6$rounds=5001$x.Y/z"}) {
                QTest::addRow("%s | %s", password, setting)
                    << QByteArray(password) << QByteArray(setting);
            }
        }
    }
    void sameAsLibxcrypt()
    {
        QFETCH(QByteArray, password);
        QFETCH(QByteArray, setting);
        crypt_data data{};
        const char *expected = crypt_r(password.constData(), setting.constData(), &data);
        QVERIFY(expected != nullptr);
        QCOMPARE(QByteArray::fromStdString(
                     gm7s32::shaCrypt(password.toStdString(), setting.toStdString())),
                 QByteArray(expected));
    }

    void freshSettingsVerify()
    {
        const unsigned char bytes[12] = {0, 1, 2, 250, 251, 252, 7, 8, 9, 128, 64, 32};
        const std::string setting = gm7s32::shaCryptSetting(bytes, 5000);
        QVERIFY(setting.starts_with("$6$rounds=5000$"));
        QCOMPARE(setting.size(), std::string("$6$rounds=5000$").size() + 16);
        const std::string hash = gm7s32::shaCrypt("pw", setting);
        // A hash is its own setting: hashing again with it gives it back.
        QCOMPARE(gm7s32::shaCrypt("pw", hash), hash);
        QVERIFY(gm7s32::shaCrypt("pW", hash) != hash);
        crypt_data data{};
        QCOMPARE(std::string(crypt_r("pw", setting.c_str(), &data)), hash);
    }

    void unusableSettings()
    {
        QCOMPARE(gm7s32::shaCrypt("pw", "$y$j9T$abc$def"), std::string());
        QCOMPARE(gm7s32::shaCrypt("pw", "$6$rounds=$abc"), std::string());
        QCOMPARE(gm7s32::shaCrypt("pw", "$6$rounds=12x$abc"), std::string());
        QCOMPARE(gm7s32::shaCrypt("pw", ""), std::string());
    }
};

QTEST_GUILESS_MAIN(TestShaCrypt)
#include "TestShaCrypt.moc"
