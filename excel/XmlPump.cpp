#include "excel/XmlPump.h"

#include "excel/Limits.h"

namespace excel {

namespace {
constexpr int chunkSize = 64 * 1024;
}

XmlPump::XmlPump(XmlHandler &handler, Source source, QString partName)
    : m_parser(XML_ParserCreate(nullptr))
    , m_handler(handler)
    , m_source(std::move(source))
    , m_partName(std::move(partName))
{
    if (!m_parser)
        return;
    XML_SetUserData(m_parser, this);
    XML_SetElementHandler(m_parser, &XmlPump::onStart, &XmlPump::onEnd);
    XML_SetCharacterDataHandler(m_parser, &XmlPump::onCharacters);
    XML_SetStartDoctypeDeclHandler(m_parser, &XmlPump::onDoctype);
    XML_SetEntityDeclHandler(m_parser, &XmlPump::onEntity);
}

XmlPump::~XmlPump()
{
    if (m_parser)
        XML_ParserFree(m_parser);
}

void XmlPump::pause()
{
    XML_StopParser(m_parser, XML_TRUE);
}

void XmlPump::fail(const QString &detail, ErrorCode kind)
{
    if (m_failure.isEmpty()) {
        m_failure = detail;
        m_failureKind = kind;
    }
    XML_StopParser(m_parser, XML_FALSE);
}

Result<bool> XmlPump::run()
{
    if (!m_parser)
        return Error{QStringLiteral("out of memory for the XML parser")};
    for (;;) {
        XML_Status status;
        if (m_suspended) {
            m_suspended = false;
            status = XML_ResumeParser(m_parser);
        } else {
            if (m_finished)
                return false;
            void *buffer = XML_GetBuffer(m_parser, chunkSize);
            if (!buffer)
                return Error{QStringLiteral("out of memory for the XML parser")};
            Result<int> read = m_source(static_cast<char *>(buffer), chunkSize);
            if (!read)
                return read.error();
            m_finished = read.value() == 0;
            status = XML_ParseBuffer(m_parser, read.value(), m_finished ? XML_TRUE : XML_FALSE);
        }
        if (status == XML_STATUS_SUSPENDED) {
            m_suspended = true;
            return true;
        }
        if (status == XML_STATUS_ERROR) {
            if (!m_failure.isEmpty())
                return Error{m_failure, m_failureKind};
            return Error{QStringLiteral("%1 is not well-formed XML (line %2: %3)")
                             .arg(m_partName)
                             .arg(XML_GetCurrentLineNumber(m_parser))
                             .arg(QString::fromUtf8(XML_ErrorString(XML_GetErrorCode(m_parser))))};
        }
        if (m_finished)
            return false;
    }
}

void XmlPump::onStart(void *self, const char *name, const char **attributes)
{
    auto *pump = static_cast<XmlPump *>(self);
    if (++pump->m_depth > limits::maxXmlDepth) {
        pump->fail(QStringLiteral("%1 nests elements more than %2 levels deep")
                       .arg(pump->m_partName)
                       .arg(limits::maxXmlDepth),
                   ErrorCode::Unsafe);
        return;
    }
    pump->m_handler.startElement(localName(name), attributes);
}

void XmlPump::onEnd(void *self, const char *name)
{
    auto *pump = static_cast<XmlPump *>(self);
    --pump->m_depth;
    pump->m_handler.endElement(localName(name));
}

void XmlPump::onCharacters(void *self, const char *text, int length)
{
    static_cast<XmlPump *>(self)->m_handler.characters(text, length);
}

void XmlPump::onDoctype(void *self, const char *, const char *, const char *, int)
{
    auto *pump = static_cast<XmlPump *>(self);
    pump->fail(QStringLiteral("%1 holds a document type declaration, which workbooks never need")
                   .arg(pump->m_partName),
               ErrorCode::Unsafe);
}

void XmlPump::onEntity(void *self, const char *, int, const char *, int, const char *, const char *,
                       const char *, const char *)
{
    auto *pump = static_cast<XmlPump *>(self);
    pump->fail(QStringLiteral("%1 declares XML entities, which workbooks never need")
                   .arg(pump->m_partName),
               ErrorCode::Unsafe);
}

} // namespace excel
