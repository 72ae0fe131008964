// Writes the hand-built Excel 97-2003 fixtures of tests/data: files laid out
// the way some real writers lay them out and no spreadsheet program saves,
// made record by record with the tests' builders. Run by tests/data/make-xls.sh;
// the results are committed.
#include "Builders.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>

#include <cstdio>

using namespace builders;

namespace {

QByteArray cellHead(int row, int column, int style = 0)
{
    return u16(quint16(row)) + u16(quint16(column)) + u16(quint16(style));
}

QByteArray label(int row, int column, const QString &text)
{
    return record(0x0204, cellHead(row, column) + biffString(text));
}

QByteArray number(int row, int column, double value)
{
    return record(0x0203, cellHead(row, column) + f64(value));
}

// A FORMULA record under the given id: a number, or (text) a cached text in
// the STRING record that follows. The formula's tokens are left out.
QByteArray formula(quint16 id, int row, int column, double value, bool text = false)
{
    const QByteArray result = text ? QByteArray(6, 0) + QByteArray("\xFF\xFF", 2) : f64(value);
    return record(id, cellHead(row, column) + result + u16(0) + u32(0) + u16(0));
}

QByteArray xls(const QByteArray &workbookStream)
{
    return compoundDocument({{"Workbook", workbookStream}});
}

// A sheet written column by column, as some report writers do.
QByteArray columnByColumn()
{
    const QStringList names{"Ann Lee", "Bo Ek", "Cy Ng"};
    const QStringList mails{"ann@example.com", "bo@example.com", "cy@example.com"};
    QByteArray cells = label(0, 0, "Name");
    for (int i = 0; i < 3; ++i)
        cells += label(i + 1, 0, names.at(i));
    cells += label(0, 1, "Email");
    for (int i = 0; i < 3; ++i)
        cells += label(i + 1, 1, mails.at(i));
    cells += label(0, 2, "Phone");
    // The phone numbers bottom up: rows out of order within a column too.
    for (int i = 2; i >= 0; --i)
        cells += number(i + 1, 2, 5550100 + i);
    return xls(biffWorkbook({}, {"Contacts"}, {cells}));
}

// A text formula whose cached text (9,000 characters) goes on from its STRING
// record into a CONTINUE record, where the characters turn two bytes wide.
QByteArray longFormulaText()
{
    QString text;
    for (int i = 0; text.size() < 9000; ++i)
        text += QStringLiteral("Note %1; ").arg(i, 4, 10, QLatin1Char('0'));
    text.truncate(9000);
    const int inFirst = 8000;
    QByteArray first = u16(quint16(text.size())) + QByteArray(1, 0);
    first += text.left(inFirst).toLatin1();
    QByteArray rest(1, 1); // the flag byte: two bytes per character from here
    for (QChar c : text.mid(inFirst)) {
        rest += char(c.unicode() & 0xFF);
        rest += char(c.unicode() >> 8);
    }
    const QByteArray cells = label(0, 0, "Notes") + label(0, 1, "Id") +
                             formula(0x0006, 1, 0, 0, true) + record(0x0207, first) +
                             record(0x003C, rest) + number(1, 1, 1) + label(2, 0, "short") +
                             number(2, 1, 2);
    return xls(biffWorkbook({}, {"Sheet1"}, {cells}));
}

// FORMULA records under the id of Excel 3 and 4 (0x0406), as some writers
// still use in Excel 97-2003 files.
QByteArray oldFormulaId()
{
    const QByteArray cells =
        label(0, 0, "Item") + label(0, 1, "Total") + label(1, 0, "a") + formula(0x0406, 1, 1, 42) +
        label(2, 0, "b") + formula(0x0406, 2, 1, 0, true) +
        record(0x0207, biffString("made by a formula")) + formula(0x0406, 3, 0, 7.5);
    return xls(biffWorkbook({}, {"Sheet1"}, {cells}));
}

// A shared-string table with empty CONTINUE records: one between two strings
// and one where a string's characters go on.
QByteArray emptyContinue()
{
    const QStringList strings{"Email", "Alphabet soup", "x", "last"};
    QByteArray data;
    for (const QString &text : strings)
        data += u16(quint16(text.size())) + QByteArray(1, 0) + text.toLatin1();
    const QByteArray head = u32(quint32(strings.size())) + u32(quint32(strings.size()));
    // "Email" whole, then "Alphabet soup" split after "Alpha".
    const int firstEnd = 3 + 5 + 3 + 5;
    QByteArray sst = record(0x00FC, head + data.left(firstEnd));
    sst += record(0x003C, {});                                       // inside a string
    sst += record(0x003C, QByteArray(1, 0) + data.mid(firstEnd, 8)); // "bet soup"
    sst += record(0x003C, {});                                       // between strings
    sst += record(0x003C, data.mid(firstEnd + 8));
    QByteArray cells;
    for (int i = 0; i < strings.size(); ++i)
        cells += record(0x00FD, cellHead(i, 0) + u32(quint32(i)));
    return xls(biffWorkbook(sst, {"Sheet1"}, {cells}));
}

// A file converted from Excel 95 that kept its old "Book" stream beside the
// real "Workbook" stream.
QByteArray workbookAndBook()
{
    const QByteArray stale = biffWorkbook({}, {"Old"},
                                          {record(0x0204, cellHead(0, 0) + u16(5) + "Stale") +
                                           record(0x0204, cellHead(1, 0) + u16(3) + "old")},
                                          0x0500);
    const QByteArray current =
        biffWorkbook({}, {"Contacts"}, {label(0, 0, "Email") + label(1, 0, "ann@example.com")});
    return compoundDocument({{"Book", stale}, {"Workbook", current}});
}

// An Excel 4.0 worksheet: a bare BIFF4 record stream, no compound document.
QByteArray biff4()
{
    return record(0x0409, u16(0) + u16(0x0010) + u16(0)) +
           record(0x0204, cellHead(0, 0) + u16(5) + "Email") + record(0x000A, {});
}

// A sheet whose DIMENSIONS record claims A1:B3, as some report writers leave
// it, while its cells reach column E and row 5.
QByteArray smallDimension()
{
    const QByteArray dimensions = record(0x0200, u32(0) + u32(3) + u16(0) + u16(2) + u16(0));
    const QByteArray cells = dimensions + label(0, 0, "Name") + label(0, 1, "Email") +
                             label(0, 2, "Phone") + label(1, 0, "Ann Lee") +
                             label(1, 1, "ann@example.com") + number(1, 2, 5550100) +
                             label(1, 3, "no header") + label(4, 4, "far out");
    return xls(biffWorkbook({}, {"Report"}, {cells}));
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s directory\n", argv[0]);
        return 2;
    }
    const QDir directory(QString::fromLocal8Bit(argv[1]));
    const std::pair<const char *, QByteArray> files[] = {
        {"rows-column-by-column.xls", columnByColumn()},
        {"formula-text-continued.xls", longFormulaText()},
        {"formula-old-id.xls", oldFormulaId()},
        {"sst-empty-continue.xls", emptyContinue()},
        {"workbook-and-book.xls", workbookAndBook()},
        {"excel4.xls", biff4()},
        {"dimension-too-small.xls", smallDimension()},
    };
    for (const auto &[name, data] : files) {
        QFile file(directory.filePath(QString::fromLatin1(name)));
        if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
            file.write(data) != data.size()) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}
