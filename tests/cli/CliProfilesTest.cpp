// Profiles on the command line: listing, probing, and converting with a
// catalog or custom profile, with the output named from the configuration.
#include "CliSupport.h"

#include <QFileInfo>
#include <gtest/gtest.h>

using namespace korvane::test;

namespace {

// One custom video profile in the store's format: MPEG-4 160x120 at 300
// kbit/s with 16-bit PCM mono 22050 Hz, into Matroska.
const QByteArray kStore = "[Profile]\n"
                          "ProfileCount=1\n"
                          "Description0=My Tiny Clip\nExtension0=.mkv\nCategory0=Video\nIsVideo0=1\n"
                          "SampleRate0=22050\nAudioEncoder0=5\nAudioChannels0=0\nAudioBitrate0=64\nFormat0=0\n"
                          "Options0=\nFrameWidth0=160\nFrameHeight0=120\nVideoEncoder0=2\nFrameRate0=0\n"
                          "VideoBitrate0=300\n";

QByteArray ConfigWithOutputFolder(const QString& folder)
{
    return "<data PropFormat=\"node\">\n  <TAVConfiguration>\n    <PerformanceOptions>\n"
           "      <ThreadCount>2</ThreadCount>\n      <ThreadPrority>2</ThreadPrority>\n"
           "    </PerformanceOptions>\n    <OutputFolder>" +
           folder.toUtf8() + "</OutputFolder>\n  </TAVConfiguration>\n</data>\n";
}

class CliProfiles : public CliTestBase
{
};

} // namespace

TEST_F(CliProfiles, CategoriesAreListedInOrder)
{
    const ProcessResult r = Cli({"categories"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lines(r.out), QStringList({"iPad", "iPhone", "Video", "Audio", "Images", "IPod", "Zune", "PSP",
                                         "Mobile", "PS3", "Xbox", "Windows Mobile", "Android", "Apple TV"}));
}

TEST_F(CliProfiles, ListsTheCatalogAndFiltersByCategoryIgnoringCase)
{
    ProcessResult r = Cli({"profiles"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lines(r.out).size(), 68);
    EXPECT_TRUE(r.out.contains("MPEG4-AVC(*.mp4)"));

    r = Cli({"profiles", "--category", "video"});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_EQ(Lines(r.out).size(), 14);
    r = Cli({"profiles", "--category", "Images"});
    const QStringList images = Lines(r.out);
    ASSERT_EQ(images.size(), 5);
    EXPECT_TRUE(images[0].startsWith("JPEG Sequence"));
    EXPECT_TRUE(images[0].endsWith("1.jpg"));
    r = Cli({"profiles", "--category", "iphone"});
    const QStringList phone = Lines(r.out);
    ASSERT_EQ(phone.size(), 5);
    for (const QString& line : phone)
        EXPECT_TRUE(line.contains("IPhone") && line.endsWith(".mp4")) << line.toStdString();

    r = Cli({"profiles", "--category", "Toaster"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("Windows Mobile"));
    EXPECT_TRUE(r.out.isEmpty());
}

TEST_F(CliProfiles, CustomProfilesComeFromTheStoreWhichStaysUntouched)
{
    const QString settings = m_settings;
    const QString store = settings + "Profiles.ini";
    WriteText(store, kStore);
    const QDateTime written = QFileInfo(store).lastModified();

    ProcessResult r = Cli({"profiles", "--category", "VIDEO"});
    ASSERT_EQ(r.exitCode, 0);
    // the store's custom profiles replace the catalog's: only ours is left in Video
    EXPECT_EQ(Lines(r.out), QStringList({"My Tiny Clip                              Video           .mkv"}));

    const QString dir = TempDir();
    r = Cli({"convert", SampleMp4(), "-p", "my tiny CLIP", "-o", dir + "/tiny.mkv", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const ProbeResult p = Probe(dir + "/tiny.mkv");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.First("video")->codecName, "mpeg4");
    EXPECT_EQ(p.First("video")->width, 160);
    EXPECT_EQ(p.First("audio")->codecName, "pcm_s16le");
    EXPECT_EQ(p.First("audio")->channels, 1);
    EXPECT_EQ(p.First("audio")->sampleRate, 22050);

    EXPECT_EQ(ReadText(store), kStore);
    EXPECT_EQ(QFileInfo(store).lastModified(), written);
}

TEST_F(CliProfiles, ProbeReportsTheStreamsOrRefusesJunk)
{
    ProcessResult r = Cli({"probe", SampleMp4()});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(r.out.contains("Video codec: h264"));
    EXPECT_TRUE(r.out.contains("Frame size: 320x240"));
    EXPECT_TRUE(r.out.contains("Frame rate: 25.000"));
    EXPECT_TRUE(r.out.contains("Sample rate: 44100"));
    EXPECT_TRUE(r.out.contains("Audio codec: aac"));

    r = Cli({"probe", SampleAudioOnly()});
    ASSERT_EQ(r.exitCode, 0);
    EXPECT_TRUE(r.out.contains("Video: none"));
    EXPECT_TRUE(r.out.contains("Audio codec: mp3"));

    const QString junk = TempDir() + "/junk.mp4";
    WriteText(junk, QByteArray(4000, 'j'));
    r = Cli({"probe", junk});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("Invalid Video/Audio File")) << r.err.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    r = Cli({"probe", TempDir() + "/missing.mp4"});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_TRUE(r.err.contains("no such file"));
}

TEST_F(CliProfiles, UnknownProfileIsAUsageErrorWithSuggestions)
{
    const QString dir = TempDir();
    ProcessResult r = Cli({"convert", SampleMp4(), "-p", "normal avi", "-o", dir + "/x.avi"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("no profile named 'normal avi'"));
    EXPECT_TRUE(r.err.contains("Normal AVI (*.avi)"));
    r = Cli({"convert", SampleMp4(), "-p", "Matroska Vidoe", "-o", dir + "/x.mkv"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains("'Matroska Video'")) << r.err.toStdString();
    r = Cli({"convert", SampleMp4(), "-p", "qqqqqqqqqqqqqqqqqq", "-o", dir + "/x.mkv"});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_FALSE(r.err.contains("did you mean"));
    EXPECT_TRUE(QDir(dir).isEmpty());
}

TEST_F(CliProfiles, CatalogProfileSetsCodecsSizeAndRateAndTheCommandLineWins)
{
    const QString dir = TempDir();
    ProcessResult r = Cli({"convert", SampleMp4(), "-p", "Normal AVI (*.avi)", "-o", dir + "/n.avi", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    ProbeResult p = Probe(dir + "/n.avi");
    ASSERT_TRUE(p.ok);
    EXPECT_EQ(p.formatName, "avi");
    EXPECT_EQ(p.First("video")->codecName, "mpeg4");
    EXPECT_EQ(p.First("video")->width, 480);
    EXPECT_EQ(p.First("video")->height, 320);
    EXPECT_EQ(p.First("video")->frameRate, "25/1");
    EXPECT_EQ(p.First("audio")->codecName, "pcm_s16le");
    EXPECT_EQ(p.First("audio")->channels, 2);

    r = Cli({"convert", SampleMp4(), "-p", "normal avi (*.AVI)", "-o", dir + "/m.avi", "--quiet", "--set",
             "VideoOptions.FrameWidth=176", "--set", "VideoOptions.FrameHeight=144"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    p = Probe(dir + "/m.avi");
    EXPECT_EQ(p.First("video")->width, 176);
    EXPECT_EQ(p.First("video")->height, 144);
}

TEST_F(CliProfiles, WithoutOutputTheConfiguredFolderIsCreatedAndUsed)
{
    const QString settings = m_settings;
    const QString folder = TempDir() + "/conversions/new";
    WriteText(settings + "Config.Xml", ConfigWithOutputFolder(folder));
    const QString source = TempDir() + "/holiday.clip.mp4";
    ASSERT_TRUE(QFile::copy(SampleMp4(), source));

    const ProcessResult r = Cli({"convert", source, "-p", "Matroska Video", "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const ProbeResult p = Probe(folder + "/holiday.clip.mkv");
    ASSERT_TRUE(p.ok) << p.error.toStdString();
    EXPECT_EQ(p.First("video")->codecName, "h264");
    EXPECT_EQ(p.First("audio")->codecName, "mp3");
    EXPECT_EQ(QDir(folder).entryList(QDir::Files), QStringList({"holiday.clip.mkv"}));
}

TEST_F(CliProfiles, DamagedConfigurationDoesNotStopTheCommandLine)
{
    const QString settings = m_settings;
    WriteText(settings + "Config.Xml", "<data PropFormat=\"node\"><TAVConfigur");
    const QString out = TempDir() + "/c.avi";
    const ProcessResult r = Cli({"convert", SampleMp4(), "-p", "Normal AVI (*.avi)", "-o", out, "--quiet"});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_TRUE(Probe(out).ok);
    EXPECT_TRUE(QFileInfo::exists(settings + "Config.Xml.damaged"));
}
