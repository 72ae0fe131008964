#pragma once

#include "excel/Errors.h"
#include "excel/SheetSource.h"

#include <expat.h>

#include <QString>

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace excel {

// The vocabulary an element or attribute belongs to, told by its namespace.
enum class XmlSpace : std::uint8_t {
    None,          // no namespace, or an undeclared prefix: known by local name only
    Spreadsheet,   // SpreadsheetML, transitional or strict
    Package,       // the package's relationships
    Relationships, // relationship ids in the document (r:id), transitional or strict
    Other,         // an extension (x14, x15, mc, ...) or any other vocabulary
};

// An element's name: its vocabulary and its name without prefix. Small enough
// to travel in registers, as it does for every element of a sheet.
struct XmlName
{
    XmlName(XmlSpace space, std::string_view local)
        : m_local(local.data())
        , m_size(std::uint32_t(local.size()))
        , space(space)
    {}
    std::string_view local() const { return std::string_view(m_local, m_size); }

private:
    const char *m_local;
    std::uint32_t m_size;

public:
    XmlSpace space;
};

// An element of SpreadsheetML (documents that declare no namespace at all are
// read by local name).
inline bool isSpreadsheet(XmlName name)
{
    static_assert(int(XmlSpace::None) == 0 && int(XmlSpace::Spreadsheet) == 1);
    return std::uint8_t(name.space) <= std::uint8_t(XmlSpace::Spreadsheet);
}

// An element of SpreadsheetML with the given local name.
inline bool isSpreadsheet(XmlName name, std::string_view local)
{
    return name.local() == local && isSpreadsheet(name);
}

class XmlPump;

// An element's attributes, as expat gives them: name, value, name, value, null.
class XmlAttributes
{
public:
    XmlAttributes(const char **raw, const XmlPump &pump)
        : m_raw(raw)
        , m_pump(pump)
    {}

    // The value of an attribute without prefix, or null.
    const char *value(std::string_view name) const;
    // The value of a prefixed attribute of the given vocabulary, or null. An
    // undeclared prefix counts as any vocabulary.
    const char *value(XmlSpace space, std::string_view local) const;

    // Raw access for the few handlers that read every attribute.
    const char *const *raw() const { return m_raw; }

private:
    const char **m_raw;
    const XmlPump &m_pump;
};

// Receives a document's elements; may stop the parse with an error or pause
// it after a unit of work (a sheet row) is complete.
class XmlHandler
{
public:
    virtual ~XmlHandler() = default;
    virtual void startElement(XmlName name, const XmlAttributes &attributes) = 0;
    virtual void endElement(XmlName name) = 0;
    virtual void characters(const char *text, int length) = 0;
};

// Drives expat over data pulled from a source in chunks, refusing document
// type declarations (and so entity expansion) and nesting past a bound.
// Elements are matched by namespace and name: the pump follows the
// documents' namespace declarations itself, which costs less than expat's
// namespace processing on the many elements of a sheet.
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

    // The vocabulary a prefix ("" for none) stands for where the parse is.
    XmlSpace spaceOf(std::string_view prefix) const;
    // Splits a raw name into its vocabulary and local name.
    XmlName resolve(const char *name) const
    {
        // Names are short and most carry no prefix: one pass finds the end.
        // The one-letter names of a sheet's cells come first.
        if (name[0] != '\0' && name[0] != ':' && name[1] == '\0')
            return {m_defaultSpace, std::string_view(name, 1)};
        const char *end = name;
        while (*end && *end != ':')
            ++end;
        if (!*end)
            return {m_defaultSpace, std::string_view(name, size_t(end - name))};
        return {spaceOf(std::string_view(name, size_t(end - name))), std::string_view(end + 1)};
    }

private:
    struct Binding
    {
        std::string prefix;
        XmlSpace space;
        int depth;
    };

    static void onStart(void *self, const char *name, const char **attributes);
    static void onEnd(void *self, const char *name);
    static void onCharacters(void *self, const char *text, int length);
    static void onDoctype(void *self, const char *, const char *, const char *, int);
    static void onEntity(void *self, const char *, int, const char *, int, const char *,
                         const char *, const char *, const char *);
    void declare(const char **attributes)
    {
        for (int i = 0; attributes[i]; i += 2) {
            if (attributes[i][0] == 'x')
                declare(attributes[i], attributes[i + 1]);
        }
    }
    void declare(const char *name, const char *uri);
    void endDeclarations();

    XML_Parser m_parser;
    XmlHandler &m_handler;
    Source m_source;
    QString m_partName;
    QString m_failure;
    ErrorCode m_failureKind = ErrorCode::Damaged;
    std::vector<Binding> m_bindings; // namespace declarations in force, innermost last
    XmlSpace m_defaultSpace = XmlSpace::None;
    int m_innermostDeclaration = 0; // depth of the innermost element that declared any
    int m_depth = 0;
    bool m_suspended = false;
    bool m_finished = false;
};

} // namespace excel
