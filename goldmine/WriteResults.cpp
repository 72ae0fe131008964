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
    DatabaseError = -9,
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
    default:
        return {};
    }
}

bool isDatabaseFailure(int32_t result)
{
    return result == DatabaseError || result == NotLoaded;
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
