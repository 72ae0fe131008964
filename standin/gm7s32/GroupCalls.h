// The business calls for contact groups: "CreateContactGroup" and
// "AddContactGrpMembers".
#pragma once

#include <cstdint>
#include <string>

namespace gm7s32 {

class Container;
class Database;
class IdMaker;

class GroupCalls
{
public:
    GroupCalls(Database &database, const std::string &user, IdMaker &ids);

    // Creates a group header; its number is left in the container as GroupNo.
    int32_t createContactGroup(Container &container);
    // Adds each contact of the nested Members container to group GroupNo;
    // a contact already in the group is not added twice.
    int32_t addContactGroupMembers(Container &container);

private:
    Database &m_database;
    const std::string &m_user;
    IdMaker &m_ids;
};

} // namespace gm7s32
