#include "Session.h"

#include "Database.h"
#include "Login.h"
#include "Store.h"
#include "Text.h"

namespace gm7s32 {

Session::Session(std::unique_ptr<Database> database, std::string user, FieldMap fields)
    : m_database(std::move(database))
    , m_user(std::move(user))
    , m_fields(std::move(fields))
    , m_cursors(*m_database)
    , m_contacts(*m_database, m_user, m_fields, m_ids)
    , m_groups(*m_database, m_user, m_ids)
{}

Session::~Session() = default;

int32_t Session::open(const char *sysDir, const char *goldDir, const char *commonDir,
                      const char *userName, const char *password, std::unique_ptr<Session> *session,
                      std::string *reason)
{
    try {
        LoggedIn loggedIn = logIn(sysDir, goldDir, commonDir, userName, password);
        session->reset(new Session(std::move(loggedIn.database), std::move(loggedIn.user),
                                   std::move(loggedIn.fields)));
        reason->clear();
        return 0;
    } catch (const LoadFailure &failure) {
        *reason = failure.reason;
        return failure.code;
    }
}

int32_t Session::execute(std::string_view callName, Container &container)
{
    m_database->trimCache();
    if (equalsIgnoreCase(callName, "WriteContact"))
        return m_contacts.writeContact(container);
    if (equalsIgnoreCase(callName, "WriteContactNotes"))
        return m_contacts.writeContactNotes(container);
    if (equalsIgnoreCase(callName, "CreateContactGroup"))
        return m_groups.createContactGroup(container);
    if (equalsIgnoreCase(callName, "AddContactGrpMembers"))
        return m_groups.addContactGroupMembers(container);
    return kExecUnknownCall;
}

} // namespace gm7s32
