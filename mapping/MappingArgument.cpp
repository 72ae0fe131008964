#include "mapping/MappingArgument.h"

#include "mapping/EntryList.h"

namespace mapping {

Result<MappingArgument> parseMappingArgument(const QString &argument, bool fixed)
{
    const QString expected = fixed ? QStringLiteral("TEXT=FIELD") : QStringLiteral("COLUMN=FIELD");
    const qsizetype split = argument.lastIndexOf(QLatin1Char('='));
    if (split < 0 || split == argument.size() - 1 || (!fixed && split == 0)) {
        return Error{QStringLiteral("A mapping must read %1, not: %2").arg(expected, argument),
                     ErrorCode::Malformed};
    }
    MappingArgument mapping{fixed, argument.left(split), argument.mid(split + 1)};
    if (mapping.source.contains(EntryList::Tab) || mapping.field.contains(EntryList::Tab)) {
        return Error{QStringLiteral("A mapping cannot hold a TAB: %1").arg(argument),
                     ErrorCode::Malformed};
    }
    return mapping;
}

void addMapping(EntryList &entries, const MappingArgument &mapping)
{
    if (mapping.fixed)
        entries.addCustomEntry(mapping.source, mapping.field);
    else
        entries.addColumnEntry(mapping.source, mapping.field);
}

} // namespace mapping
