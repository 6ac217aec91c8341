// Journeys through the real program: what a person does with it, and what
// the machine does to it (kill -9, SIGTERM, a history file it may not write).
#include "JourneySupport.h"
#include "MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSettings>
#include <csignal>

using namespace korvane::test;

namespace {

const char* const kMainWindow = "Korvane Video Converter";
const char* const kDialog = "New Conversion Wizard";

// 120 s of 640x480 video: a conversion that is still running when it is hit.
QString LongClip()
{
    return Fixture("long-640x480.mp4", {"-f", "lavfi", "-i", "testsrc=size=640x480:rate=25:duration=120", "-c:v",
                                        "libx264", "-preset", "ultrafast", "-g", "50", "-pix_fmt", "yuv420p"});
}

// A copy of a fixture inside the journey's folder (readable by whoever runs it).
QString CopyInto(const QString& folder, const QString& fixture)
{
    const QString copy = folder + "/" + QFileInfo(fixture).fileName();
    QFile::copy(fixture, copy);
    return copy;
}

QStringList Outputs(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files, QDir::Name);
}

// What the ffmpeg tool says while decoding the whole file; empty when clean.
QString DecodeErrors(const QString& file)
{
    const ProcessResult r = RunProcess(KORVANE_FFMPEG, {"-v", "error", "-i", file, "-f", "null", "-"});
    return r.exitCode == 0 ? r.err.trimmed() : "exit " + QString::number(r.exitCode) + ": " + r.err;
}

} // namespace

TEST_F(Journey, ASecondStartHandsAFileAndStartConvertConvertsIt)
{
    const QString clip = CopyInto(dir.path(), SampleMp4());
    QProcess* program = Start();
    ASSERT_FALSE(WaitWindow(kMainWindow).isEmpty());
    // "Open with" from a file manager: a second start hands the file and ends
    ASSERT_EQ(RunToEnd({clip}), 0);
    const QString dialog = WaitWindow(kDialog);
    ASSERT_FALSE(dialog.isEmpty());
    Keys(dialog, {"Return"}); // Start Convert is the dialog's default button
    ASSERT_TRUE(WaitFor([&] { return HistoryRows() == QStringList{"finished"}; })) << HistoryRows().join(",").toStdString();
    EXPECT_EQ(program->state(), QProcess::Running) << "the program survived";
    const QStringList outputs = Outputs(OutputFolder());
    ASSERT_EQ(outputs.size(), 1);
    EXPECT_EQ(DecodeErrors(OutputFolder() + "/" + outputs.first()), "");
}

TEST_F(Journey, TheSameSourceConvertedTwiceKeepsBothFiles)
{
    const QString clip = CopyInto(dir.path(), SampleMp4());
    QProcess* program = Start({clip});
    for (int run = 1; run <= 2; ++run) {
        if (run == 2) {
            ASSERT_EQ(RunToEnd({clip}), 0);
        }
        const QString dialog = WaitWindow(kDialog);
        ASSERT_FALSE(dialog.isEmpty());
        Keys(dialog, {"Return"});
        ASSERT_TRUE(WaitFor([&] { return HistoryRows().count("finished") == run; }));
    }
    EXPECT_EQ(program->state(), QProcess::Running);
    EXPECT_EQ(Outputs(OutputFolder()).size(), 2) << Outputs(OutputFolder()).join(", ").toStdString();
}

TEST_F(Journey, KillNineMidConversionThenRestartAndDeleteTheStaleTask)
{
    QProcess* first = Start({LongClip()});
    const QString dialog = WaitWindow(kDialog);
    ASSERT_FALSE(dialog.isEmpty());
    Keys(dialog, {"Return"});
    ASSERT_TRUE(WaitFor([&] {
        const QStringList outputs = Outputs(OutputFolder());
        return HistoryRows() == QStringList{"converting"} && !outputs.isEmpty() &&
               QFileInfo(OutputFolder() + "/" + outputs.first()).size() > 100000;
    }, 180000));
    ::kill(first->processId(), SIGKILL);
    first->waitForFinished(10000);
    const QString partial = OutputFolder() + "/" + Outputs(OutputFolder()).first();

    QProcess* second = Start();
    const QString window = WaitWindow(kMainWindow);
    ASSERT_FALSE(window.isEmpty());
    // Converting is shown with the task left by the killed run: into the
    // list, the first row selected, Delete, and Yes (the default)
    Keys(window, {"Tab", "Home", "space", "Delete"});
    const QString question = WaitWindow("Confirm to delete", 10000);
    ASSERT_FALSE(question.isEmpty());
    Keys(question, {"Return"});
    ASSERT_TRUE(WaitFor([&] { return HistoryRows().isEmpty(); }, 20000)) << HistoryRows().join(",").toStdString();
    EXPECT_FALSE(QFile::exists(partial)) << "its own unfinished target went with it";
    EXPECT_EQ(second->state(), QProcess::Running);
    EXPECT_EQ(IntegrityCheck(), "ok");
}

TEST_F(Journey, KillNineMidConversionThenRestartAndResumeTheTask)
{
    // 120 s with sound, into Matroska (the choice the dialog remembers)
    const QString clip = CopyInto(dir.path(), Fixture("resume-journey-120s.mp4",
                                                      {"-f", "lavfi", "-i", "testsrc=size=640x480:rate=25:duration=120",
                                                       "-f", "lavfi", "-i", "sine=frequency=440:duration=120", "-c:v",
                                                       "libx264", "-preset", "ultrafast", "-g", "50", "-pix_fmt",
                                                       "yuv420p", "-c:a", "aac", "-shortest"}));
    ASSERT_TRUE(QDir().mkpath(ConfigFolder()));
    {
        QSettings choices(ConfigFolder() + "/VelquistNewConversion.ini", QSettings::IniFormat);
        choices.setValue("Category", "Video");
        choices.setValue("Profile", "Matroska Video");
    }
    QProcess* first = Start({clip});
    const QString dialog = WaitWindow(kDialog);
    ASSERT_FALSE(dialog.isEmpty());
    Keys(dialog, {"Return"});
    const QString output = OutputFolder() + "/resume-journey-120s.mkv";
    // past the first key picture after the start (the profile's are 10 s apart)
    ASSERT_TRUE(WaitFor([&] { return HistoryRows() == QStringList{"converting"} && QFileInfo(output).size() > 4000000; },
                        180000))
        << Outputs(OutputFolder()).join(", ").toStdString();
    ::kill(first->processId(), SIGKILL);
    first->waitForFinished(10000);
    const qint64 killedSize = QFileInfo(output).size();

    QProcess* second = Start();
    const QString window = WaitWindow(kMainWindow);
    ASSERT_FALSE(window.isEmpty());
    // the restored task selected, then Resume Task by its key
    Keys(window, {"Tab", "Home", "space", "ctrl+shift+r"});
    ASSERT_TRUE(WaitFor([&] { return HistoryRows() == QStringList{"finished"}; }, 180000))
        << HistoryRows().join(",").toStdString() << "\n"
        << HistoryLogs().toStdString();
    EXPECT_EQ(second->state(), QProcess::Running);
    EXPECT_EQ(Outputs(OutputFolder()), QStringList{"resume-journey-120s.mkv"}) << "no hidden part or join left";
    EXPECT_FALSE(QFileInfo::exists(OutputFolder() + "/.resume-journey-120s.mkv.korvane-resume"));
    // the run carried the output on (and did not start over)
    const QString logs = HistoryLogs();
    EXPECT_TRUE(logs.contains("Resuming " + output + " at")) << logs.toStdString();
    EXPECT_FALSE(logs.contains("converting from the start")) << logs.toStdString();
    EXPECT_GT(killedSize, 4000000);

    // against a full conversion of the same source with the same profile
    const QString full = dir.filePath("full.mkv");
    const ProcessResult r =
        RunProcess(KORVANE_CLI, {"convert", clip, "-p", "Matroska Video", "-o", full, "-q"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const ProbeResult a = Probe(full), b = Probe(output);
    ASSERT_TRUE(b.ok) << b.error.toStdString();
    EXPECT_NEAR(b.duration, a.duration, 0.041);
    ASSERT_TRUE(a.First("video") && b.First("video"));
    EXPECT_NEAR(double(b.First("video")->packets), double(a.First("video")->packets), 1.0);
    ASSERT_TRUE(a.First("audio") && b.First("audio"));
    EXPECT_NEAR(double(b.First("audio")->packets), double(a.First("audio")->packets), 1.0);
    EXPECT_EQ(DecodeErrors(output), "");
    EXPECT_EQ(IntegrityCheck(), "ok");
}

TEST_F(Journey, AHistoryFileThatCannotBeWrittenThenDelete)
{
    ASSERT_TRUE(RunAsNobody());
    const QString clip = CopyInto(dir.path(), SampleMp4());
    QProcess* first = Start({clip});
    const QString dialog = WaitWindow(kDialog);
    ASSERT_FALSE(dialog.isEmpty());
    Keys(dialog, {"Return"});
    ASSERT_TRUE(WaitFor([&] { return HistoryRows() == QStringList{"finished"}; }));
    first->terminate();
    ASSERT_TRUE(first->waitForFinished(20000));

    ASSERT_TRUE(QFile::setPermissions(HistoryFile(), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther));
    QProcess* second = Start();
    const QString window = WaitWindow(kMainWindow);
    ASSERT_FALSE(window.isEmpty());
    // the history category, its list, the finished task, Delete, Yes
    Keys(window, {"Down", "Tab", "Home", "space", "Delete"});
    const QString question = WaitWindow("Confirm to delete", 10000);
    ASSERT_FALSE(question.isEmpty());
    Keys(question, {"Return"});
    const QString error = WaitWindow("Error", 10000);
    EXPECT_FALSE(error.isEmpty()) << "the refusal is shown";
    EXPECT_EQ(second->state(), QProcess::Running) << "the program survived";
    EXPECT_EQ(HistoryRows(), QStringList{"finished"}) << "the task is where it was";
    EXPECT_EQ(Outputs(OutputFolder()).size(), 1) << "and so is its file";
    if (!error.isEmpty())
        Keys(error, {"Return"});
    EXPECT_EQ(second->state(), QProcess::Running);
}

TEST_F(Journey, SigtermWhileConvertingStopsSavesAndExits)
{
    QProcess* program = Start({LongClip()});
    const QString dialog = WaitWindow(kDialog);
    ASSERT_FALSE(dialog.isEmpty());
    Keys(dialog, {"Return"});
    ASSERT_TRUE(WaitFor(
        [&] {
            const QStringList outputs = Outputs(OutputFolder());
            return !outputs.isEmpty() && QFileInfo(OutputFolder() + "/" + outputs.first()).size() > 100000;
        },
        180000));
    ::kill(program->processId(), SIGTERM);
    ASSERT_TRUE(program->waitForFinished(30000));
    EXPECT_EQ(program->exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(program->exitCode(), 0);

    // the output was ended as Stop ends it: it plays to its last picture
    const QString output = OutputFolder() + "/" + Outputs(OutputFolder()).first();
    EXPECT_EQ(DecodeErrors(output), "");
    const ProbeResult probe = Probe(output);
    EXPECT_GT(probe.duration, 0.5);
    // the task is kept for the next start, the files of the program are saved
    EXPECT_EQ(HistoryRows(), QStringList{"converting"});
    EXPECT_EQ(IntegrityCheck(), "ok");
    EXPECT_TRUE(QFile::exists(ConfigFolder() + "/VelquistConfig.Xml"));
    QSettings state(ConfigFolder() + "/VelquistWindow.ini", QSettings::IniFormat);
    EXPECT_FALSE(state.value("Window/Geometry").toByteArray().isEmpty());
}
