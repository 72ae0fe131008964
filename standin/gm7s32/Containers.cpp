#include "Containers.h"

#include "Text.h"

#include <limits>

namespace gm7s32 {

Container::Container(const Container &other)
{
    *this = other;
}

Container &Container::operator=(const Container &other)
{
    if (this == &other)
        return *this;
    std::vector<Entry> copy;
    copy.reserve(other.m_entries.size());
    for (const Entry &entry : other.m_entries) {
        copy.push_back({entry.name, entry.text,
                        entry.nested ? std::make_unique<Container>(*entry.nested) : nullptr});
    }
    m_entries = std::move(copy);
    return *this;
}

Container::Entry &Container::entryFor(std::string_view name)
{
    for (Entry &entry : m_entries) {
        if (equalsIgnoreCase(entry.name, name))
            return entry;
    }
    m_entries.push_back({std::string(name), {}, nullptr});
    return m_entries.back();
}

void Container::set(std::string_view name, std::string_view value)
{
    Entry &entry = entryFor(name);
    entry.text.assign(value);
    entry.nested.reset();
}

void Container::setNested(std::string_view name, const Container &nested)
{
    // Copy before touching this container: nested may be this very container.
    auto copy = std::make_unique<Container>(nested);
    Entry &entry = entryFor(name);
    entry.text.clear();
    entry.nested = std::move(copy);
}

const Container::Entry *Container::find(std::string_view name) const
{
    for (const Entry &entry : m_entries) {
        if (equalsIgnoreCase(entry.name, name))
            return &entry;
    }
    return nullptr;
}

int32_t ContainerRegistry::create()
{
    // Handles count up; only after the whole positive range is used do they
    // wrap and take the first free number.
    constexpr int32_t last = std::numeric_limits<int32_t>::max();
    for (std::size_t tried = 0; m_containers.count(m_next) != 0; ++tried) {
        if (tried > m_containers.size())
            return -1;
        m_next = m_next == last ? 1 : m_next + 1;
    }
    const int32_t handle = m_next;
    m_containers.emplace(handle, Container());
    m_next = handle == last ? 1 : handle + 1;
    return handle;
}

Container *ContainerRegistry::find(int32_t handle)
{
    const auto it = m_containers.find(handle);
    return it == m_containers.end() ? nullptr : &it->second;
}

bool ContainerRegistry::remove(int32_t handle)
{
    return m_containers.erase(handle) != 0;
}

} // namespace gm7s32
