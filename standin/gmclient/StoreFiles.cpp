#include "StoreFiles.h"

#include "standin/gm7s32/Store.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>

#include <sqlite3.h>

#include <memory>

namespace gmclient {

namespace {

struct DatabaseCloser
{
    void operator()(sqlite3 *database) const { sqlite3_close(database); }
};
struct StatementFinalizer
{
    void operator()(sqlite3_stmt *statement) const { sqlite3_finalize(statement); }
};
using Database = std::unique_ptr<sqlite3, DatabaseCloser>;
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

// One of the store's databases, opened for reading, with its file's name
// for messages.
struct StoreDatabase
{
    Database handle;
    QString file;
};

Result<StoreDatabase> openReadOnly(const QString &storeDirectory, const QString &alias)
{
    Result<QString> file = databaseFor(storeDirectory, alias);
    if (!file)
        return file.error();
    // Opening a missing file read-only fails anyway; this says it in words.
    if (!QFileInfo(*file).isFile())
        return Error{QStringLiteral("%1 is missing or not a file").arg(*file)};
    sqlite3 *handle = nullptr;
    const int status = sqlite3_open_v2(QFile::encodeName(*file).constData(), &handle,
                                       SQLITE_OPEN_READONLY, nullptr);
    StoreDatabase database{Database(handle), *file};
    if (status != SQLITE_OK)
        return Error{QStringLiteral("cannot open %1: %2")
                         .arg(*file, QString::fromUtf8(sqlite3_errstr(status)))};
    return database;
}

// Runs sql and turns each row into one TAB-separated line.
Result<QStringList> rowsAsLines(const StoreDatabase &store, const char *sql)
{
    sqlite3 *database = store.handle.get();
    // What SQLite said, and about which file: a damaged store is the usual cause.
    const auto failed = [&store, database] {
        return Error{store.file + QStringLiteral(": ") +
                     QString::fromUtf8(sqlite3_errmsg(database))};
    };
    sqlite3_stmt *handle = nullptr;
    if (sqlite3_prepare_v2(database, sql, -1, &handle, nullptr) != SQLITE_OK)
        return failed();
    Statement statement(handle);
    QStringList lines;
    const int columns = sqlite3_column_count(handle);
    int status;
    while ((status = sqlite3_step(handle)) == SQLITE_ROW) {
        QStringList fields;
        for (int column = 0; column < columns; ++column) {
            const auto *text = reinterpret_cast<const char *>(sqlite3_column_text(handle, column));
            fields.append(escapeField(QString::fromUtf8(text ? text : "")));
        }
        lines.append(fields.join(QLatin1Char('\t')));
    }
    if (status != SQLITE_DONE)
        return failed();
    return lines;
}

} // namespace

Result<QString> databaseFor(const QString &storeDirectory, const QString &alias)
{
    const QString configPath = QDir(storeDirectory).filePath(QStringLiteral("gm7s32.ini"));
    QFile config(configPath);
    if (!config.open(QIODevice::ReadOnly | QIODevice::Text))
        return Error{QStringLiteral("%1 is not a store (no gm7s32.ini)").arg(storeDirectory)};
    QTextStream in(&config);
    bool inAliases = false;
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char(';')) ||
            line.startsWith(QLatin1Char('#')))
            continue;
        if (line.startsWith(QLatin1Char('['))) {
            inAliases = line.compare(QStringLiteral("[Aliases]"), Qt::CaseInsensitive) == 0;
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (!inAliases || equals < 0)
            continue;
        if (line.left(equals).trimmed().compare(alias, Qt::CaseInsensitive) != 0)
            continue;
        const QString file = line.mid(equals + 1).trimmed();
        return QDir::isAbsolutePath(file) ? file : QDir(storeDirectory).filePath(file);
    }
    return Error{QStringLiteral("%1 names no database for %2").arg(configPath, alias)};
}

Result<QString> firstUserName(const QString &storeDirectory)
{
    Result<StoreDatabase> database =
        openReadOnly(storeDirectory, QString::fromStdString(gm7s32::goldMineAlias()));
    if (!database)
        return database.error();
    Result<QStringList> users =
        rowsAsLines(*database, "SELECT USERNAME FROM USERS ORDER BY rowid LIMIT 1");
    if (!users)
        return users.error();
    if (users->isEmpty())
        return Error{QStringLiteral("the store has no user")};
    return users->first();
}

Result<QStringList> contactLines(const QString &storeDirectory)
{
    Result<StoreDatabase> database =
        openReadOnly(storeDirectory, QString::fromStdString(gm7s32::commonAlias()));
    if (!database)
        return database.error();
    return rowsAsLines(
        *database,
        "SELECT C.ACCOUNTNO, C.RECID, C.COMPANY, C.CONTACT, "
        "(SELECT S.CONTSUPREF || S.ADDRESS1 FROM CONTSUPP S WHERE S.ACCOUNTNO = C.ACCOUNTNO "
        "AND S.RECTYPE = 'P' AND S.CONTACT = 'E-mail Address' "
        "ORDER BY S.rowid LIMIT 1), C.PHONE1, C.CITY "
        "FROM CONTACT1 C ORDER BY C.rowid");
}

Result<QStringList> groupLines(const QString &storeDirectory)
{
    Result<StoreDatabase> database =
        openReadOnly(storeDirectory, QString::fromStdString(gm7s32::commonAlias()));
    if (!database)
        return database.error();
    return rowsAsLines(*database, "SELECT G.RECID, G.REF, G.CODE, M.ACCOUNTNO, M.REF "
                                  "FROM CONTGRPS G LEFT JOIN CONTGRPS M "
                                  "ON M.USERID = G.RECID AND M.ACCOUNTNO <> '' "
                                  "WHERE G.ACCOUNTNO = '' ORDER BY G.rowid, M.rowid");
}

QString escapeField(const QString &value)
{
    QString escaped;
    escaped.reserve(value.size());
    for (const QChar character : value) {
        switch (character.unicode()) {
        case u'\\':
            escaped += QStringLiteral("\\\\");
            break;
        case u'\t':
            escaped += QStringLiteral("\\t");
            break;
        case u'\r':
            escaped += QStringLiteral("\\r");
            break;
        case u'\n':
            escaped += QStringLiteral("\\n");
            break;
        default:
            escaped += character;
        }
    }
    return escaped;
}

} // namespace gmclient
