#include "app/FrmMain.h"

#include "app/CheckSummary.h"
#include "app/RunProgress.h"
#include "excel/Workbook.h"
#include "goldmine/ImportLock.h"
#include "import/RowReport.h"
#include "mapping/FrmMappings.h"
#include "mapping/Profile.h"
#include "mapping/WindowFont.h"
#include "mapping/WorkbookFailure.h"
#include "ui_FrmMain.h"
#include "util/Prompts.h"
#include "util/Version.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFile>
#include <QFileDialog>
#include <QMenu>
#include <QProgressBar>
#include <QPushButton>
#include <QSaveFile>
#include <QShortcut>
#include <QTemporaryDir>
#include <QTextBlock>

#include <algorithm>

namespace app {

namespace {

constexpr int TwipsPerPixel = 15;

QPushButton *statusButton(const QString &name, const QString &text, QWidget *parent)
{
    auto *button = new QPushButton(text, parent);
    button->setObjectName(name);
    button->setAutoDefault(false);
    // The status bar is one text line high, and it must not stop the window
    // from shrinking as far as the resize rule lets the log go.
    button->setMaximumHeight(21);
    button->setMinimumWidth(1);
    return button;
}

} // namespace

const QString FrmMain::NoFileChosen = QStringLiteral("*.xls*");
const QString FrmMain::WorkbookFilter =
    QStringLiteral("Workbooks and CSV files (*.xls *.xlsx *.csv);;Excel workbooks (*.xls *.xlsx);;"
                   "CSV files (*.csv);;All files (*)");
const QString FrmMain::UpdateWarningText = QStringLiteral(
    "Values (including blanks) from the incoming data will update mapped fields for e-mail "
    "matched records (including those matched on an additional contact's e-mail address!)");

FrmMain::FrmMain(goldmine::GoldMineApi &api, util::Prompts &prompts, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::FrmMain>())
    , m_api(api)
    , m_prompts(prompts)
    , m_chooseFile(&FrmMain::chooseWorkbookWithDialog)
    , m_fileDialog(&mapping::showFileDialog)
    , m_endProgram([] { QCoreApplication::quit(); })
{
    mapping::InstallWindowFontSubstitutes();
    ui->setupUi(this);

    // Designer stores whole points only.
    QFont questionFont(QStringLiteral("MS Sans Serif"));
    questionFont.setPointSizeF(13.5);
    questionFont.setBold(true);
    ui->Label3->setFont(questionFont);
    ui->Label3->setToolTip(UpdateWarningText);

    // The fixed layout leaves the status bar as the place for a run's progress
    // and the buttons that go with the log; the status text shows over the bar
    // while the window reads a workbook's structure.
    m_progressBar = new QProgressBar(ui->Status);
    m_progressBar->setObjectName(QStringLiteral("prgRows"));
    m_progressBar->setRange(0, 1);
    m_progressBar->setValue(0);
    m_progressBar->setFormat(QString());
    m_progressBar->setMaximumHeight(17);
    m_progressBar->setMinimumWidth(1);
    ui->Status->addWidget(m_progressBar, 1);
    m_btnStop = statusButton(QStringLiteral("btnStop"), QStringLiteral("&Stop"), ui->Status);
    m_btnStop->setEnabled(false);
    m_btnStop->setToolTip(QStringLiteral("Stop after the row under way (Esc)"));
    m_btnSaveLog =
        statusButton(QStringLiteral("btnSaveLog"), QStringLiteral("Save &log..."), ui->Status);
    m_btnSaveReport = statusButton(QStringLiteral("btnSaveReport"),
                                   QStringLiteral("Save re&port..."), ui->Status);
    m_btnSaveReport->setEnabled(false);
    m_btnSaveReport->setToolTip(
        QStringLiteral("Save what happened to each row of the last run or check"));
    ui->Status->addPermanentWidget(m_btnStop);
    ui->Status->addPermanentWidget(m_btnSaveLog);
    ui->Status->addPermanentWidget(m_btnSaveReport);
    ui->Status->setMinimumWidth(1);
    setTabOrder(ui->chkUpdateMatches, ui->btnCheck);
    setTabOrder(ui->btnCheck, m_btnStop);
    setTabOrder(m_btnStop, m_btnSaveLog);
    setTabOrder(m_btnSaveLog, m_btnSaveReport);

    connect(ui->btnBrowse, &QPushButton::clicked, this, &FrmMain::btnBrowse_Click);
    connect(ui->btnMap, &QPushButton::clicked, this, &FrmMain::btnMap_Click);
    connect(ui->btnImport, &QPushButton::clicked, this, &FrmMain::btnImport_Click);
    connect(ui->btnCheck, &QPushButton::clicked, this, &FrmMain::btnCheck_Click);
    connect(m_btnStop, &QPushButton::clicked, this, &FrmMain::btnStop_Click);
    connect(m_btnSaveLog, &QPushButton::clicked, this, &FrmMain::btnSaveLog_Click);
    connect(m_btnSaveReport, &QPushButton::clicked, this, &FrmMain::btnSaveReport_Click);
    connect(ui->chkMatch, &QCheckBox::toggled, this, &FrmMain::chkMatch_Click);
    connect(ui->chkUpdateMatches, &QCheckBox::toggled, this, &FrmMain::chkUpdateMatches_Click);
    connect(ui->chkGroup, &QCheckBox::toggled, this, &FrmMain::chkGroup_Click);
    connect(ui->txtOutput, &QPlainTextEdit::textChanged, this, &FrmMain::txtOutput_Change);
    ui->txtOutput->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(ui->txtOutput, &QWidget::customContextMenuRequested, this, &FrmMain::showLogMenu);

    // The layout has no room for a menu: the About box is on F1.
    m_about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(m_about, &QShortcut::activated, this, &FrmMain::showAbout);
    m_escape = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    m_escape->setEnabled(false);
    connect(m_escape, &QShortcut::activated, this, [this] {
        if (m_btnStop->isEnabled())
            m_btnStop->click();
    });
    ui->Status->setToolTip(QStringLiteral("Ruvelo %1 (F1: About)").arg(util::version()));
}

FrmMain::~FrmMain() = default;

goldmine::StartupOutcome FrmMain::Form_Load(goldmine::DdeLink &link,
                                            goldmine::ConnectionSettings &settings)
{
    const goldmine::StartupOutcome outcome = goldmine::RunStartup(link, m_api, m_prompts, settings);
    if (outcome == goldmine::StartupOutcome::Ready)
        m_lock = goldmine::makeImportLock(settings);
    return outcome;
}

void FrmMain::setFileDialog(mapping::FileDialog dialog)
{
    m_fileDialog = std::move(dialog);
    if (m_mappings)
        m_mappings->setFileDialog(m_fileDialog);
}

QString FrmMain::chooseWorkbookWithDialog(QWidget *parent)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setNameFilter(WorkbookFilter);
    dialog.selectFile(NoFileChosen);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return NoFileChosen;
    return dialog.selectedFiles().constFirst();
}

void FrmMain::btnBrowse_Click()
{
    const QString chosen = m_chooseFile(this);
    if (chosen == NoFileChosen)
        return;
    ui->txtFilename->setText(chosen);

    m_prompts.setWaitCursor(true);
    ui->Status->showMessage(QStringLiteral("Loading excel structure...'"));
    ui->Status->repaint();
    ui->cmbEmailCol->clear();
    ui->cmbEmailCol->clearEditText();

    excel::Result<QStringList> columns = excel::ReadFirstTableColumns(ui->txtFilename->text());
    if (columns) {
        ui->cmbEmailCol->addItems(*columns);
        // The operator picks or types the column; nothing is preselected.
        ui->cmbEmailCol->setCurrentIndex(-1);
        ui->cmbEmailCol->clearEditText();
        ui->cmbEmailCol->setEnabled(true);
    }
    ui->Status->clearMessage();
    m_prompts.setWaitCursor(false);
    if (!columns)
        mapping::ShowWorkbookFailure(m_prompts, columns.error());
}

void FrmMain::btnMap_Click()
{
    if (ui->cmbEmailCol->currentText().isEmpty() && ui->chkMatch->isChecked()) {
        m_prompts.messageBox(QStringLiteral("Please select an e-mail address field for matching "
                                            "purposes before setting up mappings!"),
                             QStringLiteral("Opps!"), util::PromptIcon::Information);
        return;
    }
    mapping::FrmMappings &window = ensureMappingWindow();
    // Built from the workbook named here now, which may not be the one the
    // window was last filled from.
    window.refresh(mappingSource());
    // "&Ok" accepts and only hides; the window's own close command rejects and
    // takes the entries with it.
    if (window.exec() != QDialog::Accepted)
        m_mappings.reset();
}

// "::import::" at the start of a line: clang-format takes "import::" there
// for a C++20 module import.
::import::ImportOptions FrmMain::options() const
{
    import::ImportOptions options;
    options.workbookPath = ui->txtFilename->text();
    options.emailColumn = ui->cmbEmailCol->currentText();
    options.match = ui->chkMatch->isChecked();
    options.updateMatches = ui->chkUpdateMatches->isChecked();
    options.group = ui->chkGroup->isChecked();
    options.groupName = ui->txtGroupName->text();
    return options;
}

void FrmMain::btnImport_Click()
{
    const import::ImportSummary summary = runEngine(false);
    if (m_closeAfterRun) {
        // The operator asked to close during the run; it has stopped now.
        m_closeAfterRun = false;
        close();
        return;
    }
    if (summary.started)
        m_prompts.messageBox(summary.closingText(), util::applicationTitle(),
                             util::PromptIcon::None);
}

void FrmMain::btnCheck_Click()
{
    const import::ImportSummary summary = runEngine(true);
    if (m_closeAfterRun) {
        m_closeAfterRun = false;
        close();
        return;
    }
    if (!summary.started)
        return;
    m_checkSummary = new CheckSummary(summary, this);
    m_checkSummary->setFont(font());
    m_checkSummary->open();
}

void FrmMain::btnStop_Click()
{
    if (!m_busy)
        return;
    // The row under way finishes; the engine asks after it.
    m_stopRequested = true;
    m_btnStop->setEnabled(false);
}

::import::ImportSummary FrmMain::runEngine(bool check)
{
    if (m_checkSummary)
        m_checkSummary->close();
    m_checking = check;
    std::unique_ptr<import::RowReport> report = openRunReport();
    import::ImportRun run(m_api, m_prompts, m_state, *this);
    run.setLock(m_lock.get());
    run.setReport(report.get());
    const import::EntryListSource entries = [this]() -> const mapping::EntryList & {
        return ensureMappingWindow().entries();
    };
    import::ImportSummary summary =
        check ? run.check(options(), entries) : run.btnImport_Click(options(), entries);
    if (report) {
        const import::Result<void> finished = report->finish();
        m_reportReady = summary.started && finished;
        m_btnSaveReport->setToolTip(
            finished ? QStringLiteral("Save what happened to each row of the last run or check")
                     : finished.error().message);
    }
    m_btnSaveReport->setEnabled(m_reportReady);
    return summary;
}

std::unique_ptr<import::RowReport> FrmMain::openRunReport()
{
    m_reportReady = false;
    m_btnSaveReport->setEnabled(false);
    if (!m_reportDir)
        m_reportDir = std::make_unique<QTemporaryDir>();
    if (!m_reportDir->isValid())
        return nullptr;
    m_reportPath = m_reportDir->filePath(QStringLiteral("report.csv"));
    import::Result<std::unique_ptr<import::RowReport>> opened = import::openReport(m_reportPath);
    if (!opened) {
        m_btnSaveReport->setToolTip(opened.error().message);
        return nullptr;
    }
    return std::move(*opened);
}

void FrmMain::btnSaveLog_Click()
{
    const QString path =
        m_fileDialog(this, {true, QStringLiteral("Save Log"),
                            QStringLiteral("Text files (*.txt);;Log files (*.log);;All files (*)"),
                            QStringLiteral("txt")});
    if (path.isEmpty())
        return;
    // UTF-8, with the CR LF line ends the import writes.
    writeFile(path, logText().toUtf8(), QStringLiteral("Save Log"));
}

void FrmMain::btnSaveReport_Click()
{
    if (!m_reportReady)
        return;
    const QString path =
        m_fileDialog(this, {true, QStringLiteral("Save Report"),
                            QStringLiteral("CSV files (*.csv);;Excel workbooks (*.xlsx)"),
                            QStringLiteral("csv")});
    if (path.isEmpty())
        return;
    if (path.endsWith(QLatin1String(".xlsx"), Qt::CaseInsensitive)) {
        const import::Result<void> converted = import::convertReportToXlsx(m_reportPath, path);
        if (!converted) {
            m_prompts.messageBox(converted.error().message, QStringLiteral("Save Report"),
                                 util::PromptIcon::Critical);
        }
        return;
    }
    QFile report(m_reportPath);
    if (!report.open(QIODevice::ReadOnly)) {
        m_prompts.messageBox(QStringLiteral("The report of the last run cannot be read: %1.")
                                 .arg(report.errorString()),
                             QStringLiteral("Save Report"), util::PromptIcon::Critical);
        return;
    }
    writeFile(path, report.readAll(), QStringLiteral("Save Report"));
}

bool FrmMain::writeFile(const QString &path, const QByteArray &bytes, const QString &title)
{
    // Written beside and renamed into place: a failed save leaves the old file.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.commit())
        return true;
    m_prompts.messageBox(QStringLiteral("%1 cannot be written: %2.").arg(path, file.errorString()),
                         title, util::PromptIcon::Critical);
    return false;
}

void FrmMain::showLogMenu(const QPoint &position)
{
    std::unique_ptr<QMenu> menu(ui->txtOutput->createStandardContextMenu(position));
    menu->addSeparator();
    QAction *save = menu->addAction(QStringLiteral("Save log..."));
    save->setEnabled(m_btnSaveLog->isEnabled());
    connect(save, &QAction::triggered, this, &FrmMain::btnSaveLog_Click);
    menu->exec(ui->txtOutput->viewport()->mapToGlobal(position));
}

void FrmMain::chkMatch_Click()
{
    if (ui->chkMatch->isChecked()) {
        ui->chkUpdateMatches->setEnabled(true);
        return;
    }
    m_prompts.messageBox(
        QStringLiteral("If the Match on Email option is unchecked, all records in the incoming "
                       "excel file will be imported as new records. This may result in duplicate "
                       "records being added to your GoldMine database."),
        QStringLiteral("Match Warning"), util::PromptIcon::None);
    ui->chkUpdateMatches->setEnabled(false);
    ui->chkUpdateMatches->setChecked(false);
}

void FrmMain::chkUpdateMatches_Click()
{
    if (ui->chkUpdateMatches->isChecked())
        m_prompts.messageBox(UpdateWarningText, QStringLiteral("Match Update Warning"),
                             util::PromptIcon::None);
}

void FrmMain::chkGroup_Click()
{
    ui->txtGroupName->setEnabled(ui->chkGroup->isChecked());
}

void FrmMain::txtOutput_Change()
{
    // The box holds each CR LF as one block break; the caret goes just before
    // the final CR LF (before the last two characters in CR LF terms). Every
    // step here is constant in the log's length.
    const QTextDocument *document = ui->txtOutput->document();
    const int length = document->characterCount() - 1;
    const int lengthWithCrLf = length + document->blockCount() - 1;
    int position = length;
    if (lengthWithCrLf >= 2) {
        const bool endsWithBreak = document->lastBlock().length() == 1;
        position = endsWithBreak ? length - 1 : length - 2;
    }
    QTextCursor caret = ui->txtOutput->textCursor();
    if (caret.position() != position || caret.hasSelection()) {
        caret.setPosition(position);
        ui->txtOutput->setTextCursor(caret);
    }
    ui->txtOutput->ensureCursorVisible();
}

void FrmMain::showAbout()
{
    m_prompts.messageBox(
        QStringLiteral("Ruvelo %1\n\nImports contacts from Excel workbooks into GoldMine.\n"
                       "Built with Qt %2, running on Qt %3.")
            .arg(util::version(), QStringLiteral(QT_VERSION_STR), QString::fromLatin1(qVersion())),
        QStringLiteral("About Ruvelo"), util::PromptIcon::Information);
}

void FrmMain::Form_Resize()
{
    const QRect outer = frameGeometry();
    m_outerSize = outer.size();
    const int height = outer.height() * TwipsPerPixel;
    const int width = outer.width() * TwipsPerPixel;
    QRect log = ui->txtOutput->geometry();
    if (height - 4155 > 10)
        log.setHeight((height - 4155) / TwipsPerPixel);
    if (width - 335 > 10)
        log.setWidth((width - 335) / TwipsPerPixel);
    ui->txtOutput->setGeometry(log);
}

QString FrmMain::logText() const
{
    QString text = ui->txtOutput->toPlainText();
    text.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return text + m_pendingLog;
}

void FrmMain::appendLog(const QString &piece)
{
    if (m_busy) {
        // Shown with the next progress, so that a row costs no repaint and
        // no pass over the log.
        m_pendingLog += piece;
        return;
    }
    m_pendingLog += piece;
    flushLog(true);
}

void FrmMain::flushLog(bool all)
{
    if (m_pendingLog.isEmpty())
        return;
    QString text;
    if (!all && m_pendingLog.endsWith(QLatin1Char('\r'))) {
        // A CR LF split between two pieces would make two line breaks.
        text = m_pendingLog.left(m_pendingLog.size() - 1);
        m_pendingLog = QStringLiteral("\r");
    } else {
        text.swap(m_pendingLog);
    }
    if (text.isEmpty())
        return;
    QTextCursor end(ui->txtOutput->document());
    end.movePosition(QTextCursor::End);
    end.insertText(text);
}

void FrmMain::setProgress(const QString &caption)
{
    if (m_busy) {
        m_pendingCaption = caption;
        m_captionPending = true;
        return;
    }
    ui->lblProgress->setText(caption);
}

void FrmMain::setTotal(int64_t rows)
{
    m_total = rows;
    m_rowsDone = 0;
    m_runClock.start();
    showProgress();
}

void FrmMain::rowDone(int64_t row)
{
    m_rowsDone = row;
}

void FrmMain::processEvents()
{
    if (m_busy && m_sinceShown.elapsed() >= ShowProgressEveryMs)
        showProgress();
    QCoreApplication::processEvents();
}

void FrmMain::showProgress()
{
    flushLog(!m_busy);
    if (m_captionPending) {
        m_captionPending = false;
        ui->lblProgress->setText(m_pendingCaption);
    }
    RunProgress progress;
    progress.done = m_rowsDone;
    progress.total = m_total;
    progress.elapsedMs = m_runClock.isValid() ? m_runClock.elapsed() : 0;
    const int maximum = static_cast<int>(std::clamp<int64_t>(m_total, 1, INT32_MAX));
    m_progressBar->setRange(0, maximum);
    m_progressBar->setValue(static_cast<int>(std::clamp<int64_t>(m_rowsDone, 0, maximum)));
    m_progressBar->setFormat(m_busy ? progress.text() : progress.finishedText());
    m_sinceShown.restart();
}

void FrmMain::setBusy(bool busy)
{
    if (busy == m_busy)
        return;
    if (busy) {
        m_busy = true;
        m_stopRequested = false;
        m_total = -1;
        m_rowsDone = 0;
        m_runClock.invalidate();
        m_sinceShown.start();
        m_progressBar->setRange(0, 1);
        m_progressBar->setValue(0);
        m_progressBar->setFormat(QString());
    } else {
        m_busy = false;
        showProgress();
    }
    // The run's lines are not the operator's typing: Undo must not take
    // them back.
    ui->txtOutput->setUndoRedoEnabled(!busy);
    // Everything but Stop is out of reach while a run goes on; what was
    // disabled before stays disabled afterwards.
    ui->centralwidget->setEnabled(!busy);
    m_btnSaveLog->setEnabled(!busy);
    m_btnSaveReport->setEnabled(!busy && m_reportReady);
    m_btnStop->setEnabled(busy);
    m_escape->setEnabled(busy);
    m_about->setEnabled(!busy);
    m_prompts.setWaitCursor(busy);
}

void FrmMain::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    Form_Resize();
}

void FrmMain::moveEvent(QMoveEvent *event)
{
    QMainWindow::moveEvent(event);
    // The window manager adds its frame after the first resize; the outer size
    // has changed then even though the client area has not.
    if (frameGeometry().size() != m_outerSize)
        Form_Resize();
}

void FrmMain::closeEvent(QCloseEvent *event)
{
    if (m_busy) {
        // The run under way is asked to stop first; the window closes once it
        // has (btnImport_Click and btnCheck_Click see to that).
        event->ignore();
        if (m_askingToClose || m_closeAfterRun)
            return;
        m_askingToClose = true;
        const bool stop =
            m_prompts.question(m_checking ? QStringLiteral("Stop the check and close Ruvelo?")
                                          : QStringLiteral("Stop the import and close Ruvelo?"),
                               util::applicationTitle());
        m_askingToClose = false;
        if (stop && m_busy) {
            m_closeAfterRun = true;
            btnStop_Click();
        }
        return;
    }
    event->accept();
    m_endProgram();
}

mapping::MappingSource FrmMain::mappingSource() const
{
    return {ui->txtFilename->text(), ui->cmbEmailCol->currentText(), ui->chkMatch->isChecked()};
}

mapping::Profile FrmMain::profileOptions() const
{
    mapping::Profile profile;
    profile.emailColumn = ui->cmbEmailCol->currentText();
    profile.match = ui->chkMatch->isChecked();
    profile.updateMatches = ui->chkUpdateMatches->isChecked();
    profile.group = ui->chkGroup->isChecked();
    profile.groupName = ui->txtGroupName->text();
    return profile;
}

void FrmMain::applyProfileOptions(const mapping::Profile &profile)
{
    const int index = ui->cmbEmailCol->findText(profile.emailColumn);
    if (index >= 0)
        ui->cmbEmailCol->setCurrentIndex(index);
    else
        ui->cmbEmailCol->setEditText(profile.emailColumn);
    // Set as the operator would tick them, so their warnings and rules apply.
    ui->chkMatch->setChecked(profile.match);
    ui->chkUpdateMatches->setChecked(profile.match && profile.updateMatches);
    ui->chkGroup->setChecked(profile.group);
    ui->txtGroupName->setText(profile.groupName);
}

mapping::FrmMappings &FrmMain::ensureMappingWindow()
{
    if (!m_mappings) {
        m_mappings = std::make_unique<mapping::FrmMappings>(m_api, m_prompts, this);
        m_mappings->setFileDialog(m_fileDialog);
        m_mappings->setOptionsLink({[this] { return profileOptions(); },
                                    [this](const mapping::Profile &profile) {
                                        applyProfileOptions(profile);
                                    }});
        m_mappings->Form_Load(mappingSource());
    }
    return *m_mappings;
}

} // namespace app
