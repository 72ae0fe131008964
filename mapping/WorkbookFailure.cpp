#include "mapping/WorkbookFailure.h"

#include "util/Prompts.h"

namespace mapping {

void ShowWorkbookFailure(util::Prompts &prompts, const excel::Error &error)
{
    // The reader's description names the file already.
    prompts.messageBox(QStringLiteral("Can't read the workbook.\n\n") + error.message,
                       QStringLiteral("Data Error"), util::PromptIcon::Critical);
}

} // namespace mapping
