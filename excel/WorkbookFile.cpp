#include "excel/SheetSource.h"

#include "excel/BiffRecords.h"

#include <QFile>
#include <QFileInfo>

namespace excel {

namespace fault {

QString missing(const QString &path)
{
    return QStringLiteral("The file does not exist: %1").arg(path);
}

QString unreadable(const QString &path, const QString &reason)
{
    return QStringLiteral("The file cannot be read: %1 (%2)").arg(path, reason);
}

QString notWorkbook(const QString &path)
{
    return QStringLiteral("The file is not an Excel workbook: %1").arg(path);
}

QString encrypted(const QString &path)
{
    return QStringLiteral("The workbook is protected by a password and cannot be read: %1")
        .arg(path);
}

QString oldFormat(const QString &path)
{
    return QStringLiteral("The workbook was saved in an Excel format older than Excel 5.0 and "
                          "cannot be read; open it in Excel and save it as .xls or .xlsx: %1")
        .arg(path);
}

QString damaged(const QString &path, const QString &detail)
{
    return QStringLiteral("The workbook is damaged and cannot be read: %1 (%2)").arg(path, detail);
}

QString unsafe(const QString &path, const QString &detail)
{
    return QStringLiteral("The workbook cannot be read safely: %1 (%2)").arg(path, detail);
}

} // namespace fault

Error describeDetail(const Error &detailError, const QString &path)
{
    switch (detailError.code) {
    case ErrorCode::Unsafe:
        return Error{fault::unsafe(path, detailError.message), ErrorCode::Unsafe};
    case ErrorCode::Encrypted:
        return Error{fault::encrypted(path), ErrorCode::Encrypted};
    case ErrorCode::NotWorkbook:
        return Error{fault::notWorkbook(path), ErrorCode::NotWorkbook};
    case ErrorCode::OldFormat:
        return Error{fault::oldFormat(path), ErrorCode::OldFormat};
    default:
        return Error{fault::damaged(path, detailError.message), ErrorCode::Damaged};
    }
}

namespace {

// Excel 2.x, 3.0 and 4.0 saved a bare record stream, no container: it starts
// with a BOF record whose length and sheet type Excel of the time wrote.
bool isBiff2To4(const QByteArray &start)
{
    if (start.size() < 8)
        return false;
    const auto field = [&start](int at) {
        return quint16(quint8(start.at(at)) | (quint8(start.at(at + 1)) << 8));
    };
    const quint16 id = field(0);
    const quint16 length = field(2);
    if (id != biff::record::bofBiff2 && id != biff::record::bofBiff3 &&
        id != biff::record::bofBiff4)
        return false;
    if (length < 4 || length > 16)
        return false;
    // Globals, worksheet, chart, macro sheet, or an Excel 4.0 workbook.
    const quint16 type = field(6);
    return type == 0x0005 || type == 0x0010 || type == 0x0020 || type == 0x0040 || type == 0x0100;
}

} // namespace

Result<void> checkWorkbookPath(const QString &path)
{
    const QFileInfo info(path);
    if (path.isEmpty() || !info.exists())
        return Error{fault::missing(path), ErrorCode::Missing};
    if (info.isDir())
        return Error{QStringLiteral("The path names a folder, not a workbook: %1").arg(path),
                     ErrorCode::NotWorkbook};
    return {};
}

Result<std::unique_ptr<WorkbookFile>> openWorkbookFile(const QString &path)
{
    if (Result<void> usable = checkWorkbookPath(path); !usable)
        return usable.error();
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error{fault::unreadable(path, file.errorString()), ErrorCode::Unreadable};
    const QByteArray magic = file.read(8);
    file.close();
    static constexpr char oleMagic[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
    if (magic == QByteArray(oleMagic, 8))
        return openXlsFile(path);
    if (magic.startsWith("PK"))
        return openXlsxFile(path);
    if (isBiff2To4(magic))
        return Error{fault::oldFormat(path), ErrorCode::OldFormat};
    return Error{fault::notWorkbook(path), ErrorCode::NotWorkbook};
}

} // namespace excel
