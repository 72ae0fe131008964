#pragma once

#include "util/Result.h"

#include <QString>
#include <QStringList>

class Prompts;

// The column names of the workbook's first table, in the provider's order. The
// workbook is opened for this one read and closed again.
Result<QStringList> ReadFirstTableColumns(const QString &path);

// The one message a window shows when a workbook it was asked to read cannot be
// read; the window stays usable afterwards.
void ShowWorkbookFailure(Prompts &prompts, const QString &path, const Error &error);
