#pragma once

#include <QMetaType>
#include <QString>

namespace excel {

// An error value a cell holds ("#N/A", "#DIV/0!", ...), kept apart from text so
// a caller can tell a formula's error from a text that merely reads like one.
struct CellError
{
    QString text;
    bool operator==(const CellError &other) const { return text == other.text; }
};

} // namespace excel

Q_DECLARE_METATYPE(excel::CellError)
