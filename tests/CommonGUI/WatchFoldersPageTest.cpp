// The Options dialog's "Watch folders" page: rows read from the list,
// added, removed and written back when the dialog is accepted.
#include "WatchFoldersPage.h"
#include "Configuration.h"
#include "FormOptions.h"

#include <QComboBox>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace korvane;

TEST(WatchFoldersPage, RowsComeFromTheListAndGoBackToIt)
{
    QTemporaryDir dir;
    const QString file = dir.filePath("watch.json");
    const TWatchFolderEntry first{"/videos/in", "Matroska Video", "/videos/out", "Watched"};
    ASSERT_TRUE(TWatchFolderList::Save({first}, file).isEmpty());
    TWatchFoldersPage::SetProfileNames({"AAC Audio", "Matroska Video"});

    TWatchFoldersPage page(file, "/default/out");
    ASSERT_EQ(page.Table()->rowCount(), 1);
    EXPECT_EQ(page.Entries(), QList<TWatchFolderEntry>{first});
    auto* profile = qobject_cast<QComboBox*>(page.Table()->cellWidget(0, 1));
    ASSERT_NE(profile, nullptr);
    EXPECT_EQ(profile->count(), 2);
    EXPECT_EQ(profile->currentText(), "Matroska Video");

    page.AddRow({"/music/in", "AAC Audio", "/music/out", ""});
    page.Table()->selectRow(0);
    page.findChild<QPushButton*>("RemoveWatchFolder")->click();
    ASSERT_TRUE(page.Save().isEmpty());
    const QList<TWatchFolderEntry> saved = TWatchFolderList::Load(file);
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved[0].Folder, "/music/in");
    EXPECT_EQ(saved[0].Profile, "AAC Audio");
    EXPECT_EQ(saved[0].Category, "");
}

TEST(WatchFoldersPage, TheOptionsDialogSavesTheListOnOk)
{
    QTemporaryDir dir;
    const QByteArray old = qgetenv("XDG_CONFIG_HOME");
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    {
        TAVConfiguration config;
        config.ApplyPriority = [](int) {};
        TFormOptions form(&config);
        EXPECT_EQ(form.PageList()->item(2)->text(), "Watch folders");
        form.WatchFolders()->AddRow({dir.filePath("in"), "Matroska Video", dir.filePath("out"), "Watched"});
        form.accept();
    }
    const QList<TWatchFolderEntry> saved = TWatchFolderList::Load();
    qputenv("XDG_CONFIG_HOME", old);
    ASSERT_EQ(saved.size(), 1);
    EXPECT_EQ(saved[0].OutputFolder, dir.filePath("out"));
}
