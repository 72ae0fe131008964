#pragma once

#include <QByteArray>
#include <QString>

namespace util {

// Converting a password with Qt's own codecs leaves a copy of it behind on the
// heap (a first buffer of the wrong size is freed without being wiped). These
// convert between the local 8-bit text, UTF-8 here, and QString in place, so
// that the one buffer a caller wipes is the only one that held the text.
// (Where the local 8-bit text is not UTF-8 they fall back to Qt.)
QString secretFromLocal8Bit(const char *bytes, qsizetype size);
// Appends the text's local 8-bit bytes to out, which should have room for
// three bytes per character so that it never moves.
void appendSecretLocal8Bit(const QString &text, QByteArray &out);

// Overwrites text's characters before it is let go.
void wipe(QString &text);
void wipe(QByteArray &bytes);

} // namespace util
