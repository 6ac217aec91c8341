#include "Configuration.h"
#include "FormOptions.h"
#include "options/Messages.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QSlider>
#include <QStackedWidget>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

using namespace korvane;

namespace {

struct OptionsFixture : ::testing::Test
{
    QTemporaryDir dir;
    QByteArray oldConfigHome = qgetenv("XDG_CONFIG_HOME");
    std::vector<int> priorities;

    void SetUp() override { qputenv("XDG_CONFIG_HOME", dir.path().toUtf8()); }
    void TearDown() override { qputenv("XDG_CONFIG_HOME", oldConfigHome); }

    void Prepare(TAVConfiguration& config)
    {
        config.ApplyPriority = [this](int index) { priorities.push_back(index); };
        config.Load();
    }

    static QPushButton* Button(TFormOptions& form, const QString& text)
    {
        for (auto* b : form.findChildren<QPushButton*>())
            if (b->text() == text)
                return b;
        return nullptr;
    }

    QByteArray FileText() const
    {
        QFile f(TAVConfiguration::GetConfigFile());
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }
};

} // namespace

TEST_F(OptionsFixture, ShowsTheCurrentValuesOnBothPages)
{
    TAVConfiguration config;
    Prepare(config);
    config.SetOutputFolder("/data/out");
    config.SetShowAlert(false);
    config.PerformanceOptions()->SetThreadCount(8);
    config.PerformanceOptions()->SetThreadPrority(4);

    TFormOptions form(&config);
    EXPECT_EQ(form.windowTitle(), "Options");
    ASSERT_EQ(form.PageList()->count(), 3);
    EXPECT_EQ(form.PageList()->item(0)->text(), "General");
    EXPECT_EQ(form.PageList()->item(1)->text(), "Performance");
    EXPECT_EQ(form.OutputFolderEdit()->text(), "/data/out");
    EXPECT_FALSE(form.ShowAlertCheck()->isChecked());
    EXPECT_EQ(form.ShowAlertCheck()->text(), "Show Alert When Conversion Completed");
    EXPECT_EQ(form.PrioritySlider()->minimum(), 0);
    EXPECT_EQ(form.PrioritySlider()->maximum(), 5);
    EXPECT_EQ(form.PrioritySlider()->value(), 4);
    ASSERT_EQ(form.ThreadCountList()->count(), 33);
    EXPECT_EQ(form.ThreadCountList()->itemText(0), "Automatic(use all CPU(s))");
    EXPECT_EQ(form.ThreadCountList()->itemText(32), "32");
    EXPECT_EQ(form.ThreadCountList()->currentText(), "8");

    form.PageList()->setCurrentRow(1);
    EXPECT_EQ(form.findChild<QStackedWidget*>()->currentIndex(), 1);
}

TEST_F(OptionsFixture, OkStoresEveryValueAndSavesCancelChangesNothing)
{
    TAVConfiguration config;
    Prepare(config);
    const QByteArray before = FileText();
    {
        TFormOptions form(&config);
        form.OutputFolderEdit()->setText("/elsewhere");
        form.ShowAlertCheck()->setChecked(false);
        form.PrioritySlider()->setValue(0);
        form.ThreadCountList()->setCurrentIndex(8);
        QTest::mouseClick(Button(form, "Cancel"), Qt::LeftButton);
        EXPECT_EQ(form.result(), QDialog::Rejected);
    }
    EXPECT_EQ(config.OutputFolder(), TAVConfiguration::DefaultOutputFolder());
    EXPECT_TRUE(config.ShowAlert());
    EXPECT_EQ(config.PerformanceOptions()->ThreadCount(), 0);
    EXPECT_EQ(FileText(), before);

    priorities.clear();
    {
        TFormOptions form(&config);
        form.OutputFolderEdit()->setText("/elsewhere");
        form.ShowAlertCheck()->setChecked(false);
        form.PrioritySlider()->setValue(0);
        form.ThreadCountList()->setCurrentIndex(8);
        QTest::mouseClick(Button(form, "Ok"), Qt::LeftButton);
        EXPECT_EQ(form.result(), QDialog::Accepted);
    }
    EXPECT_EQ(priorities, std::vector<int>{0});

    // what the next start reads back
    TAVConfiguration again;
    Prepare(again);
    EXPECT_EQ(again.OutputFolder(), "/elsewhere");
    EXPECT_FALSE(again.ShowAlert());
    EXPECT_EQ(again.PerformanceOptions()->ThreadCount(), 8);
    EXPECT_EQ(again.PerformanceOptions()->ThreadPrority(), 0);

    // "Automatic" stores 0, and the alert back on removes its element
    {
        TFormOptions form(&again);
        form.ThreadCountList()->setCurrentIndex(0);
        form.ShowAlertCheck()->setChecked(true);
        QTest::mouseClick(Button(form, "Ok"), Qt::LeftButton);
    }
    EXPECT_FALSE(FileText().contains("ShowAlert"));
    TAVConfiguration third;
    Prepare(third);
    EXPECT_EQ(third.PerformanceOptions()->ThreadCount(), 0);
    EXPECT_TRUE(third.ShowAlert());
}

TEST_F(OptionsFixture, CancelAfterAFailedSaveLeavesTheValuesThatWereInEffect)
{
    TAVConfiguration config;
    Prepare(config);
    config.SetOutputFolder("/data/before");
    // the settings folder's place is taken by a file: the save fails
    QDir(dir.path()).removeRecursively();
    QDir().mkpath(QFileInfo(dir.path()).absolutePath());
    QFile blocker(dir.path());
    ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
    blocker.close();
    QStringList errors;
    auto old = MessageService::Install([&](MessageKind, const QString&, const QString& text) {
        errors << text;
        return true;
    });
    TFormOptions form(&config);
    form.OutputFolderEdit()->setText("/data/after");
    form.ShowAlertCheck()->setChecked(!config.ShowAlert());
    form.ThreadCountList()->setCurrentIndex(3);
    form.accept();
    EXPECT_EQ(errors.size(), 1);
    EXPECT_EQ(form.result(), QDialog::Rejected) << "the dialog stays open";
    form.reject();
    EXPECT_EQ(config.OutputFolder(), "/data/before");
    EXPECT_TRUE(config.ShowAlert());
    EXPECT_EQ(config.PerformanceOptions()->ThreadCount(), 0);
    MessageService::Install(old);
    QFile::remove(dir.path());
}

TEST_F(OptionsFixture, ARefusedPriorityIsReportedAndTheOneInEffectShown)
{
    TAVConfiguration config;
    Prepare(config);
    config.TryApplyPriority = [](int, QString* error) {
        *error = "Permission denied";
        return false;
    };
    QStringList errors;
    auto old = MessageService::Install([&](MessageKind, const QString&, const QString& text) {
        errors << text;
        return true;
    });
    TFormOptions form(&config);
    form.PrioritySlider()->setValue(4);
    form.accept();
    ASSERT_EQ(errors.size(), 1);
    EXPECT_TRUE(errors[0].contains("\"High\" could not be set: Permission denied")) << errors[0].toStdString();
    EXPECT_TRUE(errors[0].contains(TAVConfiguration::PriorityName(TAVConfiguration::EffectivePriority())));
    EXPECT_EQ(form.PrioritySlider()->value(), TAVConfiguration::EffectivePriority());
    EXPECT_EQ(config.PerformanceOptions()->ThreadPrority(), TPerformanceOptions::kNormalPriority);
    EXPECT_EQ(form.result(), QDialog::Rejected) << "the dialog stays open";
    MessageService::Install(old);
}
