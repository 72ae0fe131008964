#include "mapping/FrmMappings.h"

#include "excel/Workbook.h"
#include "goldmine/ContactFields.h"
#include "goldmine/Lookups.h"
#include "mapping/WindowFont.h"
#include "mapping/WorkbookFailure.h"
#include "ui_FrmMappings.h"
#include "util/Prompts.h"

#include <QApplication>
#include <QKeyEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyledItemDelegate>

namespace mapping {

namespace {

// Draws an entry's Excel half and GoldMine half as two columns, so the TAB
// between them reads as a gap instead of an odd glyph.
class EntryDelegate : public QStyledItemDelegate
{
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override
    {
        QStyleOptionViewItem item(option);
        initStyleOption(&item, index);
        const QString entry = item.text;
        item.text.clear();
        const QWidget *widget = item.widget;
        QStyle *style = widget ? widget->style() : QApplication::style();
        style->drawControl(QStyle::CE_ItemViewItem, &item, painter, widget);

        const qsizetype tab = entry.indexOf(EntryList::Tab);
        const QString excelHalf = tab < 0 ? entry : entry.left(tab);
        const QString goldMineHalf = tab < 0 ? QString() : entry.mid(tab + 1);

        const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
        const int gap = item.fontMetrics.horizontalAdvance(QLatin1Char(' ')) * 2;
        const int half = text.width() / 2;
        const QRect left(text.left(), text.top(), half - gap, text.height());
        const QRect right(text.left() + half, text.top(), text.width() - half, text.height());

        const bool selected = item.state & QStyle::State_Selected;
        const QPalette::ColorRole role = selected ? QPalette::HighlightedText : QPalette::Text;
        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color(role));
        const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
        painter->drawText(left, flags,
                          item.fontMetrics.elidedText(excelHalf, Qt::ElideRight, left.width()));
        painter->drawText(right, flags,
                          item.fontMetrics.elidedText(goldMineHalf, Qt::ElideRight, right.width()));
        painter->restore();
    }
};

QListWidgetItem *onlySelected(const QListWidget &list)
{
    const QList<QListWidgetItem *> selected = list.selectedItems();
    return selected.size() == 1 ? selected.first() : nullptr;
}

void dropSelectedItem(QListWidget &list, QListWidgetItem *item)
{
    delete list.takeItem(list.row(item));
    list.clearSelection();
    list.setCurrentRow(-1, QItemSelectionModel::NoUpdate);
}

} // namespace

const QString FrmMappings::FieldListFailureTitle =
    QStringLiteral("GoldMine DDE Record Seek -- Error");

FrmMappings::FrmMappings(goldmine::GoldMineApi &api, util::Prompts &prompts, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::FrmMappings>())
    , m_api(api)
    , m_prompts(prompts)
{
    InstallWindowFontSubstitutes();
    ui->setupUi(this);
    setModal(true);

    // Designer stores whole points only.
    QFont captionFont(QStringLiteral("MS Sans Serif"));
    captionFont.setPointSizeF(9.75);
    ui->Label2->setFont(captionFont);

    ui->lstMappings->setModel(&m_entries);
    ui->lstMappings->setItemDelegate(new EntryDelegate(ui->lstMappings));
    ui->lstMappings->installEventFilter(this);

    connect(ui->btnMap, &QPushButton::clicked, this, &FrmMappings::btnMap_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &FrmMappings::Command2_Click);
    connect(ui->lstExcel, &QListWidget::itemSelectionChanged, this, &FrmMappings::lstExcel_Click);
    // A click on the name already selected preselects again too.
    connect(ui->lstExcel, &QListWidget::itemClicked, this, &FrmMappings::lstExcel_Click);
    connect(ui->lstExcel, &QListWidget::itemDoubleClicked, this, &FrmMappings::lstExcel_DblClick);
    connect(ui->lstGoldMine, &QListWidget::itemDoubleClicked, this,
            &FrmMappings::lstGoldMine_DblClick);
    connect(ui->lstMappings, &QListView::doubleClicked, this, &FrmMappings::lstMappings_DblClick);
}

FrmMappings::~FrmMappings() = default;

void FrmMappings::Form_Load(const MappingSource &source)
{
    ui->lstExcel->clear();
    ui->lstGoldMine->clear();

    excel::Result<QStringList> columns = excel::ReadFirstTableColumns(source.workbookPath);
    if (columns) {
        for (const QString &column : *columns) {
            if (source.match && column == source.emailColumn)
                continue;
            ui->lstExcel->addItem(column);
        }
    } else {
        ShowWorkbookFailure(m_prompts, columns.error());
    }

    goldmine::RunSqlQuery(
        m_api, m_prompts, goldmine::FieldListSql, 2000, FieldListFailureTitle,
        [this](const QString &field) { ui->lstGoldMine->addItem(field); }, nullptr,
        [] { QCoreApplication::processEvents(); });
    ui->lstGoldMine->addItem(goldmine::WebsiteField);
}

void FrmMappings::btnMap_Click()
{
    QListWidgetItem *excel = onlySelected(*ui->lstExcel);
    QListWidgetItem *goldMine = onlySelected(*ui->lstGoldMine);
    if (!excel || !goldMine)
        return;
    m_entries.addColumnEntry(excel->text(), goldMine->text());
    if (ui->chkClearFields->isChecked()) {
        // Taking the Excel item away moves the selection on; that is no
        // operator's choice, so it must not preselect anything.
        const QSignalBlocker blockPreselect(ui->lstExcel);
        dropSelectedItem(*ui->lstGoldMine, goldMine);
        dropSelectedItem(*ui->lstExcel, excel);
    }
}

void FrmMappings::lstExcel_Click()
{
    const QListWidgetItem *excel = onlySelected(*ui->lstExcel);
    if (!excel)
        return;
    QListWidgetItem *match = nullptr;
    for (int row = 0; row < ui->lstGoldMine->count(); ++row) {
        QListWidgetItem *item = ui->lstGoldMine->item(row);
        if (item->text().compare(excel->text(), Qt::CaseInsensitive) == 0)
            match = item;
    }
    if (match)
        ui->lstGoldMine->setCurrentItem(match);
}

void FrmMappings::lstExcel_DblClick()
{
    btnMap_Click();
}

void FrmMappings::lstGoldMine_DblClick()
{
    btnMap_Click();
}

void FrmMappings::lstMappings_DblClick(const QModelIndex &index)
{
    if (!index.isValid() || index.row() >= m_entries.count())
        return;
    const int row = index.row();
    const EntryHalves halves = EntryList::halves(m_entries.entry(row));
    const QString answer =
        m_prompts.inputBox(QStringLiteral("Current mapping for the ") + halves.goldMine +
                               QStringLiteral(" field is ") + halves.excel + QStringLiteral(": "),
                           QStringLiteral("Custom Mapping"), QString(), false);
    m_entries.makeCustom(row, answer);
    forgetCurrentEntry();
}

void FrmMappings::lstMappings_KeyUp(int key, Qt::KeyboardModifiers /*shift*/)
{
    if (key != Qt::Key_Delete)
        return;
    // Without a current entry there is nothing to delete.
    const QModelIndex current = ui->lstMappings->currentIndex();
    if (!current.isValid())
        return;
    m_entries.remove(current.row());
    forgetCurrentEntry();
}

void FrmMappings::Command2_Click()
{
    accept();
}

bool FrmMappings::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->lstMappings && event->type() == QEvent::KeyRelease) {
        const auto *key = static_cast<QKeyEvent *>(event);
        if (!key->isAutoRepeat())
            lstMappings_KeyUp(key->key(), key->modifiers());
    }
    return QDialog::eventFilter(watched, event);
}

void FrmMappings::keyPressEvent(QKeyEvent *event)
{
    // The window has no cancel button: Escape neither hides nor closes it.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void FrmMappings::forgetCurrentEntry()
{
    // A removed entry leaves no current entry behind, so a second Delete does
    // not silently take its neighbour too.
    ui->lstMappings->clearSelection();
    ui->lstMappings->setCurrentIndex(QModelIndex());
}

} // namespace mapping
