#include "mapping/FileDialog.h"

#include <QFileDialog>

namespace mapping {

QString showFileDialog(QWidget *parent, const FileRequest &request)
{
    QFileDialog dialog(parent, request.title);
    dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setNameFilter(request.filter);
    dialog.setDefaultSuffix(request.defaultSuffix);
    // A name typed without an ending takes the ending of the filter chosen.
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog,
                     [&dialog](const QString &filter) {
                         const qsizetype star = filter.indexOf(QLatin1String("(*."));
                         if (star < 0)
                             return;
                         const qsizetype end = filter.indexOf(QLatin1Char(')'), star);
                         QString suffix = filter.mid(star + 3, end - star - 3);
                         suffix = suffix.section(QLatin1Char(' '), 0, 0);
                         dialog.setDefaultSuffix(suffix);
                     });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return QString();
    return dialog.selectedFiles().constFirst();
}

} // namespace mapping
