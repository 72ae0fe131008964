#pragma once

#include <QString>

#include <functional>

class QWidget;

namespace mapping {

// What a file dialog is asked for.
struct FileRequest
{
    bool save = false;
    QString title;
    QString filter;        // "Mapping profiles (*.json)", several split by ";;"
    QString defaultSuffix; // added to a saved name typed without one
};

// Shows a file dialog and returns the chosen path; empty when none was chosen.
// The windows take one of these so that tests can answer without a dialog.
using FileDialog = std::function<QString(QWidget *parent, const FileRequest &request)>;

// The real dialog.
QString showFileDialog(QWidget *parent, const FileRequest &request);

} // namespace mapping
