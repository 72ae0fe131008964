#include "DemoData.h"

#include <QRandomGenerator>

#include <array>

namespace {

struct Company
{
    const char *name;
    const char *domain;
    const char *city;
    const char *country;
};

constexpr std::array<Company, 24> kCompanies{{
    {"Acme Hardware Ltd", "acmehardware.co.uk", "Leeds", "United Kingdom"},
    {"Brightwater Logistics", "brightwater-logistics.com", "Rotterdam", "Netherlands"},
    {"O'Neill Joinery", "oneilljoinery.ie", "Cork", "Ireland"},
    {"Nordlicht Maschinenbau GmbH", "nordlicht-maschinenbau.de", "Bremen", "Germany"},
    {"Harbour View Dental", "harbourviewdental.com.au", "Sydney", "Australia"},
    {"Pioneer Seed Cooperative", "pioneerseed.coop", "Des Moines", "USA"},
    {"Kessler & Sons Plumbing", "kesslerplumbing.com", "Toledo", "USA"},
    {"Bob's Bikes", "bobsbikes.com", "Portland", "USA"},
    {"Lumen Architecture Studio", "lumenarchitecture.studio", "Lisbon", "Portugal"},
    {"Greenfield Veterinary Practice", "greenfieldvets.co.uk", "Norwich", "United Kingdom"},
    {"Tessaract Software", "tessaract.io", "Austin", "USA"},
    {"Maison Dubois Traiteur", "maisondubois.fr", "Lyon", "France"},
    {"Northern Lights Insurance Brokers Ltd", "northernlights-insurance-brokers.com", "Edinburgh",
     "United Kingdom"},
    {"Cedar Creek Realty", "cedarcreekrealty.com", "Boise", "USA"},
    {"Fjord Seafood AS", "fjordseafood.no", "Bergen", "Norway"},
    {"Sunrise Bakery", "sunrisebakery.ca", "Halifax", "Canada"},
    {"D'Arcy Legal Services", "darcylegal.com", "Boston", "USA"},
    {"Quantum Print & Copy", "quantumprint.net", "Phoenix", "USA"},
    {"Alpine Outfitters", "alpineoutfitters.ch", "Bern", "Switzerland"},
    {"Redwood Medical Supplies", "redwoodmedical.com", "Sacramento", "USA"},
    {"Atlas Freight Forwarding", "atlasfreight.com", "Houston", "USA"},
    {"Bluebird Childcare", "bluebirdchildcare.org", "Cardiff", "United Kingdom"},
    {"Vanguard Electrical Contractors", "vanguard-electrical-contractors.com", "Denver", "USA"},
    {"Saint Mary's Parish Council", "stmarysparish.org.uk", "York", "United Kingdom"},
}};

constexpr std::array<const char *, 30> kFirstNames{
    "James",  "Mary",      "Robert",     "Patricia",   "John",    "Jennifer", "Michael", "Linda",
    "David",  "Elizabeth", "William",    "Barbara",    "Richard", "Susan",    "Joseph",  "Jessica",
    "Thomas", "Sarah",     "Charles",    "Karen",      "Siobhan", "Aoife",    "Lars",    "Ingrid",
    "Pierre", "Amélie",    "Maximilian", "Alexandria", "Kwame",   "Priya"};

constexpr std::array<const char *, 30> kLastNames{"Smith",    "Johnson",  "Williams",
                                                  "Brown",    "Jones",    "Garcia",
                                                  "Miller",   "Davis",    "O'Brien",
                                                  "Wilson",   "Anderson", "Taylor",
                                                  "Thomas",   "Moore",    "Martin",
                                                  "Jackson",  "D'Angelo", "White",
                                                  "Harris",   "Clark",    "O'Sullivan",
                                                  "Lewis",    "Young",    "Walker",
                                                  "Hall",     "Allen",    "Montgomery-Fitzwilliam",
                                                  "Nakamura", "Okafor",   "Lindqvist"};

constexpr std::array<const char *, 8> kTitles{
    "Owner",      "Office Manager",    "Sales Director",  "Accounts Payable",
    "Purchasing", "Managing Director", "Operations Lead", ""};

// The letters a to z and hyphens of a name, lower-cased: the local part of an
// address.
QString mailName(const QString &text)
{
    QString name;
    for (const QChar character : text.toLower()) {
        if ((character >= u'a' && character <= u'z') || character == u'-')
            name += character;
    }
    return name;
}

} // namespace

QList<DemoContact> demoContacts(int count)
{
    QRandomGenerator random(20240607);
    QList<DemoContact> contacts;
    contacts.reserve(count);
    for (int index = 0; index < count; ++index) {
        const Company &company = kCompanies[random.bounded(int(kCompanies.size()))];
        const QString first =
            QString::fromUtf8(kFirstNames[random.bounded(int(kFirstNames.size()))]);
        const QString last = QString::fromUtf8(kLastNames[random.bounded(int(kLastNames.size()))]);
        DemoContact contact;
        contact.company = QString::fromUtf8(company.name);
        contact.contact = first + QLatin1Char(' ') + last;
        contact.lastName = last.left(15); // the width of GoldMine's LASTNAME
        contact.title = QString::fromUtf8(kTitles[random.bounded(int(kTitles.size()))]);
        // The index keeps addresses unique; some people keep the apostrophe
        // of their name, some addresses are written in capitals.
        QString local = mailName(first) + QLatin1Char('.') + mailName(last);
        if (last.contains(QLatin1Char('\'')) && index % 2 == 0)
            local = mailName(first) + QLatin1Char('.') + last.toLower();
        contact.email =
            local + QString::number(index) + QLatin1Char('@') + QString::fromUtf8(company.domain);
        if (index % 9 == 0)
            contact.email = contact.email.toUpper();
        contact.phone1 =
            QStringLiteral("+1 555 %1").arg(1000 + index * 7 % 9000, 4, 10, QLatin1Char('0'));
        contact.city = QString::fromUtf8(company.city);
        contact.country = QString::fromUtf8(company.country);
        contacts.append(contact);
    }
    return contacts;
}
