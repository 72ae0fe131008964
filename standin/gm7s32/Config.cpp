#include "Config.h"

#include "Text.h"

#include <fstream>
#include <string_view>

namespace gm7s32 {

namespace {

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return {};
    const auto last = text.find_last_not_of(" \t\r\n");
    return text.substr(first, last - first + 1);
}

} // namespace

std::optional<StoreConfig> StoreConfig::read(const std::filesystem::path &directory)
{
    std::ifstream file(directory / kConfigFileName);
    if (!file)
        return std::nullopt;
    StoreConfig config;
    config.m_directory = directory;
    std::string section;
    std::string line;
    bool first = true;
    while (std::getline(file, line)) {
        // Windows editors put a UTF-8 byte-order mark before the first line.
        if (first && line.starts_with(kUtf8ByteOrderMark))
            line.erase(0, kUtf8ByteOrderMark.size());
        first = false;
        line = trimmed(line);
        if (line.empty() || line[0] == ';' || line[0] == '#')
            continue;
        if (line.front() == '[' && line.back() == ']') {
            section = trimmed(line.substr(1, line.size() - 2));
            continue;
        }
        const auto equals = line.find('=');
        if (!equalsIgnoreCase(section, "Aliases") || equals == std::string::npos)
            continue;
        const std::string alias = trimmed(line.substr(0, equals));
        const std::string fileName = trimmed(line.substr(equals + 1));
        if (!alias.empty() && !fileName.empty())
            config.m_aliases.emplace_back(alias, fileName);
    }
    if (file.bad())
        return std::nullopt;
    return config;
}

std::optional<std::filesystem::path> StoreConfig::databaseFor(const std::string &alias) const
{
    for (const auto &[name, fileName] : m_aliases) {
        if (equalsIgnoreCase(name, alias)) {
            const std::filesystem::path path(fileName);
            return path.is_absolute() ? path : m_directory / path;
        }
    }
    return std::nullopt;
}

void StoreConfig::addAlias(const std::string &alias, const std::string &fileName)
{
    m_aliases.emplace_back(alias, fileName);
}

bool StoreConfig::write(const std::filesystem::path &directory, std::string *error) const
{
    const std::filesystem::path path = directory / kConfigFileName;
    std::ofstream file(path, std::ios::out | std::ios::trunc);
    file << "; GoldMine API stand-in store: alias = SQLite database file\n[Aliases]\n";
    for (const auto &[alias, fileName] : m_aliases)
        file << alias << '=' << fileName << '\n';
    file.flush();
    if (!file) {
        if (error)
            *error = "cannot write " + path.string();
        return false;
    }
    return true;
}

} // namespace gm7s32
