// Every profile of the catalog, applied through `convert -p`, gives a file
// that ffprobe reads and the ffmpeg tool decodes. (What each profile asks
// for is checked in detail by the engine's catalog test.)
#include "CliSupport.h"

#include <QFileInfo>
#include <QRegularExpression>

using namespace korvane::test;

class CliCatalog : public CliTestBase
{
};

TEST_F(CliCatalog, EveryProfileConvertsThroughTheCommandLine)
{
    const QString clip = Fixture("cli_matrix.mkv", {"-f", "lavfi", "-i", "testsrc=size=352x288:rate=25:duration=1",
                                                    "-f", "lavfi", "-i", "sine=frequency=440:duration=1", "-ac", "2",
                                                    "-c:v", "mpeg4", "-q:v", "4", "-c:a", "pcm_s16le"});
    const ProcessResult list = Cli({"profiles"});
    ASSERT_EQ(list.exitCode, 0) << list.err.toStdString();
    const QStringList lines = list.out.split('\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 68);
    const QString dir = TempDir();
    QStringList failures;
    int n = 0;
    for (const QString& line : lines) {
        const QStringList fields = line.split(QRegularExpression("\\s{2,}"), Qt::SkipEmptyParts);
        const QString name = fields.first().trimmed();
        const QString extension = fields.last().trimmed();
        const QString folder = dir + QStringLiteral("/p%1").arg(n++);
        QDir().mkpath(folder);
        const QString output = folder + "/out" + extension;
        const ProcessResult r = Cli({"convert", clip, "-p", name, "-o", output, "--quiet"});
        if (r.exitCode != 0) {
            failures << name + ": exit " + QString::number(r.exitCode) + " " + r.err.left(300);
            continue;
        }
        // image sequences are numbered from 1
        QString first = output;
        if (!QFileInfo::exists(first))
            first = folder + "/out1" + extension.mid(extension.lastIndexOf('.'));
        const ProbeResult p = Probe(first);
        if (!p.ok || p.streams.empty())
            failures << name + ": unreadable " + first;
        else if (p.Count("video") + p.Count("audio") == 0)
            failures << name + ": no audio or video";
    }
    EXPECT_TRUE(failures.isEmpty()) << failures.join("\n").toStdString();
}
