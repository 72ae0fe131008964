// Windows implementation of Platform.h.
//
// A new store's folder and files are made with the access the folder they go
// in grants (typically the user's own profile); they are not narrowed to the
// owner alone as on POSIX systems.
#include "Platform.h"

#include <windows.h>

namespace gm7s32 {

namespace {

std::string failure(const std::filesystem::path &path, const char *what)
{
    return std::string(what) + " " + path.string() + ": error " + std::to_string(GetLastError());
}

} // namespace

std::tm localTime(std::time_t seconds)
{
    std::tm local{};
    localtime_s(&local, &seconds);
    return local;
}

std::string sqliteFileName(const std::filesystem::path &path)
{
    const std::wstring wide = path.wstring();
    const int size = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string utf8(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), utf8.data(), size,
                        nullptr, nullptr);
    return utf8;
}

void wipeMemory(void *data, std::size_t size)
{
    SecureZeroMemory(data, size);
}

bool makePrivateDirectory(const std::filesystem::path &directory, std::string *error)
{
    std::error_code code;
    if (directory.has_parent_path())
        std::filesystem::create_directories(directory.parent_path(), code);
    if (!CreateDirectoryW(directory.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        *error = failure(directory, "cannot create the directory");
        return false;
    }
    if (!std::filesystem::is_directory(directory, code)) {
        *error = directory.string() + " is not a directory";
        return false;
    }
    return true;
}

NewFile createPrivateFile(const std::filesystem::path &path, std::string *error)
{
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        if (GetLastError() == ERROR_FILE_EXISTS || GetLastError() == ERROR_ALREADY_EXISTS)
            return NewFile::Exists;
        *error = failure(path, "cannot create");
        return NewFile::Failed;
    }
    CloseHandle(file);
    return NewFile::Created;
}

} // namespace gm7s32
