#pragma once

#include <QByteArrayView>
#include <QString>

namespace excel {

// Text in Windows-1252, the 8-bit code page of western Windows systems: what
// Excel 5 and 95 files and CSV files that are not UTF-8 hold. Decoded here,
// whatever code pages the Qt build knows.
QString fromWindows1252(QByteArrayView bytes);

} // namespace excel
