#include "GroupCalls.h"

#include "Containers.h"
#include "Database.h"
#include "Ids.h"
#include "Store.h"
#include "Text.h"

#include <vector>

namespace gm7s32 {

namespace {

constexpr std::size_t kGroupNameWidth = 60;
constexpr std::size_t kGroupCodeWidth = 10;

} // namespace

GroupCalls::GroupCalls(Database &database, const std::string &user, IdMaker &ids)
    : m_database(database)
    , m_user(user)
    , m_ids(ids)
{}

int32_t GroupCalls::createContactGroup(Container &container)
{
    std::string name;
    std::string code;
    bool sync = false;
    for (const Container::Entry &entry : container.entries()) {
        const std::string key = toUpperAscii(entry.name);
        if (entry.nested)
            return kExecUnknownField;
        if (key == "GROUPNAME")
            name = entry.text;
        else if (key == "GROUPCODE")
            code = entry.text;
        else if (key == "SYNCGROUP")
            sync = entry.text == "1";
        else
            return kExecUnknownField;
    }
    if (characterCount(name) > kGroupNameWidth || characterCount(code) > kGroupCodeWidth)
        return kExecValueTooLong;
    const Stamp stamp = Stamp::now();
    std::string groupNo;
    const int32_t result = m_database.inTransaction([&] {
        std::vector<std::string> values{m_user, code,       name,       sync ? "1" : "",
                                        m_user, stamp.date, stamp.time, m_ids.newRecid()};
        m_database.insertRetrying(
            "INSERT INTO CONTGRPS (USERID, CODE, REF, ACCOUNTNO, SYNCGROUP, LASTUSER, "
            "LASTDATE, LASTTIME, RECID) VALUES (?1, ?2, ?3, '', ?4, ?5, ?6, ?7, ?8)",
            values,
            [this](std::vector<std::string> &renewed) { renewed.back() = m_ids.newRecid(); });
        groupNo = values.back();
    });
    if (result == 0)
        container.set("GroupNo", groupNo);
    return result;
}

int32_t GroupCalls::addContactGroupMembers(Container &container)
{
    const std::string *groupNo = nullptr;
    const Container *members = nullptr;
    for (const Container::Entry &entry : container.entries()) {
        const std::string key = toUpperAscii(entry.name);
        if (key == "GROUPNO" && !entry.nested)
            groupNo = &entry.text;
        else if (key == "MEMBERS")
            members = entry.nested.get(); // text names no member
        else
            return kExecUnknownField;
    }
    if (!groupNo || !members)
        return kExecMissingValue;
    std::vector<std::string> accounts;
    for (const Container::Entry &member : members->entries()) {
        if (member.nested || toUpperAscii(member.name) != "ACCOUNTNO")
            return kExecUnknownField;
        accounts.push_back(member.text);
    }
    if (accounts.empty())
        return kExecMissingValue;
    const Stamp stamp = Stamp::now();
    return m_database.inTransaction([&] {
        if (!m_database.exists("SELECT 1 FROM CONTGRPS WHERE RECID=?1 AND ACCOUNTNO=''",
                               {*groupNo}))
            throw CallFailure{kExecUnknownGroup};
        for (const std::string &accountNo : accounts) {
            const std::optional<std::string> contactName = m_database.firstValue(
                "SELECT CONTACT FROM CONTACT1 WHERE ACCOUNTNO=?1", {accountNo});
            if (!contactName)
                throw CallFailure{kExecUnknownRecord};
            // A contact is listed once, however often it is added.
            if (m_database.exists("SELECT 1 FROM CONTGRPS WHERE USERID=?1 AND ACCOUNTNO=?2",
                                  {*groupNo, accountNo}))
                continue;
            std::vector<std::string> values{*groupNo,   *contactName, accountNo,       m_user,
                                            stamp.date, stamp.time,   m_ids.newRecid()};
            m_database.insertRetrying(
                "INSERT INTO CONTGRPS (USERID, CODE, REF, ACCOUNTNO, SYNCGROUP, LASTUSER, "
                "LASTDATE, LASTTIME, RECID) VALUES (?1, '', ?2, ?3, '', ?4, ?5, ?6, ?7)",
                values,
                [this](std::vector<std::string> &renewed) { renewed.back() = m_ids.newRecid(); });
        }
    });
}

} // namespace gm7s32
