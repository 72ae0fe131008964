// The Excel 97-2003 (.xls, BIFF8; also BIFF5/7 from Excel 5 and 95) reader:
// libgsf opens the compound document and its workbook stream, whose records
// are read one after another with every length checked against what is left.

#include "excel/BiffRecords.h"
#include "excel/BiffStream.h"
#include "excel/CellError.h"
#include "excel/CompoundDocument.h"
#include "excel/Limits.h"
#include "excel/NumberFormats.h"
#include "excel/SheetSource.h"

#include <QFile>

#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace excel {

namespace {

using namespace biff;

const char *errorText(quint8 code)
{
    switch (code) {
    case 0x00:
        return "#NULL!";
    case 0x07:
        return "#DIV/0!";
    case 0x0F:
        return "#VALUE!";
    case 0x17:
        return "#REF!";
    case 0x1D:
        return "#NAME?";
    case 0x24:
        return "#NUM!";
    case 0x2A:
        return "#N/A";
    case 0x2B:
        return "#GETTING_DATA";
    default:
        return "#ERROR!";
    }
}

double rkValue(quint32 rk)
{
    double value;
    constexpr quint32 flagBits = rkFlag::dividedBy100 | rkFlag::integer;
    if (rk & rkFlag::integer) {
        value = double(qint32(rk) >> 2);
    } else {
        // The top 30 bits of a double whose lower bits are zero.
        const quint64 bits = quint64(rk & ~flagBits) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & rkFlag::dividedBy100) ? value / 100 : value;
}

// What the workbook's globals give and the sheets share.
struct Book
{
    ~Book()
    {
        document.reset();
        if (source)
            g_object_unref(source);
    }

    GsfInput *stream() const { return document->workbookStream(); }

    QString path;
    QByteArray memory;
    GsfInput *source = nullptr;
    std::unique_ptr<CompoundDocument> document;
    TextDecoding text;
    bool date1904 = false;
    std::vector<QString> sharedStrings;
    std::vector<DateKind> styleKinds;
    QStringList sheetNames;
    std::vector<quint32> sheetOffsets;
};

Result<void> readSharedStrings(Book &book, const std::vector<QByteArray> &segments)
{
    quint64 total = 0;
    for (const QByteArray &segment : segments)
        total += quint64(segment.size());
    ContinuedBytes bytes(segments);
    bytes.u32(); // total number of string references
    const quint32 unique = bytes.u32();
    // Every string takes at least three bytes: a count claiming more strings
    // than the records could hold is a lie, not an allocation to make.
    if (!bytes.ok() || quint64(unique) > total / minSharedStringBytes)
        return Error{QStringLiteral("the shared string table claims %1 strings in %2 bytes")
                         .arg(unique)
                         .arg(total),
                     ErrorCode::Unsafe};
    book.sharedStrings.reserve(unique);
    for (quint32 i = 0; i < unique && !bytes.atEnd(); ++i) {
        const quint16 count = bytes.u16();
        const quint8 flags = bytes.u8();
        const quint16 runs = (flags & stringFlag::rich) ? bytes.u16() : 0;
        const quint32 phonetic = (flags & stringFlag::phonetic) ? bytes.u32() : 0;
        QString text = bytes.characters(count, flags & stringFlag::wide);
        bytes.skip(quint64(runs) * richRunBytes + phonetic);
        if (!bytes.ok())
            break; // a table cut short keeps the strings it holds
        book.sharedStrings.push_back(std::move(text));
    }
    return {};
}

// Reads the workbook globals: sheets, strings, formats and the date system.
Result<void> readGlobals(Book &book)
{
    RecordReader reader(book.stream());
    Record r;
    Result<bool> more = reader.next(r);
    if (!more)
        return more.error();
    if (!more.value())
        return Error{QStringLiteral("the workbook stream is empty")};
    if (r.type == record::bofBiff2 || r.type == record::bofBiff3 || r.type == record::bofBiff4)
        return Error{QString(), ErrorCode::OldFormat};
    if (r.type != record::bof || r.length < minBofBytes)
        return Error{QStringLiteral("the workbook stream does not start with a workbook")};
    {
        Bytes bytes(r.data, r.length);
        const quint16 version = bytes.u16();
        if (version == version::biff5)
            book.text.biff8 = false;
        else if (version != version::biff8)
            return Error{QString(), ErrorCode::OldFormat};
    }
    std::map<int, QString> formats;
    std::vector<int> xfFormats;
    for (;;) {
        more = reader.next(r);
        if (!more)
            return more.error();
        if (!more.value() || r.type == record::endOfFile)
            break;
        Bytes bytes(r.data, r.length);
        switch (r.type) {
        case record::filePass:
            return Error{QString(), ErrorCode::Encrypted};
        case record::codePage: {
            const quint16 page = bytes.u16();
            if (page != codePage::utf16 && page != codePage::windows1252 &&
                page != codePage::windows1252Alias && !book.text.biff8)
                book.text.codePage.emplace(
                    QStringLiteral("windows-%1").arg(page).toLatin1().constData(),
                    QStringDecoder::Flag::Stateless);
            break;
        }
        case record::dateMode:
            book.date1904 = bytes.u16() == 1;
            break;
        case record::format: {
            const int id = bytes.u16();
            QString code = book.text.readString(bytes, !book.text.biff8);
            if (bytes.ok())
                formats[id] = std::move(code);
            break;
        }
        case record::xf:
            bytes.skip(2);
            xfFormats.push_back(bytes.u16());
            break;
        case record::boundSheet: {
            const quint32 offset = bytes.u32();
            bytes.u8(); // visibility: hidden sheets are still sheets
            const quint8 type = bytes.u8();
            QString name = book.text.readString(bytes, true);
            if (!bytes.ok())
                return Error{QStringLiteral("a sheet's entry in the workbook is cut short")};
            if (type == sheetTypeWorksheet) {
                book.sheetNames.append(name);
                book.sheetOffsets.push_back(offset);
            }
            break;
        }
        case record::sst: {
            std::vector<QByteArray> segments;
            segments.emplace_back(reinterpret_cast<const char *>(r.data), r.length);
            for (;;) {
                more = reader.next(r);
                if (!more)
                    return more.error();
                if (!more.value())
                    break;
                if (r.type != record::continuation) {
                    reader.unread();
                    break;
                }
                segments.emplace_back(reinterpret_cast<const char *>(r.data), r.length);
            }
            Result<void> strings = readSharedStrings(book, segments);
            if (!strings)
                return strings.error();
            break;
        }
        default:
            break;
        }
    }
    book.styleKinds.reserve(xfFormats.size());
    for (int id : xfFormats) {
        const auto custom = formats.find(id);
        book.styleKinds.push_back(custom != formats.end() ? formatCodeKind(custom->second)
                                                          : builtinFormatKind(id));
    }
    return {};
}

class XlsSheet : public SheetCells
{
public:
    XlsSheet(std::shared_ptr<Book> book, GsfInput *input, gsf_off_t offset)
        : m_book(std::move(book))
        , m_input(input)
        , m_reader(input)
        , m_offset(offset)
    {}
    ~XlsSheet() override { g_object_unref(m_input); }

    // Opens the sheet whose records start at the offset in the workbook stream.
    static Result<std::unique_ptr<SheetCells>> open(std::shared_ptr<Book> book, gsf_off_t offset)
    {
        const QuietGsf quiet;
        if (offset >= gsf_input_size(book->stream()))
            return Error{fault::damaged(book->path,
                                        QStringLiteral("a sheet lies outside the workbook stream")),
                         ErrorCode::Damaged};
        GError *error = nullptr;
        GsfInput *input = gsf_input_dup(book->stream(), &error);
        if (!input) {
            if (error)
                g_error_free(error);
            return Error{
                fault::damaged(book->path, QStringLiteral("the workbook stream cannot be read")),
                ErrorCode::Damaged};
        }
        const QString path = book->path;
        auto sheet = std::make_unique<XlsSheet>(std::move(book), input, offset);
        if (gsf_input_seek(input, offset, G_SEEK_SET))
            return Error{
                fault::damaged(path, QStringLiteral("a sheet lies outside the workbook stream")),
                ErrorCode::Damaged};
        Result<void> started = sheet->start();
        if (!started)
            return describeDetail(started.error(), path);
        return std::unique_ptr<SheetCells>(std::move(sheet));
    }

    // Reads the sheet's opening record.
    Result<void> start()
    {
        Record r;
        Result<bool> more = m_reader.next(r);
        if (!more)
            return more.error();
        if (!more.value() || r.type != record::bof)
            return Error{QStringLiteral("a sheet does not start where the workbook says")};
        return {};
    }

    Result<bool> nextRun(RowCells &run) override
    {
        run.cells.clear();
        if (!m_pending.empty()) {
            run.cells.swap(m_pending);
            run.row = m_pendingRow;
        }
        while (!m_done) {
            Record r;
            Result<bool> more = m_reader.next(r);
            if (!more) {
                m_done = true;
                return describeDetail(more.error(), m_book->path);
            }
            if (!more.value()) {
                m_done = true;
                break;
            }
            if (r.type == record::bof) {
                ++m_depth; // an embedded chart's records: not cells of this sheet
                continue;
            }
            if (r.type == record::endOfFile) {
                if (--m_depth <= 0)
                    m_done = true;
                continue;
            }
            if (m_depth != 1)
                continue;
            m_scratch.clear();
            int row = 0;
            Result<void> read = readCells(r, row);
            if (!read) {
                m_done = true;
                return describeDetail(read.error(), m_book->path);
            }
            if (m_scratch.empty())
                continue;
            // BIFF counts rows from 0; the sheet shows them from 1.
            ++row;
            if (!run.cells.empty() && row != run.row) {
                m_pending.swap(m_scratch);
                m_pendingRow = row;
                return true;
            }
            run.row = row;
            for (Cell &cell : m_scratch)
                run.cells.push_back(std::move(cell));
        }
        return !run.cells.empty();
    }

    Result<std::unique_ptr<SheetCells>> reopen() const override { return open(m_book, m_offset); }
    const QString &path() const override { return m_book->path; }
    std::optional<ColumnSpan> declaredColumns() const override { return m_dimension; }

private:
    void add(int column, QVariant value)
    {
        if (column < limits::maxColumns && !value.isNull())
            m_scratch.push_back({column, std::move(value)});
    }

    QVariant numberValue(int style, double number) const
    {
        const DateKind kind = size_t(style) < m_book->styleKinds.size()
                                  ? m_book->styleKinds[size_t(style)]
                                  : DateKind::None;
        return kind == DateKind::None ? QVariant(number)
                                      : serialToVariant(number, kind, m_book->date1904);
    }

    static QVariant text(const QString &value)
    {
        return value.isEmpty() ? QVariant() : QVariant(value);
    }

    Result<void> readCells(const Record &r, int &row)
    {
        Bytes bytes(r.data, r.length);
        switch (r.type) {
        case record::dimensions: {
            bytes.skip(m_book->text.biff8 ? dimensionRowsBiff8 : dimensionRowsBiff5);
            const int first = bytes.u16();
            const int end = bytes.u16();
            // A range out to the last column says only that whole rows carry a
            // format; the cells themselves then tell the width.
            if (bytes.ok() && end > first && end < columnsBiff8)
                m_dimension = ColumnSpan{first, end - 1};
            return {};
        }
        case record::labelSst: {
            row = bytes.u16();
            const int column = bytes.u16();
            bytes.u16();
            const quint32 index = bytes.u32();
            if (bytes.ok() && index < m_book->sharedStrings.size())
                add(column, text(m_book->sharedStrings[index]));
            break;
        }
        case record::label:
        case record::richString: {
            row = bytes.u16();
            const int column = bytes.u16();
            bytes.u16();
            QString value = m_book->text.readString(bytes, false);
            if (bytes.ok())
                add(column, text(value));
            break;
        }
        case record::number: {
            row = bytes.u16();
            const int column = bytes.u16();
            const int style = bytes.u16();
            const double value = bytes.f64();
            if (bytes.ok())
                add(column, numberValue(style, value));
            break;
        }
        case record::rk: {
            row = bytes.u16();
            const int column = bytes.u16();
            const int style = bytes.u16();
            const quint32 value = bytes.u32();
            if (bytes.ok())
                add(column, numberValue(style, rkValue(value)));
            break;
        }
        case record::mulRk: {
            row = bytes.u16();
            int column = bytes.u16();
            while (bytes.ok() && bytes.left() >= mulRkEntryBytes + mulRkTailBytes) {
                const int style = bytes.u16();
                const quint32 value = bytes.u32();
                add(column++, numberValue(style, rkValue(value)));
            }
            break;
        }
        case record::boolErr: {
            row = bytes.u16();
            const int column = bytes.u16();
            bytes.u16();
            const quint8 value = bytes.u8();
            const quint8 isError = bytes.u8();
            if (bytes.ok())
                add(column,
                    isError ? QVariant::fromValue(CellError{QString::fromLatin1(errorText(value))})
                            : QVariant(value != 0));
            break;
        }
        case record::formula:
        case record::formulaBiff4:
            return readFormula(bytes, row);
        default:
            break;
        }
        return {};
    }

    Result<void> readFormula(Bytes &bytes, int &row)
    {
        row = bytes.u16();
        const int column = bytes.u16();
        const int style = bytes.u16();
        if (!bytes.has(formulaResultBytes))
            return {};
        quint8 result[formulaResultBytes];
        std::memcpy(result, bytes.here(), formulaResultBytes);
        if (quint16(result[6] | (result[7] << 8)) != formulaResultNotNumber) {
            Bytes number(result, formulaResultBytes);
            add(column, numberValue(style, number.f64()));
            return {};
        }
        // The kind of result in byte 0, a boolean's or an error's value in byte 2.
        switch (result[0]) {
        case formulaResult::boolean:
            add(column, result[2] != 0);
            return {};
        case formulaResult::error:
            add(column, QVariant::fromValue(CellError{QString::fromLatin1(errorText(result[2]))}));
            return {};
        case formulaResult::string:
            break; // the text follows in a STRING record
        default:
            return {}; // an empty text
        }
        Record next;
        for (;;) {
            Result<bool> more = m_reader.next(next);
            if (!more)
                return more.error();
            if (!more.value())
                return {};
            if (next.type == record::sharedFormula || next.type == record::array ||
                next.type == record::table)
                continue;
            break;
        }
        if (next.type != record::string) {
            m_reader.unread();
            return {};
        }
        Bytes text(next.data, next.length);
        QString value = m_book->text.readString(text, false);
        if (text.ok()) {
            add(column, this->text(value));
            return {};
        }
        if (!m_book->text.biff8)
            return {}; // a BIFF5 text is at most 255 characters: this one is cut short
        // A long text goes on in CONTINUE records.
        std::vector<QByteArray> segments;
        segments.emplace_back(reinterpret_cast<const char *>(next.data), next.length);
        Result<void> read =
            readContinuations(segments, next.length >= 2 ? next.data[0] | (next.data[1] << 8) : 0);
        if (!read)
            return read.error();
        ContinuedBytes continued(segments);
        const quint16 count = continued.u16();
        const quint8 flags = continued.u8();
        if (flags & stringFlag::rich)
            continued.u16();
        if (flags & stringFlag::phonetic)
            continued.u32();
        value = continued.characters(count, flags & stringFlag::wide);
        if (continued.ok())
            add(column, this->text(value));
        return {};
    }

    // Appends the data of the CONTINUE records that follow to segments, as far
    // as a string of the given number of characters can need them.
    Result<void> readContinuations(std::vector<QByteArray> &segments, int characters)
    {
        // Two bytes a character, a flag byte a record and the string's header.
        constexpr qsizetype headerBytes = 9;
        qsizetype have = segments.front().size();
        while (have < headerBytes + 2 * qsizetype(characters) + qsizetype(segments.size())) {
            Record r;
            Result<bool> more = m_reader.next(r);
            if (!more)
                return more.error();
            if (!more.value())
                return {};
            if (r.type != record::continuation) {
                m_reader.unread();
                return {};
            }
            segments.emplace_back(reinterpret_cast<const char *>(r.data), r.length);
            have += r.length;
        }
        return {};
    }

    // libgsf may complain about a broken container while the sheet is read.
    const QuietGsf m_quiet;
    std::shared_ptr<Book> m_book;
    GsfInput *m_input;
    RecordReader m_reader;
    std::vector<Cell> m_scratch;
    std::vector<Cell> m_pending;
    std::optional<ColumnSpan> m_dimension;
    gsf_off_t m_offset;
    int m_pendingRow = -1;
    int m_depth = 1;
    bool m_done = false;
};

class XlsWorkbook : public WorkbookFile
{
public:
    explicit XlsWorkbook(std::shared_ptr<Book> book)
        : m_book(std::move(book))
    {}

    const QStringList &sheetNames() const override { return m_book->sheetNames; }

    Result<std::unique_ptr<SheetCells>> openSheet(int index) override
    {
        if (index < 0 || size_t(index) >= m_book->sheetOffsets.size())
            return Error{QStringLiteral("The workbook has no sheet number %1.").arg(index + 1)};
        return XlsSheet::open(m_book, m_book->sheetOffsets[size_t(index)]);
    }

private:
    std::shared_ptr<Book> m_book;
};

Result<std::unique_ptr<WorkbookFile>> openBook(std::shared_ptr<Book> book)
{
    const QuietGsf quiet;
    auto document = CompoundDocument::open(book->source, book->path);
    if (!document)
        return document.error();
    book->document = std::move(document.value());
    Result<void> globals = readGlobals(*book);
    if (!globals)
        return describeDetail(globals.error(), book->path);
    return std::unique_ptr<WorkbookFile>(new XlsWorkbook(std::move(book)));
}

} // namespace

Result<std::unique_ptr<WorkbookFile>> openXlsFile(const QString &path)
{
    auto book = std::make_shared<Book>();
    book->path = path;
    const QuietGsf quiet;
    GError *error = nullptr;
    book->source = gsf_input_stdio_new(QFile::encodeName(path).constData(), &error);
    if (!book->source) {
        const QString reason = error ? QString::fromUtf8(error->message) : QString();
        if (error)
            g_error_free(error);
        return Error{fault::unreadable(path, reason), ErrorCode::Unreadable};
    }
    return openBook(std::move(book));
}

Result<std::unique_ptr<WorkbookFile>> openXlsBuffer(const QByteArray &data, const QString &label)
{
    auto book = std::make_shared<Book>();
    book->path = label;
    book->memory = data;
    book->source = gsf_input_memory_new(reinterpret_cast<const guint8 *>(book->memory.constData()),
                                        book->memory.size(), FALSE);
    if (!book->source)
        return Error{fault::notWorkbook(label), ErrorCode::NotWorkbook};
    return openBook(std::move(book));
}

} // namespace excel
