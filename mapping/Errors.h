#pragma once

#include "util/Result.h"

namespace mapping {

enum class ErrorCode {
    Failed,
    Malformed, // a mapping argument or profile that cannot be read
};

using Error = util::Error<ErrorCode>;
template <typename T> using Result = util::Result<T, ErrorCode>;

} // namespace mapping
