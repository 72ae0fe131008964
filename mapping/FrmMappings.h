#pragma once

#include "mapping/EntryList.h"
#include "mapping/FileDialog.h"

#include <QDateTime>
#include <QDialog>
#include <QString>
#include <QStringList>

#include <functional>
#include <memory>
#include <optional>

class QKeyEvent;

namespace Ui {
class FrmMappings;
}

namespace goldmine {
class GoldMineApi;
}
namespace util {
class Prompts;
}

namespace mapping {

struct Profile;

// What the mapping window reads from the main window when its state is made.
struct MappingSource
{
    QString workbookPath; // txtFilename
    QString emailColumn;  // cmbEmailCol
    bool match = true;    // chkMatch
};

// The main window's side of a mapping profile: its e-mail column and options
// are read when a profile is saved and set when one is loaded.
struct OptionsLink
{
    std::function<Profile()> read; // the options, without mappings
    std::function<void(const Profile &)> apply;
};

// The window in which workbook columns (or fixed texts) are paired with
// GoldMine contact fields. "&Ok" only hides it, so its entries last; closing
// it is the owner's signal to discard the whole state.
class FrmMappings : public QDialog
{
    Q_OBJECT

public:
    static const QString FieldListFailureTitle;
    static const QString DiscardQuestion;
    static const QString MissingMark;

    FrmMappings(goldmine::GoldMineApi &api, util::Prompts &prompts, QWidget *parent = nullptr);
    ~FrmMappings() override;

    // Fills both pick lists: the workbook's columns (without the e-mail column
    // while matching) and GoldMine's contact fields, "Website" last.
    void Form_Load(const MappingSource &source);
    // Before the window is shown again: when the main window names another
    // workbook (or the same file changed, or another e-mail column), the
    // workbook's column list is read anew. Entries stay; those whose column
    // the workbook lacks are marked.
    void refresh(const MappingSource &source);

    const EntryList &entries() const { return m_entries; }
    // True when the entry is a column entry whose column the workbook lacks.
    bool isMissing(int row) const;

    void setFileDialog(FileDialog dialog) { m_fileDialog = std::move(dialog); }
    void setOptionsLink(OptionsLink link) { m_options = std::move(link); }

    void btnMap_Click();
    void lstExcel_Click();
    void lstExcel_DblClick();
    void lstGoldMine_DblClick();
    void lstMappings_DblClick(const QModelIndex &index);
    void lstMappings_KeyUp(int key, Qt::KeyboardModifiers shift);
    void Command2_Click();
    void btnFixedText_Click();
    void btnDelete_Click();
    void btnSave_Click();
    void btnLoad_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    struct WorkbookStamp
    {
        QString path;
        QDateTime modified;
        qint64 size = -1;
        bool operator==(const WorkbookStamp &) const = default;
    };
    static WorkbookStamp stampOf(const QString &path);

    void readColumns(const QString &path);
    // Rebuilds both pick lists from what was read: the e-mail column is left
    // out while matching, and, with "Remove fields ..." ticked, every column
    // and field an entry uses.
    void fillPickLists();
    void forgetCurrentEntry();
    void updateButtons();
    Profile currentOptions() const;

    std::unique_ptr<Ui::FrmMappings> ui;
    goldmine::GoldMineApi &m_api;
    util::Prompts &m_prompts;
    EntryList m_entries;
    FileDialog m_fileDialog;
    OptionsLink m_options;

    MappingSource m_source;
    WorkbookStamp m_stamp;
    std::optional<QStringList> m_columns; // none when the workbook could not be read
    QStringList m_fields;                 // GoldMine's, "Website" last
    QStringList m_openedWith;             // the entries when the window was last shown
};

} // namespace mapping
