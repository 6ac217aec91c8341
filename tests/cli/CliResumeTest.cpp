// convert --resume: an output left by a stopped (SIGINT) or killed (SIGKILL)
// run is carried on, and the result is measured against an uninterrupted
// conversion of the same source with the same profile: every picture in its
// place, the sound continuous at the join, durations and counts alike. Also
// the refusals (another source, a changed source, other settings, no
// record) and a resume that fails, all leaving the output as it was.
#include "CliSupport.h"

#include <QCryptographicHash>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QThread>
#include <cmath>
#include <csignal>
#include <gtest/gtest.h>

using namespace korvane::test;

namespace {

// 24 s of moving pictures and pink noise: the encoders' key picture
// intervals (up to 10 s) leave something to keep at about half way, and
// noise shows any shift of the sound.
// keyAtS above 0: with one more key picture there (just before where a
// resume's cut falls, so that the pictures from the key picture before the
// cut are too few to set the pace of a frame rate change).
QString Source(double keyAtS = 0)
{
    QStringList args = {"-f", "lavfi", "-i", "testsrc2=size=320x240:rate=25:duration=24", "-f", "lavfi",
                        "-i", "anoisesrc=c=pink:a=0.3:r=44100:d=24", "-c:v", "libx264", "-preset",
                        "ultrafast", "-g", "50", "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "192k",
                        "-shortest"};
    if (keyAtS > 0)
        args << "-force_key_frames" << QString::number(keyAtS);
    return Fixture(keyAtS > 0 ? QStringLiteral("resume24k%1.mp4").arg(keyAtS) : QStringLiteral("resume24.mp4"), args);
}

QByteArray Digest(const QString& file)
{
    QFile f(file);
    f.open(QIODevice::ReadOnly);
    return QCryptographicHash::hash(f.readAll(), QCryptographicHash::Sha256);
}

QString RecordOf(const QString& out)
{
    return QFileInfo(out).absolutePath() + "/." + QFileInfo(out).fileName() + ".korvane-resume";
}

// Runs convert and stops it with sig once its output holds bytes.
bool ConvertAndStop(const QStringList& args, const QString& out, qint64 bytes, int sig)
{
    QProcess p;
    p.start(QStringLiteral(KORVANE_CLI), args);
    if (!p.waitForStarted(10000))
        return false;
    while (p.state() == QProcess::Running && QFileInfo(out).size() < bytes)
        p.waitForFinished(20);
    if (p.state() != QProcess::Running)
        return false; // finished before the point: nothing was interrupted
    ::kill(pid_t(p.processId()), sig);
    p.waitForFinished(60000);
    return true;
}

// Pictures of file, 64x48 grey, one QByteArray each.
std::vector<QByteArray> Pictures(const QString& file)
{
    const QString raw = TempDir() + "/pictures.raw";
    RunProcess(QStringLiteral(KORVANE_FFMPEG), {"-v", "error", "-i", file, "-map", "0:v:0", "-vf",
                                                "scale=64:48,format=gray", "-f", "rawvideo", "-y", raw});
    const QByteArray all = ReadText(raw);
    std::vector<QByteArray> pictures;
    for (qsizetype at = 0; at + 3072 <= all.size(); at += 3072)
        pictures.push_back(all.mid(at, 3072));
    return pictures;
}

double MeanDifference(const QByteArray& a, const QByteArray& b)
{
    double sum = 0;
    for (qsizetype i = 0; i < a.size(); ++i)
        sum += std::abs(int(uint8_t(a[i])) - int(uint8_t(b[i])));
    return sum / double(a.size());
}

// The sound of file, mono 8 kHz.
std::vector<int16_t> Sound(const QString& file)
{
    const QString raw = TempDir() + "/sound.raw";
    RunProcess(QStringLiteral(KORVANE_FFMPEG), {"-v", "error", "-i", file, "-map", "0:a:0", "-ac", "1", "-ar", "8000",
                                                "-f", "s16le", "-y", raw});
    const QByteArray all = ReadText(raw);
    std::vector<int16_t> samples(size_t(all.size() / 2));
    memcpy(samples.data(), all.constData(), samples.size() * 2);
    return samples;
}

// The shift (in samples) that best lays b over a around sample at.
int Shift(const std::vector<int16_t>& a, const std::vector<int16_t>& b, size_t at, int range)
{
    int best = 0;
    double bestError = -1;
    for (int d = -range; d <= range; ++d) {
        double error = 0;
        for (size_t i = at; i < at + 800 && i < a.size() && i + d < b.size(); ++i)
            error += std::abs(a[i] - b[i + d]);
        if (bestError < 0 || error < bestError)
            bestError = error, best = d;
    }
    return best;
}

// Root mean square of a over [from, to).
double Rms(const std::vector<int16_t>& a, size_t from, size_t to)
{
    double sum = 0;
    size_t n = 0;
    for (size_t i = from; i < to && i < a.size(); ++i, ++n)
        sum += double(a[i]) * double(a[i]);
    return n ? std::sqrt(sum / double(n)) : 0;
}

// The job time where the log says the rest began.
double JoinSeconds(const QString& log)
{
    static const QRegularExpression re("Resuming .* at (\\d+):(\\d+):(\\d+\\.\\d+)");
    const QRegularExpressionMatch m = re.match(log);
    if (!m.hasMatch())
        return -1;
    return m.captured(1).toInt() * 3600 + m.captured(2).toInt() * 60 + m.captured(3).toDouble();
}

struct Case
{
    const char* profile;
    const char* suffix;
    int signal;
    bool startsOver; // the output cannot be read without what the stop never wrote
};

std::ostream& operator<<(std::ostream& os, const Case& c)
{
    return os << c.profile << " ." << c.suffix << (c.signal == SIGKILL ? " killed" : " interrupted");
}

// The uninterrupted conversion, made once per profile and suffix.
QString FullConversion(const char* profile, const char* suffix, double keyAtS = 0)
{
    static std::map<QString, QString> made;
    QString& full = made[QString(profile) + suffix + QString::number(keyAtS)];
    if (full.isEmpty()) {
        full = TempDir() + "/full." + suffix;
        const ProcessResult r = Cli({"convert", Source(keyAtS), "-p", profile, "-o", full, "-q"});
        EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    }
    return full;
}

class CliResume : public CliTestBase, public ::testing::WithParamInterface<Case>
{
protected:
    static QString Full(const Case& c) { return FullConversion(c.profile, c.suffix); }
};

// out, resumed at joinS (job seconds; below 0 when it started over), against
// full, the uninterrupted conversion: decodes cleanly, same length and
// counts, every picture in its place, the sound in place and continuous.
void ExpectLikeFull(const QString& full, const QString& out, double joinS)
{
    QString error;
    EXPECT_TRUE(DecodesCleanly(out, &error)) << error.toStdString();
    const ProbeResult a = Probe(full), b = Probe(out);
    ASSERT_TRUE(b.ok) << b.error.toStdString();
    const bool video = a.First("video") != nullptr;
    EXPECT_NEAR(b.duration, a.duration, video ? 0.041 : 0.05);
    if (video) {
        ASSERT_TRUE(b.First("video"));
        EXPECT_NEAR(double(b.First("video")->packets), double(a.First("video")->packets), 1.0);
        // every picture in its place: nearer the full conversion's picture at
        // the same index than its neighbours there (a repeated or skipped
        // picture is not), and never as far from it as pictures are from
        // each other (the two encoders' own differences are smaller)
        const std::vector<QByteArray> pa = Pictures(full), pb = Pictures(out);
        ASSERT_GT(pa.size(), 100u);
        ASSERT_NEAR(double(pb.size()), double(pa.size()), 1.0);
        double worst = 0, worstAt = 0;
        const size_t n = std::min(pa.size(), pb.size());
        for (size_t i = 0; i < n; ++i) {
            const double d = MeanDifference(pa[i], pb[i]);
            if (d > worst)
                worst = d, worstAt = double(i);
            // (where the full conversion shows the same picture twice, either will do)
            if (i > 0 && MeanDifference(pa[i - 1], pa[i]) > 1.0) {
                EXPECT_LT(d, MeanDifference(pa[i - 1], pb[i])) << "picture " << i << " is the one before it";
            }
            if (i + 1 < n && MeanDifference(pa[i + 1], pa[i]) > 1.0) {
                EXPECT_LT(d, MeanDifference(pa[i + 1], pb[i])) << "picture " << i << " is the one after it";
            }
        }
        double neighbours = 0;
        for (size_t i = 1; i < pa.size(); ++i)
            neighbours += MeanDifference(pa[i], pa[i - 1]);
        neighbours /= double(pa.size() - 1);
        EXPECT_LT(worst, neighbours) << "picture " << worstAt << " differs from the full conversion's";
    }
    // the sound at the join: no shift, no click
    const std::vector<int16_t> sa = Sound(full), sb = Sound(out);
    ASSERT_GT(sa.size(), 8000u * 20);
    const double frameSamples = 8000.0 * 1152 / 44100; // the longest audio frame of these profiles
    // (one sample more for the rounding of reading both at 8 kHz)
    EXPECT_NEAR(double(sb.size()), double(sa.size()), video ? frameSamples + 1 : 400);
    if (joinS > 0) {
        // the kept sound in place, and the rest where the full conversion has
        // it: its encoder's frames cover what the kept run's frames covered
        // (a frame on another grid would put the sound up to half a frame off)
        const size_t join = size_t(joinS * 8000);
        EXPECT_EQ(Shift(sa, sb, join / 2, 300), 0);
        for (const size_t at : {join + 1600, sa.size() - 8000}) {
            EXPECT_LE(std::abs(Shift(sa, sb, at, 300)), 1) << "sound shifted at sample " << at;
        }
        // no gap, no priming silence, no burst: every 10 ms about as loud as
        // in the full conversion
        for (size_t at = join - 800; at < join + 4000; at += 80) {
            const double full = Rms(sa, at, at + 80), resumed = Rms(sb, at, at + 80);
            EXPECT_GT(resumed, full / 2) << "a drop at sample " << at;
            EXPECT_LT(resumed, full * 2) << "a burst at sample " << at;
        }
    }
}

TEST_P(CliResume, CarriesOnWhereTheRunStoppedAsAFullConversionWould)
{
    const Case c = GetParam();
    const QString full = Full(c);
    ASSERT_TRUE(QFileInfo(full).size() > 0);
    const QString dir = TempDir();
    const QString out = dir + "/out." + c.suffix;
    const QStringList args = {"convert", Source(), "-p", c.profile, "-o", out, "-q"};
    ASSERT_TRUE(ConvertAndStop(args, out, QFileInfo(full).size() * 55 / 100, c.signal));
    ASSERT_TRUE(QFileInfo::exists(RecordOf(out))) << "a stopped run keeps its record";

    const QString log = dir + "/resume.log";
    const ProcessResult r = Cli(args + QStringList{"--resume", "--log", log});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString logText = QString::fromUtf8(ReadText(log));
    EXPECT_FALSE(QFileInfo::exists(RecordOf(out))) << "a completed run leaves no record";
    EXPECT_EQ(QDir(dir).entryList(QDir::Hidden | QDir::Files).filter(".resume-").size(), 0);

    if (c.startsOver) {
        EXPECT_TRUE(logText.contains("cannot be resumed")) << logText.toStdString();
        EXPECT_TRUE(logText.contains("converting from the start"));
    }
    const double joinS = JoinSeconds(logText);
    if (!c.startsOver) {
        ASSERT_GT(joinS, 2.0) << logText.toStdString();
    }
    ExpectLikeFull(full, out, joinS);
}

INSTANTIATE_TEST_SUITE_P(
    Profiles, CliResume,
    ::testing::Values(Case{"Matroska Video", "mkv", SIGINT, false}, Case{"Matroska Video", "mkv", SIGKILL, false},
                      Case{"Normal AVI (*.avi)", "avi", SIGKILL, false},
                      Case{"MPEG4-AVC(*.mp4)", "mp4", SIGINT, false}, Case{"MPEG4-AVC(*.mp4)", "mp4", SIGKILL, true},
                      Case{"MPEG-2 (*.mpg)", "mpg", SIGKILL, false}, Case{"Matroska Video", "ts", SIGKILL, false},
                      Case{"Flash Video", "flv", SIGKILL, false}, Case{"MP3 Audio", "mp3", SIGINT, false},
                      Case{"MP3 Audio", "mp3", SIGKILL, false}));

// The same at fixed points, so that where the join falls does not depend on
// the machine's speed: each frame grid of the sound meets the pictures' cut
// at another offset. A run stopped at T is made by converting up to T (what
// a stop there writes: every stream ended, the file finished); a killed run
// by cutting the full conversion's file short. Either gets the record a run
// of the whole job keeps.
struct FixedCase
{
    const char* profile;
    const char* suffix;
    double endS;      // above 0: stopped there
    double keptShare; // above 0: killed once the file held this share of its bytes
    double keyAtS = 0; // above 0: the source has a key picture there too
};

std::ostream& operator<<(std::ostream& os, const FixedCase& c)
{
    os << c.profile << " ." << c.suffix;
    if (c.keyAtS > 0)
        os << " (a key picture at " << c.keyAtS << " s)";
    return c.endS > 0 ? os << " stopped at " << c.endS << " s" : os << " killed at " << c.keptShare * 100 << " %";
}

class CliResumeAtFixedPoints : public CliTestBase, public ::testing::WithParamInterface<FixedCase>
{
};

TEST_P(CliResumeAtFixedPoints, JoinsAsAFullConversionWould)
{
    const FixedCase c = GetParam();
    const QString full = FullConversion(c.profile, c.suffix, c.keyAtS);
    ASSERT_TRUE(QFileInfo(full).size() > 0);
    const QString dir = TempDir();
    const QString out = dir + "/out." + c.suffix;
    const QStringList args = {"convert", Source(c.keyAtS), "-p", c.profile, "-o", out, "-q"};
    // the record of the whole job, from a run stopped at once
    ASSERT_TRUE(ConvertAndStop(args, out, 1, SIGINT));
    const QByteArray record = ReadText(RecordOf(out));
    ASSERT_FALSE(record.isEmpty());
    ASSERT_TRUE(QFile::remove(out));
    if (c.endS > 0) {
        const ProcessResult r = Cli(args + QStringList{"--end", QString::number(c.endS)});
        ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    } else {
        ASSERT_TRUE(QFile::copy(full, out));
        QFile cut(out);
        ASSERT_TRUE(cut.resize(qint64(double(QFileInfo(full).size()) * c.keptShare)));
    }
    WriteText(RecordOf(out), record);

    const QString log = dir + "/resume.log";
    const ProcessResult r = Cli(args + QStringList{"--resume", "--log", log});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const double joinS = JoinSeconds(QString::fromUtf8(ReadText(log)));
    ASSERT_GT(joinS, 2.0) << ReadText(log).toStdString();
    EXPECT_FALSE(QFileInfo::exists(RecordOf(out)));
    ExpectLikeFull(full, out, joinS);
}

INSTANTIATE_TEST_SUITE_P(
    Points, CliResumeAtFixedPoints,
    ::testing::Values(FixedCase{"Matroska Video", "mkv", 13.2, 0}, FixedCase{"Matroska Video", "mkv", 0, 0.6},
                      FixedCase{"Matroska Video", "ts", 13.2, 0}, FixedCase{"Matroska Video", "ts", 0, 0.55},
                      FixedCase{"MPEG-2 (*.mpg)", "mpg", 11.3, 0}, FixedCase{"MPEG-2 (*.mpg)", "mpg", 13.2, 0},
                      FixedCase{"MPEG-2 (*.mpg)", "mpg", 14.5, 0}, FixedCase{"MPEG-2 (*.mpg)", "mpg", 0, 0.55},
                      FixedCase{"MPEG4-AVC(*.mp4)", "mp4", 13.2, 0}, FixedCase{"MPEG4-AVC(*.mp4)", "mp4", 18, 0},
                      FixedCase{"Flash Video", "flv", 13.2, 0, 12.8},
                      FixedCase{"Flash Video", "flv", 13.2, 0, 12.76},
                      FixedCase{"Normal AVI (*.avi)", "avi", 0, 0.55}, FixedCase{"Flash Video", "flv", 13.2, 0},
                      FixedCase{"Flash Video", "flv", 0, 0.45}, FixedCase{"Flash Video", "flv", 0, 0.65},
                      FixedCase{"MP3 Audio", "mp3", 13.2, 0},
                      FixedCase{"MP3 Audio", "mp3", 0, 0.55}));

// A resume that is stopped in its turn keeps what it converted: the output
// then reaches the later stop, the record stays, and the next resume
// carries on from there as a full conversion would have made the file.
TEST_F(CliTestBase, AResumeStoppedOnItsWayKeepsWhatItConverted)
{
    const QString dir = TempDir();
    const QString full = dir + "/full.mkv", out = dir + "/out.mkv";
    // a key picture every 2 s, so that each stop leaves something more to keep
    const QStringList settings = {"-p", "Matroska Video", "-q", "--set", "CodecOptions=g=50"};
    ASSERT_EQ(Cli(QStringList{"convert", Source(), "-o", full} + settings).exitCode, 0);
    const QStringList args = QStringList{"convert", Source(), "-o", out} + settings;
    // a run stopped at 11 s, with the record of the whole job
    ASSERT_TRUE(ConvertAndStop(args, out, 1, SIGINT));
    const QByteArray record = ReadText(RecordOf(out));
    ASSERT_FALSE(record.isEmpty());
    ASSERT_TRUE(QFile::remove(out));
    ASSERT_EQ(Cli(args + QStringList{"--end", "11"}).exitCode, 0);
    WriteText(RecordOf(out), record);

    // the resume (from 10 s) is stopped once its part holds about 6 s more
    const QString firstLog = dir + "/first.log";
    const QString part = dir + "/.out.resume-part.mkv";
    ASSERT_TRUE(ConvertAndStop(args + QStringList{"--resume", "--log", firstLog}, part,
                               QFileInfo(full).size() / 4, SIGINT));
    const double firstJoinS = JoinSeconds(QString::fromUtf8(ReadText(firstLog)));
    ASSERT_GT(firstJoinS, 2.0);
    EXPECT_TRUE(QFileInfo::exists(RecordOf(out))) << "a stopped resume keeps the record";
    EXPECT_FALSE(QFileInfo::exists(part));
    const ProbeResult stopped = Probe(out);
    ASSERT_TRUE(stopped.ok) << stopped.error.toStdString();
    EXPECT_GT(stopped.duration, firstJoinS + 3) << "the stopped resume's part was joined";

    const QString log = dir + "/second.log";
    const ProcessResult r = Cli(args + QStringList{"--resume", "--log", log});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const double joinS = JoinSeconds(QString::fromUtf8(ReadText(log)));
    EXPECT_GT(joinS, firstJoinS + 2) << "the second resume starts after the first one's stop";
    EXPECT_FALSE(QFileInfo::exists(RecordOf(out)));
    ExpectLikeFull(full, out, joinS);
}

class CliResumeRefusal : public CliTestBase
{
protected:
    // An MP3 output left by a killed run, and its digest.
    void SetUp() override
    {
        CliTestBase::SetUp();
        m_dir = TempDir();
        m_source = m_dir + "/source.mp4";
        ASSERT_TRUE(QFile::copy(Source(), m_source));
        m_out = m_dir + "/left.mp3";
        ASSERT_TRUE(ConvertAndStop(Args(), m_out, 150000, SIGKILL));
        m_digest = Digest(m_out);
    }
    QStringList Args() const { return {"convert", m_source, "-p", "MP3 Audio", "-o", m_out, "-q"}; }
    void ExpectRefused(const QStringList& args, const char* reason)
    {
        const ProcessResult r = Cli(args);
        EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(reason)) << r.err.toStdString();
        EXPECT_EQ(Digest(m_out), m_digest) << "the output was touched";
    }
    QString m_dir, m_source, m_out;
    QByteArray m_digest;
};

TEST_F(CliResumeRefusal, OtherSettingsAnotherOrChangedSourceOrNoRecordAreRefused)
{
    ExpectRefused(Args() + QStringList{"--resume", "--set", "AudioOptions.Bitrate=96000"}, "other settings");
    ExpectRefused(Args() + QStringList{"--resume", "--start", "1"}, "another time window");

    const QString other = m_dir + "/other.mp4";
    ASSERT_TRUE(QFile::copy(SampleMp4(), other));
    ExpectRefused({"convert", other, "-p", "MP3 Audio", "-o", m_out, "-q", "--resume"}, "another source");

    QFile source(m_source);
    ASSERT_TRUE(source.open(QIODevice::ReadWrite));
    source.setFileTime(source.fileTime(QFileDevice::FileModificationTime).addSecs(5),
                       QFileDevice::FileModificationTime);
    source.close();
    ExpectRefused(Args() + QStringList{"--resume"}, "has changed");

    ASSERT_TRUE(QFile::remove(RecordOf(m_out)));
    ExpectRefused(Args() + QStringList{"--resume"}, "no resume record");
}

TEST_F(CliResumeRefusal, AResumeThatFailsLeavesTheOutputAsItWas)
{
    // a folder where the joined file would go: the rest converts, the join fails
    const QString joined = m_dir + "/.left.resume-join.mp3";
    ASSERT_TRUE(QDir().mkpath(joined));
    const ProcessResult r = Cli(Args() + QStringList{"--resume"});
    EXPECT_EQ(r.exitCode, 1) << r.err.toStdString();
    EXPECT_TRUE(r.err.contains("Resuming")) << r.err.toStdString();
    EXPECT_EQ(Digest(m_out), m_digest);
    EXPECT_TRUE(QFileInfo::exists(RecordOf(m_out))) << "still resumable";
    EXPECT_FALSE(QFileInfo::exists(m_dir + "/.left.resume-part.mp3"));
    ASSERT_TRUE(QDir(joined).removeRecursively());

    // and once out of the way, the same output carries on
    const ProcessResult again = Cli(Args() + QStringList{"--resume"});
    EXPECT_EQ(again.exitCode, 0) << again.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(RecordOf(m_out)));
    EXPECT_TRUE(DecodesCleanly(m_out));
}

TEST_F(CliResumeRefusal, NoOutputConvertsAndOverwriteStartsOver)
{
    ASSERT_TRUE(QFile::remove(m_out));
    ProcessResult r = Cli(Args() + QStringList{"--resume"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_NEAR(Probe(m_out).duration, 24.0, 0.1);
    EXPECT_FALSE(QFileInfo::exists(RecordOf(m_out)));

    // an output of another run, not resumable: --overwrite still replaces it
    r = Cli(Args() + QStringList{"--resume", "--overwrite", "--set", "AudioOptions.Bitrate=96000"});
    EXPECT_EQ(r.exitCode, 0) << r.err.toStdString();
    EXPECT_NEAR(Probe(m_out).duration, 24.0, 0.1);
}

} // namespace

namespace {

class CliResumeTwoPass : public CliTestBase
{
};

TEST_F(CliResumeTwoPass, ATwoPassRunStartsOverAndSaysSo)
{
    const QString dir = TempDir();
    const QString out = dir + "/two-pass.avi";
    const QStringList args = {"convert", Source(), "-p", "Normal AVI (*.avi)", "-o", out, "-q", "--set",
                              "VideoOptions.Pass=1"};
    ASSERT_TRUE(ConvertAndStop(args, out, 1500000, SIGINT));
    const QString log = dir + "/two-pass.log";
    const ProcessResult r = Cli(args + QStringList{"--resume", "--log", log});
    ASSERT_EQ(r.exitCode, 0) << r.err.toStdString();
    const QString text = QString::fromUtf8(ReadText(log));
    EXPECT_TRUE(text.contains("two-pass")) << text.toStdString();
    EXPECT_TRUE(text.contains("converting from the start"));
    EXPECT_NEAR(Probe(out).duration, 24.0, 0.1);
}

} // namespace
