#pragma once

#include "mapping/EntryList.h"

#include <QDialog>
#include <QString>

#include <memory>

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

// What the mapping window reads from the main window when its state is made.
struct MappingSource
{
    QString workbookPath; // txtFilename
    QString emailColumn;  // cmbEmailCol
    bool match = true;    // chkMatch
};

// The window in which workbook columns (or fixed texts) are paired with
// GoldMine contact fields. "&Ok" only hides it, so its entries last; closing
// it is the owner's signal to discard the whole state.
class FrmMappings : public QDialog
{
    Q_OBJECT

public:
    static const QString FieldListFailureTitle;

    FrmMappings(goldmine::GoldMineApi &api, util::Prompts &prompts, QWidget *parent = nullptr);
    ~FrmMappings() override;

    // Fills both pick lists: the workbook's columns (without the e-mail column
    // while matching) and GoldMine's contact fields, "Website" last.
    void Form_Load(const MappingSource &source);

    const EntryList &entries() const { return m_entries; }

    void btnMap_Click();
    void lstExcel_Click();
    void lstExcel_DblClick();
    void lstGoldMine_DblClick();
    void lstMappings_DblClick(const QModelIndex &index);
    void lstMappings_KeyUp(int key, Qt::KeyboardModifiers shift);
    void Command2_Click();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    void forgetCurrentEntry();

    std::unique_ptr<Ui::FrmMappings> ui;
    goldmine::GoldMineApi &m_api;
    util::Prompts &m_prompts;
    EntryList m_entries;
};

} // namespace mapping
