#pragma once

#include "goldmine/GoldMineApi.h"
#include "goldmine/ImportState.h"

#include <QString>

#include <functional>

namespace util {
class Prompts;
}

namespace goldmine {

// Lets the front end's pending events run; the engines never call the event
// loop themselves.
using LetEventsRun = std::function<void()>;

// Runs one SQL text through the GoldMine API and hands each record's value to
// onValue, in the order of the fetch text. Returns false when the query failed;
// its message has then been shown under failureTitle. letEventsRun (when given)
// runs after each value. *readInFull (when given) tells whether the fetch text
// held every record it announced; a malformed one ends the reading early.
bool RunSqlQuery(GoldMineApi &api, util::Prompts &prompts, const QString &sql, int32_t sizingCount,
                 const QString &failureTitle, const std::function<void(const QString &)> &onValue,
                 bool *readInFull = nullptr, const LetEventsRun &letEventsRun = {});

// The two lookups the import makes row by row, over the shared import state.
class RecordLookups
{
public:
    RecordLookups(GoldMineApi &api, util::Prompts &prompts, ImportState &state,
                  LetEventsRun letEventsRun = {});

    // True when a contact owns the address in sEmail; sRecid is then its record id.
    bool EmailExists();
    // The account number of the contact whose record id is in sRecid, or "".
    QString GetAccountno();
    // Whether the latest lookup could not give a certain answer: its query
    // failed, or its answer was cut short before naming a record.
    bool lastQueryFailed() const { return m_lastQueryFailed; }

private:
    GoldMineApi &m_api;
    util::Prompts &m_prompts;
    ImportState &m_state;
    LetEventsRun m_letEventsRun;
    bool m_lastQueryFailed = false;
};

} // namespace goldmine
