#include "ContactCalls.h"

#include "Containers.h"
#include "Database.h"
#include "Ids.h"
#include "Store.h"
#include "Text.h"

#include <string_view>

namespace gm7s32 {

namespace {

// GoldMine splits a support reference longer than CONTSUPREF into ADDRESS1.
constexpr std::size_t kReferenceWidth = 35;
constexpr std::size_t kReferenceOverflowWidth = 40;

std::string quotedName(std::string_view name)
{
    std::string result = "\"";
    for (const char c : name) {
        result += c;
        if (c == '"')
            result += '"';
    }
    return result + '"';
}

// The columns and values of one row, bound in the order added: the one place
// that turns them into INSERT and UPDATE text.
class Row
{
public:
    void add(std::string column, std::string value)
    {
        m_columns.push_back(std::move(column));
        m_values.push_back(std::move(value));
    }

    std::vector<std::string> &values() { return m_values; }

    std::string insertSql(std::string_view table) const
    {
        std::string sql = "INSERT INTO " + std::string(table) + " (";
        std::string parameters;
        for (std::size_t i = 0; i < m_columns.size(); ++i) {
            sql += (i ? ", " : "") + m_columns[i];
            parameters += (i ? ", ?" : "?") + std::to_string(i + 1);
        }
        return sql + ") VALUES (" + parameters + ")";
    }

    // The key's value is bound after the row's values.
    std::string updateSql(std::string_view table, std::string_view keyColumn) const
    {
        std::string sql = "UPDATE " + std::string(table) + " SET ";
        for (std::size_t i = 0; i < m_columns.size(); ++i)
            sql += (i ? ", " : "") + m_columns[i] + "=?" + std::to_string(i + 1);
        return sql + " WHERE " + std::string(keyColumn) + "=?" +
               std::to_string(m_columns.size() + 1);
    }

    std::vector<std::string> valuesWith(const std::string &key) const
    {
        std::vector<std::string> values = m_values;
        values.push_back(key);
        return values;
    }

private:
    std::vector<std::string> m_columns;
    std::vector<std::string> m_values;
};

} // namespace

ContactCalls::ContactCalls(Database &database, const std::string &user, const FieldMap &fields,
                           IdMaker &ids)
    : m_database(database)
    , m_user(user)
    , m_fields(fields)
    , m_ids(ids)
{}

int32_t ContactCalls::readValues(const Container &container, ContactValues *values) const
{
    for (const Container::Entry &entry : container.entries()) {
        if (entry.nested)
            return kExecUnknownField;
        const std::string name = toUpperAscii(entry.name);
        if (name == "RECID") {
            values->recid = &entry.text;
            continue;
        }
        if (name == "EMAIL" || name == "WEBSITE") {
            if (characterCount(entry.text) > kReferenceWidth + kReferenceOverflowWidth)
                return kExecValueTooLong;
            (name == "EMAIL" ? values->email : values->website) = &entry.text;
            continue;
        }
        const auto field = m_fields.find(name);
        if (field == m_fields.end())
            return kExecUnknownField;
        if (field->second.width != 0 && characterCount(entry.text) > field->second.width)
            return kExecValueTooLong;
        (field->second.table == "CONTACT1" ? values->contact1 : values->contact2)
            .push_back({&field->second, &entry.text});
        if (name == "CONTACT")
            values->contactName = &entry.text;
        else if (name == "COMPANY")
            values->companyName = &entry.text;
    }
    return 0;
}

namespace {

template <typename Assignments> void addFields(Row &row, const Assignments &assignments)
{
    for (const auto &assignment : assignments) {
        row.add(quotedName(assignment.field->column), *assignment.value);
        if (assignment.field->hasShadow)
            row.add(quotedName("U_" + assignment.field->column), toUpperAscii(*assignment.value));
    }
}

} // namespace

int32_t ContactCalls::writeContact(Container &container)
{
    ContactValues values;
    if (const int32_t refused = readValues(container, &values); refused < 0)
        return refused;
    const Stamp stamp = Stamp::now();
    std::string createdRecid;
    const int32_t result = m_database.inTransaction([&] {
        if (!values.recid) {
            createdRecid = createContact(values, stamp);
            return;
        }
        const std::string accountNo = accountNoOf(*values.recid);
        if (accountNo.empty())
            throw CallFailure{kExecUnknownRecord};
        updateContact(accountNo, values, stamp);
    });
    if (result == 0 && !values.recid)
        container.set("RECID", createdRecid);
    return result;
}

void ContactCalls::updateContact(const std::string &accountNo, const ContactValues &values,
                                 const Stamp &stamp)
{
    if (values.contact1.empty() && values.contact2.empty() && !values.email && !values.website)
        return;
    Row contact1;
    contact1.add("LASTUSER", m_user);
    contact1.add("LASTDATE", stamp.date);
    contact1.add("LASTTIME", stamp.time);
    addFields(contact1, values.contact1);
    m_database.run(contact1.updateSql("CONTACT1", "ACCOUNTNO"), contact1.valuesWith(accountNo));

    if (!values.contact2.empty()) {
        Row contact2;
        contact2.add("LASTDATE", stamp.date);
        contact2.add("LASTTIME", stamp.time);
        addFields(contact2, values.contact2);
        m_database.run(contact2.updateSql("CONTACT2", "ACCOUNTNO"), contact2.valuesWith(accountNo));
        // A contact made elsewhere may lack its CONTACT2 row.
        if (m_database.changes() == 0)
            insertContact2(accountNo, values.contact2, stamp);
    }
    if (values.email)
        writeSupportRecord(accountNo, "E-mail Address", *values.email, stamp, false);
    if (values.website)
        writeSupportRecord(accountNo, "Web Site", *values.website, stamp, false);
}

std::string ContactCalls::createContact(const ContactValues &values, const Stamp &stamp)
{
    std::string_view initials;
    if (values.contactName && !values.contactName->empty())
        initials = *values.contactName;
    else if (values.companyName)
        initials = *values.companyName;
    Row contact1;
    contact1.add("ACCOUNTNO", m_ids.newAccountNo(initials));
    contact1.add("CREATEBY", m_user);
    contact1.add("CREATEON", stamp.date);
    contact1.add("CREATEAT", stamp.time);
    contact1.add("LASTUSER", m_user);
    contact1.add("LASTDATE", stamp.date);
    contact1.add("LASTTIME", stamp.time);
    addFields(contact1, values.contact1);
    contact1.add("RECID", m_ids.newRecid());
    m_database.insertRetrying(contact1.insertSql("CONTACT1"), contact1.values(),
                              [&](std::vector<std::string> &renewed) {
                                  renewed.front() = m_ids.newAccountNo(initials);
                                  renewed.back() = m_ids.newRecid();
                              });
    const std::string accountNo = contact1.values().front();

    insertContact2(accountNo, values.contact2, stamp);
    if (values.email)
        writeSupportRecord(accountNo, "E-mail Address", *values.email, stamp, true);
    if (values.website)
        writeSupportRecord(accountNo, "Web Site", *values.website, stamp, true);
    return contact1.values().back();
}

void ContactCalls::insertContact2(const std::string &accountNo,
                                  const std::vector<Assignment> &contact2, const Stamp &stamp)
{
    Row row;
    row.add("ACCOUNTNO", accountNo);
    row.add("LASTDATE", stamp.date);
    row.add("LASTTIME", stamp.time);
    addFields(row, contact2);
    row.add("RECID", m_ids.newRecid());
    m_database.insertRetrying(
        row.insertSql("CONTACT2"), row.values(),
        [this](std::vector<std::string> &renewed) { renewed.back() = m_ids.newRecid(); });
}

void ContactCalls::writeSupportRecord(const std::string &accountNo, const char *label,
                                      const std::string &value, const Stamp &stamp, bool creating)
{
    // The reference holds what fits; the rest of a long address goes on in
    // ADDRESS1, so the lookup by the first characters still finds it.
    const std::string reference(leftCharacters(value, kReferenceWidth));
    const std::string overflow = value.substr(reference.size());
    if (!creating) {
        const std::optional<std::string> row = m_database.firstValue(
            "SELECT rowid FROM CONTSUPP WHERE ACCOUNTNO=?1 AND RECTYPE='P' AND CONTACT=?2 "
            "ORDER BY rowid LIMIT 1",
            {accountNo, label});
        if (row) {
            if (value.empty()) {
                m_database.run("DELETE FROM CONTSUPP WHERE rowid=?1", {*row});
            } else {
                m_database.run(
                    "UPDATE CONTSUPP SET CONTSUPREF=?1, ADDRESS1=?2, U_CONTSUPREF=?3, "
                    "U_ADDRESS1=?4, LASTUSER=?5, LASTDATE=?6, LASTTIME=?7 WHERE rowid=?8",
                    {reference, overflow, toUpperAscii(reference), toUpperAscii(overflow), m_user,
                     stamp.date, stamp.time, *row});
            }
            return;
        }
    }
    if (value.empty())
        return;
    std::vector<std::string> values{accountNo,
                                    label,
                                    reference,
                                    overflow,
                                    m_user,
                                    stamp.date,
                                    stamp.time,
                                    toUpperAscii(label),
                                    toUpperAscii(reference),
                                    toUpperAscii(overflow),
                                    m_ids.newRecid()};
    m_database.insertRetrying(
        "INSERT INTO CONTSUPP (ACCOUNTNO, RECTYPE, CONTACT, CONTSUPREF, ADDRESS1, "
        "LASTUSER, LASTDATE, LASTTIME, U_CONTACT, U_CONTSUPREF, U_ADDRESS1, RECID) "
        "VALUES (?1, 'P', ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9, ?10, ?11)",
        values, [this](std::vector<std::string> &renewed) { renewed.back() = m_ids.newRecid(); });
}

int32_t ContactCalls::writeContactNotes(Container &container)
{
    const std::string *recid = nullptr;
    const std::string *notes = nullptr;
    for (const Container::Entry &entry : container.entries()) {
        const std::string name = toUpperAscii(entry.name);
        if (entry.nested || (name != "RECID" && name != "NOTES"))
            return kExecUnknownField;
        (name == "RECID" ? recid : notes) = &entry.text;
    }
    if (!recid)
        return kExecMissingValue;
    const Stamp stamp = Stamp::now();
    return m_database.inTransaction([&] {
        const std::string accountNo = accountNoOf(*recid);
        if (accountNo.empty())
            throw CallFailure{kExecUnknownRecord};
        if (!notes || notes->empty())
            return;
        std::vector<std::string> values{accountNo, stamp.date, stamp.clock,
                                        m_user,    *notes,     m_ids.newRecid()};
        m_database.insertRetrying(
            "INSERT INTO NOTES (ACCOUNTNO, NOTEDATE, NOTETIME, USERID, NOTE, RECID) "
            "VALUES (?1, ?2, ?3, ?4, ?5, ?6)",
            values,
            [this](std::vector<std::string> &renewed) { renewed.back() = m_ids.newRecid(); });
    });
}

std::string ContactCalls::accountNoOf(const std::string &recid)
{
    return m_database.firstValue("SELECT ACCOUNTNO FROM CONTACT1 WHERE RECID=?1", {recid})
        .value_or(std::string());
}

} // namespace gm7s32
