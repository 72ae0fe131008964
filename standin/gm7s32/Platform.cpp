// POSIX implementation.
#include "Platform.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace gm7s32 {

namespace {

constexpr mode_t kOwnerOnlyDirectory = S_IRWXU;
constexpr mode_t kOwnerOnlyFile = S_IRUSR | S_IWUSR;

std::string failure(const std::filesystem::path &path, const char *what)
{
    return std::string(what) + " " + path.string() + ": " + std::strerror(errno);
}

} // namespace

std::tm localTime(std::time_t seconds)
{
    std::tm local{};
    localtime_r(&seconds, &local);
    return local;
}

std::string sqliteFileName(const std::filesystem::path &path)
{
    return path.string();
}

void wipeMemory(void *data, std::size_t size)
{
    explicit_bzero(data, size);
}

bool makePrivateDirectory(const std::filesystem::path &directory, std::string *error)
{
    std::error_code code;
    if (directory.has_parent_path())
        std::filesystem::create_directories(directory.parent_path(), code);
    const bool made = mkdir(directory.c_str(), kOwnerOnlyDirectory) == 0;
    if (!made && errno != EEXIST) {
        *error = failure(directory, "cannot create the directory");
        return false;
    }
    struct stat info;
    if (lstat(directory.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) {
        *error = directory.string() + " is not a directory";
        return false;
    }
    // mkdir's mode passed through the creation mask. A folder that already
    // holds other things keeps the mode its owner chose.
    if (!made && !std::filesystem::is_empty(directory, code))
        return true;
    if ((info.st_mode & 07777) != kOwnerOnlyDirectory &&
        chmod(directory.c_str(), kOwnerOnlyDirectory) != 0) {
        *error = failure(directory, "cannot make private the directory");
        return false;
    }
    return true;
}

NewFile createPrivateFile(const std::filesystem::path &path, std::string *error)
{
    const int fd =
        open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, kOwnerOnlyFile);
    if (fd < 0) {
        if (errno == EEXIST)
            return NewFile::Exists;
        *error = failure(path, "cannot create");
        return NewFile::Failed;
    }
    const bool privateNow = fchmod(fd, kOwnerOnlyFile) == 0;
    if (!privateNow)
        *error = failure(path, "cannot make private");
    close(fd);
    if (!privateNow) {
        unlink(path.c_str());
        return NewFile::Failed;
    }
    return NewFile::Created;
}

} // namespace gm7s32
