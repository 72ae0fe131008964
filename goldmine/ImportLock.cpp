#include "goldmine/ImportLock.h"

#include "goldmine/Startup.h"

#include <QDateTime>
#include <QFile>
#include <QStringList>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace goldmine {

ImportLock::~ImportLock() = default;

namespace {

QString systemError(int error)
{
    return QString::fromLocal8Bit(std::strerror(error));
}

class FileImportLock : public ImportLock
{
public:
    FileImportLock(QString path, QString holder)
        : m_path(std::move(path))
        , m_holder(std::move(holder))
    {}
    ~FileImportLock() override { release(); }
    FileImportLock(const FileImportLock &) = delete;
    FileImportLock &operator=(const FileImportLock &) = delete;

    Result<void> acquire() override
    {
        release();
        const QByteArray native = QFile::encodeName(m_path);
        int fd = ::open(native.constData(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0644);
        if (fd < 0 && errno == EACCES)
            fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0) {
            return Error{QStringLiteral("The import lock %1 cannot be opened: %2")
                             .arg(m_path, systemError(errno))};
        }
        if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            const int error = errno;
            const QString holderNote = readNote(fd);
            ::close(fd);
            if (error != EWOULDBLOCK) {
                return Error{QStringLiteral("The import lock %1 cannot be taken: %2")
                                 .arg(m_path, systemError(error))};
            }
            return Error{QStringLiteral("Another import into this GoldMine database is "
                                        "running (%1).")
                             .arg(holderNote),
                         ErrorCode::ImportRunning};
        }
        m_fd = fd;
        writeNote(m_holder);
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
    void writeNote(const QString &holder)
    {
        const QByteArray note =
            (holder + QLatin1Char('\n') + QDateTime::currentDateTime().toString(Qt::ISODate) +
             QLatin1Char('\n'))
                .toUtf8();
        if (::ftruncate(m_fd, 0) != 0 ||
            ::pwrite(m_fd, note.constData(), static_cast<size_t>(note.size()), 0) < 0) {
            // A read-only lock file still locks; the refused run then names nobody.
        }
    }

    // "USER, since TIME" from the holder's note.
    static QString readNote(int fd)
    {
        char buffer[512];
        const ssize_t got = ::pread(fd, buffer, sizeof buffer, 0);
        const QStringList lines =
            QString::fromUtf8(buffer, got > 0 ? static_cast<qsizetype>(got) : 0)
                .split(QLatin1Char('\n'));
        const QString holder = lines.value(0).trimmed();
        const QDateTime since = QDateTime::fromString(lines.value(1).trimmed(), Qt::ISODate);
        if (holder.isEmpty() || !since.isValid())
            return QStringLiteral("another user, since a moment ago");
        const QString time = since.date() == QDate::currentDate()
                                 ? since.toString(QStringLiteral("HH:mm"))
                                 : since.toString(QStringLiteral("yyyy-MM-dd HH:mm"));
        return holder + QStringLiteral(", since ") + time;
    }

    QString m_path;
    QString m_holder;
    int m_fd = -1;
};

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
    return std::make_unique<FileImportLock>(settings.sSysDir + QStringLiteral("/ruvelo-import.") +
                                                fileNamePart(settings.sCommonDir) +
                                                QStringLiteral(".lock"),
                                            settings.sUserName);
}

} // namespace goldmine
