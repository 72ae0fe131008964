#pragma once

#include "util/Result.h"

namespace import {

enum class ErrorCode { Failed };

using Error = util::Error<ErrorCode>;
template <typename T> using Result = util::Result<T, ErrorCode>;

} // namespace import
