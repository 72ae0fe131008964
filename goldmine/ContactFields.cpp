#include "goldmine/ContactFields.h"

#include "goldmine/ApiText.h"

namespace goldmine {

const QString FieldListSql =
    QStringLiteral("select field_name from contudef where dbfname like 'contact%' and "
                   "field_name<>'ACCOUNTNO' and field_name<>'RECID' order by field_name");
const QString WebsiteField = QStringLiteral("Website");

std::optional<QStringList> ReadContactFieldNames(GoldMineApi &api, util::Prompts &prompts,
                                                 const QString &failureTitle,
                                                 const LetEventsRun &letEventsRun)
{
    QStringList names;
    bool readInFull = false;
    const bool answered = RunSqlQuery(
        api, prompts, FieldListSql, 2000, failureTitle,
        [&names](const QString &name) { names.append(name); }, &readInFull, letEventsRun);
    if (!answered || (names.isEmpty() && !readInFull))
        return std::nullopt;
    return names;
}

std::optional<qsizetype> ReadFieldWidth(GoldMineApi &api, util::Prompts &prompts,
                                        const QString &field, const QString &failureTitle)
{
    // Both live in the e-mail record's reference and overflow fields.
    if (field.compare(QLatin1String("Email"), Qt::CaseInsensitive) == 0 ||
        field.compare(WebsiteField, Qt::CaseInsensitive) == 0)
        return kEmailRecordWidth;
    QString quoted = field;
    quoted.replace(QLatin1Char('\''), QLatin1String("''"));
    // A memo ('M') has no length worth checking: it lists no row here.
    const QString sql =
        QStringLiteral("select field_len from contudef where dbfname like 'contact%' and "
                       "field_type<>'M' and field_name='%1'")
            .arg(quoted);
    QString width;
    bool readInFull = false;
    const bool answered = RunSqlQuery(
        api, prompts, sql, 20, failureTitle, [&width](const QString &value) { width = value; },
        &readInFull);
    if (!answered || (width.isEmpty() && !readInFull))
        return std::nullopt;
    if (width.isEmpty())
        return 0;
    bool isNumber = false;
    const qsizetype characters = width.trimmed().toLongLong(&isNumber);
    return isNumber && characters > 0 ? characters : 0;
}

} // namespace goldmine
