// The business calls that write a contact: "WriteContact" and
// "WriteContactNotes".
#pragma once

#include "Fields.h"

#include <cstdint>
#include <string>
#include <vector>

namespace gm7s32 {

class Container;
class Database;
class IdMaker;
struct Stamp;

class ContactCalls
{
public:
    ContactCalls(Database &database, const std::string &user, const FieldMap &fields, IdMaker &ids);

    // Updates the contact RECID names, or creates one (its RECID is then
    // left in the container). Each value is checked before anything is
    // written: the call writes all of its values or none.
    int32_t writeContact(Container &container);
    // Adds a note to the contact RECID names.
    int32_t writeContactNotes(Container &container);

private:
    struct Assignment
    {
        const Field *field;
        const std::string *value;
    };
    struct ContactValues
    {
        std::vector<Assignment> contact1;
        std::vector<Assignment> contact2;
        const std::string *recid = nullptr;
        const std::string *email = nullptr;
        const std::string *website = nullptr;
        const std::string *contactName = nullptr;
        const std::string *companyName = nullptr;
    };

    int32_t readValues(const Container &container, ContactValues *values) const;
    void updateContact(const std::string &accountNo, const ContactValues &values,
                       const Stamp &stamp);
    // Answers the new contact's RECID.
    std::string createContact(const ContactValues &values, const Stamp &stamp);
    void insertContact2(const std::string &accountNo, const std::vector<Assignment> &contact2,
                        const Stamp &stamp);
    void writeSupportRecord(const std::string &accountNo, const char *label,
                            const std::string &value, const Stamp &stamp, bool creating);
    std::string accountNoOf(const std::string &recid);

    Database &m_database;
    const std::string &m_user;
    const FieldMap &m_fields;
    IdMaker &m_ids;
};

} // namespace gm7s32
