// Writes a large .xlsx for the benchmark: rows x 12 columns of contact-like
// data with shared strings, numbers, dates, date-times and empty cells.
// The sheet XML is streamed to a temporary file and zipped with libzip, so the
// generator's memory stays small at any row count.
#include <zip.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

const char *const firstNames[] = {"Ann", "Bo",  "Carla", "Dev",  "Eli", "Fay", "Gus",  "Hana",
                                  "Ivo", "Jun", "Kai",   "Lena", "Mo",  "Nia", "Otto", "Pia"};
const char *const cities[] = {"Leeds", "Porto", "Graz", "Lyon", "Turku", "Gent", "Brno", "Cork"};

bool addFile(zip_t *archive, const char *name, const std::string &text)
{
    char *copy = static_cast<char *>(std::malloc(text.size()));
    std::copy(text.begin(), text.end(), copy);
    zip_source_t *source = zip_source_buffer(archive, copy, text.size(), 1);
    return source && zip_file_add(archive, name, source, ZIP_FL_OVERWRITE) >= 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s output.xlsx rows\n", argv[0]);
        return 2;
    }
    const long rows = std::atol(argv[2]);
    // Shared strings: names, companies, e-mail addresses and notes from pools.
    std::vector<std::string> strings = {"Id",   "First",  "Last",   "Email", "Company", "Phone",
                                        "City", "Amount", "Joined", "Seen",  "Notes",   "Score"};
    const int nameBase = int(strings.size());
    for (const char *first : firstNames)
        strings.push_back(first);
    const int lastBase = int(strings.size());
    for (int i = 0; i < 500; ++i)
        strings.push_back("Surname" + std::to_string(i));
    const int mailBase = int(strings.size());
    for (int i = 0; i < 2000; ++i)
        strings.push_back("user" + std::to_string(i) + "@example.com");
    const int companyBase = int(strings.size());
    for (int i = 0; i < 300; ++i)
        strings.push_back("Company &amp; Sons " + std::to_string(i));
    const int cityBase = int(strings.size());
    for (const char *city : cities)
        strings.push_back(city);
    const int noteBase = int(strings.size());
    for (int i = 0; i < 100; ++i)
        strings.push_back("Met at fair " + std::to_string(i));

    char sheetPath[] = "/tmp/excel-generate-XXXXXX";
    const int fd = mkstemp(sheetPath);
    FILE *sheet = fdopen(fd, "w");
    std::fputs("<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\n"
               "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
               "<dimension ref=\"A1:L",
               sheet);
    std::fprintf(sheet, "%ld\"/><sheetData>", rows + 1);
    std::fputs("<row r=\"1\">", sheet);
    for (int c = 0; c < 12; ++c)
        std::fprintf(sheet, "<c r=\"%c1\" t=\"s\"><v>%d</v></c>", 'A' + c, c);
    std::fputs("</row>", sheet);
    unsigned seed = 12345;
    const auto next = [&seed] {
        return seed = seed * 1103515245u + 12345u;
    };
    for (long r = 2; r <= rows + 1; ++r) {
        std::fprintf(sheet, "<row r=\"%ld\">", r);
        std::fprintf(sheet, "<c r=\"A%ld\"><v>%ld</v></c>", r, r - 1);
        std::fprintf(sheet, "<c r=\"B%ld\" t=\"s\"><v>%u</v></c>", r, nameBase + next() % 16);
        std::fprintf(sheet, "<c r=\"C%ld\" t=\"s\"><v>%u</v></c>", r, lastBase + next() % 500);
        std::fprintf(sheet, "<c r=\"D%ld\" t=\"s\"><v>%u</v></c>", r, mailBase + next() % 2000);
        std::fprintf(sheet, "<c r=\"E%ld\" t=\"s\"><v>%u</v></c>", r, companyBase + next() % 300);
        std::fprintf(sheet, "<c r=\"F%ld\"><v>%lu</v></c>", r, 5550000000ul + next() % 9999999);
        std::fprintf(sheet, "<c r=\"G%ld\" t=\"s\"><v>%u</v></c>", r, cityBase + next() % 8);
        std::fprintf(sheet, "<c r=\"H%ld\"><v>%u.%02u</v></c>", r, next() % 100000, next() % 100);
        std::fprintf(sheet, "<c r=\"I%ld\" s=\"1\"><v>%u</v></c>", r, 36000 + next() % 9000);
        std::fprintf(sheet, "<c r=\"J%ld\" s=\"2\"><v>%u.%u</v></c>", r, 44000 + next() % 1000,
                     next() % 99999);
        if (r % 3 == 0) // notes on a third of the rows; the rest stay empty
            std::fprintf(sheet, "<c r=\"K%ld\" t=\"s\"><v>%u</v></c>", r, noteBase + next() % 100);
        if (r % 4 != 0)
            std::fprintf(sheet, "<c r=\"L%ld\"><v>%u</v></c>", r, next() % 100);
        std::fputs("</row>", sheet);
    }
    std::fputs("</sheetData></worksheet>", sheet);
    std::fclose(sheet);

    std::string sst = "<?xml version=\"1.0\" encoding=\"UTF-8\"?><sst xmlns=\"http://"
                      "schemas.openxmlformats.org/spreadsheetml/2006/main\" uniqueCount=\"" +
                      std::to_string(strings.size()) + "\">";
    for (const std::string &text : strings)
        sst += "<si><t>" + text + "</t></si>";
    sst += "</sst>";
    const std::string ns = "http://schemas.openxmlformats.org/officeDocument/2006/relationships";
    int error = 0;
    zip_t *archive = zip_open(argv[1], ZIP_CREATE | ZIP_TRUNCATE, &error);
    if (!archive)
        return 1;
    bool ok = addFile(archive, "[Content_Types].xml",
                      "<?xml version=\"1.0\"?><Types xmlns=\"http://schemas.openxmlformats.org/"
                      "package/2006/content-types\"><Default Extension=\"rels\" ContentType="
                      "\"application/vnd.openxmlformats-package.relationships+xml\"/><Default "
                      "Extension=\"xml\" ContentType=\"application/xml\"/><Override PartName=\"/"
                      "xl/workbook.xml\" ContentType=\"application/vnd.openxmlformats-"
                      "officedocument.spreadsheetml.sheet.main+xml\"/><Override PartName=\"/xl/"
                      "worksheets/sheet1.xml\" ContentType=\"application/vnd.openxmlformats-"
                      "officedocument.spreadsheetml.worksheet+xml\"/><Override PartName=\"/xl/"
                      "styles.xml\" ContentType=\"application/vnd.openxmlformats-officedocument."
                      "spreadsheetml.styles+xml\"/><Override PartName=\"/xl/sharedStrings.xml\" "
                      "ContentType=\"application/vnd.openxmlformats-officedocument.spreadsheetml."
                      "sharedStrings+xml\"/></Types>");
    ok = ok && addFile(archive, "_rels/.rels",
                       "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas."
                       "openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" "
                       "Type=\"" +
                           ns +
                           "/officeDocument\" Target=\"xl/workbook.xml\"/>"
                           "</Relationships>");
    ok = ok && addFile(archive, "xl/workbook.xml",
                       "<?xml version=\"1.0\"?><workbook xmlns=\"http://schemas.openxmlformats.org/"
                       "spreadsheetml/2006/main\" xmlns:r=\"" +
                           ns +
                           "\"><sheets><sheet name=\""
                           "Contacts\" sheetId=\"1\" r:id=\"rId1\"/></sheets></workbook>");
    ok = ok && addFile(archive, "xl/_rels/workbook.xml.rels",
                       "<?xml version=\"1.0\"?><Relationships xmlns=\"http://schemas."
                       "openxmlformats.org/package/2006/relationships\"><Relationship Id=\"rId1\" "
                       "Type=\"" +
                           ns +
                           "/worksheet\" Target=\"worksheets/sheet1.xml\"/>"
                           "<Relationship Id=\"rId2\" Type=\"" +
                           ns +
                           "/styles\" Target=\"styles.xml\"/>"
                           "<Relationship Id=\"rId3\" Type=\"" +
                           ns +
                           "/sharedStrings\" Target=\""
                           "sharedStrings.xml\"/></Relationships>");
    ok = ok && addFile(archive, "xl/styles.xml",
                       "<?xml version=\"1.0\"?><styleSheet xmlns=\"http://schemas.openxmlformats."
                       "org/spreadsheetml/2006/main\"><fonts count=\"1\"><font><sz val=\"11\"/>"
                       "<name val=\"Calibri\"/></font></fonts><fills count=\"1\"><fill>"
                       "<patternFill patternType=\"none\"/></fill></fills><borders count=\"1\">"
                       "<border/></borders><cellStyleXfs count=\"1\"><xf/></cellStyleXfs>"
                       "<cellXfs count=\"3\"><xf numFmtId=\"0\"/><xf numFmtId=\"14\" "
                       "applyNumberFormat=\"1\"/><xf numFmtId=\"22\" applyNumberFormat=\"1\"/>"
                       "</cellXfs></styleSheet>");
    ok = ok && addFile(archive, "xl/sharedStrings.xml", sst);
    zip_source_t *sheetSource = zip_source_file(archive, sheetPath, 0, -1);
    ok = ok && sheetSource &&
         zip_file_add(archive, "xl/worksheets/sheet1.xml", sheetSource, ZIP_FL_OVERWRITE) >= 0;
    ok = ok && zip_close(archive) == 0;
    std::remove(sheetPath);
    if (!ok) {
        std::fprintf(stderr, "could not write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
