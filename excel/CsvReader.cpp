// The CSV (comma-separated values, RFC 4180) reader: one table, read record
// by record from the file in chunks. Every value is text, as the file holds
// it: no number or date is guessed, so leading zeros and long numbers
// survive. The encoding comes from a byte-order mark, else UTF-8 when the
// bytes are valid UTF-8, else Windows-1252; the separator from an Excel-style
// "sep=" first line, else from the header line (comma, semicolon or TAB).

#include "excel/Limits.h"
#include "excel/SheetSource.h"
#include "excel/Windows1252.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <optional>

namespace excel {

namespace {

constexpr qsizetype chunkBytes = qsizetype{64} * 1024;

enum class Encoding { Utf8, Utf16Le, Utf16Be, Windows1252 };

// The file and what was learnt about it once: shared by the workbook and its
// sheet readers.
struct CsvFile
{
    QString path;
    QString name;
    QByteArray memory; // the data when read from memory
    bool inMemory = false;
    Encoding encoding = Encoding::Utf8;
    qsizetype bomBytes = 0;
    QChar separator = QLatin1Char(',');
    bool sepLine = false; // the first line names the separator and is no record
};

// The file's bytes, in chunks.
class Bytes
{
public:
    static Result<Bytes> open(const CsvFile &file)
    {
        Bytes bytes;
        bytes.m_file = &file;
        if (!file.inMemory) {
            bytes.m_device = std::make_shared<QFile>(file.path);
            if (!bytes.m_device->open(QIODevice::ReadOnly))
                return Error{fault::unreadable(file.path, bytes.m_device->errorString()),
                             ErrorCode::Unreadable};
        }
        return bytes;
    }

    // The next chunk; empty at the end.
    Result<QByteArray> read()
    {
        if (m_file->inMemory) {
            const QByteArray chunk = m_file->memory.mid(m_at, chunkBytes);
            m_at += chunk.size();
            return chunk;
        }
        QByteArray chunk = m_device->read(chunkBytes);
        if (chunk.isEmpty() && m_device->error() != QFileDevice::NoError)
            return Error{fault::unreadable(m_file->path, m_device->errorString()),
                         ErrorCode::Unreadable};
        return chunk;
    }

private:
    const CsvFile *m_file = nullptr;
    std::shared_ptr<QFile> m_device;
    qsizetype m_at = 0;
};

// The file's text, in chunks, decoded in its encoding (the byte-order mark
// left out).
class Text
{
public:
    static Result<Text> open(const CsvFile &file)
    {
        Result<Bytes> bytes = Bytes::open(file);
        if (!bytes)
            return bytes.error();
        Text text(file, std::move(bytes.value()));
        return text;
    }

    // The next character; false at the end of the text or on an error (then
    // error() says which).
    bool next(QChar &c)
    {
        if (!fetch())
            return false;
        c = m_chunk.at(m_at++);
        return true;
    }
    // Makes text ready to be read; false at the end of the text or on an error.
    bool fetch()
    {
        while (m_at >= m_chunk.size()) {
            if (m_done || m_error)
                return false;
            fill();
        }
        return true;
    }
    // The text ready to be read, at least one character after fetch().
    QStringView ready() const { return QStringView(m_chunk).sliced(m_at); }
    void take(qsizetype count) { m_at += count; }
    const std::optional<Error> &error() const { return m_error; }

private:
    Text(const CsvFile &file, Bytes bytes)
        : m_file(&file)
        , m_bytes(std::move(bytes))
    {
        // A mark left after the one taken off stays a character.
        const auto flags = QStringConverter::Flag::ConvertInitialBom;
        if (file.encoding == Encoding::Utf8)
            m_decoder = QStringDecoder(QStringConverter::Utf8, flags);
        else if (file.encoding == Encoding::Utf16Le)
            m_decoder = QStringDecoder(QStringConverter::Utf16LE, flags);
        else if (file.encoding == Encoding::Utf16Be)
            m_decoder = QStringDecoder(QStringConverter::Utf16BE, flags);
    }

    void fill()
    {
        Result<QByteArray> chunk = m_bytes.read();
        if (!chunk) {
            m_error = chunk.error();
            return;
        }
        QByteArrayView data = chunk.value();
        if (m_skip > 0) {
            const qsizetype skipped = std::min(m_skip, data.size());
            data = data.sliced(skipped);
            m_skip -= skipped;
        }
        m_at = 0;
        if (chunk.value().isEmpty()) {
            m_done = true;
            // A sequence cut off at the end of the file comes out as a
            // replacement character.
            m_chunk = m_decoder.isValid() ? QString(m_decoder(QByteArrayView())) : QString();
            return;
        }
        m_chunk = m_file->encoding == Encoding::Windows1252 ? fromWindows1252(data)
                                                            : QString(m_decoder(data));
    }

    const CsvFile *m_file;
    Bytes m_bytes;
    QStringDecoder m_decoder;
    QString m_chunk;
    qsizetype m_at = 0;
    qsizetype m_skip = m_file->bomBytes;
    std::optional<Error> m_error;
    bool m_done = false;
};

// A record's fields as the file spells them, one line of the table (a quoted
// field may hold line breaks).
class RecordReader
{
public:
    RecordReader(Text text, QChar separator)
        : m_text(std::move(text))
        , m_separator(separator)
    {}

    // The next record's fields; false at the end of the file. Errors are details.
    Result<bool> next(std::vector<QString> &fields)
    {
        fields.clear();
        m_field.clear();
        m_recordCharacters = 0;
        enum class State { FieldStart, Unquoted, Quoted, QuoteInQuoted } state = State::FieldStart;
        bool any = false;
        // A line break of CR and LF is one break.
        if (m_afterCarriageReturn && m_text.fetch() && m_text.ready().front() == u'\n')
            m_text.take(1);
        m_afterCarriageReturn = false;
        while (m_text.fetch()) {
            any = true;
            const QStringView ready = m_text.ready();
            if (state == State::Quoted) {
                // Everything up to the next quote, line breaks too.
                const qsizetype quote = ready.indexOf(u'"');
                const QStringView run = quote < 0 ? ready : ready.first(quote);
                if (Result<void> added = add(run); !added)
                    return added.error();
                m_text.take(run.size());
                if (quote >= 0) {
                    m_text.take(1);
                    state = State::QuoteInQuoted;
                }
                continue;
            }
            if (state == State::Unquoted) {
                // Everything up to the next separator or line break.
                qsizetype end = 0;
                while (end < ready.size() && !special(ready[end]))
                    ++end;
                if (Result<void> added = add(ready.first(end)); !added)
                    return added.error();
                m_text.take(end);
                if (end == ready.size())
                    continue;
            }
            const QChar c = m_text.ready().front();
            m_text.take(1);
            if (state == State::QuoteInQuoted && c == u'"') {
                state = State::Quoted; // a doubled quote stands for one
                if (Result<void> added = add(QStringView(&c, 1)); !added)
                    return added.error();
                continue;
            }
            if (c == m_separator || c == u'\n' || c == u'\r') {
                if (Result<void> ended = endField(fields); !ended)
                    return ended.error();
                state = State::FieldStart;
                if (c != m_separator) {
                    m_afterCarriageReturn = c == u'\r';
                    return true;
                }
                continue;
            }
            if (state == State::FieldStart && c == u'"') {
                state = State::Quoted;
                continue;
            }
            // Text after a closing quote, or a quote inside an unquoted
            // field, is taken as it stands, as spreadsheet programs do.
            state = State::Unquoted;
            if (Result<void> added = add(QStringView(&c, 1)); !added)
                return added.error();
        }
        if (m_text.error())
            return *m_text.error();
        if (!any)
            return false;
        // The last record may end without a line break, or inside quotes
        // that never close: it runs to the end of the file.
        if (Result<void> ended = endField(fields); !ended)
            return ended.error();
        return true;
    }

private:
    bool special(QChar c) const { return c == m_separator || c == u'\n' || c == u'\r'; }

    Result<void> add(QStringView text)
    {
        if (m_field.size() + text.size() > limits::maxCellTextBytes)
            return Error{QStringLiteral("a field holds more text than any workbook cell can"),
                         ErrorCode::Unsafe};
        m_recordCharacters += text.size();
        if (m_recordCharacters > limits::maxCsvRecordCharacters)
            return Error{QStringLiteral("a line holds more than %1 characters")
                             .arg(limits::maxCsvRecordCharacters),
                         ErrorCode::Unsafe};
        m_field.append(text);
        return {};
    }

    Result<void> endField(std::vector<QString> &fields)
    {
        if (qsizetype(fields.size()) >= limits::maxColumns)
            return Error{QStringLiteral("a line holds more than %1 fields").arg(limits::maxColumns),
                         ErrorCode::Unsafe};
        fields.push_back(std::move(m_field));
        m_field = QString();
        return {};
    }

    Text m_text;
    QChar m_separator;
    QString m_field;
    qint64 m_recordCharacters = 0;
    bool m_afterCarriageReturn = false;
};

class CsvSheet : public SheetCells
{
public:
    static Result<std::unique_ptr<SheetCells>> open(const std::shared_ptr<const CsvFile> &file)
    {
        Result<Text> text = Text::open(*file);
        if (!text)
            return text.error();
        auto sheet = std::unique_ptr<CsvSheet>(
            new CsvSheet(file, RecordReader(std::move(text.value()), file->separator)));
        if (file->sepLine) {
            std::vector<QString> line;
            Result<bool> skipped = sheet->m_records.next(line);
            if (!skipped)
                return describeDetail(skipped.error(), file->path);
        }
        return std::unique_ptr<SheetCells>(std::move(sheet));
    }

    Result<bool> nextRun(RowCells &run) override
    {
        run.cells.clear();
        for (;;) {
            Result<bool> more = m_records.next(m_fields);
            if (!more)
                return describeDetail(more.error(), m_file->path);
            if (!more.value())
                return false;
            // Rows as a spreadsheet program shows the file: one a record.
            ++m_record;
            for (size_t i = 0; i < m_fields.size(); ++i) {
                if (!m_fields[i].isEmpty())
                    run.cells.push_back({int(i), m_fields[i]});
            }
            if (run.cells.empty())
                continue;
            // The header's fields, empty ones too, are the table's columns.
            if (!m_declared)
                m_declared = ColumnSpan{0, int(m_fields.size()) - 1};
            run.row = m_record;
            return true;
        }
    }

    std::optional<ColumnSpan> declaredColumns() const override { return m_declared; }
    Result<std::unique_ptr<SheetCells>> reopen() const override { return open(m_file); }
    const QString &path() const override { return m_file->path; }

private:
    CsvSheet(std::shared_ptr<const CsvFile> file, RecordReader records)
        : m_file(std::move(file))
        , m_records(std::move(records))
    {}

    std::shared_ptr<const CsvFile> m_file;
    RecordReader m_records;
    std::vector<QString> m_fields;
    std::optional<ColumnSpan> m_declared;
    int m_record = 0;
};

class CsvWorkbook : public WorkbookFile
{
public:
    explicit CsvWorkbook(std::shared_ptr<const CsvFile> file)
        : m_file(std::move(file))
        , m_names{m_file->name}
    {}

    const QStringList &sheetNames() const override { return m_names; }
    Result<std::unique_ptr<SheetCells>> openSheet(int index) override
    {
        if (index != 0)
            return Error{QStringLiteral("The workbook has no sheet number %1.").arg(index + 1)};
        return CsvSheet::open(m_file);
    }

private:
    std::shared_ptr<const CsvFile> m_file;
    QStringList m_names;
};

// Checks bytes for UTF-8 (RFC 3629: no overlong forms, no surrogates, nothing
// past U+10FFFF) chunk by chunk, a character's bytes across chunks.
class Utf8Check
{
public:
    void feed(QByteArrayView bytes)
    {
        for (const char c : bytes) {
            const auto byte = quint8(c);
            if (m_left > 0) {
                if (byte < m_low || byte > m_high) {
                    m_valid = false;
                    return;
                }
                m_low = 0x80;
                m_high = 0xBF;
                --m_left;
                continue;
            }
            if (byte < 0x80)
                continue;
            // The lead byte says how many follow, and the range of the first
            // of them where overlong forms and surrogates would start.
            if (byte >= 0xC2 && byte <= 0xDF) {
                m_left = 1;
            } else if (byte >= 0xE0 && byte <= 0xEF) {
                m_left = 2;
                m_low = byte == 0xE0 ? 0xA0 : 0x80;
                m_high = byte == 0xED ? 0x9F : 0xBF;
            } else if (byte >= 0xF0 && byte <= 0xF4) {
                m_left = 3;
                m_low = byte == 0xF0 ? 0x90 : 0x80;
                m_high = byte == 0xF4 ? 0x8F : 0xBF;
            } else {
                m_valid = false;
                return;
            }
        }
    }
    bool valid() const { return m_valid; }
    // At the end: a character cut off is no UTF-8.
    bool validToTheEnd() const { return m_valid && m_left == 0; }

private:
    int m_left = 0;
    quint8 m_low = 0x80;
    quint8 m_high = 0xBF;
    bool m_valid = true;
};

// The encoding: a byte-order mark says it; else the bytes are UTF-8 if they
// are valid UTF-8 (all of them, so one pass over the file), else Windows-1252.
Result<void> findEncoding(CsvFile &file)
{
    Result<Bytes> bytes = Bytes::open(file);
    if (!bytes)
        return bytes.error();
    Result<QByteArray> first = bytes.value().read();
    if (!first)
        return first.error();
    const QByteArray &start = first.value();
    if (start.startsWith("\xEF\xBB\xBF")) {
        file.encoding = Encoding::Utf8;
        file.bomBytes = 3;
        return {};
    }
    if (start.startsWith("\xFF\xFE")) {
        file.encoding = Encoding::Utf16Le;
        file.bomBytes = 2;
        return {};
    }
    if (start.startsWith("\xFE\xFF")) {
        file.encoding = Encoding::Utf16Be;
        file.bomBytes = 2;
        return {};
    }
    Utf8Check utf8;
    QByteArray chunk = start;
    while (!chunk.isEmpty() && utf8.valid()) {
        utf8.feed(chunk);
        Result<QByteArray> next = bytes.value().read();
        if (!next)
            return next.error();
        chunk = next.value();
    }
    file.encoding = utf8.validToTheEnd() ? Encoding::Utf8 : Encoding::Windows1252;
    return {};
}

// The separator: named by an Excel-style "sep=X" first line, else the one of
// comma, semicolon and TAB found most often in the header line, outside
// quotes (a comma when none is).
Result<void> findSeparator(CsvFile &file)
{
    Result<Text> opened = Text::open(file);
    if (!opened)
        return opened.error();
    Text &text = opened.value();
    // Up to six characters of the first line: "sep=" and one more make five.
    QString line;
    QChar c;
    while (line.size() <= 5 && text.next(c) && c != QLatin1Char('\r') && c != QLatin1Char('\n'))
        line.append(c);
    if (text.error())
        return *text.error();
    if (line.size() == 5 && line.startsWith(QLatin1String("sep="), Qt::CaseInsensitive) &&
        line.at(4) != QLatin1Char('"')) {
        file.separator = line.at(4);
        file.sepLine = true;
        return {};
    }
    // The header: its first line break outside quotes ends it.
    Result<Text> again = Text::open(file);
    if (!again)
        return again.error();
    std::array<qint64, 3> counts{};
    const std::array<QChar, 3> candidates{QLatin1Char(','), QLatin1Char(';'), QLatin1Char('\t')};
    bool quoted = false;
    for (qint64 read = 0; read <= limits::maxCsvRecordCharacters && again.value().next(c); ++read) {
        if (c == QLatin1Char('"'))
            quoted = !quoted;
        else if (!quoted && (c == QLatin1Char('\r') || c == QLatin1Char('\n')))
            break;
        for (size_t i = 0; i < candidates.size(); ++i) {
            if (!quoted && c == candidates[i])
                ++counts[i];
        }
    }
    if (again.value().error())
        return *again.value().error();
    size_t best = 0;
    for (size_t i = 1; i < counts.size(); ++i) {
        if (counts[i] > counts[best])
            best = i;
    }
    file.separator = candidates[best];
    return {};
}

Result<std::unique_ptr<WorkbookFile>> openCsv(std::shared_ptr<CsvFile> file)
{
    Result<void> found = findEncoding(*file);
    if (found)
        found = findSeparator(*file);
    if (!found)
        return describeDetail(found.error(), file->path);
    return std::unique_ptr<WorkbookFile>(new CsvWorkbook(std::move(file)));
}

} // namespace

Result<std::unique_ptr<WorkbookFile>> openCsvFile(const QString &path)
{
    if (Result<void> usable = checkWorkbookPath(path); !usable)
        return usable.error();
    auto file = std::make_shared<CsvFile>();
    file->path = path;
    file->name = QFileInfo(path).fileName();
    return openCsv(std::move(file));
}

Result<std::unique_ptr<WorkbookFile>> openCsvBuffer(const QByteArray &data, const QString &label)
{
    auto file = std::make_shared<CsvFile>();
    file->path = label;
    file->name = label;
    file->memory = data;
    file->inMemory = true;
    return openCsv(std::move(file));
}

} // namespace excel
