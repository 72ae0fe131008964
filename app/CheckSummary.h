#pragma once

#include "import/ImportRun.h"

#include <QAbstractTableModel>
#include <QDialog>
#include <QList>
#include <QPointer>

class QLabel;
class QPushButton;
class QTableView;

namespace app {

// A check's problems as a table: the row as the workbook shows it, the column
// and the message.
class ProblemModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    explicit ProblemModel(QList<import::Problem> problems, QObject *parent = nullptr);

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QList<import::Problem> m_problems;
};

// The list of a check's problems, by row.
class ProblemList : public QDialog
{
    Q_OBJECT

public:
    ProblemList(const QList<import::Problem> &problems, QWidget *parent = nullptr);
    QTableView *table() const { return m_table; }

private:
    QTableView *m_table = nullptr;
};

// What a check found: what a run would do, and the problems on request.
class CheckSummary : public QDialog
{
    Q_OBJECT

public:
    CheckSummary(const import::ImportSummary &summary, QWidget *parent = nullptr);

    QString text() const;
    void showProblems();
    // The problem list while it is shown.
    ProblemList *problemList() const { return m_problemList; }

private:
    QList<import::Problem> m_problems;
    QLabel *m_text = nullptr;
    QPushButton *m_showProblems = nullptr;
    QPointer<ProblemList> m_problemList;
};

} // namespace app
