#include "import/RowReport.h"

#include <QFile>
#include <QFileInfo>
#include <QStringList>

#include <xlsxwriter.h>

namespace import {

namespace {

const QStringList Header{
    QStringLiteral("Row"),       QStringLiteral("E-mail"),         QStringLiteral("Outcome"),
    QStringLiteral("Record id"), QStringLiteral("Account number"), QStringLiteral("In group"),
    QStringLiteral("Message")};

// A spreadsheet runs a cell that begins like a formula; a leading apostrophe
// makes it text.
QString guarded(const QString &cell)
{
    if (!cell.isEmpty() && (cell.front() == QLatin1Char('=') || cell.front() == QLatin1Char('+') ||
                            cell.front() == QLatin1Char('-') || cell.front() == QLatin1Char('@')))
        return QLatin1Char('\'') + cell;
    return cell;
}

QString csvField(const QString &cell)
{
    QString text = guarded(cell);
    if (!text.contains(QLatin1Char(',')) && !text.contains(QLatin1Char('"')) &&
        !text.contains(QLatin1Char('\r')) && !text.contains(QLatin1Char('\n')))
        return text;
    QString quoted = text;
    quoted.replace(QLatin1Char('"'), QLatin1String("\"\""));
    return QLatin1Char('"') + quoted + QLatin1Char('"');
}

QStringList cellsOf(const RowRecord &record)
{
    return {record.row > 0 ? QString::number(record.row) : QString(),
            record.email,
            outcomeText(record.outcome),
            record.recid,
            record.accountNo,
            record.joinedGroup ? QStringLiteral("yes") : QStringLiteral("no"),
            record.message};
}

class CsvReport : public RowReport
{
public:
    static Result<std::unique_ptr<CsvReport>> open(const QString &path)
    {
        auto report = std::unique_ptr<CsvReport>(new CsvReport(path));
        if (!report->m_file.open(QIODevice::WriteOnly | QIODevice::Truncate))
            return Error{QStringLiteral("The report %1 cannot be written: %2.")
                             .arg(path, report->m_file.errorString())};
        report->m_file.write("\xEF\xBB\xBF");
        report->line(Header);
        return report;
    }

    void write(const RowRecord &record) override { line(cellsOf(record)); }

    Result<void> finish() override
    {
        m_file.close();
        if (m_failed)
            return Error{QStringLiteral("The report %1 could not be written whole: %2.")
                             .arg(m_file.fileName(), m_file.errorString())};
        return {};
    }

private:
    explicit CsvReport(const QString &path)
        : m_file(path)
    {}

    void line(const QStringList &cells)
    {
        QStringList fields;
        fields.reserve(cells.size());
        for (const QString &cell : cells)
            fields.append(csvField(cell));
        const QByteArray bytes = (fields.join(QLatin1Char(',')) + QStringLiteral("\r\n")).toUtf8();
        // Kept safe row by row: an interrupted run leaves every row it began.
        if (m_file.write(bytes) != bytes.size() || !m_file.flush())
            m_failed = true;
    }

    QFile m_file;
    bool m_failed = false;
};

// Written as CSV beside the workbook while the run goes, converted at its end.
class XlsxReport : public RowReport
{
public:
    XlsxReport(QString path, std::unique_ptr<CsvReport> partial, QString partialPath)
        : m_path(std::move(path))
        , m_partial(std::move(partial))
        , m_partialPath(std::move(partialPath))
    {}

    void write(const RowRecord &record) override { m_partial->write(record); }

    Result<void> finish() override
    {
        if (Result<void> written = m_partial->finish(); !written)
            return written;
        Result<void> converted = convertReportToXlsx(m_partialPath, m_path);
        if (converted)
            QFile::remove(m_partialPath);
        return converted;
    }

private:
    QString m_path;
    std::unique_ptr<CsvReport> m_partial;
    QString m_partialPath;
};

// Reads the CSV this file writes: quoted fields may hold commas, quotes and
// line breaks.
QList<QStringList> parseCsv(const QString &text)
{
    QList<QStringList> rows;
    QStringList row;
    QString field;
    bool quoted = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (quoted) {
            if (c == QLatin1Char('"') && i + 1 < text.size() &&
                text.at(i + 1) == QLatin1Char('"')) {
                field += c;
                ++i;
            } else if (c == QLatin1Char('"')) {
                quoted = false;
            } else {
                field += c;
            }
        } else if (c == QLatin1Char('"')) {
            quoted = true;
        } else if (c == QLatin1Char(',')) {
            row.append(field);
            field.clear();
        } else if (c == QLatin1Char('\r') && i + 1 < text.size() &&
                   text.at(i + 1) == QLatin1Char('\n')) {
            row.append(field);
            rows.append(row);
            row.clear();
            field.clear();
            ++i;
        } else {
            field += c;
        }
    }
    if (!field.isEmpty() || !row.isEmpty()) {
        row.append(field);
        rows.append(row);
    }
    return rows;
}

} // namespace

RowReport::~RowReport() = default;

QString outcomeText(Outcome outcome)
{
    switch (outcome) {
    case Outcome::Created:
        return QStringLiteral("created");
    case Outcome::Matched:
        return QStringLiteral("matched");
    case Outcome::Updated:
        return QStringLiteral("updated");
    case Outcome::Failed:
        return QStringLiteral("failed");
    case Outcome::WouldCreate:
        return QStringLiteral("would create");
    case Outcome::WouldMatch:
        return QStringLiteral("would match");
    case Outcome::WouldUpdate:
        return QStringLiteral("would update");
    case Outcome::WouldFail:
        return QStringLiteral("would fail");
    }
    return {};
}

Result<std::unique_ptr<RowReport>> openReport(const QString &path)
{
    if (!path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive)) {
        Result<std::unique_ptr<CsvReport>> csv = CsvReport::open(path);
        if (!csv)
            return csv.error();
        return std::unique_ptr<RowReport>(std::move(*csv));
    }
    const QString partialPath = path + QStringLiteral(".partial.csv");
    Result<std::unique_ptr<CsvReport>> partial = CsvReport::open(partialPath);
    if (!partial)
        return partial.error();
    return std::unique_ptr<RowReport>(
        std::make_unique<XlsxReport>(path, std::move(*partial), partialPath));
}

Result<void> convertReportToXlsx(const QString &csvPath, const QString &xlsxPath)
{
    QFile csv(csvPath);
    if (!csv.open(QIODevice::ReadOnly))
        return Error{
            QStringLiteral("The report %1 cannot be read: %2.").arg(csvPath, csv.errorString())};
    QByteArray bytes = csv.readAll();
    if (bytes.startsWith("\xEF\xBB\xBF"))
        bytes.remove(0, 3);
    const QList<QStringList> rows = parseCsv(QString::fromUtf8(bytes));

    const QByteArray target = QFile::encodeName(xlsxPath);
    lxw_workbook *workbook = workbook_new(target.constData());
    if (!workbook)
        return Error{QStringLiteral("The report %1 cannot be written.").arg(xlsxPath)};
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, "Report");
    for (qsizetype r = 0; r < rows.size(); ++r) {
        for (qsizetype c = 0; c < rows.at(r).size(); ++c) {
            QString cell = rows.at(r).at(c);
            // The CSV's guard is for CSV readers; a workbook cell of text is
            // never run, so it gets the text as it was.
            if (cell.startsWith(QLatin1Char('\'')) && cell.size() > 1 &&
                QStringLiteral("=+-@").contains(cell.at(1)))
                cell.remove(0, 1);
            const QByteArray utf8 = cell.toUtf8();
            // The row number as a number, everything else as text.
            bool isNumber = false;
            const double number = (c == 0 && r > 0) ? cell.toDouble(&isNumber) : 0;
            if (isNumber)
                worksheet_write_number(sheet, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c),
                                       number, nullptr);
            else
                worksheet_write_string(sheet, static_cast<lxw_row_t>(r), static_cast<lxw_col_t>(c),
                                       utf8.constData(), nullptr);
        }
    }
    if (workbook_close(workbook) != LXW_NO_ERROR)
        return Error{QStringLiteral("The report %1 cannot be written.").arg(xlsxPath)};
    return {};
}

} // namespace import
