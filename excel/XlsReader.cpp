// The Excel 97-2003 (.xls, BIFF8; also BIFF5/7 from Excel 5 and 95) reader:
// libgsf opens the compound document and its workbook stream, whose records
// are read one after another with every length checked against what is left.

#include "excel/CellError.h"
#include "excel/Limits.h"
#include "excel/NumberFormats.h"
#include "excel/SheetSource.h"

#include <QFile>
#include <QStringDecoder>

#include <gsf/gsf-infile-msole.h>
#include <gsf/gsf-infile.h>
#include <gsf/gsf-input-memory.h>
#include <gsf/gsf-input-stdio.h>
#include <gsf/gsf-input.h>

#include <algorithm>
#include <cstring>
#include <map>

namespace excel {

namespace {

namespace record {
constexpr quint16 formula = 0x0006;
constexpr quint16 endOfFile = 0x000A;
constexpr quint16 dateMode = 0x0022;
constexpr quint16 filePass = 0x002F;
constexpr quint16 continuation = 0x003C;
constexpr quint16 codePage = 0x0042;
constexpr quint16 boundSheet = 0x0085;
constexpr quint16 mulRk = 0x00BD;
constexpr quint16 richString = 0x00D6;
constexpr quint16 xf = 0x00E0;
constexpr quint16 sst = 0x00FC;
constexpr quint16 labelSst = 0x00FD;
constexpr quint16 dimensions = 0x0200;
constexpr quint16 number = 0x0203;
constexpr quint16 label = 0x0204;
constexpr quint16 boolErr = 0x0205;
constexpr quint16 string = 0x0207;
constexpr quint16 array = 0x0221;
constexpr quint16 table = 0x0236;
constexpr quint16 rk = 0x027E;
constexpr quint16 format = 0x041E;
constexpr quint16 sharedFormula = 0x04BC;
constexpr quint16 bof = 0x0809;
} // namespace record

// libgsf reports odd containers through GLib's log as well as through its
// error results; the results are what we act on, so the log stays quiet
// while our calls run.
class QuietGsf
{
public:
    QuietGsf()
    {
        const auto levels =
            GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE |
                           G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG);
        for (size_t i = 0; i < std::size(domains); ++i)
            m_ids[i] = g_log_set_handler(domains[i], levels, &QuietGsf::discard, nullptr);
    }
    ~QuietGsf()
    {
        for (size_t i = 0; i < std::size(domains); ++i)
            g_log_remove_handler(domains[i], m_ids[i]);
    }
    QuietGsf(const QuietGsf &) = delete;
    QuietGsf &operator=(const QuietGsf &) = delete;

private:
    static void discard(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}
    static constexpr const char *domains[] = {"libgsf:msole", "libgsf"};
    guint m_ids[std::size(domains)] = {};
};

// Little-endian fields of one record, never read past its end.
class Bytes
{
public:
    Bytes(const quint8 *data, size_t size)
        : m_data(data)
        , m_size(size)
    {}

    bool ok() const { return m_ok; }
    size_t left() const { return m_size - m_at; }
    bool has(size_t count) const { return m_at + count <= m_size; }
    quint8 u8() { return has(1) ? m_data[m_at++] : fail(); }
    quint16 u16() { return quint16(u8() | (u8() << 8)); }
    quint32 u32() { return quint32(u16()) | (quint32(u16()) << 16); }
    double f64()
    {
        quint64 bits = 0;
        for (int i = 0; i < 8; ++i)
            bits |= quint64(u8()) << (8 * i);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }
    void skip(size_t count)
    {
        if (has(count))
            m_at += count;
        else
            fail();
    }
    const quint8 *here() const { return m_data + m_at; }

private:
    quint8 fail()
    {
        m_ok = false;
        m_at = m_size;
        return 0;
    }

    const quint8 *m_data;
    size_t m_size;
    size_t m_at = 0;
    bool m_ok = true;
};

QString fromUtf16Le(const quint8 *data, size_t count)
{
    QString text(qsizetype(count), Qt::Uninitialized);
    QChar *out = text.data();
    for (size_t i = 0; i < count; ++i)
        out[i] = QChar(ushort(data[2 * i] | (data[2 * i + 1] << 8)));
    return text;
}

// The rest of a string's characters in a record: 8-bit ones are the low bytes
// of UTF-16 code units.
QString readCharacters(Bytes &bytes, size_t count, bool wide)
{
    const size_t size = wide ? count * 2 : count;
    if (!bytes.has(size)) {
        bytes.skip(size); // marks the record short
        return {};
    }
    QString text =
        wide ? fromUtf16Le(bytes.here(), count)
             : QString::fromLatin1(reinterpret_cast<const char *>(bytes.here()), qsizetype(count));
    bytes.skip(size);
    return text;
}

// A record followed by its CONTINUE records, read as one run of bytes in which
// a string's characters resume after a one-byte flag at each record break.
class ContinuedBytes
{
public:
    explicit ContinuedBytes(const std::vector<QByteArray> &segments)
        : m_segments(segments)
    {}

    bool ok() const { return m_ok; }
    bool atEnd()
    {
        settle();
        return m_segment >= m_segments.size();
    }
    quint8 u8()
    {
        settle();
        if (m_segment >= m_segments.size()) {
            m_ok = false;
            return 0;
        }
        return quint8(m_segments[m_segment].at(qsizetype(m_at++)));
    }
    quint16 u16() { return quint16(u8() | (u8() << 8)); }
    quint32 u32() { return quint32(u16()) | (quint32(u16()) << 16); }
    void skip(quint64 count)
    {
        while (count > 0 && m_ok) {
            settle();
            if (m_segment >= m_segments.size()) {
                m_ok = false;
                return;
            }
            const quint64 here = quint64(m_segments[m_segment].size()) - m_at;
            const quint64 step = std::min(here, count);
            m_at += size_t(step);
            count -= step;
        }
    }
    QString characters(size_t count, bool wide)
    {
        QString text;
        while (count > 0 && m_ok) {
            if (m_segment >= m_segments.size()) {
                m_ok = false;
                break;
            }
            const QByteArray &segment = m_segments[m_segment];
            if (m_at >= size_t(segment.size())) {
                // The characters go on in the next record, after a flag byte
                // that says how wide they are there.
                ++m_segment;
                m_at = 0;
                if (m_segment >= m_segments.size() || m_segments[m_segment].isEmpty()) {
                    m_ok = false;
                    break;
                }
                wide = (quint8(m_segments[m_segment].at(0)) & 0x01) != 0;
                m_at = 1;
                continue;
            }
            const size_t available = size_t(segment.size()) - m_at;
            const size_t fit = std::min(count, wide ? available / 2 : available);
            if (fit == 0) {
                m_ok = false; // half a character before a record break
                break;
            }
            const auto *data = reinterpret_cast<const quint8 *>(segment.constData()) + m_at;
            text += wide
                        ? fromUtf16Le(data, fit)
                        : QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(fit));
            m_at += wide ? fit * 2 : fit;
            count -= fit;
        }
        return text;
    }

private:
    void settle()
    {
        while (m_segment < m_segments.size() && m_at >= size_t(m_segments[m_segment].size())) {
            ++m_segment;
            m_at = 0;
        }
    }

    const std::vector<QByteArray> &m_segments;
    size_t m_segment = 0;
    size_t m_at = 0;
    bool m_ok = true;
};

struct Record
{
    quint16 type = 0;
    quint16 length = 0;
    const quint8 *data = nullptr;
};

// Reads records from a stream, with one record of look-back.
class RecordReader
{
public:
    explicit RecordReader(GsfInput *input)
        : m_input(input)
        , m_buffer(65536)
    {}

    Result<bool> next(Record &out)
    {
        if (m_unread) {
            m_unread = false;
            out = m_last;
            return true;
        }
        const gsf_off_t remaining = gsf_input_remaining(m_input);
        if (remaining < 4)
            return false; // a stream may end without its closing record
        quint8 header[4];
        if (!gsf_input_read(m_input, 4, header))
            return Error{QStringLiteral("the workbook stream cannot be read")};
        m_last.type = quint16(header[0] | (header[1] << 8));
        m_last.length = quint16(header[2] | (header[3] << 8));
        m_last.data = m_buffer.data();
        if (m_last.length > remaining - 4)
            return Error{QStringLiteral("a record runs past the end of the workbook stream")};
        if (m_last.length > 0 && !gsf_input_read(m_input, m_last.length, m_buffer.data()))
            return Error{QStringLiteral("the workbook stream cannot be read")};
        out = m_last;
        return true;
    }
    void unread() { m_unread = true; }

private:
    GsfInput *m_input;
    std::vector<quint8> m_buffer;
    Record m_last;
    bool m_unread = false;
};

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
    if (rk & 0x02) {
        value = double(qint32(rk) >> 2);
    } else {
        const quint64 bits = quint64(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&value, &bits, sizeof value);
    }
    return (rk & 0x01) ? value / 100 : value;
}

// What the workbook's globals give and the sheets share.
struct Book
{
    ~Book()
    {
        if (stream)
            g_object_unref(stream);
        if (container)
            g_object_unref(container);
        if (source)
            g_object_unref(source);
    }

    QString path;
    QByteArray memory;
    GsfInput *source = nullptr;
    GsfInfile *container = nullptr;
    GsfInput *stream = nullptr;
    bool biff8 = true;
    bool date1904 = false;
    std::vector<QString> sharedStrings;
    std::vector<DateKind> styleKinds;
    QStringList sheetNames;
    std::vector<quint32> sheetOffsets;
    std::optional<QStringDecoder> codePage; // 8-bit text of BIFF5 files

    QString eightBit(const quint8 *data, size_t count)
    {
        const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(count));
        if (codePage && codePage->isValid())
            return codePage->decode(bytes);
        return windows1252(bytes);
    }

    static QString windows1252(QByteArrayView bytes)
    {
        static constexpr char16_t high[32] = {
            0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
            0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
            0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};
        QString text(bytes.size(), Qt::Uninitialized);
        for (qsizetype i = 0; i < bytes.size(); ++i) {
            const auto byte = quint8(bytes[i]);
            text[i] =
                (byte >= 0x80 && byte < 0xA0) ? QChar(high[byte - 0x80]) : QChar(char16_t(byte));
        }
        return text;
    }

    // An XLUnicodeString (BIFF8) or a counted 8-bit string (BIFF5); the
    // count takes one or two bytes.
    QString readString(Bytes &bytes, bool shortCount)
    {
        const size_t count = shortCount ? bytes.u8() : bytes.u16();
        if (!biff8) {
            if (!bytes.has(count)) {
                bytes.skip(count);
                return {};
            }
            QString text = eightBit(bytes.here(), count);
            bytes.skip(count);
            return text;
        }
        const quint8 flags = bytes.u8();
        if (flags & 0x08)
            bytes.skip(2); // run count of rich text
        if (flags & 0x04)
            bytes.skip(4); // size of phonetic data
        return readCharacters(bytes, count, flags & 0x01);
    }
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
    if (!bytes.ok() || quint64(unique) > total / 3)
        return Error{QStringLiteral("the shared string table claims %1 strings in %2 bytes")
                         .arg(unique)
                         .arg(total),
                     ErrorCode::Unsafe};
    book.sharedStrings.reserve(unique);
    for (quint32 i = 0; i < unique && !bytes.atEnd(); ++i) {
        const quint16 count = bytes.u16();
        const quint8 flags = bytes.u8();
        const quint16 runs = (flags & 0x08) ? bytes.u16() : 0;
        const quint32 phonetic = (flags & 0x04) ? bytes.u32() : 0;
        QString text = bytes.characters(count, flags & 0x01);
        bytes.skip(quint64(runs) * 4 + phonetic);
        if (!bytes.ok())
            break; // a table cut short keeps the strings it holds
        book.sharedStrings.push_back(std::move(text));
    }
    return {};
}

// Reads the workbook globals: sheets, strings, formats and the date system.
Result<void> readGlobals(Book &book)
{
    RecordReader reader(book.stream);
    Record r;
    Result<bool> more = reader.next(r);
    if (!more)
        return more.error();
    if (!more.value())
        return Error{QStringLiteral("the workbook stream is empty")};
    if (r.type == 0x0009 || r.type == 0x0209 || r.type == 0x0409)
        return Error{QString(), ErrorCode::OldFormat};
    if (r.type != record::bof || r.length < 4)
        return Error{QStringLiteral("the workbook stream does not start with a workbook")};
    {
        Bytes bytes(r.data, r.length);
        const quint16 version = bytes.u16();
        if (version == 0x0500)
            book.biff8 = false;
        else if (version != 0x0600)
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
            if (page != 1200 && page != 1252 && page != 32769 && !book.biff8)
                book.codePage.emplace(QStringLiteral("windows-%1").arg(page).toLatin1().constData(),
                                      QStringDecoder::Flag::Stateless);
            break;
        }
        case record::dateMode:
            book.date1904 = bytes.u16() == 1;
            break;
        case record::format: {
            const int id = bytes.u16();
            QString code = book.readString(bytes, !book.biff8);
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
            QString name = book.readString(bytes, true);
            if (!bytes.ok())
                return Error{QStringLiteral("a sheet's entry in the workbook is cut short")};
            if (type == 0) { // charts, macros and modules are not tables
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
    XlsSheet(std::shared_ptr<Book> book, GsfInput *input)
        : m_book(std::move(book))
        , m_input(input)
        , m_reader(input)
    {}
    ~XlsSheet() override { g_object_unref(m_input); }

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

    Result<bool> nextRow(std::vector<Cell> &cells) override
    {
        cells.clear();
        if (!m_pending.empty()) {
            cells.swap(m_pending);
            m_row = m_pendingRow;
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
            if (!cells.empty() && row != m_row) {
                m_pending.swap(m_scratch);
                m_pendingRow = row;
                return true;
            }
            m_row = row;
            for (Cell &cell : m_scratch)
                cells.push_back(std::move(cell));
        }
        return !cells.empty();
    }

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

    static QVariant text(QString value) { return value.isEmpty() ? QVariant() : QVariant(value); }

    Result<void> readCells(const Record &r, int &row)
    {
        Bytes bytes(r.data, r.length);
        switch (r.type) {
        case record::dimensions: {
            if (m_book->biff8) {
                bytes.skip(8);
            } else {
                bytes.skip(4);
            }
            const int first = bytes.u16();
            const int end = bytes.u16();
            // A range out to the last column says only that whole rows carry a
            // format; the cells themselves then tell the width.
            if (bytes.ok() && end > first && end < 256)
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
            QString value = m_book->readString(bytes, false);
            if (bytes.ok())
                add(column, text(std::move(value)));
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
            while (bytes.ok() && bytes.left() >= 6 + 2) {
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
        if (!bytes.has(8))
            return {};
        quint8 result[8];
        std::memcpy(result, bytes.here(), 8);
        if (result[6] != 0xFF || result[7] != 0xFF) {
            Bytes number(result, 8);
            add(column, numberValue(style, number.f64()));
            return {};
        }
        switch (result[0]) {
        case 1:
            add(column, result[2] != 0);
            return {};
        case 2:
            add(column, QVariant::fromValue(CellError{QString::fromLatin1(errorText(result[2]))}));
            return {};
        case 0:
            break; // the text follows in a STRING record
        default:
            return {};
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
        QString value = m_book->readString(text, false);
        if (text.ok())
            add(column, this->text(std::move(value)));
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
    int m_row = -1;
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
        const QuietGsf quiet;
        const gsf_off_t offset = m_book->sheetOffsets[size_t(index)];
        if (offset >= gsf_input_size(m_book->stream))
            return Error{fault::damaged(m_book->path,
                                        QStringLiteral("a sheet lies outside the workbook stream")),
                         ErrorCode::Damaged};
        GError *error = nullptr;
        GsfInput *input = gsf_input_dup(m_book->stream, &error);
        if (!input) {
            if (error)
                g_error_free(error);
            return Error{
                fault::damaged(m_book->path, QStringLiteral("the workbook stream cannot be read")),
                ErrorCode::Damaged};
        }
        auto sheet = std::make_unique<XlsSheet>(m_book, input);
        if (gsf_input_seek(input, offset, G_SEEK_SET))
            return Error{fault::damaged(m_book->path,
                                        QStringLiteral("a sheet lies outside the workbook stream")),
                         ErrorCode::Damaged};
        Result<void> started = sheet->start();
        if (!started)
            return describeDetail(started.error(), m_book->path);
        return std::unique_ptr<SheetCells>(std::move(sheet));
    }

private:
    std::shared_ptr<Book> m_book;
};

// Reads a little-endian number of the given width from raw bytes.
quint32 littleEndian(const guint8 *bytes, int width)
{
    quint32 value = 0;
    for (int i = width - 1; i >= 0; --i)
        value = (value << 8) | bytes[i];
    return value;
}

// The root entry of a compound document has no siblings. libgsf reads any it
// names anyway and loses them (a leak per open), so such a file is refused
// before libgsf sees it. Files too broken to find the entry are left to libgsf.
bool rootEntryHasSiblings(GsfInput *source)
{
    constexpr gsf_off_t kHeaderSize = 512;
    constexpr int kEntrySize = 128;
    const gsf_off_t size = gsf_input_size(source);
    if (size < kHeaderSize || gsf_input_seek(source, 0, G_SEEK_SET))
        return false;
    const guint8 *header = gsf_input_read(source, kHeaderSize, nullptr);
    if (!header)
        return false;
    const quint32 shift = littleEndian(header + 0x1e, 2);
    const quint32 firstDirectorySector = littleEndian(header + 0x30, 4);
    if (shift < 7 || shift > 16)
        return false;
    const gsf_off_t sector = gsf_off_t(1) << shift;
    const gsf_off_t offset =
        std::max(kHeaderSize, sector) + static_cast<gsf_off_t>(firstDirectorySector) * sector;
    if (offset > size - kEntrySize || gsf_input_seek(source, offset, G_SEEK_SET))
        return false;
    const guint8 *entry = gsf_input_read(source, kEntrySize, nullptr);
    if (!entry)
        return false;
    // 0 points back at the entry itself and the top values mean "none": libgsf
    // follows neither.
    const auto names = [](quint32 link) {
        return link != 0 && link < 0xfffffffau;
    };
    return names(littleEndian(entry + 0x44, 4)) || names(littleEndian(entry + 0x48, 4));
}

Result<std::unique_ptr<WorkbookFile>> openBook(std::shared_ptr<Book> book)
{
    const QuietGsf quiet;
    if (rootEntryHasSiblings(book->source))
        return Error{
            fault::damaged(book->path,
                           QStringLiteral("the compound document's root entry is damaged")),
            ErrorCode::Damaged};
    if (gsf_input_seek(book->source, 0, G_SEEK_SET))
        return Error{fault::damaged(book->path, QStringLiteral("the file cannot be read")),
                     ErrorCode::Damaged};
    GError *error = nullptr;
    book->container = gsf_infile_msole_new(book->source, &error);
    if (!book->container) {
        const QString reason =
            error ? QString::fromUtf8(error->message) : QStringLiteral("not a compound document");
        if (error)
            g_error_free(error);
        return Error{fault::damaged(book->path, reason), ErrorCode::Damaged};
    }
    const int children = gsf_infile_num_children(book->container);
    int workbook = -1;
    bool encryptedPackage = false;
    for (int i = 0; i < children; ++i) {
        const QString name = QString::fromUtf8(gsf_infile_name_by_index(book->container, i));
        // Excel 97 and later write "Workbook", Excel 5 and 95 "Book"; some
        // writers change the case.
        if (workbook < 0 && (name.compare(QLatin1String("Workbook"), Qt::CaseInsensitive) == 0 ||
                             name.compare(QLatin1String("Book"), Qt::CaseInsensitive) == 0))
            workbook = i;
        if (name == QLatin1String("EncryptedPackage"))
            encryptedPackage = true;
    }
    if (workbook < 0)
        return encryptedPackage ? Error{fault::encrypted(book->path), ErrorCode::Encrypted}
                                : Error{fault::notWorkbook(book->path), ErrorCode::NotWorkbook};
    book->stream = gsf_infile_child_by_index(book->container, workbook);
    if (!book->stream)
        return Error{
            fault::damaged(book->path, QStringLiteral("the workbook stream cannot be opened")),
            ErrorCode::Damaged};
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
