#include "excel/BiffStream.h"

#include "excel/BiffRecords.h"
#include "excel/Windows1252.h"

#include <algorithm>
#include <cstring>

namespace excel::biff {

double Bytes::f64()
{
    quint64 bits = 0;
    for (int i = 0; i < 8; ++i)
        bits |= quint64(u8()) << (8 * i);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

bool ContinuedBytes::atEnd()
{
    settle();
    return m_segment >= m_segments.size();
}

quint8 ContinuedBytes::u8()
{
    settle();
    if (m_segment >= m_segments.size()) {
        m_ok = false;
        return 0;
    }
    return quint8(m_segments[m_segment].at(qsizetype(m_at++)));
}

void ContinuedBytes::skip(quint64 count)
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

QString ContinuedBytes::characters(size_t count, bool wide)
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
            // that says how wide they are there. Some writers leave an empty
            // CONTINUE record in between: it holds nothing, not even the flag.
            do {
                ++m_segment;
            } while (m_segment < m_segments.size() && m_segments[m_segment].isEmpty());
            m_at = 0;
            if (m_segment >= m_segments.size()) {
                m_ok = false;
                break;
            }
            wide = (quint8(m_segments[m_segment].at(0)) & stringFlag::wide) != 0;
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
        text += wide ? fromUtf16Le(data, fit)
                     : QString::fromLatin1(reinterpret_cast<const char *>(data), qsizetype(fit));
        m_at += wide ? fit * 2 : fit;
        count -= fit;
    }
    return text;
}

void ContinuedBytes::settle()
{
    while (m_segment < m_segments.size() && m_at >= size_t(m_segments[m_segment].size())) {
        ++m_segment;
        m_at = 0;
    }
}

RecordReader::RecordReader(GsfInput *input)
    : m_input(input)
    , m_buffer(maxRecordBytes + 1)
{}

Result<bool> RecordReader::next(Record &out)
{
    if (m_unread) {
        m_unread = false;
        out = m_last;
        return true;
    }
    const gsf_off_t remaining = gsf_input_remaining(m_input);
    if (remaining < gsf_off_t(recordHeaderBytes))
        return false; // a stream may end without its closing record
    quint8 header[recordHeaderBytes];
    if (!gsf_input_read(m_input, recordHeaderBytes, header))
        return Error{QStringLiteral("the workbook stream cannot be read")};
    m_last.type = quint16(header[0] | (header[1] << 8));
    m_last.length = quint16(header[2] | (header[3] << 8));
    m_last.data = m_buffer.data();
    if (m_last.length > remaining - gsf_off_t(recordHeaderBytes))
        return Error{QStringLiteral("a record runs past the end of the workbook stream")};
    if (m_last.length > 0 && !gsf_input_read(m_input, m_last.length, m_buffer.data()))
        return Error{QStringLiteral("the workbook stream cannot be read")};
    out = m_last;
    return true;
}

QString fromUtf16Le(const quint8 *data, size_t count)
{
    QString text(qsizetype(count), Qt::Uninitialized);
    QChar *out = text.data();
    for (size_t i = 0; i < count; ++i)
        out[i] = QChar(ushort(data[2 * i] | (data[2 * i + 1] << 8)));
    return text;
}

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

QString TextDecoding::eightBit(const quint8 *data, size_t count)
{
    const QByteArrayView bytes(reinterpret_cast<const char *>(data), qsizetype(count));
    if (codePage && codePage->isValid())
        return codePage->decode(bytes);
    return fromWindows1252(bytes);
}

QString TextDecoding::readString(Bytes &bytes, bool shortCount)
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
    if (flags & stringFlag::rich)
        bytes.skip(2); // run count of rich text
    if (flags & stringFlag::phonetic)
        bytes.skip(4); // size of phonetic data
    return readCharacters(bytes, count, flags & stringFlag::wide);
}

} // namespace excel::biff
