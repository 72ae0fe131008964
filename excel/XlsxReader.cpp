// The Excel 2007 (.xlsx) reader: a zip package read with libzip, its XML parts
// streamed chunk by chunk through expat. Only the shared strings and the
// number formats are held; a sheet's rows are produced one at a time.

#include "excel/CellError.h"
#include "excel/Limits.h"
#include "excel/NumberFormats.h"
#include "excel/SheetSource.h"
#include "excel/XmlPump.h"

#include <QDateTime>
#include <QFile>
#include <QHash>
#include <QUrl>

#include <zip.h>

#include <charconv>
#include <map>

namespace excel {

namespace {

QString mib(std::int64_t bytes)
{
    return QStringLiteral("%1 MiB").arg(bytes >> 20);
}

// A part name inside the package, without leading slash and with "." and ".."
// resolved; empty when the name climbs out of the package.
QString resolvePartName(const QString &baseDirectory, const QString &target)
{
    QString name = QUrl::fromPercentEncoding(target.toUtf8());
    name.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!name.startsWith(QLatin1Char('/')))
        name.prepend(baseDirectory + QLatin1Char('/'));
    QStringList parts;
    for (const QString &segment : name.split(QLatin1Char('/'), Qt::SkipEmptyParts)) {
        if (segment == QLatin1String("."))
            continue;
        if (segment == QLatin1String("..")) {
            if (parts.isEmpty())
                return {};
            parts.removeLast();
            continue;
        }
        parts.append(segment);
    }
    return parts.join(QLatin1Char('/'));
}

QString directoryOf(const QString &partName)
{
    const qsizetype slash = partName.lastIndexOf(QLatin1Char('/'));
    return slash < 0 ? QString() : partName.left(slash);
}

// Excel writes characters XML cannot hold as "_xHHHH_" ("_x000D_" for a
// carriage return) and a literal "_x" as "_x005F_x".
void decodeEscapes(QString &text)
{
    qsizetype at = text.indexOf(QLatin1String("_x"));
    if (at < 0)
        return;
    QString out;
    out.reserve(text.size());
    qsizetype from = 0;
    while (at >= 0) {
        bool ok = false;
        ushort code = 0;
        if (at + 7 <= text.size() && text.at(at + 6) == QLatin1Char('_'))
            code = text.mid(at + 2, 4).toUShort(&ok, 16);
        if (ok) {
            out.append(QStringView(text).mid(from, at - from));
            out.append(QChar(code));
            from = at + 7;
            at = text.indexOf(QLatin1String("_x"), from);
        } else {
            at = text.indexOf(QLatin1String("_x"), at + 2);
        }
    }
    out.append(QStringView(text).mid(from));
    text = std::move(out);
}

QString textOf(const std::string &utf8)
{
    QString text = QString::fromUtf8(utf8.data(), qsizetype(utf8.size()));
    decodeEscapes(text);
    return text;
}

template <typename Number> bool parseNumber(std::string_view text, Number &value)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                             text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' ||
                             text.back() == '\r'))
        text.remove_suffix(1);
    if (!text.empty() && text.front() == '+')
        text.remove_prefix(1);
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    return error == std::errc() && end == text.data() + text.size() && !text.empty();
}

// A cell reference such as "AB12" or "$AB$12": the 0-based column and the row
// (from 1); -1 for a part it does not give.
struct CellReference
{
    int column = -1;
    int row = -1;
};

inline CellReference parseReference(const char *text)
{
    CellReference reference;
    const char *p = text;
    if (*p == '$')
        ++p;
    int column = 0;
    int letters = 0;
    for (; (*p >= 'A' && *p <= 'Z') || (*p >= 'a' && *p <= 'z'); ++p) {
        if (++letters > 3)
            return {};
        column = column * 26 + ((*p | 0x20) - 'a' + 1);
    }
    if (letters > 0)
        reference.column = column - 1;
    if (*p == '$' && letters > 0)
        ++p;
    int row = 0;
    int digits = 0;
    for (; *p >= '0' && *p <= '9'; ++p) {
        if (++digits > 7)
            return reference;
        row = row * 10 + (*p - '0');
    }
    if (digits > 0 && *p == '\0' && row > 0 && row <= limits::maxRows)
        reference.row = row;
    return reference;
}

// The zip package and everything read from it once: shared by the workbook
// and its open sheets, so a sheet stays readable whatever is closed first.
struct Package
{
    ~Package()
    {
        if (archive)
            zip_discard(archive);
    }

    QString path;
    QByteArray memory; // the data when read from memory; libzip reads it in place
    zip_t *archive = nullptr;
    QHash<QString, zip_uint64_t> entries; // lower-cased name -> index
    std::vector<QString> sharedStrings;
    std::vector<DateKind> styleKinds; // by cell style (xf) index
    bool date1904 = false;
    QStringList sheetNames;
    QStringList sheetParts;

    std::optional<zip_uint64_t> find(const QString &partName) const
    {
        const auto it = entries.constFind(partName.toLower());
        if (it == entries.constEnd())
            return std::nullopt;
        return it.value();
    }
};

// One part's inflated bytes, checked against its declared size, the limits and
// the inflation ratio as they arrive.
class PartReader
{
public:
    ~PartReader()
    {
        if (m_file)
            zip_fclose(m_file);
    }

    static Result<std::unique_ptr<PartReader>> open(Package &package, zip_uint64_t index,
                                                    const QString &name, std::int64_t limit)
    {
        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(package.archive, index, 0, &stat) != 0)
            return Error{QStringLiteral("the part %1 cannot be found").arg(name)};
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            return Error{QStringLiteral("the part %1 is encrypted").arg(name),
                         ErrorCode::Encrypted};
        if (!(stat.valid & ZIP_STAT_SIZE) || !(stat.valid & ZIP_STAT_COMP_SIZE))
            return Error{QStringLiteral("the part %1 does not give its size").arg(name)};
        const auto declared = std::int64_t(stat.size);
        const auto compressed = std::int64_t(stat.comp_size);
        if (declared > limit || declared < 0)
            return Error{
                QStringLiteral("the part %1 declares %2 inflated, more than the %3 allowed")
                    .arg(name, mib(declared), mib(limit)),
                ErrorCode::Unsafe};
        if (declared > limits::ratioCheckFloorBytes &&
            declared / std::max<std::int64_t>(compressed, 1) > limits::maxInflationRatio)
            return Error{QStringLiteral("the part %1 would inflate more than %2 times")
                             .arg(name)
                             .arg(limits::maxInflationRatio),
                         ErrorCode::Unsafe};
        if ((stat.valid & ZIP_STAT_COMP_METHOD) &&
            !zip_compression_method_supported(stat.comp_method, 0))
            return Error{QStringLiteral("the part %1 uses an unknown compression").arg(name)};
        zip_file_t *file = zip_fopen_index(package.archive, index, 0);
        if (!file) {
            const int code = zip_error_code_zip(zip_get_error(package.archive));
            if (code == ZIP_ER_NOPASSWD || code == ZIP_ER_WRONGPASSWD || code == ZIP_ER_ENCRNOTSUPP)
                return Error{QStringLiteral("the part %1 is encrypted").arg(name),
                             ErrorCode::Encrypted};
            return Error{QStringLiteral("the part %1 cannot be opened (%2)")
                             .arg(name, QString::fromLocal8Bit(zip_strerror(package.archive)))};
        }
        auto reader = std::unique_ptr<PartReader>(new PartReader);
        reader->m_file = file;
        reader->m_name = name;
        reader->m_declared = declared;
        return reader;
    }

    Result<int> read(char *buffer, int size)
    {
        const zip_int64_t got = zip_fread(m_file, buffer, zip_uint64_t(size));
        if (got < 0)
            return Error{QStringLiteral("the part %1 cannot be inflated (%2)")
                             .arg(m_name, QString::fromLocal8Bit(zip_file_strerror(m_file)))};
        m_read += got;
        if (m_read > m_declared)
            return Error{
                QStringLiteral("the part %1 holds more data than its declared size").arg(m_name)};
        if (got == 0 && m_read != m_declared)
            return Error{QStringLiteral("the part %1 ends before its declared size").arg(m_name)};
        return int(got);
    }

private:
    PartReader() = default;
    zip_file_t *m_file = nullptr;
    QString m_name;
    std::int64_t m_declared = 0;
    std::int64_t m_read = 0;
};

// Parses a whole part; a missing part is an error only when required.
Result<bool> parsePart(Package &package, const QString &name, XmlHandler &handler, bool required)
{
    const auto index = package.find(name);
    if (!index) {
        if (required)
            return Error{QStringLiteral("the part %1 is missing").arg(name)};
        return false;
    }
    auto reader = PartReader::open(package, *index, name, limits::otherPartBytes);
    if (!reader)
        return reader.error();
    PartReader *source = reader.value().get();
    XmlPump pump(
        handler, [source](char *buffer, int size) { return source->read(buffer, size); }, name);
    for (;;) {
        Result<bool> more = pump.run();
        if (!more)
            return more.error();
        if (!more.value())
            return true;
    }
}

struct Relationship
{
    QString type;
    QString target; // resolved part name
};

class RelationshipsHandler : public XmlHandler
{
public:
    explicit RelationshipsHandler(QString baseDirectory)
        : m_base(std::move(baseDirectory))
    {}

    void startElement(XmlName name, const XmlAttributes &attributes) override
    {
        if (name.local() != "Relationship" ||
            (name.space != XmlSpace::Package && name.space != XmlSpace::None))
            return;
        const char *id = attributes.value("Id");
        const char *type = attributes.value("Type");
        const char *target = attributes.value("Target");
        const char *mode = attributes.value("TargetMode");
        if (!id || !type || !target || (mode && std::string_view(mode) == "External"))
            return;
        const QString part = resolvePartName(m_base, QString::fromUtf8(target));
        if (!part.isEmpty())
            relationships.insert(QString::fromUtf8(id), {QString::fromUtf8(type), part});
    }
    void endElement(XmlName) override {}
    void characters(const char *, int) override {}

    // The first target of a type, matched on its last segment so that the
    // transitional and the strict namespaces both match.
    QString targetOfType(QStringView typeEnd) const
    {
        for (const Relationship &relationship : relationships) {
            if (relationship.type.endsWith(typeEnd))
                return relationship.target;
        }
        return {};
    }

    QHash<QString, Relationship> relationships;

private:
    QString m_base;
};

class WorkbookHandler : public XmlHandler
{
public:
    struct Sheet
    {
        QString name;
        QString relationshipId;
    };

    void startElement(XmlName name, const XmlAttributes &attributes) override
    {
        // Extensions have elements of the same local names (x15:workbookPr):
        // only SpreadsheetML's own count.
        if (isSpreadsheet(name, "workbookPr")) {
            const char *value = attributes.value("date1904");
            date1904 =
                value && (std::string_view(value) == "1" || std::string_view(value) == "true");
        } else if (isSpreadsheet(name, "sheet")) {
            const char *sheetName = attributes.value("name");
            const char *id = attributes.value(XmlSpace::Relationships, "id");
            if (sheetName)
                sheets.push_back(
                    {QString::fromUtf8(sheetName), id ? QString::fromUtf8(id) : QString()});
        }
    }
    void endElement(XmlName) override {}
    void characters(const char *, int) override {}

    std::vector<Sheet> sheets;
    bool date1904 = false;
};

class StylesHandler : public XmlHandler
{
public:
    void startElement(XmlName name, const XmlAttributes &attributes) override
    {
        if (isSpreadsheet(name, "numFmt")) {
            const char *id = attributes.value("numFmtId");
            const char *code = attributes.value("formatCode");
            int number = 0;
            if (id && code && parseNumber(std::string_view(id), number))
                m_formats[number] = QString::fromUtf8(code);
        } else if (isSpreadsheet(name, "cellXfs")) {
            m_inCellXfs = true;
        } else if (isSpreadsheet(name, "xf") && m_inCellXfs) {
            const char *id = attributes.value("numFmtId");
            int number = 0;
            if (!id || !parseNumber(std::string_view(id), number))
                number = 0;
            m_xfFormats.push_back(number);
        }
    }
    void endElement(XmlName name) override
    {
        if (isSpreadsheet(name, "cellXfs"))
            m_inCellXfs = false;
    }
    void characters(const char *, int) override {}

    std::vector<DateKind> kinds() const
    {
        std::vector<DateKind> result;
        result.reserve(m_xfFormats.size());
        for (int id : m_xfFormats) {
            const auto custom = m_formats.find(id);
            result.push_back(custom != m_formats.end() ? formatCodeKind(custom->second)
                                                       : builtinFormatKind(id));
        }
        return result;
    }

private:
    std::map<int, QString> m_formats;
    std::vector<int> m_xfFormats;
    bool m_inCellXfs = false;
};

class SharedStringsHandler : public XmlHandler
{
public:
    explicit SharedStringsHandler(std::vector<QString> &strings)
        : m_strings(strings)
    {}

    void startElement(XmlName name, const XmlAttributes &attributes) override
    {
        if (isSpreadsheet(name, "sst")) {
            // The count is a hint only: never reserve more than a part could hold.
            const char *count = attributes.value("uniqueCount");
            std::int64_t hint = 0;
            if (count && parseNumber(std::string_view(count), hint) && hint > 0)
                m_strings.reserve(size_t(std::min<std::int64_t>(hint, 1 << 20)));
        } else if (isSpreadsheet(name, "si")) {
            m_text.clear();
            m_phonetic = 0;
        } else if (isSpreadsheet(name, "rPh")) {
            ++m_phonetic; // reading aids shown above the text are not the text
        } else if (isSpreadsheet(name, "t") && m_phonetic == 0) {
            m_collecting = true;
        }
    }
    void endElement(XmlName name) override
    {
        if (isSpreadsheet(name, "t"))
            m_collecting = false;
        else if (isSpreadsheet(name, "rPh"))
            --m_phonetic;
        else if (isSpreadsheet(name, "si"))
            m_strings.push_back(textOf(m_text));
    }
    void characters(const char *text, int length) override
    {
        if (m_collecting)
            m_text.append(text, size_t(length));
    }

private:
    std::vector<QString> &m_strings;
    std::string m_text;
    int m_phonetic = 0;
    bool m_collecting = false;
};

// The runs of cells of one worksheet part: one per <row> element, split where
// a cell's own reference names another row.
class SheetHandler : public XmlHandler
{
public:
    explicit SheetHandler(const Package &package)
        : m_package(package)
    {}

    void setPump(XmlPump *pump) { m_pump = pump; }
    const std::optional<ColumnSpan> &dimension() const { return m_dimension; }

    // The runs read since the last call of clearRuns().
    size_t runCount() const { return m_runCount; }
    RowCells &run(size_t index) { return m_runs[index]; }
    void clearRuns()
    {
        for (size_t i = 0; i < m_runCount; ++i)
            m_runs[i].cells.clear();
        m_runCount = 0;
    }

    // The cell elements, by far the most, are told apart by one character.
    void startElement(XmlName name, const XmlAttributes &attributes) override
    {
        if (!isSpreadsheet(name))
            return;
        const std::string_view local = name.local();
        if (local.size() == 1) {
            if (local[0] == 'c')
                startCell(attributes);
            else if (local[0] == 'v')
                m_collecting = m_inCell && m_type != Type::Inline;
            else if (local[0] == 't')
                m_collecting = m_inCell && m_type == Type::Inline && m_phonetic == 0;
        } else if (local == "row") {
            startRow(attributes.value("r"));
        } else if (local == "rPh") {
            ++m_phonetic;
        } else if (local == "dimension") {
            readDimension(attributes.value("ref"));
        }
    }

    void endElement(XmlName name) override
    {
        if (!isSpreadsheet(name))
            return;
        const std::string_view local = name.local();
        if (local.size() == 1) {
            if (local[0] == 'c')
                endCell();
            else if (local[0] == 'v' || local[0] == 't')
                m_collecting = false;
        } else if (local == "row") {
            m_inRow = false;
            if (m_runCount > 0)
                m_pump->pause();
        } else if (local == "rPh") {
            --m_phonetic;
        }
    }

    void characters(const char *text, int length) override
    {
        if (!m_collecting)
            return;
        if (std::int64_t(m_text.size()) + length > limits::maxCellTextBytes) {
            m_collecting = false;
            m_pump->fail(QStringLiteral("a cell holds more text than any workbook can"),
                         ErrorCode::Unsafe);
            return;
        }
        m_text.append(text, size_t(length));
    }

private:
    enum class Type { Number, Shared, Inline, String, Boolean, Error, IsoDate };

    // A cell's t attribute, told apart by its first character first.
    static Type typeOf(const char *value)
    {
        const std::string_view type(value);
        switch (type.empty() ? '\0' : type[0]) {
        case 's':
            return type.size() == 1 ? Type::Shared : type == "str" ? Type::String : Type::Number;
        case 'i':
            return type == "inlineStr" ? Type::Inline : Type::Number;
        case 'b':
            return type.size() == 1 ? Type::Boolean : Type::Number;
        case 'e':
            return type.size() == 1 ? Type::Error : Type::Number;
        case 'd':
            return type.size() == 1 ? Type::IsoDate : Type::Number;
        default:
            return Type::Number;
        }
    }

    void startRow(const char *reference)
    {
        // A row without a number follows the one before.
        int number = 0;
        const char *digit = reference;
        for (; digit && *digit >= '0' && *digit <= '9' && number <= limits::maxRows; ++digit)
            number = number * 10 + (*digit - '0');
        if (digit && digit != reference && *digit == '\0' && number > 0 &&
            number <= limits::maxRows)
            m_row = number;
        else
            ++m_row;
        m_lastColumn = -1;
        m_inRow = true;
    }

    void startCell(const XmlAttributes &attributes)
    {
        m_inCell = m_inRow;
        m_text.clear();
        m_type = Type::Number;
        m_style = 0;
        CellReference reference;
        for (const char *const *attribute = attributes.raw(); *attribute; attribute += 2) {
            // Unprefixed one-letter names only: "x:r" is another attribute.
            const char *key = attribute[0];
            if (key[0] == '\0' || key[1] != '\0')
                continue;
            const char *value = attribute[1];
            if (key[0] == 'r') {
                reference = parseReference(value);
            } else if (key[0] == 's') {
                if (!parseNumber(std::string_view(value), m_style))
                    m_style = 0;
            } else if (key[0] == 't') {
                m_type = typeOf(value);
            }
        }
        // A cell's own reference is the truth about its place; without one it
        // follows the cell before, in the row its element stands in.
        m_column = reference.column >= 0 ? reference.column : m_lastColumn + 1;
        m_cellRow = reference.row > 0 ? reference.row : m_row;
        m_lastColumn = m_column;
        if (m_column >= limits::maxColumns)
            m_inCell = false; // beyond any sheet: not a cell of the table
    }

    void endCell()
    {
        if (!m_inCell)
            return;
        m_inCell = false;
        m_collecting = false;
        QVariant value = cellValue();
        if (value.isNull())
            return;
        if (m_runCount == 0 || m_runs[m_runCount - 1].row != m_cellRow) {
            if (m_runCount == m_runs.size())
                m_runs.emplace_back();
            m_runs[m_runCount++].row = m_cellRow;
        }
        m_runs[m_runCount - 1].cells.push_back({m_column, std::move(value)});
    }

    QVariant cellValue() const
    {
        if (m_text.empty())
            return {};
        switch (m_type) {
        case Type::Shared: {
            // Most cells hold a string's index as bare digits: read them
            // directly, and anything else the slow way.
            std::int64_t index = 0;
            bool digits = m_text.size() <= 9;
            for (size_t i = 0; digits && i < m_text.size(); ++i) {
                digits = m_text[i] >= '0' && m_text[i] <= '9';
                index = index * 10 + (m_text[i] - '0');
            }
            if (!digits && !parseNumber(std::string_view(m_text), index))
                return {};
            if (index < 0 || index >= std::int64_t(m_package.sharedStrings.size()))
                return {};
            const QString &text = m_package.sharedStrings[size_t(index)];
            return text.isEmpty() ? QVariant() : QVariant(text);
        }
        case Type::Inline:
        case Type::String:
            return textOf(m_text);
        case Type::Boolean:
            return m_text == "1" || m_text == "true";
        case Type::Error:
            return QVariant::fromValue(CellError{textOf(m_text)});
        case Type::IsoDate:
            return isoToVariant(textOf(m_text));
        case Type::Number: {
            double number = 0;
            if (!parseNumber(std::string_view(m_text), number))
                return textOf(m_text);
            const DateKind kind = m_style >= 0 && size_t(m_style) < m_package.styleKinds.size()
                                      ? m_package.styleKinds[size_t(m_style)]
                                      : DateKind::None;
            if (kind == DateKind::None)
                return number;
            return serialToVariant(number, kind, m_package.date1904);
        }
        }
        return {};
    }

    void readDimension(const char *reference)
    {
        if (!reference)
            return;
        const char *colon = std::strchr(reference, ':');
        if (!colon)
            return; // a single cell says nothing about the used columns
        const int first = parseReference(reference).column;
        const int last = parseReference(colon + 1).column;
        // A range out to the last column says only that whole rows carry a
        // format; the cells themselves then tell the width.
        if (first >= 0 && last >= first && last < limits::maxColumns - 1)
            m_dimension = ColumnSpan{first, last};
    }

    const Package &m_package;
    XmlPump *m_pump = nullptr;
    std::vector<RowCells> m_runs; // m_runCount in use; the rest keep their capacity
    size_t m_runCount = 0;
    std::optional<ColumnSpan> m_dimension;
    std::string m_text;
    Type m_type = Type::Number;
    int m_style = 0;
    int m_column = 0;
    int m_cellRow = 0;
    int m_row = 0; // of the current <row> element, from 1
    int m_lastColumn = -1;
    int m_phonetic = 0;
    bool m_inRow = false;
    bool m_inCell = false;
    bool m_collecting = false;
};

class XlsxSheet : public SheetCells
{
public:
    XlsxSheet(std::shared_ptr<Package> package, std::unique_ptr<PartReader> reader,
              const QString &partName)
        : m_package(std::move(package))
        , m_reader(std::move(reader))
        , m_partName(partName)
        , m_handler(*m_package)
        , m_pump(
              m_handler, [this](char *buffer, int size) { return m_reader->read(buffer, size); },
              partName)
    {
        m_handler.setPump(&m_pump);
    }

    // Opens a worksheet part for reading.
    static Result<std::unique_ptr<SheetCells>> open(std::shared_ptr<Package> package,
                                                    const QString &part)
    {
        const auto entry = package->find(part);
        if (!entry)
            return describeDetail(Error{QStringLiteral("the part %1 is missing").arg(part)},
                                  package->path);
        auto reader = PartReader::open(*package, *entry, part, limits::sheetPartBytes);
        if (!reader)
            return describeDetail(reader.error(), package->path);
        return std::unique_ptr<SheetCells>(
            new XlsxSheet(std::move(package), std::move(reader.value()), part));
    }

    Result<bool> nextRun(RowCells &run) override
    {
        while (m_nextRun >= m_handler.runCount()) {
            if (m_done)
                return false;
            m_handler.clearRuns();
            m_nextRun = 0;
            Result<bool> more = m_pump.run();
            if (!more) {
                m_done = true;
                return describeDetail(more.error(), m_package->path);
            }
            if (!more.value())
                m_done = true;
        }
        RowCells &next = m_handler.run(m_nextRun++);
        run.row = next.row;
        run.cells.swap(next.cells);
        return true;
    }

    std::optional<ColumnSpan> declaredColumns() const override { return m_handler.dimension(); }
    Result<std::unique_ptr<SheetCells>> reopen() const override
    {
        return open(m_package, m_partName);
    }
    const QString &path() const override { return m_package->path; }

private:
    std::shared_ptr<Package> m_package;
    std::unique_ptr<PartReader> m_reader;
    QString m_partName;
    SheetHandler m_handler;
    XmlPump m_pump;
    size_t m_nextRun = 0;
    bool m_done = false;
};

class XlsxWorkbook : public WorkbookFile
{
public:
    explicit XlsxWorkbook(std::shared_ptr<Package> package)
        : m_package(std::move(package))
    {}

    const QStringList &sheetNames() const override { return m_package->sheetNames; }

    Result<std::unique_ptr<SheetCells>> openSheet(int index) override
    {
        if (index < 0 || index >= m_package->sheetParts.size())
            return Error{QStringLiteral("The workbook has no sheet number %1.").arg(index + 1)};
        return XlsxSheet::open(m_package, m_package->sheetParts.at(index));
    }

private:
    std::shared_ptr<Package> m_package;
};

QString relationshipsPartOf(const QString &partName)
{
    const QString directory = directoryOf(partName);
    const QString file = partName.mid(directory.isEmpty() ? 0 : directory.size() + 1);
    return (directory.isEmpty() ? QString() : directory + QLatin1Char('/')) +
           QStringLiteral("_rels/") + file + QStringLiteral(".rels");
}

// Reads the package's directory and its small parts: the workbook, its
// relationships, styles and shared strings. Errors are details.
Result<void> readPackage(Package &package)
{
    const zip_int64_t count = zip_get_num_entries(package.archive, 0);
    if (count < 0 || count > limits::maxZipEntries)
        return Error{QStringLiteral("the package lists %1 parts").arg(count), ErrorCode::Unsafe};
    for (zip_int64_t i = 0; i < count; ++i) {
        const char *raw = zip_get_name(package.archive, zip_uint64_t(i), ZIP_FL_ENC_GUESS);
        if (!raw)
            continue;
        QString name = QString::fromUtf8(raw);
        name.replace(QLatin1Char('\\'), QLatin1Char('/'));
        if (name.startsWith(QLatin1Char('/')) ||
            name.split(QLatin1Char('/')).contains(QLatin1String("..")))
            return Error{QStringLiteral("the package names a part outside itself (%1)").arg(name),
                         ErrorCode::Unsafe};
        package.entries.insert(name.toLower(), zip_uint64_t(i));
    }

    RelationshipsHandler root{QString()};
    Result<bool> found = parsePart(package, QStringLiteral("_rels/.rels"), root, false);
    if (!found)
        return found.error();
    QString workbookPart = root.targetOfType(u"/officeDocument");
    if (workbookPart.isEmpty())
        workbookPart = QStringLiteral("xl/workbook.xml");
    if (!package.find(workbookPart))
        return Error{QStringLiteral("the package holds no workbook part"), ErrorCode::NotWorkbook};

    WorkbookHandler workbook;
    found = parsePart(package, workbookPart, workbook, true);
    if (!found)
        return found.error();
    package.date1904 = workbook.date1904;

    const QString base = directoryOf(workbookPart);
    RelationshipsHandler relationships{base};
    found = parsePart(package, relationshipsPartOf(workbookPart), relationships, false);
    if (!found)
        return found.error();
    const bool haveRelationships = found.value();

    for (size_t i = 0; i < workbook.sheets.size(); ++i) {
        const auto &sheet = workbook.sheets[i];
        QString part;
        if (haveRelationships) {
            const auto it = relationships.relationships.constFind(sheet.relationshipId);
            // Chart, dialog and macro sheets are not tables.
            if (it == relationships.relationships.constEnd() ||
                !it->type.endsWith(QLatin1String("/worksheet")))
                continue;
            part = it->target;
        } else {
            part = base + QStringLiteral("/worksheets/sheet%1.xml").arg(i + 1);
            if (!package.find(part))
                continue;
        }
        package.sheetNames.append(sheet.name);
        package.sheetParts.append(part);
    }

    QString stylesPart = relationships.targetOfType(u"/styles");
    if (stylesPart.isEmpty())
        stylesPart = base + QStringLiteral("/styles.xml");
    StylesHandler styles;
    found = parsePart(package, stylesPart, styles, false);
    if (!found)
        return found.error();
    package.styleKinds = styles.kinds();

    QString stringsPart = relationships.targetOfType(u"/sharedStrings");
    if (stringsPart.isEmpty())
        stringsPart = base + QStringLiteral("/sharedStrings.xml");
    SharedStringsHandler strings(package.sharedStrings);
    found = parsePart(package, stringsPart, strings, false);
    if (!found)
        return found.error();
    return {};
}

Result<std::unique_ptr<WorkbookFile>> openPackage(std::shared_ptr<Package> package,
                                                  zip_source_t *source)
{
    zip_error_t error;
    zip_error_init(&error);
    package->archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!package->archive) {
        const int code = zip_error_code_zip(&error);
        const QString reason = QString::fromLocal8Bit(zip_error_strerror(&error));
        zip_error_fini(&error);
        zip_source_free(source);
        switch (code) {
        case ZIP_ER_NOZIP:
            // Callers have seen the zip signature: its directory is what is missing.
            return Error{fault::damaged(package->path,
                                        QStringLiteral("the zip directory is missing; the file "
                                                       "may be cut short")),
                         ErrorCode::Damaged};
        case ZIP_ER_OPEN:
        case ZIP_ER_READ:
            return Error{fault::unreadable(package->path, reason), ErrorCode::Unreadable};
        case ZIP_ER_MULTIDISK:
            return Error{
                fault::unsafe(package->path, QStringLiteral("the zip archive spans several disks")),
                ErrorCode::Unsafe};
        default:
            return Error{fault::damaged(package->path, reason), ErrorCode::Damaged};
        }
    }
    zip_error_fini(&error);
    Result<void> read = readPackage(*package);
    if (!read)
        return describeDetail(read.error(), package->path);
    return std::unique_ptr<WorkbookFile>(new XlsxWorkbook(std::move(package)));
}

} // namespace

Result<std::unique_ptr<WorkbookFile>> openXlsxFile(const QString &path)
{
    auto package = std::make_shared<Package>();
    package->path = path;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source =
        zip_source_file_create(QFile::encodeName(path).constData(), 0, -1, &error);
    if (!source) {
        const QString reason = QString::fromLocal8Bit(zip_error_strerror(&error));
        zip_error_fini(&error);
        return Error{fault::unreadable(path, reason), ErrorCode::Unreadable};
    }
    zip_error_fini(&error);
    return openPackage(std::move(package), source);
}

Result<std::unique_ptr<WorkbookFile>> openXlsxBuffer(const QByteArray &data, const QString &label)
{
    auto package = std::make_shared<Package>();
    package->path = label;
    package->memory = data;
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t *source = zip_source_buffer_create(
        package->memory.constData(), zip_uint64_t(package->memory.size()), 0, &error);
    zip_error_fini(&error);
    if (!source)
        return Error{fault::unreadable(label, QStringLiteral("out of memory")),
                     ErrorCode::Unreadable};
    return openPackage(std::move(package), source);
}

} // namespace excel
