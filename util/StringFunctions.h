#pragma once

#include <QString>

namespace util {

// Small text operations shared by the import and the mapping window. Positions
// and searches are by UTF-16 code unit and case-sensitive.

// True exactly when the text has no code units; a text of spaces is not nothing.
bool SF_isNothing(const QString &text);

// One left-to-right pass that removes each occurrence of needle it meets. The
// search resumes where the removed occurrence began, so an occurrence formed by
// the join of the text before and after it is left for the next pass.
QString SF_removeAllOnce(QString text, const QString &needle);

// Removes needle until none is left, including occurrences that removals form.
QString SF_removeAll(QString text, const QString &needle);

// The part before the first separator; the whole text when there is none.
QString SF_splitLeft(const QString &text, const QString &separator);

// The part after the first separator; the whole text when there is none.
QString SF_splitRight(const QString &text, const QString &separator);

// Zero-terminated 8-bit text in the local encoding, as the GoldMine API hands it
// back; the memory stays the API's. A null pointer gives empty text.
QString PtrToString(const char *address);

} // namespace util
