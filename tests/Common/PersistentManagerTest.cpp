#include "JobRunner.h"
#include "MediaFixtures.h"
#include "PersistentManager.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QSqlRecord>
#include <QThread>
#include <gtest/gtest.h>

using namespace korvane;
using korvane::test::MessageRecorder;
using korvane::test::TempDir;

namespace {

// Reads the file with a connection of its own, beside the manager's.
class RawDb
{
public:
    explicit RawDb(const QString& file) : m_name(QStringLiteral("raw-%1").arg(++s_count))
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), m_name);
        db.setDatabaseName(file);
        EXPECT_TRUE(db.open());
    }
    ~RawDb()
    {
        QSqlDatabase::database(m_name).close();
        QSqlDatabase::removeDatabase(m_name);
    }
    QVariantList Row(const QString& sql)
    {
        QSqlQuery q(QSqlDatabase::database(m_name));
        EXPECT_TRUE(q.exec(sql)) << sql.toStdString();
        QVariantList values;
        if (q.next())
            for (int i = 0; i < q.record().count(); ++i)
                values << q.value(i);
        return values;
    }
    int Count(const QString& sql) { return Row(sql).value(0).toInt(); }

private:
    static inline int s_count = 0;
    QString m_name;
};

class History : public ::testing::Test
{
protected:
    void SetUp() override
    {
        folder = TempDir() + "/settings";
        file = TPersistentManager::DatabaseFile(folder);
    }
    QString OpenDb()
    {
        return db.Open(folder, "/videos/Conversion");
    }

    QString folder, file;
    TPersistentManager db;
    MessageRecorder boxes;
};

} // namespace

TEST_F(History, NewFileHasSchemaAndRootCategory)
{
    EXPECT_EQ(OpenDb(), "");
    EXPECT_TRUE(QFileInfo::exists(folder + "/av.cfg"));
    EXPECT_EQ(db.FileName(), folder + "/av.cfg");
    const auto top = db.LoadConvertedNodes(-1);
    ASSERT_EQ(top.size(), 1u);
    EXPECT_EQ(top[0].ID, 1);
    EXPECT_EQ(top[0].Category, "My Conversions");
    EXPECT_EQ(top[0].Path, "/videos/Conversion");
    EXPECT_EQ(top[0].Parent, -1);
    EXPECT_EQ(db.IntegrityCheck(), "ok");
    // opening again changes nothing
    db.Close();
    EXPECT_EQ(OpenDb(), "");
    EXPECT_EQ(db.LoadConvertedNodes(-1).size(), 1u);
    EXPECT_TRUE(boxes.Texts().isEmpty());
}

TEST_F(History, TaskRowsFromConvertingToFinishedNewestFirst)
{
    OpenDb();
    const int a = db.NewDbTask("<data/>");
    const int b = db.NewDbTask("<b/>");
    EXPECT_GT(b, a);
    auto converting = db.LoadConvertingTasks();
    ASSERT_EQ(converting.size(), 2u);
    EXPECT_EQ(converting[0].ID, a);
    EXPECT_TRUE(converting[0].Converting);
    EXPECT_EQ(converting[1].ConvertSettings, "<b/>");
    EXPECT_FALSE(converting[0].ConvertedDate.isValid());

    const QDateTime early = QDateTime::fromString("2026-03-29T01:59:59.250", Qt::ISODateWithMs);
    const QDateTime late = early.addMSecs(1);
    EXPECT_EQ(db.FinishDbTask(b, "<b2/>", early, 1, {"one", "two"}), 1);
    EXPECT_EQ(db.FinishDbTask(a, "<a2/>", late, 1, {}), 1);
    EXPECT_TRUE(db.LoadConvertingTasks().empty());
    const auto done = db.LoadConvertedTasks(1);
    ASSERT_EQ(done.size(), 2u);
    EXPECT_EQ(done[0].ID, a); // one millisecond later comes first
    EXPECT_EQ(done[0].ConvertedDate, late);
    EXPECT_EQ(done[1].ConvertedDate, early);
    EXPECT_EQ(done[1].Log(), QStringList({"one", "two"}));
    EXPECT_EQ(done[1].ConvertSettings, "<b2/>");
    EXPECT_TRUE(done[0].Log().isEmpty());

    RawDb raw(file);
    // ISO 8601 with milliseconds; lines ended by CR LF; an empty log is null
    EXPECT_EQ(raw.Row(QString("select ConvertedDate from Conversions where ID=%1").arg(b))[0].toString(),
              early.toUTC().toString("yyyy-MM-ddTHH:mm:ss.zzzZ"));
    EXPECT_EQ(raw.Row(QString("select Log from Conversions where ID=%1").arg(b))[0].toString(), "one\r\ntwo\r\n");
    EXPECT_TRUE(raw.Row(QString("select Log from Conversions where ID=%1").arg(a))[0].isNull());
    EXPECT_EQ(raw.Count(QString("select Converting from Conversions where ID=%1").arg(a)), 0);

    db.ClearLog(b);
    EXPECT_TRUE(raw.Row(QString("select Log from Conversions where ID=%1").arg(b))[0].isNull());
    EXPECT_TRUE(db.LoadConvertedTasks(1)[1].Log().isEmpty());
    db.DeleteTask(b);
    EXPECT_EQ(db.LoadConvertedTasks(1).size(), 1u);
}

TEST_F(History, DeletingCategoryTakesSubtreeAndTasksAndLateTasksGoToRoot)
{
    OpenDb();
    const int music = db.NewCategory("Music", "/m", 1);
    const int live = db.NewCategory("Live", "/m/live", music);
    const int deep = db.NewCategory("Deep", "/m/live/deep", live);
    const int other = db.NewCategory("Other", "/o", -1);
    EXPECT_EQ(db.LoadConvertedNodes(music).at(0).ID, live);
    db.UpdateCategory(other, "Others", "/others");
    EXPECT_EQ(db.LoadConvertedNodes(-1).at(1).Category, "Others");
    EXPECT_EQ(db.LoadConvertedNodes(-1).at(1).Path, "/others");

    const QDateTime now = QDateTime::currentDateTime();
    for (int category : {music, live, deep, other})
        db.FinishDbTask(db.NewDbTask("x"), "x", now, category, {});
    const int pending = db.NewDbTask("chosen deep");

    const std::vector<int> gone = db.DeleteCategoryTree(music);
    EXPECT_EQ(gone, (std::vector<int>{music, live, deep}));
    EXPECT_FALSE(db.CategoryExists(live));
    EXPECT_TRUE(db.LoadConvertedTasks(deep).empty());
    EXPECT_EQ(db.LoadConvertedTasks(other).size(), 1u);
    EXPECT_THROW(db.DeleteCategoryTree(1), EDatabaseError);

    // the task made for a deleted category finishes under the root, also
    // after a new category was made (ids are not reused)
    const int fresh = db.NewCategory("Fresh", "/f", 1);
    EXPECT_GT(fresh, other);
    EXPECT_EQ(db.FinishDbTask(pending, "done", now, deep, {}), 1);
    ASSERT_EQ(db.LoadConvertedTasks(1).size(), 1u);
    EXPECT_EQ(db.LoadConvertedTasks(1)[0].ID, pending);
    EXPECT_EQ(db.IntegrityCheck(), "ok");
}

namespace {

void WriteBytes(const QString& path, const QByteArray& data)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data);
}

QByteArray RandomBytes(int n)
{
    QByteArray data(n, '\0');
    for (char& c : data)
        c = char(QRandomGenerator::global()->bounded(256));
    return data;
}

} // namespace

TEST_F(History, DamagedFilesAreMovedAsideAndFreshHistoryCreated)
{
    struct Case
    {
        const char* name;
        std::function<void()> damage;
    };
    const Case cases[] = {
        {"random bytes", [&] { WriteBytes(file, RandomBytes(20000)); }},
        {"truncated",
         [&] {
             {
                 TPersistentManager full;
                 full.Open(folder, "/r");
                 for (int i = 0; i < 60; ++i)
                     full.FinishDbTask(full.NewDbTask(QString(3000, 'x')), "s", QDateTime::currentDateTime(), 1,
                                       {QString(2000, 'y')});
             }
             QFile f(file);
             ASSERT_TRUE(f.resize(f.size() / 2));
         }},
        {"other tables",
         [&] {
             QDir().mkpath(folder);
             RawDb raw(file);
             raw.Row("create table Conversions (ID integer primary key, Something text)");
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QDir(folder).removeRecursively();
        c.damage();
        const QByteArray before = [&] {
            QFile f(file);
            return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
        }();
        const int shown = int(boxes.Texts().size());
        const QString message = OpenDb();
        const QString aside = file + ".damaged";
        EXPECT_TRUE(message.contains(file)) << message.toStdString();
        EXPECT_TRUE(message.contains(aside)) << message.toStdString();
        EXPECT_EQ(boxes.Texts().mid(shown), QStringList{message});
        QFile moved(aside);
        ASSERT_TRUE(moved.open(QIODevice::ReadOnly));
        EXPECT_EQ(moved.readAll(), before); // kept byte for byte
        // the fresh history works
        EXPECT_EQ(db.LoadConvertedNodes(-1).size(), 1u);
        EXPECT_GT(db.NewDbTask("new"), 0);
        EXPECT_EQ(db.IntegrityCheck(), "ok");
        db.Close();
    }
    // a second incident never overwrites the first copy
    QDir(folder).removeRecursively();
    WriteBytes(file + ".damaged", "first");
    WriteBytes(file, RandomBytes(5000));
    EXPECT_TRUE(OpenDb().contains(file + ".damaged.2"));
    QFile first(file + ".damaged");
    ASSERT_TRUE(first.open(QIODevice::ReadOnly));
    EXPECT_EQ(first.readAll(), "first");
}

TEST_F(History, EmptyFileAndLostRootAreRepairedInPlace)
{
    WriteBytes(file, {});
    EXPECT_EQ(OpenDb(), "");
    EXPECT_EQ(db.LoadConvertedNodes(-1).size(), 1u);
    db.Close();
    {
        RawDb raw(file);
        raw.Row("delete from Categories where ID=1");
    }
    EXPECT_EQ(OpenDb(), "");
    EXPECT_TRUE(db.CategoryExists(1));
    EXPECT_FALSE(QFileInfo::exists(file + ".damaged"));
}

TEST_F(History, FolderThatCannotBeMadeIsAnError)
{
    const QString dir = TempDir();
    WriteBytes(dir + "/plainfile", "x");
    EXPECT_THROW(db.Open(dir + "/plainfile/sub", "/r"), EDatabaseError);
    EXPECT_FALSE(db.IsOpen());
}

TEST_F(History, UsedTimeIsKeptAndAFirstVersionFileGainsItWithItsRowsIntact)
{
    // a history written by the first version: no UsedTime column
    QDir().mkpath(folder);
    {
        RawDb raw(file);
        for (const char* sql :
             {"create table Conversions (ID integer primary key autoincrement, Converting boolean not null default 1, "
              "ConvertSettings text, ConvertedDate datetime, CategoryId integer, Log text)",
              "create table Categories (ID integer primary key autoincrement, Category text, Path text, Parent integer)",
              "insert into Categories(ID, Category, Path, Parent) values(1, 'My Conversions', '/v', -1)",
              "insert into Conversions(Converting, ConvertSettings, Log) values(1, '<data/>', 'a line\r\n')",
              "pragma user_version=1"})
            raw.Row(QString::fromLatin1(sql));
    }
    EXPECT_EQ(OpenDb(), "");
    auto rows = db.LoadConvertingTasks();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].UsedTime, 0) << "not known for a row of the first version";
    EXPECT_EQ(rows[0].ConvertSettings, "<data/>");
    EXPECT_EQ(rows[0].Log(), QStringList{"a line"});

    db.SaveUsedTime(rows[0].ID, 754);
    db.Close();
    {
        RawDb raw(file);
        EXPECT_EQ(raw.Count("pragma user_version"), 2);
        EXPECT_EQ(raw.Count("select UsedTime from Conversions"), 754);
    }
    EXPECT_EQ(OpenDb(), "");
    rows = db.LoadConvertingTasks();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].UsedTime, 754);
    EXPECT_EQ(rows[0].ConvertSettings, "<data/>");
    EXPECT_EQ(db.IntegrityCheck(), "ok");

    // a new file has the column from the start
    db.Close();
    ASSERT_TRUE(QFile::remove(file));
    EXPECT_EQ(OpenDb(), "");
    const int id = db.NewDbTask("<data/>");
    db.SaveUsedTime(id, 9);
    EXPECT_EQ(db.LoadConvertingTasks().at(0).UsedTime, 9);
}
