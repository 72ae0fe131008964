#include "goldmine/DdeProtocol.h"

#include <QDir>
#include <QFile>
#include <QtEndian>

#include <cerrno>
#include <cstring>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

namespace goldmine::dde {

QByteArray frame(const QByteArray &payload)
{
    QByteArray bytes(kHeaderSize, '\0');
    qToBigEndian(static_cast<quint32>(payload.size()), bytes.data());
    bytes.append(payload);
    return bytes;
}

FrameState takeFrame(QByteArray &buffer, QByteArray *payload)
{
    if (buffer.size() < kHeaderSize)
        return FrameState::Incomplete;
    const quint32 length = qFromBigEndian<quint32>(buffer.constData());
    if (length > static_cast<quint32>(kMaxFrameSize))
        return FrameState::TooLarge;
    const qsizetype total = kHeaderSize + static_cast<qsizetype>(length);
    if (buffer.size() < total)
        return FrameState::Incomplete;
    *payload = buffer.mid(kHeaderSize, static_cast<qsizetype>(length));
    buffer.remove(0, total);
    return FrameState::Complete;
}

QByteArray encodeRequest(const QString &item)
{
    return frame(item.toUtf8());
}

QString decodeRequest(const QByteArray &payload)
{
    return QString::fromUtf8(payload);
}

QByteArray encodeAnswer(AnswerStatus status, const QString &text)
{
    QByteArray payload(1, static_cast<char>(status));
    payload.append(text.toUtf8());
    return frame(payload);
}

Result<Answer> decodeAnswer(const QByteArray &payload)
{
    if (payload.isEmpty())
        return Error{QStringLiteral("empty answer")};
    const char status = payload.at(0);
    if (status != static_cast<char>(AnswerStatus::Ok) &&
        status != static_cast<char>(AnswerStatus::Error))
        return Error{QStringLiteral("unknown answer status %1").arg(int(status))};
    return Answer{static_cast<AnswerStatus>(status), QString::fromUtf8(payload.mid(1))};
}

namespace {

QString systemError()
{
    return QString::fromLocal8Bit(strerror(errno));
}

bool isPrivateDirectoryOfOurs(const QString &path)
{
    struct stat info;
    return lstat(QFile::encodeName(path).constData(), &info) == 0 && S_ISDIR(info.st_mode) &&
           info.st_uid == getuid() && (info.st_mode & (S_IRWXG | S_IRWXO)) == 0;
}

QString homeDirectory()
{
    QString fromEnvironment = qEnvironmentVariable("HOME");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    const passwd *entry = getpwuid(getuid());
    return entry && entry->pw_dir ? QFile::decodeName(entry->pw_dir) : QString();
}

Result<QString> directoryPath()
{
    const QString runtimeDir = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtimeDir.isEmpty())
        return runtimeDir + QStringLiteral("/ruvelo-dde");
    return socketDirectoryWithoutRuntimeDir(
        QStringLiteral("/run/user/") + QString::number(getuid()), homeDirectory());
}

Result<void> checkPrivate(const QString &path, const struct stat &info)
{
    if (!S_ISDIR(info.st_mode))
        return Error{path + QStringLiteral(" is not a folder"), ErrorCode::DirectoryInsecure};
    if (info.st_uid != getuid())
        return Error{QStringLiteral("the folder ") + path +
                         QStringLiteral(" belongs to another user"),
                     ErrorCode::DirectoryInsecure};
    if ((info.st_mode & (S_IRWXG | S_IRWXO)) != 0)
        return Error{QStringLiteral("the folder ") + path +
                         QStringLiteral(" is open to other users"),
                     ErrorCode::DirectoryInsecure};
    return {};
}

} // namespace

Result<QString> socketDirectoryWithoutRuntimeDir(const QString &runUserDirectory,
                                                 const QString &home)
{
    if (isPrivateDirectoryOfOurs(runUserDirectory))
        return runUserDirectory + QStringLiteral("/ruvelo-dde");
    if (home.isEmpty())
        return Error{QStringLiteral("neither XDG_RUNTIME_DIR nor a home folder is known"),
                     ErrorCode::DirectoryCannotCreate};
    struct stat info;
    if (stat(QFile::encodeName(home).constData(), &info) != 0)
        return Error{QStringLiteral("the home folder ") + home + QStringLiteral(": ") +
                         systemError(),
                     ErrorCode::DirectoryCannotCreate};
    if (info.st_uid != getuid() || (info.st_mode & (S_IWGRP | S_IWOTH)) != 0)
        return Error{QStringLiteral("the home folder ") + home +
                         QStringLiteral(" is not this user's alone (another user could make "
                                        "the DDE folder in it)"),
                     ErrorCode::DirectoryInsecure};
    return home + QStringLiteral("/.ruvelo-dde");
}

Result<QString> socketDirectory(bool create)
{
    Result<QString> chosen = directoryPath();
    if (!chosen)
        return chosen.error();
    const QString path = *chosen;
    const QByteArray native = QFile::encodeName(path);
    struct stat info;
    if (lstat(native.constData(), &info) != 0) {
        if (errno != ENOENT)
            return Error{QStringLiteral("the folder ") + path +
                             QStringLiteral(" cannot be read: ") + systemError(),
                         ErrorCode::DirectoryInsecure};
        if (!create)
            return Error{path + QStringLiteral(" does not exist"), ErrorCode::DirectoryMissing};
        // Another server may create it at the same moment; the checks below
        // decide either way.
        if (mkdir(native.constData(), S_IRWXU) != 0 && errno != EEXIST)
            return Error{QStringLiteral("cannot create the folder ") + path + QStringLiteral(": ") +
                             systemError(),
                         ErrorCode::DirectoryCannotCreate};
        if (lstat(native.constData(), &info) != 0)
            return Error{QStringLiteral("cannot create the folder ") + path,
                         ErrorCode::DirectoryCannotCreate};
    }
    if (Result<void> checked = checkPrivate(path, info); !checked)
        return checked.error();
    return path;
}

QString socketName(const QString &application, const QString &topic)
{
    return application + QLatin1Char('.') + topic;
}

bool peerHasUid(int fd, uid_t uid)
{
    struct ucred credentials;
    socklen_t length = sizeof credentials;
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &credentials, &length) != 0 ||
        length != sizeof credentials)
        return false;
    return credentials.uid == uid;
}

bool peerIsSameUser(int fd)
{
    return peerHasUid(fd, getuid());
}

} // namespace goldmine::dde
