// Makes the import benchmark's input: a store that already holds every second
// address, and a workbook of N rows x 12 columns (shared strings, numbers,
// dates, empty cells) written in constant memory.
//
//   import-generate STORE_DIR WORKBOOK.xlsx ROWS
#include "goldmine/gm7s32.h"
#include "standin/gm7s32/Store.h"

#include <xlsxwriter.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

std::string address(long row)
{
    return "person" + std::to_string(row) + "@import.example.com";
}

[[noreturn]] void die(const std::string &message)
{
    std::fprintf(stderr, "import-generate: %s\n", message.c_str());
    std::exit(1);
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4)
        die("usage: import-generate STORE_DIR WORKBOOK.xlsx ROWS");
    const std::string store = argv[1];
    const long rows = std::strtol(argv[3], nullptr, 10);
    std::string error;
    if (!gm7s32::createStore(store, "MASTER", "bench", &error))
        die(error);
    if (GMW_LoadBDE(store.c_str(), gm7s32::goldMineAlias().c_str(), gm7s32::commonAlias().c_str(),
                    "MASTER", "bench") < 0)
        die("cannot load the store");
    const int32_t container = GMW_NV_Create();
    for (long row = 2; row <= rows; row += 2) {
        GMW_NV_EraseAll(container);
        GMW_NV_SetValue(container, "Email", address(row).c_str());
        GMW_NV_SetValue(container, "Company", "Before the import");
        if (GMW_Execute("WriteContact", container) < 0)
            die("cannot seed the store");
    }
    GMW_NV_Delete(container);

    lxw_workbook_options options{};
    options.constant_memory = LXW_TRUE;
    lxw_workbook *workbook = workbook_new_opt(argv[2], &options);
    if (workbook == nullptr)
        die("cannot write the workbook");
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, "Contacts");
    lxw_format *date = workbook_add_format(workbook);
    format_set_num_format(date, "yyyy-mm-dd");
    const char *header[] = {"Email", "Company", "Contact", "Phone", "City",  "State",
                            "Zip",   "Country", "Title",   "Since", "Score", "Remark"};
    for (lxw_col_t column = 0; column < 12; ++column)
        worksheet_write_string(sheet, 0, column, header[column], nullptr);
    const char *cities[] = {"Oslo", "Rome", "Lyon", "Porto", "Graz", "Turku"};
    for (long row = 1; row <= rows; ++row) {
        const auto r = static_cast<lxw_row_t>(row);
        const std::string company = "Company " + std::to_string(row % 5000);
        worksheet_write_string(sheet, r, 0, address(row).c_str(), nullptr);
        worksheet_write_string(sheet, r, 1, company.c_str(), nullptr);
        worksheet_write_string(sheet, r, 2, ("Person " + std::to_string(row)).c_str(), nullptr);
        worksheet_write_number(sheet, r, 3, 5550000000.0 + static_cast<double>(row), nullptr);
        worksheet_write_string(sheet, r, 4, cities[row % 6], nullptr);
        if (row % 3 != 0)
            worksheet_write_string(sheet, r, 5, "ST", nullptr);
        worksheet_write_number(sheet, r, 6, static_cast<double>(10000 + row % 90000), nullptr);
        worksheet_write_string(sheet, r, 7, "Norway", nullptr);
        if (row % 4 == 0)
            worksheet_write_string(sheet, r, 8, "Buyer", nullptr);
        lxw_datetime since{2000 + static_cast<int>(row % 25),
                           1 + static_cast<int>(row % 12),
                           1 + static_cast<int>(row % 28),
                           0,
                           0,
                           0};
        worksheet_write_datetime(sheet, r, 9, &since, date);
        worksheet_write_number(sheet, r, 10, static_cast<double>(row % 100) / 4, nullptr);
        if (row % 5 == 0)
            worksheet_write_string(sheet, r, 11, "Met at the fair", nullptr);
    }
    if (workbook_close(workbook) != LXW_NO_ERROR)
        die("cannot write the workbook");
    return 0;
}
