#pragma once

#include <QString>

#include <cstdint>

namespace goldmine {

// The values the import and the record lookups share from row to row.
struct ImportState
{
    QString sRecid;      // record id of the current row's contact
    QString sEmail;      // e-mail address of the current row, spaces removed
    QString sAccountno;  // account number of the current row's contact
    int32_t lResult = 0; // result of the latest GoldMine call that sets or executes
    int32_t lGMPtr = 0;  // contact container (and the group request)
    int32_t lGMPtr2 = 0; // member container
    int32_t lGMPtr3 = 0; // membership request
    int32_t lGMPtr4 = 0; // notes request
};

} // namespace goldmine
