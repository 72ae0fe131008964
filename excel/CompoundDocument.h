#pragma once

#include "excel/Errors.h"

#include <QString>

#include <gsf/gsf-infile.h>
#include <gsf/gsf-input.h>

#include <iterator>
#include <memory>

namespace excel {

// libgsf reports odd containers through GLib's log as well as through its
// error results; the results are what we act on, so the log stays quiet
// while our calls run.
class QuietGsf
{
public:
    QuietGsf();
    ~QuietGsf();
    QuietGsf(const QuietGsf &) = delete;
    QuietGsf &operator=(const QuietGsf &) = delete;

private:
    static constexpr const char *domains[] = {"libgsf:msole", "libgsf"};
    guint m_ids[std::size(domains)] = {};
};

// An Excel 97-2003 file's compound document (OLE2 container) opened by libgsf,
// and the workbook stream in it.
class CompoundDocument
{
public:
    // Checks the container, opens it and picks its workbook stream. Errors are
    // worded for the operator with the path.
    static Result<std::unique_ptr<CompoundDocument>> open(GsfInput *source, const QString &path);
    ~CompoundDocument();
    CompoundDocument(const CompoundDocument &) = delete;
    CompoundDocument &operator=(const CompoundDocument &) = delete;

    GsfInput *workbookStream() const { return m_stream; }

private:
    CompoundDocument() = default;

    GsfInfile *m_container = nullptr;
    GsfInput *m_stream = nullptr;
};

} // namespace excel
