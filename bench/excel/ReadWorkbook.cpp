// Reads every cell of a workbook's first table the way the import does: by
// field name, each value turned into text. Prints a summary, or every row.
#include "excel/Workbook.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <cstdio>

using namespace excel;

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    if (arguments.size() < 2) {
        std::fprintf(stderr, "usage: %s workbook [--print]\n", argv[0]);
        return 2;
    }
    const bool print = arguments.contains(QStringLiteral("--print"));
    QElapsedTimer timer;
    timer.start();
    auto connection = OpenWorkbook(arguments.at(1));
    if (!connection) {
        std::printf("error: %s\n", qPrintable(connection.error().message));
        return 1;
    }
    auto table = GetFirstTableName(*connection.value());
    if (!table) {
        std::printf("error: %s\n", qPrintable(table.error().message));
        return 1;
    }
    auto rows = OpenSheetRows(*connection.value(), table.value());
    if (!rows) {
        std::printf("error: %s\n", qPrintable(rows.error().message));
        return 1;
    }
    const QStringList names = rows.value()->fieldNames();
    if (print)
        std::printf("table %s: %s\n", qPrintable(table.value()), qPrintable(names.join(u'|')));
    qint64 count = 0;
    qint64 characters = 0;
    while (!rows.value()->Eof()) {
        QStringList texts;
        for (const QString &name : names) {
            const QString text = VariantToText(rows.value()->Fields(name));
            characters += text.size();
            if (print)
                texts.append(text);
        }
        if (print)
            std::printf("%s\n", qPrintable(texts.join(u'|')));
        ++count;
        Result<void> moved = rows.value()->MoveNext();
        if (!moved) {
            std::printf("error: %s\n", qPrintable(moved.error().message));
            return 1;
        }
    }
    std::printf("%lld rows, %lld columns, %lld characters in %lld ms\n", count,
                qint64(names.size()), characters, timer.elapsed());
    return 0;
}
