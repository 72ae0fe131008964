#include "app/CheckSummary.h"

#include <QDialogButtonBox>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableView>
#include <QVBoxLayout>

namespace app {

namespace {

enum Column { RowColumn, ColumnColumn, MessageColumn, ColumnCount };

} // namespace

ProblemModel::ProblemModel(QList<import::Problem> problems, QObject *parent)
    : QAbstractTableModel(parent)
    , m_problems(std::move(problems))
{}

int ProblemModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(m_problems.size());
}

int ProblemModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ProblemModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= m_problems.size())
        return {};
    const import::Problem &problem = m_problems.at(index.row());
    if (role == Qt::DisplayRole || role == Qt::ToolTipRole) {
        switch (index.column()) {
        case RowColumn:
            // Row 0 is the run as a whole: a missing column, the group's name.
            return problem.row > 0 ? QString::number(problem.row) : QStringLiteral("all");
        case ColumnColumn:
            return problem.column;
        case MessageColumn:
            return problem.failsRow ? problem.message + QStringLiteral(" (the row would fail)")
                                    : problem.message;
        default:
            return {};
        }
    }
    if (role == Qt::TextAlignmentRole && index.column() == RowColumn)
        return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
    return {};
}

QVariant ProblemModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case RowColumn:
        return QStringLiteral("Row");
    case ColumnColumn:
        return QStringLiteral("Column");
    case MessageColumn:
        return QStringLiteral("Problem");
    default:
        return {};
    }
}

ProblemList::ProblemList(const QList<import::Problem> &problems, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("ProblemList"));
    setWindowTitle(QStringLiteral("Problems Found"));
    m_table = new QTableView(this);
    m_table->setObjectName(QStringLiteral("tblProblems"));
    m_table->setModel(new ProblemModel(problems, m_table));
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_table->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_table->setWordWrap(false);
    m_table->verticalHeader()->hide();
    m_table->verticalHeader()->setDefaultSectionSize(m_table->fontMetrics().height() + 4);
    m_table->horizontalHeader()->setSectionResizeMode(RowColumn, QHeaderView::ResizeToContents);
    m_table->horizontalHeader()->setSectionResizeMode(ColumnColumn, QHeaderView::Interactive);
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->setColumnWidth(ColumnColumn, 120);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, this);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_table);
    layout->addWidget(buttons);
    resize(640, 360);
}

CheckSummary::CheckSummary(const import::ImportSummary &summary, QWidget *parent)
    : QDialog(parent)
    , m_problems(summary.problems)
{
    setObjectName(QStringLiteral("CheckSummary"));
    setWindowTitle(QStringLiteral("Check"));
    m_text = new QLabel(summary.checkText(), this);
    m_text->setObjectName(QStringLiteral("lblSummary"));
    m_text->setTextInteractionFlags(Qt::TextSelectableByMouse);

    auto *buttons = new QDialogButtonBox(this);
    m_showProblems =
        buttons->addButton(QStringLiteral("Show &problems"), QDialogButtonBox::ActionRole);
    m_showProblems->setObjectName(QStringLiteral("btnShowProblems"));
    m_showProblems->setEnabled(!m_problems.isEmpty());
    QPushButton *close = buttons->addButton(QDialogButtonBox::Close);
    close->setObjectName(QStringLiteral("btnClose"));
    close->setDefault(true);
    connect(m_showProblems, &QPushButton::clicked, this, &CheckSummary::showProblems);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto *layout = new QVBoxLayout(this);
    layout->addWidget(m_text);
    layout->addWidget(buttons);
    setAttribute(Qt::WA_DeleteOnClose);
}

QString CheckSummary::text() const
{
    return m_text->text();
}

void CheckSummary::showProblems()
{
    if (m_problemList) {
        m_problemList->raise();
        m_problemList->activateWindow();
        return;
    }
    m_problemList = new ProblemList(m_problems, this);
    m_problemList->setAttribute(Qt::WA_DeleteOnClose);
    m_problemList->setFont(font());
    m_problemList->open();
}

} // namespace app
