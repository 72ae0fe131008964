#include "goldmine/Lookups.h"

#include "goldmine/ApiText.h"
#include "util/Prompts.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace goldmine {

namespace {

// An apostrophe inside a literal would end it early: SQL doubles it.
QString sqlLiteralText(const QString &text)
{
    QString escaped = text;
    return escaped.replace(QLatin1Char('\''), QStringLiteral("''"));
}

// VB's Str(): a blank stands where the sign of a non-negative number would be.
QString signedText(int32_t number)
{
    return number < 0 ? QString::number(number) : QLatin1Char(' ') + QString::number(number);
}

// Reads the fetch text: characters 6 to 9 hold the record count, records start
// at character 12, each ending with CR and one more character. Anything that
// does not fit that layout ends the reading with the values read so far.
// Returns whether every record the header announced was read.
bool readFetchText(const QString &text, const std::function<void(const QString &)> &onValue,
                   const LetEventsRun &letEventsRun)
{
    bool isNumber = false;
    const short numberOfRecords = text.mid(5, 4).trimmed().toShort(&isNumber);
    if (!isNumber)
        return false;
    const qsizetype length = text.size();
    qsizetype start = 11; // 0-based
    short counter = 0;
    while (start < length - 1 && counter != numberOfRecords) {
        ++counter;
        const qsizetype end = text.indexOf(QLatin1Char('\r'), start);
        if (end < 0)
            return false;
        onValue(text.mid(start, end - start));
        start = end + 2;
        if (letEventsRun)
            letEventsRun();
    }
    return counter == numberOfRecords;
}

} // namespace

bool RunSqlQuery(GoldMineApi &api, util::Prompts &prompts, const QString &sql, int32_t sizingCount,
                 const QString &failureTitle, const std::function<void(const QString &)> &onValue,
                 bool *readInFull, const LetEventsRun &letEventsRun)
{
    bool complete = false;
    const int32_t handle = api.GMW_DS_Query(sql);
    const bool succeeded = handle > 0;
    if (succeeded) {
        char sizingBuffer[1] = {'\0'};
        const int32_t bufferSize = api.GMW_DS_Fetch(handle, sizingBuffer, 0, sizingCount);
        if (bufferSize >= -1) {
            // The size the library asked for plus one zero for its terminator.
            std::vector<char> buffer(static_cast<size_t>(std::max(bufferSize, 0)) + 1, '\0');
            const int32_t textLength = api.GMW_DS_Fetch(handle, buffer.data(), bufferSize, 0);
            // A length beyond the buffer would read what the library never wrote.
            if (textLength > 0 && textLength <= bufferSize)
                complete = readFetchText(QString::fromLocal8Bit(buffer.data(), textLength), onValue,
                                         letEventsRun);
        }
    } else {
        prompts.setWaitCursor(false);
        // A library that stopped altogether (its process ended) says so itself.
        const QString stopped = api.stoppedReason();
        prompts.messageBox(
            stopped.isEmpty()
                ? QStringLiteral(
                      "Connectivity to GoldMine Unexpectedly LOST!  GoldMine responded:") +
                      signedText(handle)
                : stopped,
            failureTitle, util::PromptIcon::Critical);
    }
    api.GMW_DS_Close(handle);
    if (readInFull)
        *readInFull = complete;
    return succeeded;
}

RecordLookups::RecordLookups(GoldMineApi &api, util::Prompts &prompts, ImportState &state,
                             LetEventsRun letEventsRun)
    : m_api(api)
    , m_prompts(prompts)
    , m_state(state)
    , m_letEventsRun(std::move(letEventsRun))
{}

bool RecordLookups::EmailExists()
{
    // The e-mail record holds the first characters of an address in its
    // reference and the rest in its overflow: a longer address must match in
    // both, or two addresses sharing their beginning would be one contact.
    const auto [reference, overflow] = splitAtApiCharacter(m_state.sEmail, kEmailReferenceWidth);
    QString sql = QStringLiteral("select recid from contact1 where accountno in (select accountno "
                                 "from contsupp where contsupref='") +
                  sqlLiteralText(reference) + QLatin1Char('\'');
    if (!overflow.isEmpty())
        sql += QStringLiteral(" and upper(address1)=upper('") + sqlLiteralText(overflow) +
               QStringLiteral("')");
    sql += QLatin1Char(')');
    QString lastValue;
    bool readInFull = false;
    const bool succeeded = RunSqlQuery(
        m_api, m_prompts, sql, 2000, QStringLiteral("GoldMine Email Record Seek -- Error"),
        [&lastValue](const QString &value) { lastValue = value; }, &readInFull, m_letEventsRun);
    // An answer cut short that named no contact proves nothing: the contact
    // may still exist, and writing the row would duplicate it.
    m_lastQueryFailed = !succeeded || (lastValue.isEmpty() && !readInFull);
    if (lastValue.isEmpty())
        return false;
    m_state.sRecid = lastValue;
    return true;
}

QString RecordLookups::GetAccountno()
{
    const QString sql = QStringLiteral("select accountno from contact1 where recid='") +
                        sqlLiteralText(m_state.sRecid) + QStringLiteral("'");
    QString accountNumber;
    bool readInFull = false;
    const bool succeeded = RunSqlQuery(
        m_api, m_prompts, sql, 20, QStringLiteral("GoldMine Accountno Seek -- Error"),
        [&accountNumber](const QString &value) { accountNumber = value; }, &readInFull,
        m_letEventsRun);
    m_lastQueryFailed = !succeeded || (accountNumber.isEmpty() && !readInFull);
    return accountNumber;
}

} // namespace goldmine
