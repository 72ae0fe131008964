#include "SqlText.h"

namespace gm7s32 {

namespace {

bool isWordCharacter(char c)
{
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           static_cast<unsigned char>(c) >= 0x80;
}

// Index just past the quoted text that starts at sql[start] and ends with close
// (a doubled close character stands for itself), or npos when unterminated.
std::size_t skipQuoted(std::string_view sql, std::size_t start, char close,
                       std::string *value = nullptr)
{
    for (std::size_t i = start + 1; i < sql.size(); ++i) {
        if (sql[i] != close) {
            if (value)
                value->push_back(sql[i]);
            continue;
        }
        if (close != ']' && i + 1 < sql.size() && sql[i + 1] == close) {
            if (value)
                value->push_back(close);
            ++i;
            continue;
        }
        return i + 1;
    }
    return std::string_view::npos;
}

} // namespace

std::optional<ParameterizedSql> parameterizeLiterals(std::string_view sql)
{
    ParameterizedSql result;
    result.text.reserve(sql.size());
    std::size_t i = 0;
    while (i < sql.size()) {
        const char c = sql[i];
        const char next = i + 1 < sql.size() ? sql[i + 1] : '\0';
        std::size_t end = i + 1;
        if (c == '-' && next == '-') {
            end = sql.find('\n', i);
            end = end == std::string_view::npos ? sql.size() : end + 1;
        } else if (c == '/' && next == '*') {
            end = sql.find("*/", i + 2);
            if (end == std::string_view::npos)
                return std::nullopt;
            end += 2;
        } else if (c == '"' || c == '`' || c == '[') {
            end = skipQuoted(sql, i, c == '[' ? ']' : c);
            if (end == std::string_view::npos)
                return std::nullopt;
        } else if (c == '\'') {
            std::string value;
            end = skipQuoted(sql, i, '\'', &value);
            if (end == std::string_view::npos)
                return std::nullopt;
            // X'..' is a blob, not text: keep anything glued to a word as it is.
            if (i == 0 || !isWordCharacter(sql[i - 1])) {
                result.literals.push_back(std::move(value));
                result.text += '?';
                result.text += std::to_string(result.literals.size());
                i = end;
                continue;
            }
        } else if (c == '?' || c == ':' || c == '@' || c == '$') {
            return std::nullopt;
        }
        result.text.append(sql.substr(i, end - i));
        i = end;
    }
    return result;
}

} // namespace gm7s32
