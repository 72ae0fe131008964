#pragma once

#include <QList>
#include <QString>

// Plausible sample contacts for trying an import by hand: companies shared by
// several people, long and upper-case e-mail addresses, names with
// apostrophes. The same list every time.
struct DemoContact
{
    QString company;
    QString contact;
    QString lastName;
    QString title;
    QString email;
    QString phone1;
    QString city;
    QString country;
};

QList<DemoContact> demoContacts(int count);
