#include "util/Version.h"

namespace util {

QString version()
{
    return QStringLiteral(RUVELO_VERSION);
}

} // namespace util
