#pragma once

#include "util/Result.h"

namespace goldmine {

enum class ErrorCode {
    Failed,            // the request or conversation failed
    DirectoryMissing,  // the DDE socket directory does not exist (no server yet)
    DirectoryInsecure, // it exists but another user could reach into it
    DirectoryCannotCreate,
    ImportRunning, // another import holds the database's import lock
};

using Error = util::Error<ErrorCode>;
template <typename T> using Result = util::Result<T, ErrorCode>;

} // namespace goldmine
