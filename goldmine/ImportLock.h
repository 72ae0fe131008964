#pragma once

#include "goldmine/Errors.h"

#include <QString>

#include <memory>

namespace goldmine {

struct ConnectionSettings;

// One import at a time per GoldMine database: two runs matching the same
// addresses at once would each find nothing and both write the contact.
class ImportLock
{
public:
    virtual ~ImportLock();

    // Takes the lock for the whole run, noting the GoldMine user and the time
    // for whoever is refused. A lock another run holds gives
    // ErrorCode::ImportRunning with "Another import into this GoldMine
    // database is running (USER, since TIME)."
    virtual Result<void> acquire() = 0;
    virtual void release() = 0;
};

// The lock for the database the settings name, held for settings.sUserName. Here: a file in
// GoldMine's system directory, named after the contact database's alias and held with flock(2),
// which the kernel drops however the process ends, so a killed run leaves no stale lock behind.
std::unique_ptr<ImportLock> makeImportLock(const ConnectionSettings &settings);

} // namespace goldmine
