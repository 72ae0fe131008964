#include "goldmine/ImportLock.h"

#include "goldmine/Startup.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStringList>
#include <QThread>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

namespace goldmine {

ImportLock::~ImportLock() = default;

namespace {

// The note a holder leaves in the lock file: who, and since when.
QByteArray holderNote(const QString &holder)
{
    return (holder + QLatin1Char('\n') + QDateTime::currentDateTime().toString(Qt::ISODate) +
            QLatin1Char('\n'))
        .toUtf8();
}

// "USER, since TIME" from a holder's note.
QString describeHolder(const QByteArray &note)
{
    const QStringList lines = QString::fromUtf8(note).split(QLatin1Char('\n'));
    const QString holder = lines.value(0).trimmed();
    const QDateTime since = QDateTime::fromString(lines.value(1).trimmed(), Qt::ISODate);
    if (holder.isEmpty() || !since.isValid())
        return QStringLiteral("another user, since a moment ago");
    const QString time = since.date() == QDate::currentDate()
                             ? since.toString(QStringLiteral("HH:mm"))
                             : since.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    return holder + QStringLiteral(", since ") + time;
}

Error anotherImport(const QByteArray &note)
{
    return Error{QStringLiteral("Another import into this GoldMine database is running (%1).")
                     .arg(describeHolder(note)),
                 ErrorCode::ImportRunning};
}

#ifdef Q_OS_WIN

// A file opened without sharing: no second process can open it while the
// first holds it, and Windows closes it however the holder ends.
class FileImportLock : public ImportLock
{
public:
    FileImportLock(QString path, QString holder)
        : m_path(std::move(path))
        , m_holder(std::move(holder))
    {}
    ~FileImportLock() override { FileImportLock::release(); }
    FileImportLock(const FileImportLock &) = delete;
    FileImportLock &operator=(const FileImportLock &) = delete;

    Result<void> acquire() override
    {
        release();
        const std::wstring path = QDir::toNativeSeparators(m_path).toStdWString();
        HANDLE file = CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            if (error == ERROR_SHARING_VIOLATION) {
                QFile other(m_path);
                return anotherImport(other.open(QIODevice::ReadOnly) ? other.read(512)
                                                                     : QByteArray());
            }
            return Error{QStringLiteral("The import lock %1 cannot be opened (error %2).")
                             .arg(m_path)
                             .arg(error)};
        }
        m_file = file;
        const QByteArray note = holderNote(m_holder);
        DWORD written = 0;
        SetEndOfFile(m_file);
        WriteFile(m_file, note.constData(), static_cast<DWORD>(note.size()), &written, nullptr);
        FlushFileBuffers(m_file);
        return {};
    }

    void release() override
    {
        if (m_file == INVALID_HANDLE_VALUE)
            return;
        SetFilePointer(m_file, 0, nullptr, FILE_BEGIN);
        SetEndOfFile(m_file);
        CloseHandle(m_file);
        m_file = INVALID_HANDLE_VALUE;
    }

private:
    QString m_path;
    QString m_holder;
    HANDLE m_file = INVALID_HANDLE_VALUE;
};

#else

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

// flock(2) on a file: the kernel drops it however the process ends.
class FileImportLock : public ImportLock
{
public:
    FileImportLock(QString path, QString holder)
        : m_path(std::move(path))
        , m_holder(std::move(holder))
    {}
    ~FileImportLock() override { FileImportLock::release(); }
    FileImportLock(const FileImportLock &) = delete;
    FileImportLock &operator=(const FileImportLock &) = delete;

    Result<void> acquire() override
    {
        release();
        const QByteArray native = QFile::encodeName(m_path);
        int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        // Somebody else's lock file can still be locked through a read-only open.
        if (fd < 0 && errno == EACCES)
            fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            return Error{QStringLiteral("The import lock %1 cannot be opened: %2")
                             .arg(m_path, systemError(errno))};
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            if (error != EWOULDBLOCK) {
                ::close(fd);
                return Error{QStringLiteral("The import lock %1 cannot be taken: %2")
                                 .arg(m_path, systemError(error))};
            }
            // The holder writes its note just after it takes the lock: a run
            // refused in between waits a moment for it, to name the holder.
            QByteArray note;
            for (int attempt = 0; attempt < 20; ++attempt) {
                char bytes[512];
                const ssize_t got = ::pread(fd, bytes, sizeof bytes, 0);
                note = QByteArray(bytes, got > 0 ? static_cast<qsizetype>(got) : 0);
                if (note.count('\n') >= 2)
                    break;
                QThread::msleep(10);
            }
            ::close(fd);
            return anotherImport(note);
        }
        m_fd = fd;
        const QByteArray note = holderNote(m_holder);
        if (::ftruncate(m_fd, 0) != 0 ||
            ::pwrite(m_fd, note.constData(), static_cast<size_t>(note.size()), 0) < 0) {
            // A read-only lock file still locks; the refused run then names nobody.
        }
        return {};
    }

    void release() override
    {
        if (m_fd < 0)
            return;
        // Emptied first, so nobody reads a finished run as the holder.
        if (::ftruncate(m_fd, 0) != 0) {
            // The lock goes with the descriptor all the same.
        }
        ::flock(m_fd, LOCK_UN);
        ::close(m_fd);
        m_fd = -1;
    }

private:
    QString m_path;
    QString m_holder;
    int m_fd = -1;
};

#endif

// The alias as part of a file name: letters and digits, anything else "_".
QString fileNamePart(const QString &alias)
{
    QString part;
    for (const QChar c : alias.toLower())
        part += (c.isLetterOrNumber() && c.unicode() < 128) ? c : QLatin1Char('_');
    return part;
}

} // namespace

std::unique_ptr<ImportLock> makeImportLock(const ConnectionSettings &settings)
{
    const QString name = QStringLiteral("ruvelo-import.") + fileNamePart(settings.sCommonDir);
    // In GoldMine's system directory, where every importer of the database
    // meets. When that folder is not to be seen from here (the API library
    // runs elsewhere, as with a bridge into another system), a lock of this
    // machine's, named after the folder, still keeps this machine's runs apart.
    if (QFileInfo(settings.sSysDir).isDir()) {
        return std::make_unique<FileImportLock>(settings.sSysDir + QLatin1Char('/') + name +
                                                    QStringLiteral(".lock"),
                                                settings.sUserName);
    }
    const QByteArray key =
        QCryptographicHash::hash(
            (settings.sSysDir + QLatin1Char('\n') + settings.sCommonDir).toUtf8(),
            QCryptographicHash::Sha256)
            .toHex()
            .left(16);
    return std::make_unique<FileImportLock>(QDir::tempPath() + QLatin1Char('/') + name +
                                                QLatin1Char('.') + QString::fromLatin1(key) +
                                                QStringLiteral(".lock"),
                                            settings.sUserName);
}

} // namespace goldmine
