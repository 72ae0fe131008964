// Creating a store and the result codes of the GoldMine API stand-in.
#pragma once

#include "goldmine/gm7s32.h"

#include <cstdint>
#include <string>

namespace gm7s32 {

// Creates a new, empty store in directory (created if missing; fails if it
// already holds a store): configuration file, the GoldMine and common
// databases with their schema, and one user with that password (hashed).
// Returns false and fills *error on failure.
GMW_EXPORT bool createStore(const std::string &directory, const std::string &userName,
                            const std::string &password, std::string *error);

// The aliases the store answers to, e.g. "GoldMine:" and "Common:".
GMW_EXPORT std::string goldMineAlias();
GMW_EXPORT std::string commonAlias();

// GMW_LoadBDE results.
inline constexpr int32_t kLoadCannotStart = -1;
inline constexpr int32_t kLoadUserRefused = -4;
inline constexpr int32_t kLoadNoCalTable = -5;
inline constexpr int32_t kLoadNoContactTable = -6;

// GMW_DS_Query failures (a query handle is positive).
inline constexpr int32_t kQueryNotLoaded = -1;
inline constexpr int32_t kQueryInvalid = -2; // no text, or no statement in it
inline constexpr int32_t kQueryError = -3;   // does not compile: syntax, unknown table, ...
inline constexpr int32_t kQueryRefused = -4; // would write, holds several statements, reads hashes

// GMW_DS_Fetch failures.
inline constexpr int32_t kFetchBadHandle = -1;
inline constexpr int32_t kFetchBadArgument = -2;
inline constexpr int32_t kFetchBufferTooSmall = -3;
inline constexpr int32_t kFetchNotPrepared = -4; // a reading call without a sizing call
inline constexpr int32_t kFetchFailed = -5;      // the database failed while stepping

// Container calls and GMW_DS_Close.
inline constexpr int32_t kBadHandle = -1;
inline constexpr int32_t kBadArgument = -2;

// GMW_Execute failures, one per kind. From -1 to -8 the call or its values are
// at fault, and another call may well succeed.
inline constexpr int32_t kExecNotLoaded = -1;
inline constexpr int32_t kExecBadContainer = -2;
inline constexpr int32_t kExecUnknownCall = -3;
inline constexpr int32_t kExecUnknownField = -4;
inline constexpr int32_t kExecValueTooLong = -5;
inline constexpr int32_t kExecUnknownRecord = -6;
inline constexpr int32_t kExecUnknownGroup = -7;
inline constexpr int32_t kExecMissingValue = -8;
// From -9 down the database failed, whatever the values: the next call will
// most likely fail the same way. Nothing of the failed call was written.
inline constexpr int32_t kExecDatabaseError = -9;     // any failure not named below
inline constexpr int32_t kExecDatabaseBusy = -10;     // another program held the store locked
                                                      // past the five-second busy time-out
inline constexpr int32_t kExecDatabaseReadOnly = -11; // the store's files cannot be written
inline constexpr int32_t kExecDatabaseFull = -12;     // the disk or the database's size limit
inline constexpr int32_t kExecDatabaseIoError = -13;  // reading or writing a file failed, or
                                                      // the file is damaged

} // namespace gm7s32
