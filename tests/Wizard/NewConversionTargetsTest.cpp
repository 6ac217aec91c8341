// The dialog never proposes an output that is a file on disk or the output
// of another task, and replaces an existing file only when the user says so
// in a real question (its nested event loop answered by a timer).
#include "FilterDialogSupport.h"
#include "FormNewConversion.h"
#include "OutputNaming.h"
#include "WizardTestSupport.h"

#include <QFile>
#include <QFileInfo>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

void Touch(const QString& path, const QByteArray& bytes = "old")
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

QByteArray Contents(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Answers every question box shown while it lives, by the given function.
class QuestionAnswerer
{
public:
    explicit QuestionAnswerer(std::function<void(QMessageBox*)> answer)
    {
        m_timer.setInterval(10);
        QObject::connect(&m_timer, &QTimer::timeout, [this, answer] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || box == m_last) return;
            m_last = box;
            questions << box->text();
            answer(box);
        });
        m_timer.start();
    }
    QStringList questions;

private:
    QTimer m_timer;
    QMessageBox* m_last = nullptr;
};

void ClickReplace(QMessageBox* box)
{
    for (QAbstractButton* b : box->buttons())
        if (b->text().contains("Replace")) b->click();
}

TEST(NextFreeName, CountsOnInBracketsPastFilesAndTaskTargets)
{
    QStringList taken{"/out/clip.mp4", "/out/clip (2).mp4", "/out/clip (4).mp4"};
    const TIsTaken isTaken = [&](const QString& p) { return taken.contains(p); };
    EXPECT_EQ(NextFreePath("/out/free.mp4", isTaken), "/out/free.mp4");
    EXPECT_EQ(NextFreePath("/out/clip.mp4", isTaken), "/out/clip (3).mp4");
    EXPECT_EQ(NextFreePath("/out/clip (4).mp4", isTaken), "/out/clip (5).mp4");
    EXPECT_EQ(NextFreePath("/out/a.b.c.mp4", [](const QString& p) { return p == "/out/a.b.c.mp4"; }),
              "/out/a.b.c (2).mp4");
    EXPECT_EQ(NextFreePath("/out/noext", [](const QString& p) { return p == "/out/noext"; }), "/out/noext (2)");

    const TTakenTargets targets({"/out/x/../task.mp4", ""});
    EXPECT_TRUE(targets.IsTaskTarget("/out/task.mp4"));
    EXPECT_FALSE(targets.IsTaskTarget("/out/other.mp4"));
    EXPECT_EQ(BatchOutputPaths("/out/first.mp4", {"/a/first.avi", "/b/task.avi", "/c/task.mkv"}, ".mp4",
                               targets.Predicate()),
              (QStringList{"/out/first.mp4", "/out/task (2).mp4", "/out/task (3).mp4"}));
}

class NewConversionTargets : public ::testing::Test
{
protected:
    std::unique_ptr<TFormNewConversion> MakeForm(const QStringList& taskTargets = {})
    {
        auto form = std::make_unique<TFormNewConversion>(
            TWizardEnvironment{&world.profiles, &world.configuration, world.storePath, DefaultCategories(), {}},
            new FakePreviewPane);
        form->SetTaskTargets(taskTargets);
        EXPECT_TRUE(form->SelectProfileByDescription("MPEG-4(*.mp4)"));
        return form;
    }

    BoxRecorder messages;
    WizardWorld world;
};

TEST_F(NewConversionTargets, TheProposedOutputIsNeverAFileOrATaskTarget)
{
    const QString out = world.outputFolder;
    Touch(out + "/clip.mp4");
    auto form = MakeForm({out + "/clip (2).mp4"});
    ASSERT_TRUE(form->ChooseSourceFiles({ClipNamed(world.folder, "clip.avi")}));
    EXPECT_EQ(form->OutputPath(), out + "/clip (3).mp4");

    // Another profile proposes again: clip.mp3 is free.
    ASSERT_TRUE(form->SelectProfileByDescription("MP3 Audio"));
    EXPECT_EQ(form->OutputPath(), out + "/clip.mp3");

    // A batch: every output is free, and none repeats another.
    ASSERT_TRUE(form->SelectProfileByDescription("MPEG-4(*.mp4)"));
    const QString a = ClipNamed(world.folder + "/one", "clip.avi");
    const QString b = ClipNamed(world.folder + "/two", "clip.mkv");
    ASSERT_TRUE(form->ChooseSourceFiles({a, b}));
    form->UpdateReadiness();
    EXPECT_EQ(form->BatchOutputsLabel()->toolTip(), "The other files go beside it as: clip (4).mp4");
    form->Finish();
    ASSERT_EQ(form->result(), QDialog::Accepted);
    auto settings = form->GetConversionSettings();
    ASSERT_EQ(settings.size(), 2u);
    EXPECT_EQ(settings[0]->TargetFile(), out + "/clip (3).mp4");
    EXPECT_EQ(settings[1]->TargetFile(), out + "/clip (4).mp4");
}

TEST_F(NewConversionTargets, AnExistingTypedOutputIsKeptUnlessTheUserSaysReplace)
{
    const QString kept = world.folder + "/mine.mp4";
    Touch(kept, "precious");
    auto form = MakeForm();
    ASSERT_TRUE(form->ChooseSourceFiles({ClipNamed(world.folder, "a.avi")}));
    form->SetOutputPath(kept);

    // The default answer (Enter) keeps the file: the dialog stays open.
    QString asked;
    AnswerNextDialog([&](QDialog* d) {
        auto* box = qobject_cast<QMessageBox*>(d);
        ASSERT_TRUE(box);
        asked = box->text();
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QApplication::sendEvent(box, &enter);
    });
    form->Finish();
    EXPECT_TRUE(asked.contains("mine.mp4")) << asked.toStdString();
    EXPECT_NE(form->result(), QDialog::Accepted);
    EXPECT_EQ(Contents(kept), "precious");

    // Escape keeps it too.
    AnswerNextDialog([](QDialog* d) { d->reject(); });
    form->Finish();
    EXPECT_NE(form->result(), QDialog::Accepted);

    // "Replace" takes it.
    QuestionAnswerer answerer(ClickReplace);
    form->Finish();
    EXPECT_EQ(answerer.questions.size(), 1);
    ASSERT_EQ(form->result(), QDialog::Accepted);
    auto settings = form->GetConversionSettings();
    ASSERT_EQ(settings.size(), 1u);
    EXPECT_EQ(settings[0]->TargetFile(), kept);
}

TEST_F(NewConversionTargets, ATypedTaskTargetIsAskedAboutPerFileInABatch)
{
    const QString out = world.outputFolder;
    auto form = MakeForm({out + "/busy.mp4"});
    const QString a = ClipNamed(world.folder + "/one", "a.avi");
    const QString b = ClipNamed(world.folder + "/two", "b.avi");
    ASSERT_TRUE(form->ChooseSourceFiles({a, b}));
    form->SetOutputPath(out + "/busy.mp4"); // the output of a task, not yet on disk
    Touch(out + "/b.mp4");                   // appears after the names were made
    QuestionAnswerer answerer(ClickReplace);
    form->Finish();
    const QStringList asked = answerer.questions;
    // Only b.mp4 is on disk, so the batch was proposed around it: b (2).mp4.
    EXPECT_EQ(asked.size(), 1) << asked.join(" | ").toStdString();
    ASSERT_FALSE(asked.isEmpty());
    EXPECT_TRUE(asked[0].contains("busy.mp4"));
    ASSERT_EQ(form->result(), QDialog::Accepted);
    auto settings = form->GetConversionSettings();
    ASSERT_EQ(settings.size(), 2u);
    EXPECT_EQ(settings[1]->TargetFile(), out + "/b (2).mp4");
    EXPECT_EQ(Contents(out + "/b.mp4"), "old");
}

} // namespace
