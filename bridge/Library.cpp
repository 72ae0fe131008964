#include "bridge/Library.h"

#include <cstring>

#ifdef _WIN32
#include <windows.h>
#else
#include <climits>
#include <dlfcn.h>
#include <unistd.h>
#endif

namespace bridge {

namespace {

#ifdef _WIN32
std::wstring wide(const std::string &utf8)
{
    const int size =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring text(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), text.data(), size);
    return text;
}

std::string systemMessage(DWORD error)
{
    char *text = nullptr;
    const DWORD size = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, error, 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string message = size && text ? std::string(text, size) : std::string();
    LocalFree(text);
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r'))
        message.pop_back();
    return message + " (error " + std::to_string(error) + ")";
}
#else
// A bare name means the copy beside the bridge first, as Windows looks in the
// program's directory first; otherwise the system's search.
std::string besideTheBridge(const std::string &name)
{
    if (name.find('/') != std::string::npos)
        return name;
    char self[PATH_MAX];
    const ssize_t length = readlink("/proc/self/exe", self, sizeof self - 1);
    if (length <= 0)
        return name;
    std::string path(self, static_cast<std::size_t>(length));
    path = path.substr(0, path.rfind('/') + 1) + name;
    return access(path.c_str(), R_OK) == 0 ? path : name;
}
#endif

} // namespace

std::string Library::defaultName()
{
#ifdef _WIN32
    return "gm7s32.dll";
#else
    return "libgm7s32.so";
#endif
}

Library::Library(std::string nameOrPath)
    : m_nameOrPath(std::move(nameOrPath))
{}

Library::~Library()
{
    // The library stays loaded until the process ends, as in the program:
    // unloading GoldMine's library mid-process is not something it expects.
}

void *Library::resolve(const char *name)
{
    if (!m_loadTried) {
        m_loadTried = true;
#ifdef _WIN32
        // The current directory is no place to pick up a library from.
        SetDllDirectoryW(L"");
        m_handle = LoadLibraryW(wide(m_nameOrPath).c_str());
        if (!m_handle)
            m_reason = "Cannot load " + m_nameOrPath + ": " + systemMessage(GetLastError());
#else
        m_handle = dlopen(besideTheBridge(m_nameOrPath).c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!m_handle) {
            const char *error = dlerror();
            m_reason = error ? error : "Cannot load " + m_nameOrPath;
        }
#endif
    }
    if (!m_handle)
        return nullptr;
#ifdef _WIN32
    const FARPROC function = GetProcAddress(static_cast<HMODULE>(m_handle), name);
    void *address = nullptr;
    static_assert(sizeof function == sizeof address);
    std::memcpy(&address, &function, sizeof address);
    if (!address)
        m_reason = std::string("Cannot find ") + name + " in " + m_nameOrPath + ": " +
                   systemMessage(GetLastError());
#else
    dlerror();
    void *address = dlsym(m_handle, name);
    if (!address) {
        const char *error = dlerror();
        m_reason = error ? error : std::string("Cannot find ") + name;
    }
#endif
    return address;
}

} // namespace bridge
