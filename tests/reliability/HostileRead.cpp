// Reads a workbook as the import does (first table, every cell as text) and
// prints the failure's description. Exit 0 when it read, 2 when it failed.
#include "excel/Workbook.h"

#include <QCoreApplication>

#include <cstdio>

using namespace excel;

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc != 2)
        return 64;
    const auto fail = [](const Error &error) {
        std::fprintf(stderr, "%s\n", error.message.toLocal8Bit().constData());
        return 2;
    };
    auto connection = OpenWorkbook(QString::fromLocal8Bit(argv[1]));
    if (!connection)
        return fail(connection.error());
    const auto sheet = GetFirstTableName(*connection.value());
    if (!sheet)
        return fail(sheet.error());
    auto rows = OpenSheetRows(*connection.value(), sheet.value());
    if (!rows)
        return fail(rows.error());
    ado::Recordset &set = *rows.value();
    const int columns = static_cast<int>(set.fieldNames().size());
    while (!set.Eof()) {
        for (int column = 0; column < columns; ++column)
            VariantToText(set.value(column));
        const Result<void> moved = set.MoveNext();
        if (!moved)
            return fail(moved.error());
    }
    return 0;
}
