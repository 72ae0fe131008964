#include "Builders.h"

#include <QFile>
#include <QTemporaryDir>

#include <gsf/gsf-outfile-msole.h>
#include <gsf/gsf-outfile.h>
#include <gsf/gsf-output-memory.h>
#include <gsf/gsf-output.h>
#include <zip.h>

#include <cstring>
#include <stdexcept>

namespace builders {

QByteArray zipArchive(const Parts &entries, bool store)
{
    QTemporaryDir directory;
    const QString path = directory.filePath(QStringLiteral("archive.zip"));
    int error = 0;
    zip_t *archive =
        zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        throw std::runtime_error("zip_open");
    // libzip reads the sources at close, so the data must live until then.
    std::vector<QByteArray> keep;
    keep.reserve(entries.size());
    for (const auto &[name, data] : entries) {
        keep.push_back(data);
        zip_source_t *source = zip_source_buffer(archive, keep.back().constData(),
                                                 zip_uint64_t(keep.back().size()), 0);
        const zip_int64_t index =
            zip_file_add(archive, name.toUtf8().constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0)
            throw std::runtime_error("zip_file_add");
        zip_set_file_compression(archive, zip_uint64_t(index),
                                 store ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    }
    if (zip_close(archive) != 0)
        throw std::runtime_error("zip_close");
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        throw std::runtime_error("read zip");
    return file.readAll();
}

QByteArray Xlsx::build() const
{
    QByteArray types = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                       "<Types xmlns=\"http://schemas.openxmlformats.org/package/2006/"
                       "content-types\"></Types>";
    QByteArray rels =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">"
        "<Relationship Id=\"rId1\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
        "relationships/officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>";
    QByteArray workbook = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                          "<workbook xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/"
                          "2006/main\" xmlns:r=\"http://schemas.openxmlformats.org/"
                          "officeDocument/2006/relationships\">" +
                          workbookExtra + "<sheets>";
    QByteArray workbookRels =
        "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
        "<Relationships xmlns=\"http://schemas.openxmlformats.org/package/2006/relationships\">";
    Parts parts{{QStringLiteral("[Content_Types].xml"), types},
                {QStringLiteral("_rels/.rels"), rels}};
    for (size_t i = 0; i < sheets.size(); ++i) {
        const QByteArray n = QByteArray::number(qulonglong(i) + 1);
        QString name = sheets[i].first.toHtmlEscaped();
        workbook +=
            "<sheet name=\"" + name.toUtf8() + "\" sheetId=\"" + n + "\" r:id=\"rId" + n + "\"/>";
        workbookRels += "<Relationship Id=\"rId" + n +
                        "\" Type=\"http://schemas.openxmlformats.org/officeDocument/2006/"
                        "relationships/worksheet\" Target=\"worksheets/sheet" +
                        n + ".xml\"/>";
        parts.emplace_back(QStringLiteral("xl/worksheets/sheet%1.xml").arg(i + 1),
                           "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                           "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/"
                           "2006/main\">" +
                               sheetPrefix + "<sheetData>" + sheets[i].second +
                               "</sheetData></worksheet>");
    }
    workbook += "</sheets></workbook>";
    if (!sharedStrings.isEmpty()) {
        QByteArray sst =
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
            "<sst xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">";
        for (const QString &text : sharedStrings)
            sst += "<si><t xml:space=\"preserve\">" + text.toHtmlEscaped().toUtf8() + "</t></si>";
        sst += "</sst>";
        parts.emplace_back(QStringLiteral("xl/sharedStrings.xml"), sst);
        workbookRels += "<Relationship Id=\"rIdS\" Type=\"http://schemas.openxmlformats.org/"
                        "officeDocument/2006/relationships/sharedStrings\" "
                        "Target=\"sharedStrings.xml\"/>";
    }
    if (!styles.isEmpty()) {
        parts.emplace_back(QStringLiteral("xl/styles.xml"), styles);
        workbookRels += "<Relationship Id=\"rIdT\" Type=\"http://schemas.openxmlformats.org/"
                        "officeDocument/2006/relationships/styles\" Target=\"styles.xml\"/>";
    }
    workbookRels += "</Relationships>";
    parts.emplace_back(QStringLiteral("xl/workbook.xml"), workbook);
    parts.emplace_back(QStringLiteral("xl/_rels/workbook.xml.rels"), workbookRels);
    for (const auto &part : extraParts)
        parts.push_back(part);
    return zipArchive(parts);
}

QByteArray stylesPart(const std::vector<int> &xfFormatIds, const QStringList &customCodes)
{
    QByteArray xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>"
                     "<styleSheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/"
                     "main\"><numFmts>";
    for (int i = 0; i < customCodes.size(); ++i)
        xml += "<numFmt numFmtId=\"" + QByteArray::number(164 + i) + "\" formatCode=\"" +
               customCodes.at(i).toHtmlEscaped().toUtf8() + "\"/>";
    xml += "</numFmts><cellStyleXfs><xf numFmtId=\"14\"/></cellStyleXfs><cellXfs>";
    for (int id : xfFormatIds)
        xml += "<xf numFmtId=\"" + QByteArray::number(id) + "\"/>";
    xml += "</cellXfs></styleSheet>";
    return xml;
}

QByteArray compoundDocument(const Parts &streams)
{
    GsfOutput *memory = gsf_output_memory_new();
    GsfOutfile *ole = gsf_outfile_msole_new(memory);
    for (const auto &[name, data] : streams) {
        GsfOutput *child = gsf_outfile_new_child(ole, name.toUtf8().constData(), FALSE);
        gsf_output_write(child, size_t(data.size()),
                         reinterpret_cast<const guint8 *>(data.constData()));
        gsf_output_close(child);
        g_object_unref(child);
    }
    gsf_output_close(GSF_OUTPUT(ole));
    g_object_unref(ole);
    QByteArray result(
        reinterpret_cast<const char *>(gsf_output_memory_get_bytes(GSF_OUTPUT_MEMORY(memory))),
        qsizetype(gsf_output_size(memory)));
    g_object_unref(memory); // closed with the document
    return result;
}

QByteArray u16(quint16 value)
{
    return QByteArray(1, char(value & 0xFF)) + QByteArray(1, char(value >> 8));
}

QByteArray u32(quint32 value)
{
    return u16(quint16(value & 0xFFFF)) + u16(quint16(value >> 16));
}

QByteArray f64(double value)
{
    quint64 bits;
    std::memcpy(&bits, &value, sizeof bits);
    return u32(quint32(bits & 0xFFFFFFFFu)) + u32(quint32(bits >> 32));
}

QByteArray record(quint16 type, const QByteArray &payload)
{
    return u16(type) + u16(quint16(payload.size())) + payload;
}

QByteArray biffString(const QString &text, bool shortCount, bool wide)
{
    QByteArray out = shortCount ? QByteArray(1, char(text.size())) : u16(quint16(text.size()));
    out += char(wide ? 1 : 0);
    for (QChar c : text) {
        out += char(c.unicode() & 0xFF);
        if (wide)
            out += char(c.unicode() >> 8);
    }
    return out;
}

QByteArray biffWorkbook(const QByteArray &globalsExtra, const QStringList &sheetNames,
                        const std::vector<QByteArray> &sheetCells, quint16 version)
{
    const QByteArray globalsBof = record(0x0809, u16(version) + u16(0x0005) + QByteArray(12, 0));
    const QByteArray sheetBof = record(0x0809, u16(version) + u16(0x0010) + QByteArray(12, 0));
    const QByteArray end = record(0x000A, {});
    // Sheet entries first with zero offsets, to know the globals' length.
    std::vector<QByteArray> entries;
    for (const QString &name : sheetNames) {
        const QByteArray nameBytes = version == 0x0600
                                         ? biffString(name, true)
                                         : QByteArray(1, char(name.size())) + name.toLatin1();
        entries.push_back(nameBytes);
    }
    qsizetype globalsSize = globalsBof.size() + globalsExtra.size() + end.size();
    for (const QByteArray &entry : entries)
        globalsSize += 4 + 6 + entry.size();
    QByteArray stream = globalsBof + globalsExtra;
    qsizetype offset = globalsSize;
    std::vector<QByteArray> sheets;
    for (size_t i = 0; i < entries.size(); ++i) {
        stream +=
            record(0x0085, u32(quint32(offset)) + QByteArray(1, 0) + QByteArray(1, 0) + entries[i]);
        const QByteArray sheet =
            sheetBof + (i < sheetCells.size() ? sheetCells[i] : QByteArray()) + end;
        sheets.push_back(sheet);
        offset += sheet.size();
    }
    stream += end;
    for (const QByteArray &sheet : sheets)
        stream += sheet;
    return stream;
}

} // namespace builders
