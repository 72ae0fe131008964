// Name/value containers handed out by handle.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace gm7s32 {

// Named values in the order first set; names compare without regard to case
// and a later set of a name replaces its value. A value is either text or a
// nested container. A nested container is copied when it is appended, so the
// caller may empty and reuse the original at once.
class Container
{
public:
    struct Entry
    {
        std::string name;
        std::string text;
        std::unique_ptr<Container> nested;
    };

    Container() = default;
    Container(const Container &other);
    Container &operator=(const Container &other);
    Container(Container &&) = default;
    Container &operator=(Container &&) = default;

    void set(std::string_view name, std::string_view value);
    void setNested(std::string_view name, const Container &nested);
    const Entry *find(std::string_view name) const;
    void clear() { m_entries.clear(); }
    const std::vector<Entry> &entries() const { return m_entries; }

private:
    Entry &entryFor(std::string_view name);

    std::vector<Entry> m_entries;
};

// Containers by handle: small positive numbers, not reused while the
// container they named may still be remembered by a caller.
class ContainerRegistry
{
public:
    int32_t create();
    Container *find(int32_t handle);
    bool remove(int32_t handle);

private:
    std::unordered_map<int32_t, Container> m_containers;
    int32_t m_next = 1;
};

} // namespace gm7s32
