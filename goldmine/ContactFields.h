#pragma once

#include "goldmine/Lookups.h"

#include <QString>
#include <QStringList>

#include <optional>

namespace goldmine {

// The contact fields GoldMine offers for mapping, as the mapping window lists
// them: the field-list query's names, in its order, then "Website".
extern const QString FieldListSql;
extern const QString WebsiteField;

// Runs the field-list query; nothing when it failed (its message has been
// shown under failureTitle). "Website" is not part of the answer.
std::optional<QStringList> ReadContactFieldNames(GoldMineApi &api, util::Prompts &prompts,
                                                 const QString &failureTitle,
                                                 const LetEventsRun &letEventsRun = {});

// How many characters a contact field holds: the field's length in GoldMine's
// field definitions, the e-mail record's room for "Email" and "Website", and 0
// (no limit) for a memo. Nothing when GoldMine could not say.
std::optional<qsizetype> ReadFieldWidth(GoldMineApi &api, util::Prompts &prompts,
                                        const QString &field, const QString &failureTitle);

} // namespace goldmine
