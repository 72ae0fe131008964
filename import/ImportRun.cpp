#include "import/ImportRun.h"

#include "excel/Workbook.h"
#include "goldmine/ApiText.h"
#include "goldmine/ContactFields.h"
#include "goldmine/ImportLock.h"
#include "goldmine/Lookups.h"
#include "goldmine/WriteResults.h"
#include "import/RowReport.h"
#include "import/RowWriter.h"
#include "mapping/EntryList.h"
#include "util/Prompts.h"
#include "util/StringFunctions.h"

#include <QDate>
#include <QHash>
#include <QSet>

#include <memory>
#include <optional>
#include <utility>

namespace import {

namespace {

const QString CrLf = QStringLiteral("\r\n");
const QString DataError = QStringLiteral("Data Error");
const QString FieldListFailureTitle = QStringLiteral("GoldMine Field List -- Error");
const QString NothingImported = QStringLiteral("\n\nNothing was imported.");

// A count as the log and the messages show it: one position for the sign,
// which is a blank because counts are never negative.
QString numberText(int64_t number)
{
    return (number < 0 ? QString() : QStringLiteral(" ")) + QString::number(number);
}

// The same number of rows in a row failing with the same GoldMine result
// tells that no later row will fare better.
constexpr int kFailuresInARowToStop = 5;

QString sqlLiteralText(const QString &text)
{
    QString escaped = text;
    return escaped.replace(QLatin1Char('\''), QLatin1String("''"));
}

// One "@", something before it, a domain with a dot after it, no blanks.
bool looksLikeEmail(const QString &address)
{
    const qsizetype at = address.indexOf(QLatin1Char('@'));
    if (at <= 0 || address.indexOf(QLatin1Char('@'), at + 1) >= 0)
        return false;
    const QString domain = address.mid(at + 1);
    const qsizetype dot = domain.indexOf(QLatin1Char('.'));
    if (domain.isEmpty() || dot <= 0 || dot == domain.size() - 1)
        return false;
    for (const QChar c : address) {
        if (c.isSpace())
            return false;
    }
    return true;
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
    if (stopped && !stopReason.isEmpty())
        text += QLatin1Char('\n') + stopReason;
    return text;
}

QString ImportSummary::checkText() const
{
    QString text = QStringLiteral("Checked %1 rows: would create %2, would match %3 (%4 of them "
                                  "updated), would fail %5.")
                       .arg(rows)
                       .arg(created)
                       .arg(matched)
                       .arg(updated)
                       .arg(failedRows);
    text += problems.isEmpty()
                ? QStringLiteral("\nNo problems found.")
                : QStringLiteral("\n%1 problems in %2 rows.").arg(problems.size()).arg(problemRows);
    if (stopped && !stopReason.isEmpty())
        text += QLatin1Char('\n') + stopReason;
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
        ImportSink &sink, const ImportOptions &options, bool check)
        : m_api(api)
        , m_prompts(prompts)
        , m_state(state)
        , m_sink(sink)
        , m_options(options)
        , m_check(check)
        , m_lookups(api, prompts, state, [&sink] { sink.processEvents(); })
        , m_writer(api, state)
    {
        m_summary.check = check;
    }

    ImportSummary run(const EntryListSource &entries, goldmine::ImportLock *lock,
                      RowReport *report);

private:
    // Everything that must hold before the first row; false when the run
    // cannot start (its message has been shown).
    bool begin(const EntryListSource &entries);
    bool openRows();
    bool checkColumns(const mapping::EntryList &entries);
    bool checkFields();
    bool checkGroupName();
    void countRows();

    // A reason the run cannot start: shown at once by a run, collected by a
    // check, which goes on to find what else a run would meet.
    bool refuse(const QString &text, const QString &title = DataError);

    void log(const QString &piece) { m_sink.appendLog(piece); }
    // Gives the front end back, once.
    void idle()
    {
        if (m_busy) {
            m_busy = false;
            m_sink.setBusy(false);
        }
    }
    // Processes the current row; false when the run has to stop here.
    bool processRow();
    bool checkRow();
    void matchedSteps();
    void newSteps();
    // Appends the group text of a matched or new contact, or why it failed.
    void addToGroup(const QString &addedText, const QString &failedPrefix);
    bool notesAlreadyThere(const QString &notes);
    // A GoldMine write of the current row failed with result.
    void writeFailed(int32_t result);
    QString remarks(const RowValues *values) const;
    void stop(const QString &reason);
    void problem(const QString &column, const QString &message, bool failsRow);
    void replaceContainer(int32_t &handle);
    void releaseContainers();
    void closeRows();

    goldmine::GoldMineApi &m_api;
    util::Prompts &m_prompts;
    goldmine::ImportState &m_state;
    ImportSink &m_sink;
    const ImportOptions &m_options;
    const bool m_check;
    goldmine::RecordLookups m_lookups;
    RowWriter m_writer;

    std::unique_ptr<excel::ado::Connection> m_connection;
    std::unique_ptr<excel::ado::Recordset> m_rows;
    int m_emailColumn = -1;
    bool m_busy = false;
    int64_t m_count = 0;
    int64_t m_total = -1;
    int64_t m_sheetRow = 0;
    int32_t m_groupResult = 0;
    ImportSummary m_summary;
    QStringList m_refusals; // a check's reasons the run would not start

    // The current row.
    RowRecord m_record;
    bool m_rowFailed = false;
    bool m_rowHasProblem = false;
    bool m_emailHadNul = false;
    bool m_stop = false;
    std::optional<RowValues> m_values;
    QString m_notesRemark;
    // The GoldMine result of the latest failed rows, and how many in a row.
    int32_t m_streakResult = 0;
    int m_streak = 0;
    bool m_rowWriteFailed = false;
    // A check's addresses so far (lower case) and the first row of each.
    QHash<QString, int64_t> m_seen;
};

ImportSummary Run::run(const EntryListSource &entries, goldmine::ImportLock *lock,
                       RowReport *report)
{
    m_busy = true;
    m_sink.setBusy(true);
    // A check writes nothing, so it may run beside an import.
    if (lock && !m_check) {
        const goldmine::Result<void> locked = lock->acquire();
        if (!locked) {
            idle();
            m_prompts.messageBox(locked.error().message, util::applicationTitle(),
                                 util::PromptIcon::Critical);
            return m_summary;
        }
    }
    const auto releaseLock = [&] {
        if (lock && !m_check)
            lock->release();
    };
    if (!begin(entries)) {
        closeRows();
        releaseLock();
        idle();
        return m_summary;
    }
    m_summary.started = true;
    m_sink.setTotal(m_total);

    if (!m_check) {
        m_state.lGMPtr = m_api.GMW_NV_Create();
        if (m_options.group) {
            m_groupResult = m_writer.CreateImportGroup(m_options.groupName);
            if (m_groupResult < 0) {
                log(QStringLiteral("Group \"%1\" NOT made").arg(m_options.groupName) +
                    goldmine::failedCallText(QStringLiteral("CreateContactGroup"), m_groupResult) +
                    CrLf);
                if (goldmine::isDatabaseFailure(m_groupResult)) {
                    stop(QStringLiteral("The import stopped before its first row: the GoldMine "
                                        "database failed."));
                    log(m_summary.stopReason + CrLf);
                }
            }
        }
    }

    while (!m_stop && !m_rows->Eof()) {
        // Asked before each row, so a stop asked for while the run got ready
        // writes nothing, and one asked for during a row lets it finish.
        if (m_sink.stopRequested()) {
            const QString of = m_total >= 0 ? QStringLiteral(" of %1").arg(m_total) : QString();
            log(QStringLiteral("Stopped by the user after row %1%2.").arg(m_count).arg(of) + CrLf);
            m_summary.stopped = true;
            m_summary.stopReason = m_check ? QStringLiteral("The check was stopped.")
                                           : QStringLiteral("The import was stopped.");
            break;
        }
        m_rowFailed = false;
        m_rowHasProblem = false;
        const bool goOn = m_check ? checkRow() : processRow();
        if (m_rowFailed)
            ++m_summary.failedRows;
        if (m_rowHasProblem)
            ++m_summary.problemRows;
        if (report)
            report->write(m_record);
        m_sink.rowDone(m_count);
        if (!goOn) {
            if (m_stop)
                log(m_summary.stopReason + CrLf);
            m_summary.stopped = true;
            break;
        }
        m_sink.processEvents();
        const excel::Result<void> moved = m_rows->MoveNext();
        if (!moved) {
            log(QStringLiteral("The import stopped after row%1: the workbook could not be read "
                               "further (%2).")
                    .arg(numberText(m_count), moved.error().message) +
                CrLf);
            m_summary.stopped = true;
            m_summary.stopReason = QStringLiteral("The workbook could not be read to its end.");
            break;
        }
    }
    if (m_stop)
        m_summary.stopped = true;
    m_summary.rows = m_count;

    closeRows();
    releaseContainers();
    releaseLock();
    idle();
    return m_summary;
}

bool Run::refuse(const QString &text, const QString &title)
{
    if (m_check) {
        m_refusals.append(text);
        problem(QString(), text, true);
        return true;
    }
    idle();
    m_prompts.messageBox(text, title, util::PromptIcon::Critical);
    return false;
}

void Run::problem(const QString &column, const QString &message, bool failsRow)
{
    m_summary.problems.append({m_count == 0 ? 0 : m_sheetRow, column, message, failsRow});
    if (m_count > 0)
        m_rowHasProblem = true;
}

bool Run::begin(const EntryListSource &entries)
{
    if (!openRows())
        return false;
    const mapping::EntryList &list = entries();
    if (!checkColumns(list) || !checkFields() || !checkGroupName())
        return false;
    countRows();
    m_writer.setCurrentRow(m_rows.get());
    return true;
}

bool Run::openRows()
{
    auto connection = excel::OpenWorkbook(m_options.workbookPath);
    if (!connection) {
        idle();
        m_prompts.messageBox(excel::OpenFailureText(connection.error()), DataError,
                             util::PromptIcon::Critical);
        return false;
    }
    m_connection = std::move(connection.value());
    const auto sheet = excel::GetFirstTableName(*m_connection);
    excel::Result<std::unique_ptr<excel::ado::Recordset>> rows =
        sheet ? excel::OpenSheetRows(*m_connection, sheet.value())
              : excel::Result<std::unique_ptr<excel::ado::Recordset>>(sheet.error());
    if (!rows) {
        idle();
        m_prompts.messageBox(excel::OpenFailureText(rows.error()), DataError,
                             util::PromptIcon::Critical);
        return false;
    }
    m_rows = std::move(rows.value());
    return true;
}

bool Run::checkColumns(const mapping::EntryList &entries)
{
    // Every column the run reads must be there before anything is written: a
    // missing one would otherwise blank a field of every contact.
    QStringList missing;
    QStringList ambiguous;
    if (!m_options.emailColumn.isEmpty()) {
        QStringList candidates;
        m_emailColumn = findColumn(*m_rows, m_options.emailColumn, &candidates);
        if (m_emailColumn == -1)
            missing.append(m_options.emailColumn);
        else if (m_emailColumn == -2)
            ambiguous.append(candidates.join(QStringLiteral(", ")));
    }
    const RowWriter::ColumnProblems problems = m_writer.prepare(entries, *m_rows);
    for (const QString &column : problems.missing) {
        if (!missing.contains(column))
            missing.append(column);
    }
    for (const QString &names : problems.ambiguous) {
        if (!ambiguous.contains(names))
            ambiguous.append(names);
    }
    const QString advice = QStringLiteral("\n\nNothing was imported. Check the e-mail column and "
                                          "the field mappings.");
    if (!missing.isEmpty() &&
        !refuse(QStringLiteral("The workbook's first sheet has no column named:\n") +
                missing.join(QLatin1Char('\n')) + advice))
        return false;
    if (!ambiguous.isEmpty() &&
        !refuse(QStringLiteral("The workbook's first sheet has more than one column that answers "
                               "to the name given, in different case:\n") +
                ambiguous.join(QLatin1Char('\n')) + advice))
        return false;
    return true;
}

bool Run::checkFields()
{
    QList<PreparedEntry> &entries = m_writer.entries();
    if (entries.isEmpty())
        return true;
    // Only fields GoldMine offers for mapping may be written: the keys and
    // anything else would overwrite what identifies a contact.
    const std::optional<QStringList> names = goldmine::ReadContactFieldNames(
        m_api, m_prompts, FieldListFailureTitle, [this] { m_sink.processEvents(); });
    if (!names) {
        return refuse(QStringLiteral("GoldMine did not list its contact fields, so the field "
                                     "mappings cannot be checked.") +
                      NothingImported);
    }
    QSet<QString> offered;
    for (const QString &name : *names)
        offered.insert(name.toUpper());
    offered.insert(goldmine::WebsiteField.toUpper());
    QStringList refused;
    for (const PreparedEntry &entry : entries) {
        if (!offered.contains(entry.goldMineField.toUpper()) &&
            !refused.contains(entry.goldMineField))
            refused.append(entry.goldMineField);
    }
    if (!refused.isEmpty() &&
        !refuse(QStringLiteral("These GoldMine fields cannot be mapped; they are not contact "
                               "fields that GoldMine offers:\n") +
                refused.join(QLatin1Char('\n')) + NothingImported))
        return false;

    // Each field's width once per run, so that no row needs to ask.
    QHash<QString, qsizetype> widths;
    for (PreparedEntry &entry : entries) {
        const QString key = entry.goldMineField.toUpper();
        if (!widths.contains(key)) {
            widths.insert(key, goldmine::ReadFieldWidth(m_api, m_prompts, entry.goldMineField,
                                                        FieldListFailureTitle)
                                   .value_or(0));
        }
        entry.width = widths.value(key);
        if (entry.custom && entry.width > 0) {
            const qsizetype length = goldmine::apiCharacterCount(entry.fixedValue);
            if (length > entry.width &&
                !refuse(QStringLiteral("The fixed text for %1 has %2 characters; %1 holds %3.")
                            .arg(entry.goldMineField)
                            .arg(length)
                            .arg(entry.width) +
                        NothingImported))
                return false;
        }
    }
    return true;
}

bool Run::checkGroupName()
{
    if (!m_options.group)
        return true;
    if (m_options.groupName.isEmpty())
        return refuse(QStringLiteral("Please type a name for the new group."),
                      util::applicationTitle());
    const QString sql =
        QStringLiteral("select recid from contgrps where accountno='' and upper(ref)=upper('%1')")
            .arg(sqlLiteralText(m_options.groupName));
    QString found;
    goldmine::RunSqlQuery(m_api, m_prompts, sql, 20, QStringLiteral("GoldMine Group Seek -- Error"),
                          [&found](const QString &recid) { found = recid; });
    if (found.isEmpty())
        return true;
    const QString exists =
        QStringLiteral("A group named %1 already exists.").arg(m_options.groupName);
    if (m_check) {
        problem(QString(), exists, false);
        return true;
    }
    if (m_prompts.question(exists + QStringLiteral(" Make another group with the same name?"),
                           util::applicationTitle()))
        return true;
    idle();
    return false;
}

void Run::countRows()
{
    // A second, reading-only pass: cheap next to GoldMine's writes, and the
    // only count that a short declared size or a gap cannot get wrong.
    const excel::Result<int64_t> counted = excel::CountRows(m_options.workbookPath);
    m_total = counted ? *counted : -1;
}

bool Run::processRow()
{
    ++m_count;
    m_sheetRow = m_rows->sheetRow() > 0 ? m_rows->sheetRow() : m_count + 1;
    m_values.reset();
    m_notesRemark.clear();
    m_rowWriteFailed = false;
    m_state.sRecid.clear();
    m_state.sAccountno.clear();
    const QString asRead = m_writer.cellText(m_emailColumn);
    m_record = RowRecord{m_sheetRow, asRead, Outcome::Created, {}, {}, false, {}};
    m_api.GMW_NV_EraseAll(m_state.lGMPtr);
    replaceContainer(m_state.lGMPtr2);
    replaceContainer(m_state.lGMPtr3);
    m_state.sEmail = util::SF_removeAll(asRead, QStringLiteral(" "));
    m_emailHadNul = removeNulCharacters(m_state.sEmail);

    const qsizetype emailLength = goldmine::apiCharacterCount(m_state.sEmail);
    if (emailLength > goldmine::kEmailRecordWidth) {
        const QString reason = QStringLiteral("%1: %2 characters, the e-mail record holds %3")
                                   .arg(m_options.emailColumn)
                                   .arg(emailLength)
                                   .arg(goldmine::kEmailRecordWidth);
        log(m_state.sEmail + QStringLiteral(" NOT imported (") + reason + QStringLiteral(").") +
            remarks(nullptr) + CrLf);
        m_rowFailed = true;
        m_record.outcome = Outcome::Failed;
        m_record.message = reason;
        m_streak = 0;
        return true;
    }

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
            m_record.outcome = Outcome::Failed;
            m_record.message = QStringLiteral("the e-mail lookup failed");
            // A library that stopped altogether says so in its own words.
            const QString stopped = m_api.stoppedReason();
            m_summary.stopReason =
                stopped.isEmpty()
                    ? QStringLiteral("The import stopped at row %1: the e-mail lookup failed.")
                          .arg(m_count)
                    : QStringLiteral("The import stopped at row %1. %2").arg(m_count).arg(stopped);
            return false;
        }
    }
    if (m_state.sRecid.isEmpty() || !m_options.match)
        newSteps();
    if (!m_rowWriteFailed)
        m_streak = 0;
    m_record.recid = m_state.sRecid;
    m_record.accountNo = m_state.sAccountno;
    return !m_stop;
}

QString Run::remarks(const RowValues *values) const
{
    QStringList nul;
    if (m_emailHadNul)
        nul.append(m_options.emailColumn);
    QString text = m_notesRemark;
    if (values) {
        for (const QString &column : values->nulColumns) {
            if (!nul.contains(column))
                nul.append(column);
        }
        if (!values->lossyColumns.isEmpty()) {
            text += QStringLiteral(" (characters the code page cannot hold written as \"?\" in "
                                   "%1)")
                        .arg(values->lossyColumns.join(QStringLiteral(", ")));
        }
    }
    if (!nul.isEmpty()) {
        text +=
            QStringLiteral(" (NUL characters removed from %1)").arg(nul.join(QStringLiteral(", ")));
    }
    return text;
}

void Run::matchedSteps()
{
    ++m_summary.matched;
    m_record.outcome = Outcome::Matched;
    log(m_state.sEmail + QStringLiteral(" already in database."));
    m_state.sAccountno = m_lookups.GetAccountno();
    if (m_options.updateMatches) {
        m_values = m_writer.readRow();
        const RowValues &values = *m_values;
        if (values.tooLong) {
            log(m_state.sEmail + QStringLiteral(" NOT updated (") + values.tooLong->text() +
                QStringLiteral(")."));
            m_rowFailed = true;
            m_record.outcome = Outcome::Failed;
            m_record.message = values.tooLong->text();
        } else if (const int32_t written =
                       m_writer.WriteRowContact(RowWriter::Form::Update, values);
                   written < 0) {
            log(m_state.sEmail + QStringLiteral(" NOT updated") +
                goldmine::failedCallText(QStringLiteral("WriteContact"), written));
            m_record.outcome = Outcome::Failed;
            m_record.message = goldmine::failedCallText(QStringLiteral("WriteContact"), written);
            writeFailed(written);
        } else {
            ++m_summary.updated;
            m_record.outcome = Outcome::Updated;
            int32_t notes = 0;
            if (!values.notes.isEmpty()) {
                // A rerun of the same workbook must not add the same notes again.
                if (notesAlreadyThere(values.notes))
                    m_notesRemark = QStringLiteral(" (notes already there)");
                else
                    notes = m_writer.WriteRowNotes(values.notes);
            }
            if (notes < 0) {
                log(m_state.sEmail + QStringLiteral(" Updated, but its notes were NOT written") +
                    goldmine::failedCallText(QStringLiteral("WriteContactNotes"), notes));
                m_record.message =
                    goldmine::failedCallText(QStringLiteral("WriteContactNotes"), notes);
                writeFailed(notes);
            } else {
                log(m_state.sEmail + QStringLiteral(" Updated."));
            }
        }
    }
    if (m_options.group)
        addToGroup(QStringLiteral("...and added to group."),
                   QStringLiteral("...but NOT added to group"));
    log(remarks(m_values ? &*m_values : nullptr) + CrLf);
}

void Run::newSteps()
{
    ++m_summary.created;
    m_record.outcome = Outcome::Created;
    m_values = m_writer.readRow();
    const RowValues &values = *m_values;
    if (values.tooLong) {
        --m_summary.created;
        log(m_state.sEmail + QStringLiteral(" NOT imported (") + values.tooLong->text() +
            QStringLiteral(").") + remarks(&values) + CrLf);
        m_rowFailed = true;
        m_record.outcome = Outcome::Failed;
        m_record.message = values.tooLong->text();
    } else if (const int32_t written = m_writer.WriteRowContact(RowWriter::Form::New, values);
               written < 0) {
        --m_summary.created;
        // Nothing to look up, annotate or group: the contact does not exist.
        log(m_state.sEmail + QStringLiteral(" NOT imported") +
            goldmine::failedCallText(QStringLiteral("WriteContact"), written) + remarks(&values) +
            CrLf);
        m_record.outcome = Outcome::Failed;
        m_record.message = goldmine::failedCallText(QStringLiteral("WriteContact"), written);
        writeFailed(written);
    } else {
        m_state.sAccountno = m_lookups.GetAccountno();
        // A contact made just now has no notes yet: nothing to look for.
        const int32_t notes = values.notes.isEmpty() ? 0 : m_writer.WriteRowNotes(values.notes);
        if (notes < 0) {
            log(m_state.sEmail + QStringLiteral(" Imported, but its notes were NOT written") +
                goldmine::failedCallText(QStringLiteral("WriteContactNotes"), notes));
            m_record.message = goldmine::failedCallText(QStringLiteral("WriteContactNotes"), notes);
            writeFailed(notes);
        } else {
            log(m_state.sEmail + QStringLiteral(" Imported."));
        }
        if (m_options.group)
            addToGroup(QStringLiteral("... and added to group."),
                       QStringLiteral("... but NOT added to group"));
        log(remarks(&values) + CrLf);
    }
    m_sink.setProgress(numberText(m_count) + QStringLiteral("   ") + m_state.sEmail);
    m_api.GMW_NV_EraseAll(m_state.lGMPtr);
    m_api.GMW_NV_EraseAll(m_state.lGMPtr3);
    m_api.GMW_NV_EraseAll(m_state.lGMPtr2);
}

void Run::addToGroup(const QString &addedText, const QString &failedPrefix)
{
    if (m_groupResult < 0) {
        log(failedPrefix +
            goldmine::failedCallText(QStringLiteral("CreateContactGroup"), m_groupResult));
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
        log(failedPrefix + goldmine::failedCallText(QStringLiteral("AddContactGrpMembers"), added));
        writeFailed(added);
        return;
    }
    m_record.joinedGroup = true;
    log(addedText);
}

bool Run::notesAlreadyThere(const QString &notes)
{
    const QString sql =
        QStringLiteral("select recid from notes where accountno='%1' and notedate='%2' and "
                       "note='%3'")
            .arg(sqlLiteralText(m_state.sAccountno), QDate::currentDate().toString(Qt::ISODate),
                 sqlLiteralText(notes));
    QString found;
    goldmine::RunSqlQuery(m_api, m_prompts, sql, 20, QStringLiteral("GoldMine Notes Seek -- Error"),
                          [&found](const QString &recid) { found = recid; });
    return !found.isEmpty();
}

void Run::writeFailed(int32_t result)
{
    m_rowFailed = true;
    if (m_rowWriteFailed)
        return; // one failure a row counts
    m_rowWriteFailed = true;
    m_streak = result == m_streakResult ? m_streak + 1 : 1;
    m_streakResult = result;
    const QString words = goldmine::describeWriteResult(result);
    const QString code =
        QString::number(result) + (words.isEmpty() ? QString() : QStringLiteral(": ") + words);
    if (const QString stopped = m_api.stoppedReason(); !stopped.isEmpty()) {
        stop(QStringLiteral("The import stopped at row %1. %2").arg(m_count).arg(stopped));
    } else if (goldmine::isDatabaseFailure(result)) {
        stop(QStringLiteral("The import stopped at row %1: the GoldMine database failed (GoldMine "
                            "result %2).")
                 .arg(m_count)
                 .arg(code));
    } else if (m_streak >= kFailuresInARowToStop) {
        stop(QStringLiteral("The import stopped at row %1: %2 rows in a row failed with GoldMine "
                            "result %3.")
                 .arg(m_count)
                 .arg(m_streak)
                 .arg(code));
    }
}

void Run::stop(const QString &reason)
{
    if (m_stop)
        return;
    m_stop = true;
    // The run logs it as its last line, after the row's own.
    m_summary.stopReason = reason;
}

bool Run::checkRow()
{
    ++m_count;
    m_sheetRow = m_rows->sheetRow() > 0 ? m_rows->sheetRow() : m_count + 1;
    const qsizetype problemsBefore = m_summary.problems.size();
    m_state.sRecid.clear();
    const QString asRead = m_writer.cellText(m_emailColumn);
    m_record = RowRecord{m_sheetRow, asRead, Outcome::WouldCreate, {}, {}, false, {}};
    const QString &emailColumn = m_options.emailColumn;
    QString email = util::SF_removeAll(asRead, QStringLiteral(" "));
    if (removeNulCharacters(email))
        problem(emailColumn, QStringLiteral("NUL characters would be removed."), false);
    if (hasControlCharacters(email))
        problem(emailColumn, QStringLiteral("The address holds a control character."), false);
    m_state.sEmail = email;

    bool fails = false;
    const qsizetype length = goldmine::apiCharacterCount(email);
    if (length > goldmine::kEmailRecordWidth) {
        problem(emailColumn,
                QStringLiteral("%1: %2 characters, the e-mail record holds %3.")
                    .arg(emailColumn)
                    .arg(length)
                    .arg(goldmine::kEmailRecordWidth),
                true);
        fails = true;
    }
    bool matched = false;
    if (m_options.match && email.isEmpty()) {
        problem(emailColumn,
                QStringLiteral("The e-mail address is empty: the row would be imported as a new "
                               "contact."),
                false);
    } else if (m_options.match) {
        if (!looksLikeEmail(email)) {
            problem(emailColumn,
                    QStringLiteral("\"%1\" does not look like an e-mail address.").arg(email),
                    false);
        }
        const QString key = email.toLower();
        const auto earlier = m_seen.constFind(key);
        if (earlier != m_seen.constEnd()) {
            // The earlier row makes or finds the contact this row then matches.
            problem(emailColumn,
                    QStringLiteral("The address is in row %1 too: this row would match that "
                                   "row's contact.")
                        .arg(*earlier),
                    false);
            matched = true;
        } else {
            m_seen.insert(key, m_sheetRow);
            if (!fails && m_lookups.EmailExists()) {
                matched = true;
            } else if (!fails && m_lookups.lastQueryFailed()) {
                problem(emailColumn,
                        QStringLiteral("The e-mail lookup failed: a run would stop here."), true);
                m_summary.stopReason =
                    QStringLiteral("The check stopped at row %1: the e-mail lookup failed.")
                        .arg(m_count);
                m_record.outcome = Outcome::WouldFail;
                ++m_summary.failedRows;
                return false;
            }
        }
    }

    // Values matter only where a run would write them.
    if (!matched || m_options.updateMatches) {
        const RowValues values = m_writer.readRow();
        for (const QString &column : values.nulColumns)
            problem(column, QStringLiteral("NUL characters would be removed."), false);
        for (const QString &column : values.controlColumns)
            problem(column, QStringLiteral("The value holds a control character."), false);
        for (const QString &column : values.lossyColumns) {
            problem(column,
                    QStringLiteral("Characters the code page cannot hold would be written as "
                                   "\"?\"."),
                    false);
        }
        if (values.tooLong) {
            problem(values.tooLong->column, values.tooLong->text() + QLatin1Char('.'), true);
            fails = true;
        }
    }

    if (fails) {
        m_record.outcome = Outcome::WouldFail;
        m_rowFailed = true;
    } else if (matched) {
        ++m_summary.matched;
        if (m_options.updateMatches)
            ++m_summary.updated;
        m_record.outcome = m_options.updateMatches ? Outcome::WouldUpdate : Outcome::WouldMatch;
        m_record.recid = m_state.sRecid;
    } else {
        ++m_summary.created;
        m_record.outcome = Outcome::WouldCreate;
    }
    QStringList messages;
    for (qsizetype i = problemsBefore; i < m_summary.problems.size(); ++i)
        messages.append(m_summary.problems.at(i).message);
    m_record.message = messages.join(QLatin1Char(' '));
    return true;
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
    Run run(m_api, m_prompts, m_state, m_sink, options, false);
    return run.run(entries, m_lock, m_report);
}

ImportSummary ImportRun::check(const ImportOptions &options, const EntryListSource &entries)
{
    Run run(m_api, m_prompts, m_state, m_sink, options, true);
    return run.run(entries, m_lock, m_report);
}

} // namespace import
