#include "goldmine/WriteResults.h"

namespace goldmine {

namespace {

// The business-logic calls' results as the API library documents them.
enum WriteResult : int32_t {
    NotLoaded = -1,
    BadContainer = -2,
    UnknownCall = -3,
    UnknownField = -4,
    ValueTooLong = -5,
    UnknownRecord = -6,
    UnknownGroup = -7,
    MissingValue = -8,
    // From here down the database failed, whatever the values.
    DatabaseError = -9,
    DatabaseBusy = -10,
    DatabaseReadOnly = -11,
    DatabaseFull = -12,
    DatabaseIoError = -13,
};

} // namespace

QString describeWriteResult(int32_t result)
{
    switch (result) {
    case NotLoaded:
        return QStringLiteral("the GoldMine API is not loaded");
    case BadContainer:
        return QStringLiteral("the request's container is unknown");
    case UnknownCall:
        return QStringLiteral("the call is unknown");
    case UnknownField:
        return QStringLiteral("a field is unknown");
    case ValueTooLong:
        return QStringLiteral("a value is longer than its field");
    case UnknownRecord:
        return QStringLiteral("the contact does not exist");
    case UnknownGroup:
        return QStringLiteral("the group does not exist");
    case MissingValue:
        return QStringLiteral("a value the call needs is missing");
    case DatabaseError:
        return QStringLiteral("the database failed");
    case DatabaseBusy:
        return QStringLiteral("another program keeps the database locked");
    case DatabaseReadOnly:
        return QStringLiteral("the database cannot be written");
    case DatabaseFull:
        return QStringLiteral("the database or its disk is full");
    case DatabaseIoError:
        return QStringLiteral("the database's files cannot be read or written");
    default:
        return {};
    }
}

bool isDatabaseFailure(int32_t result)
{
    return result == NotLoaded || (result <= DatabaseError && result >= DatabaseIoError);
}

QString failedCallText(const QString &call, int32_t result)
{
    const QString words = describeWriteResult(result);
    return QStringLiteral(" (%1 failed with GoldMine result %2%3).")
        .arg(call)
        .arg(result)
        .arg(words.isEmpty() ? QString() : QStringLiteral(": ") + words);
}

} // namespace goldmine
