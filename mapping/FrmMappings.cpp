#include "mapping/FrmMappings.h"

#include "excel/Workbook.h"
#include "goldmine/ContactFields.h"
#include "goldmine/Lookups.h"
#include "mapping/Profile.h"
#include "mapping/WindowFont.h"
#include "mapping/WorkbookFailure.h"
#include "ui_FrmMappings.h"
#include "util/Prompts.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFileInfo>
#include <QHelpEvent>
#include <QKeyEvent>
#include <QPainter>
#include <QSignalBlocker>
#include <QStyledItemDelegate>
#include <QToolTip>

namespace mapping {

namespace {

const QString ProfileFilter = QStringLiteral("Mapping profiles (*.json);;All files (*)");

// Draws an entry's Excel half and GoldMine half as two columns, so the TAB
// between them reads as a gap instead of an odd glyph. An entry whose column
// the workbook lacks is greyed and marked; the tool tip gives the whole entry,
// however long its names are.
class EntryDelegate : public QStyledItemDelegate
{
public:
    EntryDelegate(const FrmMappings &window, QObject *parent)
        : QStyledItemDelegate(parent)
        , m_window(window)
    {}

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

        const EntryHalves halves = EntryList::halves(entry);
        const bool missing = m_window.isMissing(index.row());
        const QString excelHalf =
            missing ? halves.excel + QLatin1Char(' ') + FrmMappings::MissingMark : halves.excel;

        const QRect text = style->subElementRect(QStyle::SE_ItemViewItemText, &item, widget);
        const int gap = item.fontMetrics.horizontalAdvance(QLatin1Char(' ')) * 2;
        const int half = text.width() / 2;
        const QRect left(text.left(), text.top(), half - gap, text.height());
        const QRect right(text.left() + half, text.top(), text.width() - half, text.height());

        const bool selected = item.state & QStyle::State_Selected;
        const QPalette::ColorRole role = selected ? QPalette::HighlightedText : QPalette::Text;
        const QPalette::ColorGroup group =
            missing && !selected ? QPalette::Disabled : QPalette::Normal;
        painter->save();
        painter->setFont(item.font);
        painter->setPen(item.palette.color(group, role));
        const int flags = Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine;
        // A missing mark stays in sight however long the name: the name gives way.
        const QString shownExcel =
            missing ? item.fontMetrics.elidedText(
                          halves.excel, Qt::ElideRight,
                          left.width() - item.fontMetrics.horizontalAdvance(
                                             QLatin1Char(' ') + FrmMappings::MissingMark)) +
                          QLatin1Char(' ') + FrmMappings::MissingMark
                    : item.fontMetrics.elidedText(excelHalf, Qt::ElideRight, left.width());
        painter->drawText(left, flags, shownExcel);
        painter->drawText(
            right, flags,
            item.fontMetrics.elidedText(halves.goldMine, Qt::ElideRight, right.width()));
        painter->restore();
    }

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override
    {
        if (event->type() != QEvent::ToolTip || !index.isValid())
            return QStyledItemDelegate::helpEvent(event, view, option, index);
        QToolTip::showText(event->globalPos(), toolTip(index), view);
        return true;
    }

    QString toolTip(const QModelIndex &index) const
    {
        const EntryHalves halves = EntryList::halves(index.data().toString());
        QString tip = halves.excel + QStringLiteral(" \u2192 ") + halves.goldMine;
        if (m_window.isMissing(index.row()))
            tip += QStringLiteral("\nThe workbook has no column of this name.");
        return tip;
    }

private:
    const FrmMappings &m_window;
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

bool hasColumn(const QStringList &columns, const QString &name)
{
    // The run finds a column by its exact name or, failing that, in any case.
    return columns.contains(name, Qt::CaseInsensitive);
}

} // namespace

const QString FrmMappings::FieldListFailureTitle =
    QStringLiteral("GoldMine DDE Record Seek -- Error");
const QString FrmMappings::DiscardQuestion = QStringLiteral("Discard the changes to the mappings?");
const QString FrmMappings::MissingMark = QStringLiteral("(missing)");

FrmMappings::FrmMappings(goldmine::GoldMineApi &api, util::Prompts &prompts, QWidget *parent)
    : QDialog(parent)
    , ui(std::make_unique<Ui::FrmMappings>())
    , m_api(api)
    , m_prompts(prompts)
    , m_fileDialog(&showFileDialog)
{
    InstallWindowFontSubstitutes();
    ui->setupUi(this);
    setModal(true);

    // Designer stores whole points only.
    QFont captionFont(QStringLiteral("MS Sans Serif"));
    captionFont.setPointSizeF(9.75);
    ui->Label2->setFont(captionFont);

    ui->lstMappings->setModel(&m_entries);
    ui->lstMappings->setItemDelegate(new EntryDelegate(*this, ui->lstMappings));
    ui->lstMappings->installEventFilter(this);

    connect(ui->btnMap, &QPushButton::clicked, this, &FrmMappings::btnMap_Click);
    connect(ui->Command2, &QPushButton::clicked, this, &FrmMappings::Command2_Click);
    connect(ui->btnFixedText, &QPushButton::clicked, this, &FrmMappings::btnFixedText_Click);
    connect(ui->btnDelete, &QPushButton::clicked, this, &FrmMappings::btnDelete_Click);
    connect(ui->btnSave, &QPushButton::clicked, this, &FrmMappings::btnSave_Click);
    connect(ui->btnLoad, &QPushButton::clicked, this, &FrmMappings::btnLoad_Click);
    connect(ui->lstExcel, &QListWidget::itemSelectionChanged, this, &FrmMappings::lstExcel_Click);
    // A click on the name already selected preselects again too.
    connect(ui->lstExcel, &QListWidget::itemClicked, this, &FrmMappings::lstExcel_Click);
    connect(ui->lstExcel, &QListWidget::itemDoubleClicked, this, &FrmMappings::lstExcel_DblClick);
    connect(ui->lstGoldMine, &QListWidget::itemDoubleClicked, this,
            &FrmMappings::lstGoldMine_DblClick);
    connect(ui->lstMappings, &QListView::doubleClicked, this, &FrmMappings::lstMappings_DblClick);
    connect(ui->lstGoldMine, &QListWidget::itemSelectionChanged, this, &FrmMappings::updateButtons);
    connect(ui->lstMappings->selectionModel(), &QItemSelectionModel::currentChanged, this,
            &FrmMappings::updateButtons);
    connect(&m_entries, &QAbstractItemModel::rowsRemoved, this, &FrmMappings::updateButtons);
    updateButtons();
}

FrmMappings::~FrmMappings() = default;

void FrmMappings::Form_Load(const MappingSource &source)
{
    ui->lstExcel->clear();
    ui->lstGoldMine->clear();
    m_source = source;
    readColumns(source.workbookPath);

    m_fields.clear();
    goldmine::RunSqlQuery(
        m_api, m_prompts, goldmine::FieldListSql, 2000, FieldListFailureTitle,
        [this](const QString &field) { m_fields.append(field); }, nullptr,
        [] { QCoreApplication::processEvents(); });
    m_fields.append(goldmine::WebsiteField);
    fillPickLists();
}

void FrmMappings::refresh(const MappingSource &source)
{
    const bool otherWorkbook = stampOf(source.workbookPath) != m_stamp;
    const bool otherSource =
        source.emailColumn != m_source.emailColumn || source.match != m_source.match;
    if (!otherWorkbook && !otherSource)
        return; // the same pick lists as when the window was hidden
    m_source = source;
    if (otherWorkbook)
        readColumns(source.workbookPath);
    fillPickLists();
    ui->lstMappings->viewport()->update();
}

FrmMappings::WorkbookStamp FrmMappings::stampOf(const QString &path)
{
    const QFileInfo file(path);
    return {path, file.exists() ? file.lastModified() : QDateTime(),
            file.exists() ? file.size() : -1};
}

void FrmMappings::readColumns(const QString &path)
{
    m_stamp = stampOf(path);
    excel::Result<QStringList> columns = excel::ReadFirstTableColumns(path);
    if (columns) {
        m_columns = *columns;
    } else {
        m_columns.reset();
        ShowWorkbookFailure(m_prompts, columns.error());
    }
}

void FrmMappings::fillPickLists()
{
    const QSignalBlocker blockPreselect(ui->lstExcel);
    ui->lstExcel->clear();
    ui->lstGoldMine->clear();
    QStringList mappedColumns;
    QStringList mappedFields;
    if (ui->chkClearFields->isChecked()) {
        for (const QString &entry : m_entries.entries()) {
            const ValueSource source = EntryList::valueSource(entry);
            if (!source.custom)
                mappedColumns.append(source.column);
            mappedFields.append(EntryList::halves(entry).goldMine);
        }
    }
    for (const QString &column : m_columns.value_or(QStringList())) {
        if (m_source.match && column == m_source.emailColumn)
            continue;
        if (!mappedColumns.contains(column))
            ui->lstExcel->addItem(column);
    }
    for (const QString &field : std::as_const(m_fields)) {
        if (!mappedFields.contains(field))
            ui->lstGoldMine->addItem(field);
    }
    updateButtons();
}

bool FrmMappings::isMissing(int row) const
{
    if (!m_columns || row < 0 || row >= m_entries.count())
        return false;
    const ValueSource source = EntryList::valueSource(m_entries.entry(row));
    return !source.custom && !hasColumn(*m_columns, source.column);
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

void FrmMappings::btnFixedText_Click()
{
    QListWidgetItem *goldMine = onlySelected(*ui->lstGoldMine);
    if (!goldMine)
        return;
    const QString field = goldMine->text();
    const QString text = m_prompts.inputBox(QStringLiteral("Fixed text for the ") + field +
                                                QStringLiteral(" field of every contact: "),
                                            QStringLiteral("Custom Mapping"), QString(), false);
    // Cancel answers empty text; an entry that blanks the field in every
    // contact is made by double-clicking an entry, never by a cancelled box.
    if (text.isEmpty())
        return;
    m_entries.addCustomEntry(text, field);
    if (ui->chkClearFields->isChecked())
        dropSelectedItem(*ui->lstGoldMine, goldMine);
}

void FrmMappings::btnDelete_Click()
{
    lstMappings_KeyUp(Qt::Key_Delete, Qt::NoModifier);
}

Profile FrmMappings::currentOptions() const
{
    if (m_options.read)
        return m_options.read();
    Profile profile;
    profile.emailColumn = m_source.emailColumn;
    profile.match = m_source.match;
    return profile;
}

void FrmMappings::btnSave_Click()
{
    const QString path = m_fileDialog(this, {true, QStringLiteral("Save Mapping Profile"),
                                             ProfileFilter, QStringLiteral("json")});
    if (path.isEmpty())
        return;
    Profile profile = currentOptions();
    profile.mappings = mappingsOf(m_entries);
    const Result<void> written = writeProfile(path, profile);
    if (!written) {
        m_prompts.messageBox(written.error().message, windowTitle(), util::PromptIcon::Critical);
    }
}

void FrmMappings::btnLoad_Click()
{
    const QString path = m_fileDialog(this, {false, QStringLiteral("Load Mapping Profile"),
                                             ProfileFilter, QStringLiteral("json")});
    if (path.isEmpty())
        return;
    const Result<Profile> read = readProfile(path);
    if (!read) {
        m_prompts.messageBox(read.error().message, windowTitle(), util::PromptIcon::Critical);
        return;
    }
    const QStringList columns = m_columns.value_or(QStringList());
    const ProfileFit fit = fitProfile(*read, columns, m_fields);

    // The profile's mappings take the place of the entries made so far.
    while (m_entries.count() > 0)
        m_entries.remove(m_entries.count() - 1);
    for (const MappingArgument &mapping : fit.taken)
        addMapping(m_entries, mapping);

    Profile options = *read;
    const Profile current = currentOptions();
    if (options.emailColumn.isEmpty() || !columns.contains(options.emailColumn))
        options.emailColumn = current.emailColumn; // refused: the column stays as chosen
    if (m_options.apply)
        m_options.apply(options);
    m_source.emailColumn = options.emailColumn;
    m_source.match = options.match;
    forgetCurrentEntry();
    fillPickLists();

    if (!fit.refused.isEmpty()) {
        m_prompts.messageBox(QStringLiteral("These parts of the mapping profile could not be "
                                            "taken:\n") +
                                 fit.refused.join(QLatin1Char('\n')),
                             windowTitle(), util::PromptIcon::Warning);
    }
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

void FrmMappings::showEvent(QShowEvent *event)
{
    m_openedWith = m_entries.entries();
    QDialog::showEvent(event);
}

void FrmMappings::closeEvent(QCloseEvent *event)
{
    // Closing discards the whole state; changes made since the window opened
    // go only when the operator says so.
    if (isVisible() && m_entries.entries() != m_openedWith &&
        !m_prompts.question(DiscardQuestion, windowTitle())) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void FrmMappings::forgetCurrentEntry()
{
    // A removed entry leaves no current entry behind, so a second Delete does
    // not silently take its neighbour too.
    ui->lstMappings->clearSelection();
    ui->lstMappings->setCurrentIndex(QModelIndex());
    updateButtons();
}

void FrmMappings::updateButtons()
{
    ui->btnFixedText->setEnabled(onlySelected(*ui->lstGoldMine) != nullptr);
    ui->btnDelete->setEnabled(ui->lstMappings->currentIndex().isValid());
}

} // namespace mapping
