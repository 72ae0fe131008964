#include "app/FrmMain.h"

#include "excel/Workbook.h"
#include "goldmine/ImportLock.h"
#include "mapping/FrmMappings.h"
#include "mapping/WindowFont.h"
#include "mapping/WorkbookFailure.h"
#include "ui_FrmMain.h"
#include "util/Prompts.h"
#include "util/Version.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QFileDialog>
#include <QShortcut>
#include <QTextBlock>

namespace app {

namespace {

constexpr int TwipsPerPixel = 15;

} // namespace

const QString FrmMain::NoFileChosen = QStringLiteral("*.xls*");
const QString FrmMain::UpdateWarningText = QStringLiteral(
    "Values (including blanks) from the incoming data will update mapped fields for e-mail "
    "matched records (including those matched on an additional contact's e-mail address!)");

FrmMain::FrmMain(goldmine::GoldMineApi &api, util::Prompts &prompts, QWidget *parent)
    : QMainWindow(parent)
    , ui(std::make_unique<Ui::FrmMain>())
    , m_api(api)
    , m_prompts(prompts)
    , m_chooseFile(&FrmMain::chooseWorkbookWithDialog)
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

    connect(ui->btnBrowse, &QPushButton::clicked, this, &FrmMain::btnBrowse_Click);
    connect(ui->btnMap, &QPushButton::clicked, this, &FrmMain::btnMap_Click);
    connect(ui->btnImport, &QPushButton::clicked, this, &FrmMain::btnImport_Click);
    connect(ui->chkMatch, &QCheckBox::toggled, this, &FrmMain::chkMatch_Click);
    connect(ui->chkUpdateMatches, &QCheckBox::toggled, this, &FrmMain::chkUpdateMatches_Click);
    connect(ui->chkGroup, &QCheckBox::toggled, this, &FrmMain::chkGroup_Click);
    connect(ui->txtOutput, &QPlainTextEdit::textChanged, this, &FrmMain::txtOutput_Change);

    // The layout has no room for a menu: the About box is on F1.
    auto *about = new QShortcut(QKeySequence(Qt::Key_F1), this);
    connect(about, &QShortcut::activated, this, &FrmMain::showAbout);
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

QString FrmMain::chooseWorkbookWithDialog(QWidget *parent)
{
    QFileDialog dialog(parent);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    // The filter's own text, followed by the patterns the dialog applies.
    dialog.setNameFilter(QStringLiteral("*.xls;*.xlsx (*.xls *.xlsx)"));
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
    // "&Ok" accepts and only hides; the window's own close command rejects and
    // takes the entries with it.
    if (window.exec() != QDialog::Accepted)
        m_mappings.reset();
}

void FrmMain::btnImport_Click()
{
    import::ImportOptions options;
    options.workbookPath = ui->txtFilename->text();
    options.emailColumn = ui->cmbEmailCol->currentText();
    options.match = ui->chkMatch->isChecked();
    options.updateMatches = ui->chkUpdateMatches->isChecked();
    options.group = ui->chkGroup->isChecked();
    options.groupName = ui->txtGroupName->text();

    import::ImportRun run(m_api, m_prompts, m_state, *this);
    run.setLock(m_lock.get());
    const import::ImportSummary summary =
        run.btnImport_Click(options, [this]() -> const mapping::EntryList & {
            return ensureMappingWindow().entries();
        });
    if (summary.started)
        m_prompts.messageBox(summary.closingText(), util::applicationTitle(),
                             util::PromptIcon::None);
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
    // the final CR LF (before the last two characters in CR LF terms).
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
    return text;
}

void FrmMain::appendLog(const QString &piece)
{
    QTextCursor end(ui->txtOutput->document());
    end.movePosition(QTextCursor::End);
    end.insertText(piece);
}

void FrmMain::setProgress(const QString &caption)
{
    ui->lblProgress->setText(caption);
}

void FrmMain::processEvents()
{
    QCoreApplication::processEvents();
}

void FrmMain::setBusy(bool busy)
{
    m_busy = busy;
    setEnabled(!busy);
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
    // A disabled window takes no input, its close command included: the run
    // under way finishes first.
    if (m_busy) {
        event->ignore();
        return;
    }
    event->accept();
    m_endProgram();
}

mapping::FrmMappings &FrmMain::ensureMappingWindow()
{
    if (!m_mappings) {
        m_mappings = std::make_unique<mapping::FrmMappings>(m_api, m_prompts, this);
        m_mappings->Form_Load(
            {ui->txtFilename->text(), ui->cmbEmailCol->currentText(), ui->chkMatch->isChecked()});
    }
    return *m_mappings;
}

} // namespace app
