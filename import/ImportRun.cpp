#include "import/ImportRun.h"

#include "excel/Workbook.h"
#include "goldmine/Lookups.h"
#include "import/RowWriter.h"
#include "mapping/EntryList.h"
#include "util/Prompts.h"
#include "util/StringFunctions.h"

#include <memory>
#include <utility>

namespace import {

namespace {

const QString CrLf = QStringLiteral("\r\n");

// A count as the log and the messages show it: one position for the sign,
// which is a blank because counts are never negative.
QString numberText(int64_t number)
{
    return (number < 0 ? QString() : QStringLiteral(" ")) + QString::number(number);
}

QString failedCall(const QString &call, int32_t result)
{
    return QStringLiteral(" (%1 failed with GoldMine result %2).").arg(call).arg(result);
}

} // namespace

ImportSink::~ImportSink() = default;

QString ImportSummary::closingText() const
{
    QString text = numberText(rows) + QStringLiteral(" records processed!");
    if (failedRows > 0) {
        text += QLatin1Char('\n') + numberText(failedRows) +
                QStringLiteral(" of them failed; see the log.");
    }
    return text;
}

ImportRun::ImportRun(goldmine::GoldMineApi &api, util::Prompts &prompts,
                     goldmine::ImportState &state, ImportSink &sink)
    : m_api(api)
    , m_prompts(prompts)
    , m_state(state)
    , m_sink(sink)
{}

namespace {

// The parts of one run that the steps share.
class Run
{
public:
    Run(goldmine::GoldMineApi &api, util::Prompts &prompts, goldmine::ImportState &state,
        ImportSink &sink, const ImportOptions &options)
        : m_api(api)
        , m_prompts(prompts)
        , m_state(state)
        , m_sink(sink)
        , m_options(options)
        , m_lookups(api, prompts, state, [&sink] { sink.processEvents(); })
        , m_writer(api, state)
    {}

    ImportSummary run(const EntryListSource &entries);

private:
    bool openRows(const EntryListSource &entries);
    void fail(const QString &text)
    {
        m_sink.setBusy(false);
        m_prompts.messageBox(text, QStringLiteral("Data Error"), util::PromptIcon::Critical);
    }
    void log(const QString &piece) { m_sink.appendLog(piece); }
    // Processes the current row; false when the run has to stop here.
    bool processRow();
    void matchedSteps();
    void newSteps();
    // Appends the group text of a matched or new contact, or why it failed.
    void addToGroup(const QString &addedText, const QString &failedPrefix);
    void replaceContainer(int32_t &handle);
    void releaseContainers();
    void closeRows();

    goldmine::GoldMineApi &m_api;
    util::Prompts &m_prompts;
    goldmine::ImportState &m_state;
    ImportSink &m_sink;
    const ImportOptions &m_options;
    goldmine::RecordLookups m_lookups;
    RowWriter m_writer;

    std::unique_ptr<excel::ado::Connection> m_connection;
    std::unique_ptr<excel::ado::Recordset> m_rows;
    int m_emailColumn = -1;
    int64_t m_count = 0;
    bool m_rowFailed = false;
    int32_t m_groupResult = 0;
    ImportSummary m_summary;
};

ImportSummary Run::run(const EntryListSource &entries)
{
    m_sink.setBusy(true);
    if (!openRows(entries))
        return m_summary;
    m_summary.started = true;

    m_state.lGMPtr = m_api.GMW_NV_Create();
    if (m_options.group) {
        m_groupResult = m_writer.CreateImportGroup(m_options.groupName);
        if (m_groupResult < 0) {
            log(QStringLiteral("Group \"%1\" NOT made").arg(m_options.groupName) +
                failedCall(QStringLiteral("CreateContactGroup"), m_groupResult) + CrLf);
        }
    }

    while (!m_rows->Eof()) {
        m_rowFailed = false;
        const bool goOn = processRow();
        if (m_rowFailed)
            ++m_summary.failedRows;
        if (!goOn) {
            m_summary.stopped = true;
            break;
        }
        m_sink.processEvents();
        const excel::Result<void> moved = m_rows->MoveNext();
        if (!moved) {
            log(QStringLiteral("The import stopped after row%1: the workbook could not be read "
                               "further (%2).")
                    .arg(numberText(m_count), moved.error().message.trimmed()) +
                CrLf);
            m_summary.stopped = true;
            break;
        }
    }
    m_summary.rows = m_count;

    closeRows();
    releaseContainers();
    m_sink.setBusy(false);
    return m_summary;
}

bool Run::openRows(const EntryListSource &entries)
{
    auto connection = excel::OpenWorkbook(m_options.workbookPath);
    if (!connection) {
        fail(excel::OpenFailureText(connection.error()));
        return false;
    }
    m_connection = std::move(connection.value());
    const auto sheet = excel::GetFirstTableName(*m_connection);
    if (!sheet) {
        m_connection->Close();
        fail(excel::OpenFailureText(sheet.error()));
        return false;
    }
    auto rows = excel::OpenSheetRows(*m_connection, sheet.value());
    if (!rows) {
        m_connection->Close();
        fail(excel::OpenFailureText(rows.error()));
        return false;
    }
    m_rows = std::move(rows.value());

    // Every column the run reads must be there before anything is written: a
    // missing one would otherwise blank a field of every contact.
    QStringList missing;
    if (!m_options.emailColumn.isEmpty()) {
        m_emailColumn = m_rows->fieldIndex(m_options.emailColumn);
        if (m_emailColumn < 0)
            missing.append(m_options.emailColumn);
    }
    for (const QString &column : m_writer.prepare(entries(), *m_rows)) {
        if (!missing.contains(column))
            missing.append(column);
    }
    if (!missing.isEmpty()) {
        closeRows();
        fail(QStringLiteral("The workbook's first sheet has no column named:\n") +
             missing.join(QLatin1Char('\n')) +
             QStringLiteral("\n\nNothing was imported. Check the e-mail column and the field "
                            "mappings."));
        return false;
    }
    m_writer.setCurrentRow(m_rows.get());
    return true;
}

bool Run::processRow()
{
    ++m_count;
    m_state.sRecid.clear();
    m_state.sEmail = m_writer.cellText(m_emailColumn);
    m_api.GMW_NV_EraseAll(m_state.lGMPtr);
    replaceContainer(m_state.lGMPtr2);
    replaceContainer(m_state.lGMPtr3);
    m_state.sEmail = util::SF_removeAll(m_state.sEmail, QStringLiteral(" "));

    if (m_options.match && !m_state.sEmail.isEmpty()) {
        if (m_lookups.EmailExists()) {
            matchedSteps();
        } else if (m_lookups.lastQueryFailed()) {
            // Without an answer the row might be a duplicate: stop rather than
            // write it, or every further row, as a new contact.
            log(m_state.sEmail +
                QStringLiteral(" NOT imported (the e-mail lookup failed, so the import stopped "
                               "at row%1).")
                    .arg(numberText(m_count)) +
                CrLf);
            m_rowFailed = true;
            return false;
        }
    }
    if (m_state.sRecid.isEmpty() || !m_options.match)
        newSteps();
    return true;
}

void Run::matchedSteps()
{
    log(m_state.sEmail + QStringLiteral(" already in database."));
    m_state.sAccountno = m_lookups.GetAccountno();
    if (m_options.updateMatches) {
        const int32_t written = m_writer.WriteRowContact(RowWriter::Form::Update);
        if (written < 0) {
            log(m_state.sEmail + QStringLiteral(" NOT updated") +
                failedCall(QStringLiteral("WriteContact"), written));
            m_rowFailed = true;
        } else {
            int32_t notes = 0;
            if (!m_writer.sNotes().isEmpty())
                notes = m_writer.WriteRowNotes();
            if (notes < 0) {
                log(m_state.sEmail + QStringLiteral(" Updated, but its notes were NOT written") +
                    failedCall(QStringLiteral("WriteContactNotes"), notes));
                m_rowFailed = true;
            } else {
                log(m_state.sEmail + QStringLiteral(" Updated."));
            }
        }
    }
    if (m_options.group)
        addToGroup(QStringLiteral("...and added to group."),
                   QStringLiteral("...but NOT added to group"));
    log(CrLf);
}

void Run::newSteps()
{
    const int32_t written = m_writer.WriteRowContact(RowWriter::Form::New);
    if (written < 0) {
        // Nothing to look up, annotate or group: the contact does not exist.
        log(m_state.sEmail + QStringLiteral(" NOT imported") +
            failedCall(QStringLiteral("WriteContact"), written) + CrLf);
        m_rowFailed = true;
    } else {
        m_state.sAccountno = m_lookups.GetAccountno();
        int32_t notes = 0;
        if (!m_writer.sNotes().isEmpty())
            notes = m_writer.WriteRowNotes();
        if (notes < 0) {
            log(m_state.sEmail + QStringLiteral(" Imported, but its notes were NOT written") +
                failedCall(QStringLiteral("WriteContactNotes"), notes));
            m_rowFailed = true;
        } else {
            log(m_state.sEmail + QStringLiteral(" Imported."));
        }
        if (m_options.group)
            addToGroup(QStringLiteral("... and added to group."),
                       QStringLiteral("... but NOT added to group"));
        log(CrLf);
    }
    m_sink.setProgress(numberText(m_count) + QStringLiteral("   ") + m_state.sEmail);
    m_api.GMW_NV_EraseAll(m_state.lGMPtr);
    m_api.GMW_NV_EraseAll(m_state.lGMPtr3);
    m_api.GMW_NV_EraseAll(m_state.lGMPtr2);
}

void Run::addToGroup(const QString &addedText, const QString &failedPrefix)
{
    if (m_groupResult < 0) {
        log(failedPrefix + failedCall(QStringLiteral("CreateContactGroup"), m_groupResult));
        m_rowFailed = true;
        return;
    }
    if (m_state.sAccountno.isEmpty()) {
        log(failedPrefix + QStringLiteral(" (its account number could not be read)."));
        m_rowFailed = true;
        return;
    }
    const int32_t added = m_writer.AddRowToGroup();
    if (added < 0) {
        log(failedPrefix + failedCall(QStringLiteral("AddContactGrpMembers"), added));
        m_rowFailed = true;
        return;
    }
    log(addedText);
}

void Run::replaceContainer(int32_t &handle)
{
    // Released when replaced, so a long run does not pile up containers.
    if (handle > 0)
        m_api.GMW_NV_Delete(handle);
    handle = m_api.GMW_NV_Create();
}

void Run::releaseContainers()
{
    for (int32_t *handle :
         {&m_state.lGMPtr, &m_state.lGMPtr2, &m_state.lGMPtr3, &m_state.lGMPtr4}) {
        if (*handle > 0)
            m_api.GMW_NV_Delete(*handle);
        *handle = 0;
    }
}

void Run::closeRows()
{
    m_writer.setCurrentRow(nullptr);
    if (m_rows)
        m_rows->Close();
    if (m_connection)
        m_connection->Close();
}

} // namespace

ImportSummary ImportRun::btnImport_Click(const ImportOptions &options,
                                         const EntryListSource &entries)
{
    Run run(m_api, m_prompts, m_state, m_sink, options);
    return run.run(entries);
}

} // namespace import
