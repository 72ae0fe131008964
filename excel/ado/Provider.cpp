#include "excel/ado/Provider.h"

#include "excel/SheetSource.h"
#include "excel/Table.h"

namespace excel::ado {

namespace {

// The registered providers: the name a connection asks for and the workbook
// formats ("Extended Properties") it reads.
struct Registration
{
    const char *name;
    const char *formats[4];
};

// CSV files are read as ACE reads text files with its text driver: the
// extended properties "Text;HDR=Yes;FMT=Delimited" (quoted in the connection
// string, as ADO needs) say that the first line holds the column names and
// that fields are delimited; the delimiter is found from the file itself.
// Unlike the text driver, the data source is the file, not its folder, and
// the table is named as the driver names it: "name#csv".
constexpr const char *textFormat = "Text;HDR=Yes;FMT=Delimited";

constexpr Registration registrations[] = {
    {"Microsoft.Jet.OLEDB.4.0", {"Excel 8.0", "Excel 5.0", "Excel 97", nullptr}},
    {"Microsoft.ACE.OLEDB.12.0", {"Excel 12.0", "Excel 12.0 Xml", "Excel 8.0", textFormat}},
};

const Registration *findRegistration(const QString &name)
{
    for (const Registration &registration : registrations) {
        if (name.compare(QLatin1String(registration.name), Qt::CaseInsensitive) == 0)
            return &registration;
    }
    return nullptr;
}

class SheetRowSource : public RowSource
{
public:
    explicit SheetRowSource(std::unique_ptr<excel::SheetTable> table)
        : m_table(std::move(table))
    {
        setFieldNames(m_table->columnNames());
    }

    Result<void> start() { return moveNext(); }
    bool atEnd() const override { return m_atEnd; }
    QVariant value(int index) const override
    {
        const auto &values = m_table->values();
        if (m_atEnd || index < 0 || size_t(index) >= values.size())
            return {};
        return values[size_t(index)];
    }
    Result<void> moveNext() override
    {
        if (m_atEnd)
            return Error{QStringLiteral("There is no row after the last one.")};
        Result<bool> more = m_table->next();
        if (!more) {
            m_atEnd = true;
            return more.error();
        }
        m_atEnd = !more.value();
        takeNewColumns();
        return {};
    }
    int recordCount() const override { return -1; }
    int64_t sheetRow() const override { return m_atEnd ? -1 : m_table->sheetRow(); }

protected:
    bool findMoreFields() override
    {
        // A sheet that cannot be read again says so when its rows are read.
        Result<bool> found = m_table->findAllColumns();
        if (!found || !found.value())
            return false;
        takeNewColumns();
        return true;
    }

private:
    // A row may bring a column the header did not have.
    void takeNewColumns()
    {
        const QStringList &columns = m_table->columnNames();
        if (columns.size() > fieldNames().size())
            addFieldNames(columns, fieldNames().size());
    }

    std::unique_ptr<excel::SheetTable> m_table;
    bool m_atEnd = false;
};

} // namespace

int RowSource::lookUpMore(const QString &name)
{
    return findMoreFields() ? lookUp(name) : -1;
}

int RowSource::lookUp(const QString &name) const
{
    const auto exact = m_exact.constFind(name);
    if (exact != m_exact.constEnd())
        return exact.value();
    const auto folded = m_folded.constFind(name.toCaseFolded());
    return folded == m_folded.constEnd() ? -1 : folded.value();
}

void RowSource::addFieldNames(const QStringList &names, qsizetype from)
{
    for (qsizetype i = from; i < names.size(); ++i) {
        m_names.append(names.at(i));
        // The first of names equal but for case keeps winning.
        m_exact.insert(names.at(i), int(i));
        const QString folded = names.at(i).toCaseFolded();
        if (!m_folded.contains(folded))
            m_folded.insert(folded, int(i));
    }
}

void RowSource::setFieldNames(const QStringList &names)
{
    m_names = names;
    m_exact.clear();
    m_folded.clear();
    m_exact.reserve(names.size());
    // Filled from the end, so of names equal but for case the first wins.
    for (int i = int(names.size()) - 1; i >= 0; --i) {
        m_exact.insert(names.at(i), i);
        m_folded.insert(names.at(i).toCaseFolded(), i);
    }
}

ListRowSource::ListRowSource(const QStringList &names, std::vector<std::vector<QVariant>> rows)
    : m_rows(std::move(rows))
{
    setFieldNames(names);
}

QVariant ListRowSource::value(int index) const
{
    if (atEnd() || index < 0 || size_t(index) >= m_rows[m_position].size())
        return {};
    return m_rows[m_position][size_t(index)];
}

Result<void> ListRowSource::moveNext()
{
    if (atEnd())
        return Error{QStringLiteral("There is no row after the last one.")};
    ++m_position;
    return {};
}

Result<ConnectionProperties> parseConnectionString(const QString &connectionString)
{
    const QString sourceKey = QStringLiteral("Data Source=");
    const QString propertiesKey = QStringLiteral(";Extended Properties=");
    const qsizetype sourceAt = connectionString.indexOf(sourceKey, 0, Qt::CaseInsensitive);
    if (sourceAt < 0)
        return Error{QStringLiteral("The connection string names no data source.")};
    const qsizetype pathStart = sourceAt + sourceKey.size();
    qsizetype propertiesAt = connectionString.lastIndexOf(propertiesKey, -1, Qt::CaseInsensitive);
    ConnectionProperties properties;
    if (propertiesAt < pathStart) {
        properties.dataSource = connectionString.mid(pathStart);
        if (properties.dataSource.endsWith(QLatin1Char(';')))
            properties.dataSource.chop(1);
    } else {
        properties.dataSource = connectionString.mid(pathStart, propertiesAt - pathStart);
        properties.extendedProperties = connectionString.mid(propertiesAt + propertiesKey.size());
        if (properties.extendedProperties.endsWith(QLatin1Char(';')))
            properties.extendedProperties.chop(1);
        properties.extendedProperties = properties.extendedProperties.trimmed();
        // A value holding ";" is quoted.
        QString &value = properties.extendedProperties;
        if (value.size() >= 2 && value.startsWith(QLatin1Char('"')) &&
            value.endsWith(QLatin1Char('"')))
            value = value.mid(1, value.size() - 2);
    }
    return properties;
}

Provider::Provider(QString name, std::unique_ptr<excel::WorkbookFile> workbook, bool text)
    : m_name(std::move(name))
    , m_workbook(std::move(workbook))
    , m_text(text)
{}

Provider::~Provider() = default;

QStringList Provider::tableNames() const
{
    QStringList names;
    for (const QString &sheet : m_workbook->sheetNames()) {
        if (m_text)
            names.append(QString(sheet).replace(QLatin1Char('.'), QLatin1Char('#')));
        else
            names.append(sheet + QLatin1Char('$'));
    }
    return names;
}

int Provider::sheetOfTable(const QString &tableName) const
{
    const QStringList tables = tableNames();
    int sheet = int(tables.indexOf(tableName));
    if (sheet < 0 && tableName.size() > 2 && tableName.startsWith(QLatin1Char('\'')) &&
        tableName.endsWith(QLatin1Char('\'')))
        sheet = int(tables.indexOf(tableName.mid(1, tableName.size() - 2)));
    if (sheet < 0)
        sheet = int(m_workbook->sheetNames().indexOf(tableName));
    return sheet;
}

Result<QStringList> Provider::columnNames(int sheet)
{
    return excel::SheetTable::readColumnNames(*m_workbook, sheet);
}

Result<std::unique_ptr<RowSource>> Provider::openRows(int sheet)
{
    auto table = excel::SheetTable::open(*m_workbook, sheet);
    if (!table)
        return table.error();
    auto rows = std::make_unique<SheetRowSource>(std::move(table.value()));
    Result<void> first = rows->start();
    if (!first)
        return first.error();
    return std::unique_ptr<RowSource>(std::move(rows));
}

Result<std::unique_ptr<Provider>> Provider::open(const QString &providerName,
                                                 const QString &connectionString)
{
    const Registration *registration = findRegistration(providerName);
    if (!registration)
        return Error{QStringLiteral("Provider cannot be found. It may not be properly installed.")};
    Result<ConnectionProperties> properties = parseConnectionString(connectionString);
    if (!properties)
        return properties.error();
    const QString &format = properties->extendedProperties;
    if (!format.isEmpty()) {
        bool known = false;
        for (const char *name : registration->formats)
            known =
                known || (name && format.compare(QLatin1String(name), Qt::CaseInsensitive) == 0);
        if (!known)
            return Error{QStringLiteral("%1 does not read workbooks of the type \"%2\".")
                             .arg(QLatin1String(registration->name), format)};
    }
    const bool text = format.compare(QLatin1String(textFormat), Qt::CaseInsensitive) == 0;
    auto workbook = text ? excel::openCsvFile(properties->dataSource)
                         : excel::openWorkbookFile(properties->dataSource);
    if (!workbook)
        return workbook.error();
    return std::make_unique<Provider>(QLatin1String(registration->name),
                                      std::move(workbook.value()), text);
}

} // namespace excel::ado
