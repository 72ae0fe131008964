#pragma once

#include "goldmine/Errors.h"

#include <QByteArray>
#include <QString>

#include <sys/types.h>

// The local-socket stand-in for a DDE conversation, shared by the client end
// (DdeLink) and the server end (gmclient serve).
//
// One socket per application and topic, inside a directory that only the user
// can enter. Every message is a frame: a 4-byte big-endian length, then that
// many bytes. A request's bytes are the item name in UTF-8; an answer's bytes
// are a status byte, then the value (or the error text) in UTF-8. Lengths keep
// values exactly as sent: leading and trailing spaces, empty values.
namespace goldmine::dde {

inline constexpr int kTimeoutMs = 5000;
inline constexpr qsizetype kMaxFrameSize = qsizetype{64} * 1024;
inline constexpr int kHeaderSize = 4;

enum class AnswerStatus : char { Ok = 0, Error = 1 };

QByteArray frame(const QByteArray &payload);

enum class FrameState { Incomplete, Complete, TooLarge };
// Takes one whole frame off the front of buffer into *payload. A length above
// kMaxFrameSize is refused before anything is read.
FrameState takeFrame(QByteArray &buffer, QByteArray *payload);

QByteArray encodeRequest(const QString &item);
QString decodeRequest(const QByteArray &payload);

QByteArray encodeAnswer(AnswerStatus status, const QString &text);
struct Answer
{
    AnswerStatus status = AnswerStatus::Error;
    QString text;
};
Result<Answer> decodeAnswer(const QByteArray &payload);

// The user's private directory that holds the sockets:
// $XDG_RUNTIME_DIR/ruvelo-dde, or when that variable is unset the folder
// socketDirectoryWithoutRuntimeDir names for /run/user/<uid> and the home
// folder. No other user can create it first: a shared folder such as /tmp
// is never used. With create, a missing directory is made with mode 0700. A
// directory that is a symbolic link, belongs to someone else or lets group or
// others in is refused (code ErrorCode::DirectoryInsecure); a missing one
// without create gives ErrorCode::DirectoryMissing. Every message names the
// folder and says what is wrong with it.
Result<QString> socketDirectory(bool create);

// Without XDG_RUNTIME_DIR: runUserDirectory/ruvelo-dde when runUserDirectory
// (normally /run/user/<uid>) is a directory of this user's that nobody else
// may enter, else home/.ruvelo-dde. A home folder that others may write into
// (where they could make that folder first) is refused with
// ErrorCode::DirectoryInsecure.
Result<QString> socketDirectoryWithoutRuntimeDir(const QString &runUserDirectory,
                                                 const QString &home);

// The socket file's name for an application and topic, e.g. "GoldMine.Data".
QString socketName(const QString &application, const QString &topic);

// True when the process at the other end of the connected local socket fd runs
// as uid.
bool peerHasUid(int fd, uid_t uid);
// The same check against this process's own user.
bool peerIsSameUser(int fd);

} // namespace goldmine::dde
