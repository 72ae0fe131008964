#include "support/XlsxBuilder.h"

#include <QDateTime>

#include <xlsxwriter.h>

bool writeXlsx(const QString &path, const QList<XlsxSheet> &sheets)
{
    const QByteArray file = path.toLocal8Bit();
    lxw_workbook *workbook = workbook_new(file.constData());
    if (workbook == nullptr)
        return false;
    lxw_format *dateFormat = workbook_add_format(workbook);
    format_set_num_format(dateFormat, "yyyy-mm-dd");
    lxw_format *dateTimeFormat = workbook_add_format(workbook);
    format_set_num_format(dateTimeFormat, "yyyy-mm-dd hh:mm:ss");
    for (const XlsxSheet &sheet : sheets) {
        const QByteArray name = sheet.name.toUtf8();
        lxw_worksheet *worksheet = workbook_add_worksheet(workbook, name.constData());
        if (worksheet == nullptr) {
            workbook_close(workbook);
            return false;
        }
        for (int row = 0; row < sheet.rows.size(); ++row) {
            const QVariantList &cells = sheet.rows.at(row);
            for (int column = 0; column < cells.size(); ++column) {
                const QVariant &cell = cells.at(column);
                const auto r = static_cast<lxw_row_t>(row);
                const auto c = static_cast<lxw_col_t>(column);
                switch (cell.typeId()) {
                case QMetaType::UnknownType:
                    break;
                case QMetaType::Bool:
                    worksheet_write_boolean(worksheet, r, c, cell.toBool(), nullptr);
                    break;
                case QMetaType::Int:
                case QMetaType::LongLong:
                case QMetaType::Double:
                    worksheet_write_number(worksheet, r, c, cell.toDouble(), nullptr);
                    break;
                case QMetaType::QDate:
                case QMetaType::QDateTime: {
                    const QDateTime when = cell.toDateTime();
                    lxw_datetime value{
                        when.date().year(),   when.date().month(),
                        when.date().day(),    when.time().hour(),
                        when.time().minute(), static_cast<double>(when.time().second())};
                    worksheet_write_datetime(worksheet, r, c, &value,
                                             cell.typeId() == QMetaType::QDate ? dateFormat
                                                                               : dateTimeFormat);
                    break;
                }
                default: {
                    const QByteArray text = cell.toString().toUtf8();
                    worksheet_write_string(worksheet, r, c, text.constData(), nullptr);
                }
                }
            }
        }
    }
    return workbook_close(workbook) == LXW_NO_ERROR;
}
