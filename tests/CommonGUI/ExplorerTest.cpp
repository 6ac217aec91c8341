#include "TaskWorld.h"

#include "CategoryOperations.h"
#include "PropertyDocument.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>

using namespace korvane;
using namespace korvane::test;

namespace {

QStringList Headers(const TTaskListModel& list)
{
    QStringList h;
    for (int c = 0; c < list.columnCount(); ++c)
        h << list.headerData(c, Qt::Horizontal).toString() + "/" +
                 list.headerData(c, Qt::Horizontal, TTaskListModel::WidthRole).toString();
    return h;
}

QString Doc(const QString& source, int category)
{
    TConversionSettings s;
    s.SetSourceFile(source);
    s.SetTargetFile("/out/" + source + ".mp4");
    s.SetCategoryId(category);
    return WritePropertyDocument(&s);
}

QStringList Captions(const TExplorerModel& m, const QModelIndex& parent = {}, const QString& indent = {})
{
    QStringList rows;
    for (int r = 0; r < m.rowCount(parent); ++r) {
        const QModelIndex i = m.index(r, 0, parent);
        rows << indent + m.data(i).toString();
        rows += Captions(m, i, indent + "  ");
    }
    return rows;
}

} // namespace

TEST(Explorer, TreeLoadedDepthFirstWithColumnsPerNode)
{
    const QString dir = TempDir();
    {
        TPersistentManager db;
        db.Open(dir + "/settings", "/out");
        const int a = db.NewCategory("A", "/a", 1);
        db.NewCategory("Top", "/t", -1);
        db.NewCategory("A1", "/a1", a);
        db.NewCategory("B", "/b", 1);
    }
    TaskWorld w(dir);
    EXPECT_EQ(Captions(w.explorer), QStringList({"Converting", "My Conversions", "  A", "    A1", "  B", "Top"}));
    EXPECT_EQ(w.explorer.RootCategory()->Category(), "My Conversions");
    EXPECT_EQ(w.explorer.RootCategory()->Folder(), "/out");
    EXPECT_TRUE(w.explorer.RootCategory()->IsRoot());
    EXPECT_EQ(w.explorer.ConvertingNode()->GetImageIndex(), 0);
    EXPECT_EQ(w.explorer.RootCategory()->GetImageIndex(), 1);
    EXPECT_EQ(w.explorer.FindCategory(4)->Parent(), w.explorer.FindCategory(2)); // A1 under A
    EXPECT_EQ(w.explorer.FindCategory(3)->Parent(), nullptr);                   // Top
    w.explorer.Load(); // once only
    EXPECT_EQ(w.explorer.rowCount(), 3);

    EXPECT_EQ(Headers(w.list), QStringList({"Source/150", "Source Size/100", "Target/150", "Target Size/100",
                                            "Target Profile/100", "Duration/60", "Percent/70", "Bitrate(kbs)/70",
                                            "Left Time/70", "Used Time/70"}));
    w.explorer.Select(w.explorer.RootCategory());
    EXPECT_EQ(Headers(w.list), QStringList({"Source/150", "Source Size/100", "Target/150", "Target Size/100",
                                            "Target Profile/100", "Duration/60", "Date/120"}));
}

// Converting reads the database once per run, a category every time; a
// damaged settings document costs only its own task.
TEST(Explorer, ConvertingLoadsOnceCategoriesEveryTimeDamagedRowsAreKept)
{
    const QString dir = TempDir();
    int damaged = 0;
    {
        TPersistentManager db;
        db.Open(dir + "/settings", "/out");
        db.NewDbTask(Doc("a", 1));
        damaged = db.NewDbTask("<data PropFormat=\"node\"><TConversionSettings><DvdTitle>abc</DvdTitle>");
        db.NewDbTask(Doc("c", 5));
    }
    TaskWorld w(dir);
    ASSERT_EQ(w.list.Count(), 3);
    for (TAVTask* t : w.explorer.ConvertingNode()->Tasks())
        EXPECT_EQ(t->Status(), TAVTask::stError);
    EXPECT_EQ(w.list.TaskAt(0)->Settings()->SourceFile(), "a");
    EXPECT_EQ(w.list.TaskAt(2)->CategoryId(), 5);
    TAVTask* bad = w.list.TaskAt(1);
    EXPECT_EQ(bad->ID(), damaged);
    ASSERT_FALSE(bad->Log().isEmpty());
    EXPECT_TRUE(bad->Log().last().contains("cannot be read")) << bad->Log().last().toStdString();

    w.db.NewDbTask(Doc("late", 1));
    const QDateTime t0 = QDateTime::currentDateTime();
    w.db.FinishDbTask(w.db.NewDbTask(Doc("old", 1)), Doc("old", 1), t0, 1, {"log"});
    w.explorer.Select(w.explorer.RootCategory());
    ASSERT_EQ(w.list.Count(), 1);
    w.db.FinishDbTask(w.db.NewDbTask(Doc("new", 1)), Doc("new", 1), t0.addSecs(5), 1, {});
    w.explorer.Select(w.explorer.ConvertingNode());
    EXPECT_EQ(w.list.Count(), 3); // "late" is not read again
    w.explorer.Select(w.explorer.RootCategory());
    ASSERT_EQ(w.list.Count(), 2); // read again, newest first
    EXPECT_EQ(w.list.TaskAt(0)->Settings()->SourceFile(), "new");
    EXPECT_EQ(w.list.TaskAt(1)->Log(), QStringList{"log"});
    EXPECT_TRUE(w.list.TaskAt(1)->IsConverted());
    EXPECT_EQ(w.list.TaskAt(1)->Date(), t0);
}

TEST(CategoryOperations, NewPropertiesDeleteAndTheirRules)
{
    TaskWorld w;
    TCategoryOperations ops(&w.explorer);
    QStringList folders;
    ops.ShowFolder = [&](const QString& f) { folders << f; };
    QString answerName = "Phone", answerFolder = w.outputFolder + "/phone/deep";
    QStringList titles;
    ops.AskCategory = [&](const QString& title, QString* name, QString* folder) {
        titles << title + ":" + *name;
        *name = answerName;
        *folder = answerFolder;
        return true;
    };

    EXPECT_FALSE(ops.CanDelete()); // Converting
    w.explorer.Select(w.explorer.RootCategory());
    EXPECT_FALSE(ops.CanDelete()); // the root
    ops.OpenFolder();
    EXPECT_EQ(folders, QStringList{w.outputFolder});

    TConvertedNode* phone = ops.NewCategory();
    ASSERT_NE(phone, nullptr);
    EXPECT_EQ(titles.last(), "New Category:");
    EXPECT_GT(phone->CategoryId(), 1);
    EXPECT_EQ(phone->Parent(), w.explorer.RootCategory());
    EXPECT_FALSE(QFileInfo::exists(answerFolder)); // no folder before its properties are saved
    EXPECT_EQ(w.db.LoadConvertedNodes(1).at(0).Category, "Phone");

    w.explorer.Select(phone);
    EXPECT_TRUE(ops.CanDelete());
    answerName = "Old phone";
    TConvertedNode* child = ops.NewCategory();
    w.explorer.Select(phone);
    answerName = "Phones";
    ASSERT_TRUE(ops.EditProperties());
    EXPECT_EQ(titles.last(), "Category Properties:Phone");
    EXPECT_TRUE(QFileInfo(answerFolder).isDir()); // made with its parents
    EXPECT_EQ(phone->Category(), "Phones");
    EXPECT_EQ(w.explorer.data(w.explorer.IndexOf(phone)).toString(), "Phones");
    EXPECT_EQ(w.db.LoadConvertedNodes(1).at(0).Category, "Phones");

    const QDateTime now = QDateTime::currentDateTime();
    w.db.FinishDbTask(w.db.NewDbTask("x"), "x", now, child->CategoryId(), {});
    const int childId = child->CategoryId(), phoneId = phone->CategoryId();
    MessageService::Handler no = [](MessageKind, const QString&, const QString&) { return false; };
    auto old = MessageService::Install(no);
    EXPECT_FALSE(ops.DeleteCategory());
    MessageService::Install(old);
    EXPECT_TRUE(w.db.CategoryExists(phoneId));

    EXPECT_TRUE(ops.DeleteCategory()); // the recorder answers Yes
    EXPECT_TRUE(w.boxes.Texts().contains("Do you want to delete the selected category?"));
    EXPECT_FALSE(w.db.CategoryExists(phoneId));
    EXPECT_FALSE(w.db.CategoryExists(childId));
    EXPECT_TRUE(w.db.LoadConvertedTasks(childId).empty());
    EXPECT_EQ(w.explorer.FindCategory(childId), nullptr);
    EXPECT_EQ(w.explorer.ShownNode(), w.explorer.RootCategory());
    EXPECT_EQ(w.explorer.rowCount(w.explorer.IndexOf(w.explorer.RootCategory())), 0);
}

TEST(CategoryDialog, OkOnlyWithBothFieldsAndValuesTrimmed)
{
    TCategoryDialog dialog("New Category", "", "");
    EXPECT_EQ(dialog.windowTitle(), "New Category");
    EXPECT_FALSE(dialog.OkButton()->isEnabled());
    dialog.NameEdit()->setText("  Films ");
    EXPECT_FALSE(dialog.OkButton()->isEnabled());
    dialog.FolderEdit()->setText("   ");
    EXPECT_FALSE(dialog.OkButton()->isEnabled());
    dialog.FolderEdit()->setText(" /home/me/Films ");
    EXPECT_TRUE(dialog.OkButton()->isEnabled());
    EXPECT_EQ(dialog.Name(), "Films");
    EXPECT_EQ(dialog.Folder(), "/home/me/Films");
    dialog.NameEdit()->setText(" ");
    EXPECT_FALSE(dialog.OkButton()->isEnabled());
}
