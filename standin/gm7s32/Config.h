// The store's configuration file, "gm7s32.ini" in the system directory.
//
//   ; comment lines start with ';' or '#'
//   [Aliases]
//   GoldMine:=goldmine.db
//   Common:=common.db
//
// Each line of the [Aliases] section maps an alias (text before the first
// '=', blanks around it ignored, compared without regard to case) to a SQLite
// database file; a relative file name is taken from the system directory.
// Other sections and unknown lines are ignored, and so is a UTF-8 byte-order
// mark at the start.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace gm7s32 {

inline constexpr const char *kConfigFileName = "gm7s32.ini";

class StoreConfig
{
public:
    // Reads directory/gm7s32.ini; nothing when it is missing or unreadable.
    static std::optional<StoreConfig> read(const std::filesystem::path &directory);

    // The database file for alias, or nothing when the alias is unknown.
    std::optional<std::filesystem::path> databaseFor(const std::string &alias) const;

    void addAlias(const std::string &alias, const std::string &fileName);
    bool write(const std::filesystem::path &directory, std::string *error) const;

private:
    std::filesystem::path m_directory;
    std::vector<std::pair<std::string, std::string>> m_aliases;
};

} // namespace gm7s32
