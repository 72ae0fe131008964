// Splitting the string literals out of SQL text.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace gm7s32 {

// sql with each string literal replaced by a numbered parameter (?1, ?2, ...)
// and the literals' values in order ('' inside a literal becomes one
// apostrophe). Queries that differ only in their literals then share one
// prepared statement. Nothing when sql already uses parameters or has an
// unterminated literal, quoted name or comment; then it is prepared as it is.
struct ParameterizedSql
{
    std::string text;
    std::vector<std::string> literals;
};

std::optional<ParameterizedSql> parameterizeLiterals(std::string_view sql);

} // namespace gm7s32
