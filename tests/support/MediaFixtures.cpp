#include "MediaFixtures.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QLockFile>
#include <QSaveFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>

namespace korvane::test {

ProcessResult RunProcess(const QString& program, const QStringList& args, int timeoutMs, const QString& workDir)
{
    QProcess p;
    if (!workDir.isEmpty())
        p.setWorkingDirectory(workDir);
    p.start(program, args);
    ProcessResult r;
    if (!p.waitForStarted(10000)) {
        r.err = QStringLiteral("cannot start ") + program;
        return r;
    }
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
        r.err = QStringLiteral("timed out");
        return r;
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromUtf8(p.readAllStandardOutput());
    r.err = QString::fromUtf8(p.readAllStandardError());
    return r;
}

QString Fixture(const QString& name, const QStringList& ffmpegArgs)
{
    static std::mutex lock;
    std::lock_guard guard(lock);
    QDir().mkpath(QStringLiteral(KORVANE_FIXTURE_DIR));
    const QString path = QStringLiteral(KORVANE_FIXTURE_DIR "/") + name;
    // test processes run in parallel: one makes the sample, the others wait
    QLockFile fileLock(path + QStringLiteral(".lock"));
    fileLock.setStaleLockTime(600000);
    fileLock.lock();
    if (QFileInfo::exists(path))
        return path;
    // written beside and renamed, so a killed run never leaves half a sample
    const QString partial = path + QStringLiteral(".part.") + QFileInfo(name).suffix();
    QStringList args{QStringLiteral("-y"), QStringLiteral("-hide_banner"), QStringLiteral("-loglevel"),
                     QStringLiteral("error")};
    args << ffmpegArgs << partial;
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG), args);
    if (r.exitCode != 0) {
        ADD_FAILURE() << "ffmpeg could not make " << name.toStdString() << ": " << r.err.toStdString();
        QFile::remove(partial);
        return {};
    }
    QFile::rename(partial, path);
    return path;
}

namespace {
QStringList Lavfi(const QString& graph) { return {QStringLiteral("-f"), QStringLiteral("lavfi"), QStringLiteral("-i"), graph}; }
} // namespace

QString SampleMp4()
{
    return Fixture(QStringLiteral("sample.mp4"),
                   Lavfi(QStringLiteral("testsrc=size=320x240:rate=25:duration=2")) +
                       Lavfi(QStringLiteral("sine=frequency=440:sample_rate=44100:duration=2")) +
                       QStringList{"-ac", "2", "-c:v", "libx264", "-preset", "ultrafast", "-g", "12",
                                   "-pix_fmt", "yuv420p", "-c:a", "aac", "-b:a", "96k"});
}

QString SampleMkvSubs()
{
    const QString srt = QStringLiteral(KORVANE_FIXTURE_DIR "/subs.srt");
    const QString meta = QStringLiteral(KORVANE_FIXTURE_DIR "/chapters.txt");
    QDir().mkpath(QStringLiteral(KORVANE_FIXTURE_DIR));
    if (!QFileInfo::exists(srt)) {
        QSaveFile f(srt); // written whole or not at all: other test processes may read it
        f.open(QIODevice::WriteOnly);
        f.write("1\n00:00:00,200 --> 00:00:00,900\nHello, world\n\n2\n00:00:01,000 --> 00:00:01,800\n"
                "Second line\n\n");
        f.commit();
    }
    if (!QFileInfo::exists(meta)) {
        QSaveFile f(meta);
        f.open(QIODevice::WriteOnly);
        f.write(";FFMETADATA1\ntitle=Fixture title\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=0\nEND=1000\n"
                "title=One\n[CHAPTER]\nTIMEBASE=1/1000\nSTART=1000\nEND=2000\ntitle=Two\n");
        f.commit();
    }
    return Fixture(QStringLiteral("sample_subs.mkv"),
                   Lavfi(QStringLiteral("testsrc=size=320x240:rate=25:duration=2")) +
                       Lavfi(QStringLiteral("sine=frequency=440:sample_rate=44100:duration=2")) +
                       QStringList{"-i", srt, "-i", meta, "-map", "0", "-map", "1", "-map", "2",
                                   "-map_metadata", "3", "-map_chapters", "3", "-ac", "2", "-c:v", "mpeg4",
                                   "-q:v", "5", "-c:a", "libmp3lame", "-c:s", "srt",
                                   "-metadata:s:a:0", "language=eng"});
}

QString SampleTs()
{
    return Fixture(QStringLiteral("sample.ts"),
                   Lavfi(QStringLiteral("testsrc=size=320x240:rate=25:duration=2")) +
                       Lavfi(QStringLiteral("sine=frequency=440:sample_rate=44100:duration=2")) +
                       QStringList{"-ac", "2", "-c:v", "libx264", "-preset", "ultrafast", "-g", "12",
                                   "-pix_fmt", "yuv420p", "-c:a", "aac", "-f", "mpegts"});
}

QString SampleAudioOnly()
{
    return Fixture(QStringLiteral("sample_audio.mp3"),
                   Lavfi(QStringLiteral("sine=frequency=440:sample_rate=44100:duration=2")) +
                       QStringList{"-ac", "2", "-c:a", "libmp3lame", "-b:a", "128k"});
}

QString SampleTwoAudio()
{
    return Fixture(QStringLiteral("sample_two_audio.mkv"),
                   Lavfi(QStringLiteral("testsrc=size=320x240:rate=25:duration=2")) +
                       Lavfi(QStringLiteral("sine=frequency=300:sample_rate=22050:duration=2")) +
                       Lavfi(QStringLiteral("sine=frequency=600:sample_rate=48000:duration=2")) +
                       QStringList{"-map", "0", "-map", "1", "-map", "2", "-c:v", "libx264", "-preset",
                                   "ultrafast", "-pix_fmt", "yuv420p", "-c:a", "aac", "-ac:a:1", "2"});
}

QString TempDir()
{
    static std::vector<std::unique_ptr<QTemporaryDir>> dirs;
    static std::mutex lock;
    std::lock_guard guard(lock);
    dirs.push_back(std::make_unique<QTemporaryDir>());
    return dirs.back()->path();
}

const ProbeStream* ProbeResult::First(const QString& codecType) const
{
    for (const ProbeStream& s : streams)
        if (s.codecType == codecType)
            return &s;
    return nullptr;
}

int ProbeResult::Count(const QString& codecType) const
{
    int n = 0;
    for (const ProbeStream& s : streams)
        n += s.codecType == codecType;
    return n;
}

double Psnr(const QString& a, const QString& b, const QString& plane)
{
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG),
                                       {"-hide_banner", "-i", b, "-i", a, "-lavfi", "[0:v][1:v]psnr", "-f", "null", "-"});
    const QRegularExpressionMatch m = QRegularExpression(plane + ":(inf|[0-9.]+)").match(r.err);
    if (!m.hasMatch())
        return -1;
    return m.captured(1) == "inf" ? 1000 : m.captured(1).toDouble();
}

ProbeResult Probe(const QString& file)
{
    ProbeResult result;
    const ProcessResult r = RunProcess(
        QStringLiteral(KORVANE_FFPROBE),
        {"-v", "error", "-print_format", "json", "-show_format", "-show_streams", "-show_chapters",
         "-count_packets", file});
    if (r.exitCode != 0) {
        result.error = r.err;
        return result;
    }
    const QJsonObject root = QJsonDocument::fromJson(r.out.toUtf8()).object();
    const QJsonObject format = root.value("format").toObject();
    result.formatName = format.value("format_name").toString();
    result.duration = format.value("duration").toString().toDouble();
    result.size = format.value("size").toString().toLongLong();
    const QJsonObject ftags = format.value("tags").toObject();
    for (auto it = ftags.begin(); it != ftags.end(); ++it)
        result.tags[it.key().toLower()] = it.value().toString();
    for (const QJsonValue& v : root.value("streams").toArray()) {
        const QJsonObject o = v.toObject();
        ProbeStream s;
        s.index = o.value("index").toInt();
        s.codecType = o.value("codec_type").toString();
        s.codecName = o.value("codec_name").toString();
        s.width = o.value("width").toInt();
        s.height = o.value("height").toInt();
        s.frameRate = o.value("r_frame_rate").toString();
        s.avgFrameRate = o.value("avg_frame_rate").toString();
        s.sampleRate = o.value("sample_rate").toString().toInt();
        s.channels = o.value("channels").toInt();
        s.duration = o.value("duration").toString().toDouble();
        s.packets = o.value("nb_read_packets").toString().toLongLong();
        const QJsonObject tags = o.value("tags").toObject();
        for (auto it = tags.begin(); it != tags.end(); ++it)
            s.tags[it.key().toLower()] = it.value().toString();
        s.language = s.tags.count("language") ? s.tags["language"] : QString();
        result.streams.push_back(s);
    }
    result.chapters = root.value("chapters").toArray().size();
    result.ok = true;
    return result;
}

bool DecodesCleanly(const QString& file, QString* error)
{
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG),
                                       {"-v", "error", "-xerror", "-i", file, "-map", "0", "-f", "null", "-"});
    if (error)
        *error = r.err;
    return r.exitCode == 0 && r.err.trimmed().isEmpty();
}

std::vector<double> PacketDts(const QString& file, int streamIndex)
{
    std::vector<double> out;
    const ProcessResult r = RunProcess(
        QStringLiteral(KORVANE_FFPROBE),
        {"-v", "error", "-select_streams", QString::number(streamIndex), "-show_entries", "packet=dts_time",
         "-of", "csv=p=0", file});
    for (const QString& line : r.out.split('\n', Qt::SkipEmptyParts))
        if (line.trimmed() != "N/A")
            out.push_back(line.trimmed().toDouble());
    return out;
}

} // namespace korvane::test
