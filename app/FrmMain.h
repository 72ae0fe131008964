#pragma once

#include "app/CheckSummary.h"
#include "goldmine/ImportState.h"
#include "goldmine/Startup.h"
#include "import/ImportRun.h"
#include "mapping/FileDialog.h"

#include <QElapsedTimer>
#include <QMainWindow>
#include <QPointer>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

class QProgressBar;
class QPushButton;
class QShortcut;
class QTemporaryDir;

namespace Ui {
class FrmMain;
}

namespace goldmine {
class DdeLink;
class GoldMineApi;
class ImportLock;
} // namespace goldmine
namespace import {
class RowReport;
}
namespace mapping {
class FrmMappings;
struct MappingSource;
struct Profile;
} // namespace mapping
namespace util {
class Prompts;
}

namespace app {

// The window the operator works in. It reads its controls into the import's
// options, hands the work to the engines and shows what comes back; it is the
// import's sink, so the log, the progress caption and the progress bar grow as
// the run goes.
class FrmMain : public QMainWindow, public import::ImportSink
{
    Q_OBJECT

public:
    // Shows the open-file dialog and returns the chosen path, or the initial
    // name "*.xls*" when the operator chose nothing.
    using FileChooser = std::function<QString(QWidget *parent)>;

    static const QString NoFileChosen;
    static const QString WorkbookFilter;
    static const QString UpdateWarningText;
    // How often a run shows its progress: the log, the caption and the bar.
    static constexpr int ShowProgressEveryMs = 100;

    FrmMain(goldmine::GoldMineApi &api, util::Prompts &prompts, QWidget *parent = nullptr);
    ~FrmMain() override;

    // The start-up sequence; on EndProgram a message has been shown and the
    // window must not be shown.
    goldmine::StartupOutcome Form_Load(goldmine::DdeLink &link,
                                       goldmine::ConnectionSettings &settings);

    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    // The dialog that names files to save (log, report) and mapping profiles.
    void setFileDialog(mapping::FileDialog dialog);
    // What closing the window does; quitting the application by default.
    void setEndProgram(std::function<void()> endProgram) { m_endProgram = std::move(endProgram); }

    // The mapping window's state; null until first needed and after it was closed.
    mapping::FrmMappings *mappingWindow() const { return m_mappings.get(); }
    // The summary of the last check while it is shown.
    CheckSummary *checkSummary() const { return m_checkSummary; }
    goldmine::ImportState &importState() { return m_state; }
    // The log with each line break as CR LF, as the import wrote it.
    QString logText() const;
    // True while a run or a check goes on.
    bool isBusy() const { return m_busy; }

    void btnBrowse_Click();
    void btnMap_Click();
    void btnImport_Click();
    void btnCheck_Click();
    void btnStop_Click();
    void btnSaveLog_Click();
    void btnSaveReport_Click();
    void chkMatch_Click();
    void chkUpdateMatches_Click();
    void chkGroup_Click();
    void txtOutput_Change();
    void Form_Resize();
    // F1: the program's name, version and the Qt it runs on.
    void showAbout();

    // ImportSink
    void appendLog(const QString &piece) override;
    void setProgress(const QString &caption) override;
    void processEvents() override;
    void setBusy(bool busy) override;
    void setTotal(int64_t rows) override;
    void rowDone(int64_t row) override;
    bool stopRequested() override { return m_stopRequested; }

    static QString chooseWorkbookWithDialog(QWidget *parent);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    mapping::FrmMappings &ensureMappingWindow();
    mapping::MappingSource mappingSource() const;
    mapping::Profile profileOptions() const;
    void applyProfileOptions(const mapping::Profile &profile);
    import::ImportOptions options() const;
    // A run or a check, with its report kept for "Save report...".
    import::ImportSummary runEngine(bool check);
    std::unique_ptr<import::RowReport> openRunReport();
    // Brings the log, the caption and the progress bar up to date.
    void showProgress();
    void flushLog(bool all);
    void showLogMenu(const QPoint &position);
    bool writeFile(const QString &path, const QByteArray &bytes, const QString &title);

    std::unique_ptr<Ui::FrmMain> ui;
    QProgressBar *m_progressBar = nullptr;
    QPushButton *m_btnStop = nullptr;
    QPushButton *m_btnSaveLog = nullptr;
    QPushButton *m_btnSaveReport = nullptr;
    QShortcut *m_escape = nullptr;
    QShortcut *m_about = nullptr;

    goldmine::GoldMineApi &m_api;
    util::Prompts &m_prompts;
    goldmine::ImportState m_state;
    std::unique_ptr<mapping::FrmMappings> m_mappings;
    std::unique_ptr<goldmine::ImportLock> m_lock;
    FileChooser m_chooseFile;
    mapping::FileDialog m_fileDialog;
    std::function<void()> m_endProgram;
    QSize m_outerSize; // the outer size the log was last fitted to

    // The run under way.
    bool m_busy = false;
    bool m_checking = false;
    bool m_stopRequested = false;
    bool m_closeAfterRun = false;
    bool m_askingToClose = false;
    QString m_pendingLog;     // appended since the log was last shown
    QString m_pendingCaption; // the caption to show next
    bool m_captionPending = false;
    QElapsedTimer m_sinceShown;
    QElapsedTimer m_runClock; // from the first row on
    int64_t m_total = -1;
    int64_t m_rowsDone = 0;

    // The last run's or check's report, kept until the next one begins.
    std::unique_ptr<QTemporaryDir> m_reportDir;
    QString m_reportPath;
    bool m_reportReady = false;
    QPointer<CheckSummary> m_checkSummary;
};

} // namespace app
