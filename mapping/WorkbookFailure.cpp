#include "mapping/WorkbookFailure.h"

#include "excel/Workbook.h"
#include "util/Prompts.h"

namespace mapping {

void ShowWorkbookFailure(util::Prompts &prompts, const excel::Error &error)
{
    // The same words as the run's: a missing file is not "unreadable".
    prompts.messageBox(excel::OpenFailureText(error), QStringLiteral("Data Error"),
                       util::PromptIcon::Critical);
}

} // namespace mapping
