#pragma once

#include "goldmine/ImportState.h"
#include "goldmine/Startup.h"
#include "import/ImportRun.h"

#include <QMainWindow>
#include <QSize>
#include <QString>

#include <functional>
#include <memory>

namespace Ui {
class FrmMain;
}

namespace goldmine {
class DdeLink;
class GoldMineApi;
class ImportLock;
} // namespace goldmine
namespace mapping {
class FrmMappings;
}
namespace util {
class Prompts;
}

namespace app {

// The window the operator works in. It reads its controls into the import's
// options, hands the work to the engines and shows what comes back; it is the
// import's sink, so the log and progress caption grow as the run goes.
class FrmMain : public QMainWindow, public import::ImportSink
{
    Q_OBJECT

public:
    // Shows the open-file dialog and returns the chosen path, or the initial
    // name "*.xls*" when the operator chose nothing.
    using FileChooser = std::function<QString(QWidget *parent)>;

    static const QString NoFileChosen;
    static const QString UpdateWarningText;

    FrmMain(goldmine::GoldMineApi &api, util::Prompts &prompts, QWidget *parent = nullptr);
    ~FrmMain() override;

    // The start-up sequence; on EndProgram a message has been shown and the
    // window must not be shown.
    goldmine::StartupOutcome Form_Load(goldmine::DdeLink &link,
                                       goldmine::ConnectionSettings &settings);

    void setFileChooser(FileChooser chooser) { m_chooseFile = std::move(chooser); }
    // What closing the window does; quitting the application by default.
    void setEndProgram(std::function<void()> endProgram) { m_endProgram = std::move(endProgram); }

    // The mapping window's state; null until first needed and after it was closed.
    mapping::FrmMappings *mappingWindow() const { return m_mappings.get(); }
    goldmine::ImportState &importState() { return m_state; }
    // The log with each line break as CR LF, as the import wrote it.
    QString logText() const;

    void btnBrowse_Click();
    void btnMap_Click();
    void btnImport_Click();
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

    static QString chooseWorkbookWithDialog(QWidget *parent);

protected:
    void resizeEvent(QResizeEvent *event) override;
    void moveEvent(QMoveEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    mapping::FrmMappings &ensureMappingWindow();

    std::unique_ptr<Ui::FrmMain> ui;
    goldmine::GoldMineApi &m_api;
    util::Prompts &m_prompts;
    goldmine::ImportState m_state;
    std::unique_ptr<mapping::FrmMappings> m_mappings;
    std::unique_ptr<goldmine::ImportLock> m_lock;
    FileChooser m_chooseFile;
    std::function<void()> m_endProgram;
    bool m_busy = false;
    QSize m_outerSize; // the outer size the log was last fitted to
};

} // namespace app
