#pragma once

#include <QString>

namespace util {

// The project's version, as the build gives it (e.g. "0.2.0").
QString version();

} // namespace util
