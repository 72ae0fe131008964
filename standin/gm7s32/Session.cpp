#include "Session.h"

#include "Database.h"
#include "Login.h"
#include "Store.h"
#include "Text.h"

namespace gm7s32 {

Session::Session(std::unique_ptr<Database> database, std::string user)
    : m_database(std::move(database))
    , m_user(std::move(user))
    , m_fields(loadFields(m_database->handle()))
    , m_cursors(*m_database)
    , m_contacts(*m_database, m_user, m_fields, m_ids)
    , m_groups(*m_database, m_user, m_ids)
{}

Session::~Session() = default;

int32_t Session::open(const char *sysDir, const char *goldDir, const char *commonDir,
                      const char *userName, const char *password, std::unique_ptr<Session> *session)
{
    if (!session)
        return kLoadCannotStart;
    LoggedIn loggedIn;
    const int32_t result = logIn(sysDir, goldDir, commonDir, userName, password, &loggedIn);
    if (result < 0)
        return result;
    session->reset(new Session(std::move(loggedIn.database), std::move(loggedIn.user)));
    return 0;
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
