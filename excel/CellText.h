#pragma once

#include <QString>
#include <QVariant>

namespace excel {

// A cell's value as text: text unchanged, null as empty text, numbers in plain
// decimal notation, dates in the short date form, booleans as True/False,
// errors as their text.
QString VariantToText(const QVariant &value);

} // namespace excel
