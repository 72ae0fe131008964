#pragma once

#include "util/Result.h"

#include <QString>
#include <QStringList>

// Read-only views of a store's databases for people and tests: what an import
// left behind.
namespace gmclient {

enum class ErrorCode { Failed };
using Error = util::Error<ErrorCode>;
template <typename T> using Result = util::Result<T, ErrorCode>;

// The database file the store's configuration gives for alias (e.g.
// "Common:"), from the [Aliases] section of DIR/gm7s32.ini.
Result<QString> databaseFor(const QString &storeDirectory, const QString &alias);

// The store's first user, the one "init" created.
Result<QString> firstUserName(const QString &storeDirectory);

// One line per contact: ACCOUNTNO, RECID, COMPANY, CONTACT, e-mail address
// (the whole address, also where it runs on beyond the reference field),
// PHONE1, CITY, separated by TAB, in the order the contacts were written.
Result<QStringList> contactLines(const QString &storeDirectory);

// One line per group member: group number (the header's RECID), group name,
// group code, the member's ACCOUNTNO and its contact name. A group without
// members gives one line whose member fields are empty.
Result<QStringList> groupLines(const QString &storeDirectory);

// Makes a value safe for a TAB-separated line: backslash, TAB, CR and LF
// become \\, \t, \r and \n.
QString escapeField(const QString &value);

} // namespace gmclient
