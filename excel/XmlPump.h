#pragma once

#include "excel/Errors.h"
#include "excel/SheetSource.h"

#include <expat.h>

#include <QString>

#include <cstring>
#include <functional>
#include <string_view>

namespace excel {

// The element name without its namespace prefix: "x:row" and "row" alike, so
// transitional, strict and oddly prefixed documents read the same.
inline std::string_view localName(const char *name)
{
    const char *start = name;
    const char *end = name;
    for (; *end; ++end) {
        if (*end == ':')
            start = end + 1;
    }
    return std::string_view(start, size_t(end - start));
}

// The value of an attribute by local name, or null.
inline const char *attribute(const char **attributes, std::string_view name)
{
    for (int i = 0; attributes[i]; i += 2) {
        if (localName(attributes[i]) == name)
            return attributes[i + 1];
    }
    return nullptr;
}

// Receives a document's elements; may stop the parse with an error or pause
// it after a unit of work (a sheet row) is complete.
class XmlHandler
{
public:
    virtual ~XmlHandler() = default;
    virtual void startElement(std::string_view name, const char **attributes) = 0;
    virtual void endElement(std::string_view name) = 0;
    virtual void characters(const char *text, int length) = 0;
};

// Drives expat over data pulled from a source in chunks, refusing document
// type declarations (and so entity expansion) and nesting past a bound.
class XmlPump
{
public:
    // Reads up to size bytes into buffer; 0 at the end of the data.
    using Source = std::function<Result<int>(char *buffer, int size)>;

    XmlPump(XmlHandler &handler, Source source, QString partName);
    ~XmlPump();
    XmlPump(const XmlPump &) = delete;
    XmlPump &operator=(const XmlPump &) = delete;

    // Runs until the handler pauses (true) or the document ends (false).
    Result<bool> run();
    // For handlers: pause after the current element, or stop with an error.
    void pause();
    void fail(const QString &detail, ErrorCode kind = ErrorCode::Damaged);

private:
    static void onStart(void *self, const char *name, const char **attributes);
    static void onEnd(void *self, const char *name);
    static void onCharacters(void *self, const char *text, int length);
    static void onDoctype(void *self, const char *, const char *, const char *, int);
    static void onEntity(void *self, const char *, int, const char *, int, const char *,
                         const char *, const char *, const char *);

    XML_Parser m_parser;
    XmlHandler &m_handler;
    Source m_source;
    QString m_partName;
    QString m_failure;
    ErrorCode m_failureKind = ErrorCode::Damaged;
    int m_depth = 0;
    bool m_suspended = false;
    bool m_finished = false;
};

} // namespace excel
