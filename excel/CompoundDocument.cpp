#include "excel/CompoundDocument.h"

#include "excel/SheetSource.h"

#include <gsf/gsf-infile-msole.h>

#include <algorithm>
#include <cstdint>

namespace excel {

namespace {

// The layout of a compound document's header and directory entries.
constexpr gsf_off_t headerBytes = 512;
constexpr gsf_off_t headerSectorShift = 0x1E;    // two bytes: log2 of the sector size
constexpr gsf_off_t headerFirstDirectory = 0x30; // four bytes: first directory sector
constexpr quint32 minSectorShift = 7;
constexpr quint32 maxSectorShift = 16;
constexpr gsf_off_t directoryEntryBytes = 128;
constexpr gsf_off_t entryLeftSibling = 0x44;
constexpr gsf_off_t entryRightSibling = 0x48;
// Sector numbers from here up are markers ("free", "end of chain", ...), not sectors.
constexpr quint32 firstMarker = 0xFFFFFFFAu;

void discard(const gchar *, GLogLevelFlags, const gchar *, gpointer) {}

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
    const gsf_off_t size = gsf_input_size(source);
    if (size < headerBytes || gsf_input_seek(source, 0, G_SEEK_SET))
        return false;
    const guint8 *header = gsf_input_read(source, headerBytes, nullptr);
    if (!header)
        return false;
    const quint32 shift = littleEndian(header + headerSectorShift, 2);
    const quint32 firstDirectorySector = littleEndian(header + headerFirstDirectory, 4);
    if (shift < minSectorShift || shift > maxSectorShift)
        return false;
    const gsf_off_t sector = gsf_off_t(1) << shift;
    const gsf_off_t offset =
        std::max(headerBytes, sector) + static_cast<gsf_off_t>(firstDirectorySector) * sector;
    if (offset > size - directoryEntryBytes || gsf_input_seek(source, offset, G_SEEK_SET))
        return false;
    const guint8 *entry = gsf_input_read(source, directoryEntryBytes, nullptr);
    if (!entry)
        return false;
    // 0 points back at the entry itself and the top values mean "none": libgsf
    // follows neither.
    const auto names = [](quint32 link) {
        return link != 0 && link < firstMarker;
    };
    return names(littleEndian(entry + entryLeftSibling, 4)) ||
           names(littleEndian(entry + entryRightSibling, 4));
}

} // namespace

QuietGsf::QuietGsf()
{
    const auto levels = GLogLevelFlags(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING |
                                       G_LOG_LEVEL_MESSAGE | G_LOG_LEVEL_INFO | G_LOG_LEVEL_DEBUG);
    for (size_t i = 0; i < std::size(domains); ++i)
        m_ids[i] = g_log_set_handler(domains[i], levels, &discard, nullptr);
}

QuietGsf::~QuietGsf()
{
    for (size_t i = 0; i < std::size(domains); ++i)
        g_log_remove_handler(domains[i], m_ids[i]);
}

CompoundDocument::~CompoundDocument()
{
    if (m_stream)
        g_object_unref(m_stream);
    if (m_container)
        g_object_unref(m_container);
}

Result<std::unique_ptr<CompoundDocument>> CompoundDocument::open(GsfInput *source,
                                                                 const QString &path)
{
    const QuietGsf quiet;
    if (rootEntryHasSiblings(source))
        return Error{
            fault::damaged(path, QStringLiteral("the compound document's root entry is damaged")),
            ErrorCode::Damaged};
    if (gsf_input_seek(source, 0, G_SEEK_SET))
        return Error{fault::damaged(path, QStringLiteral("the file cannot be read")),
                     ErrorCode::Damaged};
    std::unique_ptr<CompoundDocument> document(new CompoundDocument);
    GError *error = nullptr;
    document->m_container = gsf_infile_msole_new(source, &error);
    if (!document->m_container) {
        const QString reason =
            error ? QString::fromUtf8(error->message) : QStringLiteral("not a compound document");
        if (error)
            g_error_free(error);
        return Error{fault::damaged(path, reason), ErrorCode::Damaged};
    }
    const int children = gsf_infile_num_children(document->m_container);
    int workbook = -1;
    int book = -1;
    bool encryptedPackage = false;
    for (int i = 0; i < children; ++i) {
        const QString name = QString::fromUtf8(gsf_infile_name_by_index(document->m_container, i));
        // Excel 97 and later write "Workbook", Excel 5 and 95 "Book"; some
        // writers change the case.
        if (workbook < 0 && name.compare(QLatin1String("Workbook"), Qt::CaseInsensitive) == 0)
            workbook = i;
        if (book < 0 && name.compare(QLatin1String("Book"), Qt::CaseInsensitive) == 0)
            book = i;
        // An Excel 2007 package protected by a password is kept in a compound document.
        if (name == QLatin1String("EncryptedPackage"))
            encryptedPackage = true;
    }
    // A file converted from Excel 5 or 95 may keep its old "Book" beside the
    // "Workbook" saved since: the latter is the workbook.
    if (workbook < 0)
        workbook = book;
    if (workbook < 0)
        return encryptedPackage ? Error{fault::encrypted(path), ErrorCode::Encrypted}
                                : Error{fault::notWorkbook(path), ErrorCode::NotWorkbook};
    document->m_stream = gsf_infile_child_by_index(document->m_container, workbook);
    if (!document->m_stream)
        return Error{fault::damaged(path, QStringLiteral("the workbook stream cannot be opened")),
                     ErrorCode::Damaged};
    return document;
}

} // namespace excel
