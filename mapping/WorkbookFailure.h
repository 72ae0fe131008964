#pragma once

#include "excel/Errors.h"

#include <QString>

namespace util {
class Prompts;
}

namespace mapping {

// The one message a window shows when a workbook it was asked to read cannot be
// read; the window stays usable afterwards.
void ShowWorkbookFailure(util::Prompts &prompts, const excel::Error &error);

} // namespace mapping
