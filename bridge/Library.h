// The GoldMine API library as gm7bridge loads it: by name or path, once, with
// each function bound at its first call.
#pragma once

#include <string>

namespace bridge {

class Library
{
public:
    // The name the system's search finds: "gm7s32.dll" on Windows,
    // "libgm7s32.so" elsewhere.
    static std::string defaultName();

    explicit Library(std::string nameOrPath);
    ~Library();
    Library(const Library &) = delete;
    Library &operator=(const Library &) = delete;

    // Binds a function at its first use; null when the library does not load
    // or lacks the function (reason() then says why).
    template <typename Function> Function bind(Function &slot, const char *name)
    {
        if (!slot)
            slot = reinterpret_cast<Function>(resolve(name));
        return slot;
    }

    // True when the library could not be loaded (known after the first bind).
    bool failedToLoad() const { return m_loadTried && !m_handle; }
    const std::string &reason() const { return m_reason; }

private:
    void *resolve(const char *name);

    std::string m_nameOrPath;
    void *m_handle = nullptr;
    bool m_loadTried = false;
    std::string m_reason;
};

} // namespace bridge
