#include "excel/XmlPump.h"

#include "excel/Limits.h"

#include <cstring>
#include <utility>

namespace excel {

namespace {

constexpr int chunkSize = 64 * 1024;

XmlSpace spaceOfUri(std::string_view uri)
{
    if (uri.empty())
        return XmlSpace::None; // xmlns="" takes the default namespace away
    if (uri == "http://schemas.openxmlformats.org/spreadsheetml/2006/main" ||
        uri == "http://purl.oclc.org/ooxml/spreadsheetml/main")
        return XmlSpace::Spreadsheet;
    if (uri == "http://schemas.openxmlformats.org/package/2006/relationships")
        return XmlSpace::Package;
    if (uri == "http://schemas.openxmlformats.org/officeDocument/2006/relationships" ||
        uri == "http://purl.oclc.org/ooxml/officeDocument/relationships")
        return XmlSpace::Relationships;
    return XmlSpace::Other;
}

// A raw name's prefix ("" for none) and local part.
std::pair<std::string_view, std::string_view> splitName(const char *name)
{
    const std::string_view whole(name);
    const size_t colon = whole.find(':');
    if (colon == std::string_view::npos)
        return {std::string_view(), whole};
    return {whole.substr(0, colon), whole.substr(colon + 1)};
}

} // namespace

const char *XmlAttributes::value(std::string_view name) const
{
    for (int i = 0; m_raw[i]; i += 2) {
        if (name == m_raw[i])
            return m_raw[i + 1];
    }
    return nullptr;
}

const char *XmlAttributes::value(XmlSpace space, std::string_view local) const
{
    for (int i = 0; m_raw[i]; i += 2) {
        const auto [prefix, name] = splitName(m_raw[i]);
        if (prefix.empty() || name != local || prefix == "xmlns")
            continue;
        const XmlSpace found = m_pump.spaceOf(prefix);
        if (found == space || found == XmlSpace::None)
            return m_raw[i + 1];
    }
    return nullptr;
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

XmlSpace XmlPump::spaceOf(std::string_view prefix) const
{
    if (prefix.empty())
        return m_defaultSpace;
    for (auto it = m_bindings.rbegin(); it != m_bindings.rend(); ++it) {
        if (it->prefix == prefix)
            return it->space;
    }
    return XmlSpace::None; // undeclared: read by local name, as before namespaces
}

// Takes in a namespace declaration, if the attribute is one.
void XmlPump::declare(const char *name, const char *uri)
{
    if (std::strncmp(name, "xmlns", 5) != 0)
        return;
    std::string_view prefix;
    if (name[5] == ':')
        prefix = std::string_view(name + 6);
    else if (name[5] != '\0')
        return;
    // Each prefixed name is looked up among them: their number is bounded.
    if (qsizetype(m_bindings.size()) >= limits::maxXmlNamespaces) {
        fail(QStringLiteral("%1 declares more than %2 namespaces at once")
                 .arg(m_partName)
                 .arg(limits::maxXmlNamespaces),
             ErrorCode::Unsafe);
        return;
    }
    const XmlSpace space = spaceOfUri(uri);
    m_bindings.push_back({std::string(prefix), space, m_depth});
    m_innermostDeclaration = m_depth;
    if (prefix.empty())
        m_defaultSpace = space;
}

// The declarations of the element that ends end with it.
void XmlPump::endDeclarations()
{
    bool defaultEnded = false;
    while (!m_bindings.empty() && m_bindings.back().depth == m_depth) {
        defaultEnded = defaultEnded || m_bindings.back().prefix.empty();
        m_bindings.pop_back();
    }
    m_innermostDeclaration = m_bindings.empty() ? 0 : m_bindings.back().depth;
    if (!defaultEnded)
        return;
    m_defaultSpace = XmlSpace::None;
    for (auto it = m_bindings.rbegin(); it != m_bindings.rend(); ++it) {
        if (it->prefix.empty()) {
            m_defaultSpace = it->space;
            return;
        }
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
    pump->declare(attributes);
    pump->m_handler.startElement(pump->resolve(name), XmlAttributes(attributes, *pump));
}

void XmlPump::onEnd(void *self, const char *name)
{
    auto *pump = static_cast<XmlPump *>(self);
    pump->m_handler.endElement(pump->resolve(name));
    if (pump->m_depth == pump->m_innermostDeclaration)
        pump->endDeclarations();
    --pump->m_depth;
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
