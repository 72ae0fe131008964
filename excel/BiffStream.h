#pragma once

#include "excel/Errors.h"

#include <QByteArray>
#include <QString>
#include <QStringDecoder>

#include <gsf/gsf-input.h>

#include <cstdint>
#include <optional>
#include <vector>

// Reading a BIFF record stream: records one after another, the fields of one
// record, a record continued in CONTINUE records, and the strings they hold.
namespace excel::biff {

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
    bool has(size_t count) const { return count <= m_size - m_at; }
    quint8 u8() { return has(1) ? m_data[m_at++] : fail(); }
    quint16 u16() { return quint16(u8() | (u8() << 8)); }
    quint32 u32() { return quint32(u16()) | (quint32(u16()) << 16); }
    double f64();
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

// A record followed by its CONTINUE records, read as one run of bytes in which
// a string's characters resume after a one-byte flag at each record break.
class ContinuedBytes
{
public:
    explicit ContinuedBytes(const std::vector<QByteArray> &segments)
        : m_segments(segments)
    {}

    bool ok() const { return m_ok; }
    bool atEnd();
    quint8 u8();
    quint16 u16() { return quint16(u8() | (u8() << 8)); }
    quint32 u32() { return quint32(u16()) | (quint32(u16()) << 16); }
    void skip(quint64 count);
    QString characters(size_t count, bool wide);

private:
    void settle();

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

// Reads records from a stream, with one record of look-back. A record's data
// stays valid until the next call of next().
class RecordReader
{
public:
    explicit RecordReader(GsfInput *input);

    // The next record; false at the end of the stream.
    Result<bool> next(Record &out);
    // Makes the last record the next one again.
    void unread() { m_unread = true; }

private:
    GsfInput *m_input;
    std::vector<quint8> m_buffer;
    Record m_last;
    bool m_unread = false;
};

// Text of a workbook: BIFF8 strings carry their own width, BIFF5 strings are
// 8-bit text in the workbook's code page.
class TextDecoding
{
public:
    bool biff8 = true;
    std::optional<QStringDecoder> codePage; // of BIFF5 files, from a CODEPAGE record

    // An XLUnicodeString (BIFF8) or a counted 8-bit string (BIFF5); the count
    // takes one or two bytes.
    QString readString(Bytes &bytes, bool shortCount);
    QString eightBit(const quint8 *data, size_t count);
};

QString fromUtf16Le(const quint8 *data, size_t count);
// The rest of a string's characters in a record: 8-bit ones are the low bytes
// of UTF-16 code units.
QString readCharacters(Bytes &bytes, size_t count, bool wide);

} // namespace excel::biff
