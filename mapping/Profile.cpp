#include "mapping/Profile.h"

#include "mapping/EntryList.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>

namespace mapping {

namespace {

const QString Format = QStringLiteral("ruvelo-mapping-profile");
constexpr int Version = 1;
// A profile is a few lines; anything much larger is not one.
constexpr qint64 MaxProfileBytes = qint64{4} * 1024 * 1024;

Error malformed(const QString &path, const QString &why)
{
    return Error{QStringLiteral("The mapping profile %1 cannot be read: %2.").arg(path, why),
                 ErrorCode::Malformed};
}

} // namespace

Result<Profile> readProfile(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return Error{QStringLiteral("The mapping profile %1 cannot be opened: %2.")
                         .arg(path, file.errorString())};
    if (file.size() > MaxProfileBytes)
        return malformed(path, QStringLiteral("it is too large to be a profile"));
    QJsonParseError parseError;
    const QJsonDocument document = QJsonDocument::fromJson(file.readAll(), &parseError);
    if (parseError.error != QJsonParseError::NoError)
        return malformed(path, parseError.errorString());
    const QJsonObject root = document.object();
    if (!document.isObject() || root.value(QLatin1String("format")).toString() != Format)
        return malformed(path, QStringLiteral("it is not a Ruvelo mapping profile"));
    if (root.value(QLatin1String("version")).toInt() > Version)
        return malformed(path, QStringLiteral("it was written by a newer Ruvelo"));

    Profile profile;
    profile.emailColumn = root.value(QLatin1String("emailColumn")).toString();
    profile.match = root.value(QLatin1String("match")).toBool(true);
    profile.updateMatches = profile.match && root.value(QLatin1String("updateMatches")).toBool();
    profile.group = root.value(QLatin1String("group")).toBool();
    profile.groupName = root.value(QLatin1String("groupName")).toString();
    const QJsonArray mappings = root.value(QLatin1String("mappings")).toArray();
    for (qsizetype i = 0; i < mappings.size(); ++i) {
        const QJsonObject entry = mappings.at(i).toObject();
        const QString field = entry.value(QLatin1String("field")).toString();
        const bool fixed = entry.contains(QLatin1String("text"));
        const QString source =
            entry.value(fixed ? QLatin1String("text") : QLatin1String("column")).toString();
        if (field.isEmpty() || (!fixed && source.isEmpty()) || field.contains(EntryList::Tab) ||
            source.contains(EntryList::Tab))
            return malformed(path, QStringLiteral("mapping %1 names no column or field, or holds "
                                                  "a TAB")
                                       .arg(i + 1));
        profile.mappings.append({fixed, source, field});
    }
    return profile;
}

Result<void> writeProfile(const QString &path, const Profile &profile)
{
    QJsonArray mappings;
    for (const MappingArgument &mapping : profile.mappings) {
        QJsonObject entry;
        entry.insert(mapping.fixed ? QLatin1String("text") : QLatin1String("column"),
                     mapping.source);
        entry.insert(QLatin1String("field"), mapping.field);
        mappings.append(entry);
    }
    QJsonObject root;
    root.insert(QLatin1String("format"), Format);
    root.insert(QLatin1String("version"), Version);
    root.insert(QLatin1String("emailColumn"), profile.emailColumn);
    root.insert(QLatin1String("match"), profile.match);
    root.insert(QLatin1String("updateMatches"), profile.updateMatches);
    root.insert(QLatin1String("group"), profile.group);
    root.insert(QLatin1String("groupName"), profile.groupName);
    root.insert(QLatin1String("mappings"), mappings);

    // Written beside and renamed into place, so a failed save loses nothing.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) ||
        file.write(QJsonDocument(root).toJson(QJsonDocument::Indented)) < 0 || !file.commit())
        return Error{QStringLiteral("The mapping profile %1 cannot be written: %2.")
                         .arg(path, file.errorString())};
    return {};
}

QList<MappingArgument> mappingsOf(const EntryList &entries)
{
    QList<MappingArgument> mappings;
    for (const QString &entry : entries.entries()) {
        const ValueSource source = EntryList::valueSource(entry);
        mappings.append({source.custom, source.custom ? source.fixedValue : source.column,
                         EntryList::halves(entry).goldMine});
    }
    return mappings;
}

ProfileFit fitProfile(const Profile &profile, const QStringList &columns, const QStringList &fields)
{
    ProfileFit fit;
    const auto hasField = [&fields](const QString &field) {
        return fields.contains(field, Qt::CaseInsensitive);
    };
    if (!profile.emailColumn.isEmpty() && !columns.contains(profile.emailColumn)) {
        fit.refused.append(QStringLiteral("The e-mail column %1 is not in the workbook.")
                               .arg(profile.emailColumn));
    }
    for (const MappingArgument &mapping : profile.mappings) {
        if (!mapping.fixed && !columns.contains(mapping.source)) {
            fit.refused.append(QStringLiteral("%1 to %2: the workbook has no column %1.")
                                   .arg(mapping.source, mapping.field));
        } else if (!hasField(mapping.field)) {
            fit.refused.append(QStringLiteral("%1 to %2: GoldMine has no contact field %2.")
                                   .arg(mapping.fixed ? QStringLiteral("\"%1\"").arg(mapping.source)
                                                      : mapping.source,
                                        mapping.field));
        } else {
            fit.taken.append(mapping);
        }
    }
    return fit;
}

} // namespace mapping
