#include "PersistentManager.h"

#include "options/Messages.h"

#include <QAtomicInt>
#include <QDir>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QSqlDatabase>
#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QTimeZone>
#include <set>

Q_LOGGING_CATEGORY(lcHistory, "korvane.history")

namespace korvane {

namespace {

const QString kFileName = QStringLiteral("av.cfg");
const QString kRootName = QStringLiteral("My Conversions");
// Bumped with each change of the schema; Open upgrades older files step by step.
constexpr int kSchemaVersion = 2;

const char* const kSchema[] = {
    "create table Conversions (ID integer primary key autoincrement, Converting boolean not null default 1, "
    "ConvertSettings text, ConvertedDate datetime, CategoryId integer, Log text, UsedTime integer)",
    // category ids are never reused, so a task made for a deleted category
    // goes to the root and not into a newer category that got the same id
    "create table Categories (ID integer primary key autoincrement, Category text, Path text, Parent integer)",
    "create index ConversionsByCategory on Conversions (Converting, CategoryId, ConvertedDate)",
    "create index CategoriesByParent on Categories (Parent)",
};

const QStringList kConversionColumns = {"ID", "Converting", "ConvertSettings", "ConvertedDate", "CategoryId", "Log"};
// Added by version 2: seconds the task's runs have used (null: not known).
const QString kUsedTimeColumn = QStringLiteral("UsedTime");
const QStringList kCategoryColumns = {"ID", "Category", "Path", "Parent"};

QString LogText(const QStringList& log)
{
    QString text;
    for (const QString& line : log)
        text += line + QStringLiteral("\r\n");
    return text;
}


// What made a file unusable as the history; empty when it is fine.
struct TDamage
{
    QString reason;
    bool damaged() const { return !reason.isEmpty(); }
};

} // namespace

struct TPersistentManager::Private
{
    QString connection;
    QString file;

    QSqlDatabase db() const { return QSqlDatabase::database(connection, false); }

    [[noreturn]] void Fail(const QSqlError& error, const QString& what) const
    {
        throw EDatabaseError(QStringLiteral("%1: %2").arg(what, error.text()));
    }

    QSqlQuery Prepare(const QString& sql) const
    {
        QSqlQuery q(db());
        q.setForwardOnly(true);
        if (!q.prepare(sql))
            Fail(q.lastError(), sql);
        return q;
    }

    void Exec(QSqlQuery& q) const
    {
        if (!q.exec())
            Fail(q.lastError(), q.lastQuery());
    }

    QSqlQuery Run(const QString& sql, const QVariantList& params = {}) const
    {
        QSqlQuery q = Prepare(sql);
        for (int i = 0; i < params.size(); ++i)
            q.bindValue(i, params[i]);
        Exec(q);
        return q;
    }

    // Runs fn inside one transaction: all of it or nothing reaches the file.
    template <typename F> auto Transaction(F&& fn) const
    {
        QSqlDatabase d = db();
        if (!d.transaction())
            Fail(d.lastError(), QStringLiteral("begin"));
        try {
            if constexpr (std::is_void_v<decltype(fn())>) {
                fn();
                if (!d.commit())
                    Fail(d.lastError(), QStringLiteral("commit"));
            } else {
                auto result = fn();
                if (!d.commit())
                    Fail(d.lastError(), QStringLiteral("commit"));
                return result;
            }
        } catch (...) {
            d.rollback();
            throw;
        }
    }

    bool Connect(const QString& path, QString* error)
    {
        QSqlDatabase d = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), connection);
        if (!d.isValid()) {
            *error = QStringLiteral("Could not load SQLite library(QSQLITE)");
            return false;
        }
        d.setDatabaseName(path);
        // another process holding the file for a moment is waited for, not
        // mistaken for damage
        d.setConnectOptions(QStringLiteral("QSQLITE_BUSY_TIMEOUT=5000"));
        if (!d.open()) {
            *error = d.lastError().text();
            return false;
        }
        return true;
    }

    void Disconnect()
    {
        {
            QSqlDatabase d = db();
            if (d.isValid())
                d.close();
        }
        QSqlDatabase::removeDatabase(connection);
    }

    static bool IsDamageError(const QSqlError& e)
    {
        // SQLITE_CORRUPT (11) and SQLITE_NOTADB (26); busy, I/O and access
        // errors are not the file's fault and are reported as they are
        const QString code = e.nativeErrorCode();
        return code == QLatin1String("11") || code == QLatin1String("26") ||
               e.databaseText().contains(QLatin1String("malformed")) ||
               e.databaseText().contains(QLatin1String("not a database"));
    }

    QStringList Columns(const QString& table) const
    {
        QSqlQuery q(db());
        QStringList names;
        if (q.exec(QStringLiteral("pragma table_info(%1)").arg(table)))
            while (q.next())
                names << q.value(1).toString().toLower();
        return names;
    }

    // Checks a file that opened: the SQLite structure, then our tables.
    // Returns the damage; throws EDatabaseError for errors that are not damage.
    TDamage Inspect(bool* empty) const
    {
        QSqlQuery q(db());
        if (!q.exec(QStringLiteral("pragma quick_check"))) {
            if (IsDamageError(q.lastError()))
                return {q.lastError().databaseText()};
            Fail(q.lastError(), QStringLiteral("Can not open Database ") + file);
        }
        QStringList problems;
        while (q.next())
            problems << q.value(0).toString();
        if (problems != QStringList{QStringLiteral("ok")})
            return {problems.join(QStringLiteral("; ")).left(300)};

        if (!q.exec(QStringLiteral("select count(*) from sqlite_master where type='table'")) || !q.next())
            return {q.lastError().databaseText()};
        *empty = q.value(0).toInt() == 0;
        if (*empty)
            return {};
        const std::pair<QString, QStringList> tables[] = {{QStringLiteral("Conversions"), kConversionColumns},
                                                          {QStringLiteral("Categories"), kCategoryColumns}};
        for (const auto& [table, columns] : tables) {
            const QStringList have = Columns(table);
            for (const QString& c : columns)
                if (!have.contains(c.toLower()))
                    return {QStringLiteral("the table %1 or its column %2 is missing").arg(table, c)};
        }
        return {};
    }

    void CreateSchema(const QString& rootFolder) const
    {
        Transaction([&] {
            for (const char* sql : kSchema)
                Run(QString::fromLatin1(sql));
            Run(QStringLiteral("pragma user_version=%1").arg(kSchemaVersion));
        });
        EnsureRoot(rootFolder);
    }

    // Brings a file of an older version up to this one, step by step.
    void Upgrade() const
    {
        QSqlQuery q = Run(QStringLiteral("pragma user_version"));
        const int version = q.next() ? q.value(0).toInt() : 0;
        if (version >= kSchemaVersion)
            return;
        Transaction([&] {
            // version 2: the time the task's runs used, kept across restarts
            if (!Columns(QStringLiteral("Conversions")).contains(kUsedTimeColumn.toLower()))
                Run(QStringLiteral("alter table Conversions add column %1 integer").arg(kUsedTimeColumn));
            Run(QStringLiteral("pragma user_version=%1").arg(kSchemaVersion));
        });
    }

    // The root category always exists: a file that lost it gets it back.
    void EnsureRoot(const QString& rootFolder) const
    {
        QSqlQuery q = Run(QStringLiteral("select ID from Categories where ID=%1").arg(kRootCategoryId));
        if (!q.next())
            Run(QStringLiteral("insert into Categories(ID, Category, Path, Parent) values(?, ?, ?, ?)"),
                {kRootCategoryId, kRootName, rootFolder, kNoParent});
    }

    QString MoveAside(const QString& reason)
    {
        Disconnect();
        QString aside = file + QStringLiteral(".damaged");
        for (int n = 2; QFileInfo::exists(aside) && n < 1000; ++n)
            aside = file + QStringLiteral(".damaged.%1").arg(n);
        if (!QFile::rename(file, aside))
            throw EDatabaseError(QStringLiteral("Can not open Database ") + file +
                                 QStringLiteral(": it is damaged (%1) and could not be renamed").arg(reason));
        // a journal left beside the damaged file belongs to it, never to the
        // fresh one
        for (const char* suffix : {"-journal", "-wal", "-shm"})
            if (QFileInfo::exists(file + QLatin1String(suffix)))
                QFile::rename(file + QLatin1String(suffix), aside + QLatin1String(suffix));
        return QStringLiteral("The history database \"%1\" is damaged: %2\n"
                              "It was renamed to \"%3\" and a new, empty history was created.")
            .arg(file, reason, aside);
    }
};

TPersistentManager::TPersistentManager() : d(new Private)
{
    static QAtomicInt counter;
    d->connection = QStringLiteral("korvane-history-%1").arg(counter.fetchAndAddRelaxed(1));
}

TPersistentManager::~TPersistentManager()
{
    Close();
    delete d;
}

QString TPersistentManager::DatabaseFile(const QString& settingsFolder)
{
    QString folder = settingsFolder;
    if (!folder.endsWith(QLatin1Char('/')))
        folder += QLatin1Char('/');
    return folder + kFileName;
}

QString TPersistentManager::Open(const QString& settingsFolder, const QString& rootFolder)
{
    Close();
    d->file = DatabaseFile(settingsFolder);
    if (!QDir().mkpath(QFileInfo(d->file).absolutePath()))
        throw EDatabaseError(QStringLiteral("Can not open Database ") + d->file);

    QString message;
    for (int attempt = 0; attempt < 2; ++attempt) {
        QString error;
        if (!d->Connect(d->file, &error)) {
            d->Disconnect();
            throw EDatabaseError(QStringLiteral("Can not open Database %1: %2").arg(d->file, error));
        }
        bool empty = false;
        TDamage damage;
        try {
            damage = d->Inspect(&empty);
        } catch (...) {
            d->Disconnect();
            throw;
        }
        if (damage.damaged() && attempt == 0) {
            message = d->MoveAside(damage.reason);
            qCWarning(lcHistory, "%s", qPrintable(message));
            continue;
        }
        if (damage.damaged()) {
            d->Disconnect();
            throw EDatabaseError(QStringLiteral("Can not open Database %1: %2").arg(d->file, damage.reason));
        }
        try {
            QSqlQuery(d->db()).exec(QStringLiteral("pragma foreign_keys=off"));
            if (empty) {
                d->CreateSchema(rootFolder);
            } else {
                d->Upgrade();
                d->EnsureRoot(rootFolder);
            }
        } catch (...) {
            d->Disconnect();
            throw;
        }
        break;
    }
    if (!message.isEmpty())
        ErrorBox(message);
    return message;
}

void TPersistentManager::Close()
{
    if (QSqlDatabase::contains(d->connection))
        d->Disconnect();
}

bool TPersistentManager::IsOpen() const
{
    return QSqlDatabase::contains(d->connection) && d->db().isOpen();
}

QString TPersistentManager::FileName() const
{
    return d->file;
}

int TPersistentManager::NewDbTask(const QString& settings)
{
    QSqlQuery q = d->Run(QStringLiteral("insert into Conversions(Converting, ConvertSettings) values(1, ?)"), {settings});
    return q.lastInsertId().toInt();
}

int TPersistentManager::FinishDbTask(int id, const QString& settings, const QDateTime& date, int categoryId,
                                     const QStringList& log)
{
    return d->Transaction([&] {
        const int category = CategoryExists(categoryId) ? categoryId : kRootCategoryId;
        d->Run(QStringLiteral("update conversions set Converting=0, ConvertSettings=?, ConvertedDate=?, "
                              "CategoryId=?, Log=? where ID=%1")
                   .arg(id),
               {settings, DateText(date), category, log.isEmpty() ? QVariant() : QVariant(LogText(log))});
        return category;
    });
}

void TPersistentManager::SaveLog(int id, const QStringList& log)
{
    d->Run(QStringLiteral("update conversions set Log=? where ID=%1").arg(id),
           {log.isEmpty() ? QVariant() : QVariant(LogText(log))});
}

void TPersistentManager::SaveSettings(int id, const QString& settings)
{
    d->Run(QStringLiteral("update conversions set ConvertSettings=? where ID=%1").arg(id), {settings});
}

void TPersistentManager::SaveUsedTime(int id, int64_t seconds)
{
    d->Run(QStringLiteral("update conversions set %1=? where ID=%2").arg(kUsedTimeColumn).arg(id),
           {qlonglong(seconds)});
}

void TPersistentManager::ClearLog(int id)
{
    d->Run(QStringLiteral("update conversions set Log=NULL where ID=%1").arg(id));
}

void TPersistentManager::DeleteTask(int id)
{
    d->Run(QStringLiteral("delete from conversions where ID=%1").arg(id));
}

namespace {

// The stored form "yyyy-MM-ddTHH:mm:ss.zzzZ" read directly, in UTC (a
// history of thousands is listed; the general ISO parser and the local time
// conversion cost more than the rest of a row). Other forms go the long way.
QDateTime ReadDate(const QString& text)
{
    auto digits = [&](int from, int count, int* value) {
        *value = 0;
        for (int i = from; i < from + count; ++i) {
            if (!text[i].isDigit())
                return false;
            *value = *value * 10 + text[i].digitValue();
        }
        return true;
    };
    int y, mo, da, h, mi, se, ms;
    if (text.size() == 24 && text[4] == u'-' && text[7] == u'-' && text[10] == u'T' && text[13] == u':' &&
        text[16] == u':' && text[19] == u'.' && text[23] == u'Z' && digits(0, 4, &y) && digits(5, 2, &mo) &&
        digits(8, 2, &da) && digits(11, 2, &h) && digits(14, 2, &mi) && digits(17, 2, &se) && digits(20, 3, &ms)) {
        const QDate date(y, mo, da);
        const QTime time(h, mi, se, ms);
        if (date.isValid() && time.isValid())
            return QDateTime(date, time, Qt::UTC);
    }
    return TPersistentManager::ParseDate(text);
}

std::vector<TConversionRow> ReadConversions(QSqlQuery& q)
{
    const QSqlRecord r = q.record();
    const int id = r.indexOf(QStringLiteral("ID")), converting = r.indexOf(QStringLiteral("Converting")),
              settings = r.indexOf(QStringLiteral("ConvertSettings")),
              date = r.indexOf(QStringLiteral("ConvertedDate")), category = r.indexOf(QStringLiteral("CategoryId")),
              log = r.indexOf(QStringLiteral("Log")), used = r.indexOf(kUsedTimeColumn);
    std::vector<TConversionRow> rows;
    while (q.next()) {
        TConversionRow row;
        row.ID = q.value(id).toInt();
        row.Converting = q.value(converting).toInt() != 0;
        row.ConvertSettings = q.value(settings).toString();
        const QVariant d = q.value(date);
        if (!d.isNull())
            row.ConvertedDate = ReadDate(d.toString());
        row.CategoryId = q.value(category).toInt();
        row.LogText = q.value(log).toString();
        row.UsedTime = used >= 0 ? q.value(used).toLongLong() : 0;
        rows.push_back(std::move(row));
    }
    return rows;
}

} // namespace

std::vector<TConversionRow> TPersistentManager::LoadConvertingTasks()
{
    QSqlQuery q = d->Run(QStringLiteral("select * from Conversions where Converting=1 order by ID"));
    return ReadConversions(q);
}

std::vector<TConversionRow> TPersistentManager::LoadConvertedTasks(int categoryId)
{
    QSqlQuery q = d->Run(
        QStringLiteral("select * from Conversions where Converting=0 and CategoryId=%1 order by ConvertedDate desc")
            .arg(categoryId));
    return ReadConversions(q);
}

std::vector<TConversionRow> TPersistentManager::RowsContaining(const QString& text, int exceptId)
{
    QSqlQuery q = d->Run(
        QStringLiteral("select * from Conversions where ID<>? and instr(ConvertSettings, ?)>0 order by ID"),
        {exceptId, text});
    return ReadConversions(q);
}

std::vector<TCategoryRow> TPersistentManager::LoadConvertedNodes(int parentId)
{
    QSqlQuery q = d->Run(QStringLiteral("select * from Categories where Parent=%1 order by ID").arg(parentId));
    const QSqlRecord r = q.record();
    const int id = r.indexOf(QStringLiteral("ID")), name = r.indexOf(QStringLiteral("Category")),
              path = r.indexOf(QStringLiteral("Path")), parent = r.indexOf(QStringLiteral("Parent"));
    std::vector<TCategoryRow> rows;
    while (q.next())
        rows.push_back({q.value(id).toInt(), q.value(name).toString(), q.value(path).toString(),
                        q.value(parent).toInt()});
    return rows;
}

bool TPersistentManager::CategoryExists(int id)
{
    QSqlQuery q = d->Run(QStringLiteral("select ID from Categories where ID=%1").arg(id));
    return q.next();
}

int TPersistentManager::NewCategory(const QString& name, const QString& path, int parentId)
{
    QSqlQuery q = d->Run(QStringLiteral("insert into categories(Category, Path, Parent) values(?, ?, ?)"),
                         {name, path, parentId});
    return q.lastInsertId().toInt();
}

void TPersistentManager::UpdateCategory(int id, const QString& name, const QString& path)
{
    d->Run(QStringLiteral("update categories set category=?, path=? where ID=%1").arg(id), {name, path});
}

std::vector<int> TPersistentManager::DeleteCategoryTree(int id)
{
    if (id == kRootCategoryId)
        throw EDatabaseError(QStringLiteral("Assertion failure (PersistentManager): the root category cannot be deleted"));
    return d->Transaction([&] {
        std::vector<int> ids{id};
        std::set<int> seen{id, kRootCategoryId};
        for (size_t i = 0; i < ids.size(); ++i) {
            QSqlQuery q = d->Run(QStringLiteral("select ID from Categories where Parent=%1").arg(ids[i]));
            while (q.next())
                if (const int child = q.value(0).toInt(); seen.insert(child).second)
                    ids.push_back(child);
        }
        for (int category : ids) {
            d->Run(QStringLiteral("delete from categories where ID=%1").arg(category));
            d->Run(QStringLiteral("delete from conversions where CategoryID=%1").arg(category));
        }
        return ids;
    });
}

QString TPersistentManager::IntegrityCheck()
{
    QSqlQuery q = d->Run(QStringLiteral("pragma integrity_check"));
    QStringList lines;
    while (q.next())
        lines << q.value(0).toString();
    return lines.join(QLatin1Char('\n'));
}

QStringList TConversionRow::SplitLog(const QString& text)
{
    if (text.isEmpty())
        return {};
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    return lines;
}

QString TPersistentManager::DateText(const QDateTime& date)
{
    // UTC with its "Z": local times do not sort across the hour that repeats
    // when clocks go back
    return date.toUTC().toString(Qt::ISODateWithMs);
}

QDateTime TPersistentManager::ParseDate(const QString& text)
{
    QDateTime date = QDateTime::fromString(text, Qt::ISODateWithMs);
    if (!date.isValid())
        date = QDateTime::fromString(text, Qt::ISODate);
    return date.toLocalTime();
}

} // namespace korvane
