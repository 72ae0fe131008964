#include "Gm7s32TestStore.h"

#include <QTest>

#include <string>

// Containers need no loaded store.
class TestGm7s32Containers : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void laterSetReplacesWhateverTheCase_data();
    void laterSetReplacesWhateverTheCase();
    void absentNameGivesTheDefaultPointer();
    void nestedValueHasNoText();
    void eraseAllEmptiesButKeepsTheHandle();
    void deletedAndUnknownHandles_data();
    void deletedAndUnknownHandles();
    void nullPointersAreRefused();
    void valueTextSurvivesOtherContainers();
};

void TestGm7s32Containers::laterSetReplacesWhateverTheCase_data()
{
    QTest::addColumn<QByteArray>("firstName");
    QTest::addColumn<QByteArray>("secondName");
    QTest::addColumn<QByteArray>("readName");
    QTest::newRow("same case") << QByteArray("recid") << QByteArray("recid") << QByteArray("recid");
    QTest::newRow("other case") << QByteArray("Recid") << QByteArray("RECID")
                                << QByteArray("recid");
    QTest::newRow("read in mixed case")
        << QByteArray("GroupNo") << QByteArray("groupno") << QByteArray("GROUPNO");
}

void TestGm7s32Containers::laterSetReplacesWhateverTheCase()
{
    QFETCH(QByteArray, firstName);
    QFETCH(QByteArray, secondName);
    QFETCH(QByteArray, readName);
    const int32_t container = GMW_NV_Create();
    QVERIFY(container > 0);
    QCOMPARE(GMW_NV_SetValue(container, firstName.constData(), "first"), 0);
    QCOMPARE(GMW_NV_SetValue(container, "Other", "kept"), 0);
    QCOMPARE(GMW_NV_SetValue(container, secondName.constData(), "second"), 0);
    QCOMPARE(std::string(GMW_NV_GetValue(container, readName.constData(), "")), "second");
    QCOMPARE(std::string(GMW_NV_GetValue(container, "other", "")), "kept");
    QCOMPARE(GMW_NV_Delete(container), 0);
}

void TestGm7s32Containers::absentNameGivesTheDefaultPointer()
{
    const int32_t container = GMW_NV_Create();
    const char *fallback = "fallback";
    QVERIFY(GMW_NV_GetValue(container, "RECID", fallback) == fallback);
    QVERIFY(GMW_NV_GetValue(container, "RECID", nullptr) == nullptr);
    GMW_NV_SetValue(container, "RECID", "");
    // An empty value is a value, not an absent name.
    const char *value = GMW_NV_GetValue(container, "RECID", fallback);
    QVERIFY(value != fallback);
    QCOMPARE(std::string(value), "");
}

void TestGm7s32Containers::nestedValueHasNoText()
{
    const int32_t outer = GMW_NV_Create();
    const int32_t inner = GMW_NV_Create();
    GMW_NV_SetValue(inner, "Accountno", "A1");
    GMW_NV_SetValue(outer, "Members", "text first");
    QCOMPARE(GMW_NV_AppendNvValue(outer, "members", inner), 0);
    const char *fallback = "";
    QVERIFY(GMW_NV_GetValue(outer, "Members", fallback) == fallback);
    // Appending a container to itself copies it; nothing loops.
    QCOMPARE(GMW_NV_AppendNvValue(inner, "Self", inner), 0);
    QCOMPARE(GMW_NV_AppendNvValue(inner, "Self", inner), 0);
    QCOMPARE(std::string(GMW_NV_GetValue(inner, "Accountno", "")), "A1");
    // A text value set later replaces the nested one.
    GMW_NV_SetValue(outer, "Members", "text again");
    QCOMPARE(std::string(GMW_NV_GetValue(outer, "Members", "")), "text again");
}

void TestGm7s32Containers::eraseAllEmptiesButKeepsTheHandle()
{
    const int32_t container = GMW_NV_Create();
    GMW_NV_SetValue(container, "Email", "a@b.c");
    GMW_NV_SetValue(container, "CITY", "Oslo");
    QCOMPARE(GMW_NV_EraseAll(container), 0);
    QCOMPARE(std::string(GMW_NV_GetValue(container, "Email", "none")), "none");
    QCOMPARE(GMW_NV_SetValue(container, "Email", "x@y.z"), 0);
    QCOMPARE(std::string(GMW_NV_GetValue(container, "email", "none")), "x@y.z");
}

void TestGm7s32Containers::deletedAndUnknownHandles_data()
{
    QTest::addColumn<int>("handle");
    const int32_t deleted = GMW_NV_Create();
    GMW_NV_Delete(deleted);
    QTest::newRow("deleted") << int(deleted);
    QTest::newRow("zero") << 0;
    QTest::newRow("negative") << -3;
    QTest::newRow("never given") << 99999999;
}

void TestGm7s32Containers::deletedAndUnknownHandles()
{
    QFETCH(int, handle);
    const int32_t good = GMW_NV_Create();
    QVERIFY(GMW_NV_SetValue(handle, "A", "B") < 0);
    QVERIFY(GMW_NV_AppendNvValue(handle, "A", good) < 0);
    QVERIFY(GMW_NV_AppendNvValue(good, "A", handle) < 0);
    QVERIFY(GMW_NV_EraseAll(handle) < 0);
    QVERIFY(GMW_NV_Delete(handle) < 0);
    const char *fallback = "default";
    QVERIFY(GMW_NV_GetValue(handle, "A", fallback) == fallback);
    // A new container never takes a deleted one's number.
    QVERIFY(good != handle);
}

void TestGm7s32Containers::nullPointersAreRefused()
{
    const int32_t container = GMW_NV_Create();
    QVERIFY(GMW_NV_SetValue(container, nullptr, "v") < 0);
    QVERIFY(GMW_NV_SetValue(container, "", "v") < 0);
    QVERIFY(GMW_NV_SetValue(container, "n", nullptr) < 0);
    QVERIFY(GMW_NV_AppendNvValue(container, nullptr, container) < 0);
    const char *fallback = "d";
    QVERIFY(GMW_NV_GetValue(container, nullptr, fallback) == fallback);
    QVERIFY(GMW_Execute(nullptr, container) < 0);
}

void TestGm7s32Containers::valueTextSurvivesOtherContainers()
{
    const int32_t container = GMW_NV_Create();
    GMW_NV_SetValue(container, "RECID", "ABCDEFGHIJKLMNO-long-enough-to-leave-small-buffers");
    const char *value = GMW_NV_GetValue(container, "RECID", "");
    for (int i = 0; i < 200; ++i) {
        const int32_t other = GMW_NV_Create();
        GMW_NV_SetValue(other, ("name" + std::to_string(i)).c_str(), "value");
        GMW_NV_AppendNvValue(other, "Members", container);
    }
    QCOMPARE(std::string(value), "ABCDEFGHIJKLMNO-long-enough-to-leave-small-buffers");
}

QTEST_GUILESS_MAIN(TestGm7s32Containers)
#include "TestGm7s32Containers.moc"
