#pragma once

#include "mapping/Errors.h"
#include "mapping/MappingArgument.h"

#include <QList>
#include <QString>
#include <QStringList>

namespace mapping {

class EntryList;

// A saved mapping for next month's file: the entries, the e-mail column and
// the options, in a small JSON file a person can read and edit:
//   {"format": "ruvelo-mapping-profile", "version": 1,
//    "emailColumn": "Email", "match": true, "updateMatches": false,
//    "group": true, "groupName": "Fair",
//    "mappings": [{"column": "Company", "field": "COMPANY"},
//                 {"text": "Trade fair", "field": "SOURCE"}]}
struct Profile
{
    QString emailColumn;
    bool match = true;
    bool updateMatches = false;
    bool group = false;
    QString groupName;
    QList<MappingArgument> mappings;
};

Result<Profile> readProfile(const QString &path);
// Writes the whole file anew, or leaves an existing one as it was.
Result<void> writeProfile(const QString &path, const Profile &profile);

// The mappings of an entry list, column or fixed text each, in list order.
QList<MappingArgument> mappingsOf(const EntryList &entries);

// Which of a profile's mappings fit the workbook and GoldMine at hand.
struct ProfileFit
{
    QList<MappingArgument> taken;
    QStringList refused; // one sentence per mapping left out, saying why
};

// A column mapping needs its column among columns; every mapping needs its
// field among fields (compared without regard to case, as GoldMine does).
// The e-mail column must be among columns too (else it is refused as well).
ProfileFit fitProfile(const Profile &profile, const QStringList &columns,
                      const QStringList &fields);

} // namespace mapping
