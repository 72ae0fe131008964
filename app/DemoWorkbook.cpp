// ruvelo-demo-workbook: writes a workbook to try an import with. Every third row
// carries an address the demo store already knows (read from a file, one a
// line), so the import shows matches beside new contacts.
#include <QCoreApplication>
#include <QFile>
#include <QStringList>
#include <QTextStream>

#include <xlsxwriter.h>

#include <array>
#include <cstdio>

namespace {

constexpr std::array<const char *, 12> kFirstNames{"Olivia", "Noah",  "Emma",   "Liam",
                                                   "Ava",    "Mateo", "Sofia",  "Arjun",
                                                   "Chloe",  "Finn",  "Zainab", "Tomasz"};
constexpr std::array<const char *, 12> kLastNames{"Reyes", "Kowalski", "Byrne",  "Haddad",
                                                  "Lund",  "Mensah",   "Ferris", "Quinn",
                                                  "Patel", "Novak",    "Costa",  "Whitlock"};
constexpr std::array<const char *, 6> kCompanies{"Harbourside Books", "Tidewater Canoe Hire",
                                                 "Copperleaf Cafe",   "Meridian Surveyors",
                                                 "Foxglove Florists", "Keystone Locksmiths"};
constexpr std::array<const char *, 6> kCities{"Galway", "Aarhus",  "Leeds",
                                              "Porto",  "Halifax", "Dunedin"};

void printUsage()
{
    std::fputs("usage: ruvelo-demo-workbook OUT.xlsx [--known FILE] [--rows N]\n"
               "  FILE holds e-mail addresses the store knows, one a line\n",
               stderr);
}

QStringList readKnownAddresses(const QString &path)
{
    QStringList addresses;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text))
        return addresses;
    QTextStream in(&file);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (!line.isEmpty())
            addresses.append(line);
    }
    return addresses;
}

void writeText(lxw_worksheet *sheet, int row, int column, const QString &text)
{
    const QByteArray bytes = text.toUtf8();
    worksheet_write_string(sheet, static_cast<lxw_row_t>(row), static_cast<lxw_col_t>(column),
                           bytes.constData(), nullptr);
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication application(argc, argv);
    QStringList arguments = application.arguments().mid(1);
    if (arguments.isEmpty()) {
        printUsage();
        return 2;
    }
    const QString output = arguments.takeFirst();
    QString knownFile;
    int rows = 300;
    while (!arguments.isEmpty()) {
        const QString option = arguments.takeFirst();
        if (arguments.isEmpty()) {
            printUsage();
            return 2;
        }
        const QString value = arguments.takeFirst();
        bool numeric = true;
        if (option == QStringLiteral("--known")) {
            knownFile = value;
        } else if (option == QStringLiteral("--rows")) {
            rows = value.toInt(&numeric);
        } else {
            numeric = false;
        }
        if (!numeric || rows < 0) {
            printUsage();
            return 2;
        }
    }
    const QStringList known = readKnownAddresses(knownFile);

    const QByteArray path = output.toLocal8Bit();
    lxw_workbook *workbook = workbook_new(path.constData());
    if (!workbook) {
        std::fprintf(stderr, "ruvelo-demo-workbook: cannot write %s\n", path.constData());
        return 1;
    }
    lxw_worksheet *sheet = workbook_add_worksheet(workbook, "Contacts");
    const QStringList header{QStringLiteral("Company"), QStringLiteral("Contact"),
                             QStringLiteral("Email"),   QStringLiteral("Phone"),
                             QStringLiteral("City"),    QStringLiteral("Source")};
    for (int column = 0; column < header.size(); ++column)
        writeText(sheet, 0, column, header.at(column));

    for (int index = 0; index < rows; ++index) {
        const int row = index + 1;
        const QString first = QString::fromLatin1(kFirstNames[index % kFirstNames.size()]);
        const QString last =
            QString::fromLatin1(kLastNames[(index / kFirstNames.size()) % kLastNames.size()]);
        const QString company = QString::fromLatin1(kCompanies[index % kCompanies.size()]);
        QString email;
        if (!known.isEmpty() && index % 3 == 0) {
            email = known.at((index / 3) % known.size());
            // A space typed around an address must not stop it matching.
            if (index % 6 == 0)
                email = QLatin1Char(' ') + email + QLatin1Char(' ');
        } else {
            email = first.toLower() + QLatin1Char('.') + last.toLower() + QString::number(index) +
                    QStringLiteral("@example.org");
        }
        writeText(sheet, row, 0, company);
        writeText(sheet, row, 1, first + QLatin1Char(' ') + last);
        writeText(sheet, row, 2, email);
        writeText(sheet, row, 3,
                  QStringLiteral("+44 20 7946 %1").arg(index % 10000, 4, 10, QLatin1Char('0')));
        writeText(sheet, row, 4, QString::fromLatin1(kCities[index % kCities.size()]));
        writeText(sheet, row, 5, QStringLiteral("Trade show"));
    }
    if (workbook_close(workbook) != LXW_NO_ERROR) {
        std::fprintf(stderr, "ruvelo-demo-workbook: cannot write %s\n", path.constData());
        return 1;
    }
    return 0;
}
