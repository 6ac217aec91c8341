// An input that fails to read is a failed job; an input that merely ends
// early is converted as far as it goes.
#include "sources/StreamProtocol.h"
#include "transcode/AVConverter.h"
#include "JobRunner.h"
#include "MediaFixtures.h"

#include <QFile>
#include <gtest/gtest.h>

using namespace korvane;
using namespace korvane::test;

namespace {

// The bytes of a file, with every read past failAt failing as a worn disc does.
class FailingStream : public TStream
{
public:
    FailingStream(QByteArray data, int64_t failAt) : m_data(std::move(data)), m_failAt(failAt) {}
    int64_t Read(void* buffer, int64_t count) override
    {
        if (m_pos >= m_failAt)
            return -1;
        const int64_t n = std::min({count, int64_t(m_data.size()) - m_pos, m_failAt - m_pos});
        memcpy(buffer, m_data.constData() + m_pos, size_t(n));
        m_pos += n;
        return n;
    }
    int64_t Seek(int64_t offset, TSeekOrigin origin) override
    {
        const int64_t base = origin == TSeekOrigin::soBeginning ? 0 : origin == TSeekOrigin::soCurrent ? m_pos : m_data.size();
        if (base + offset < 0 || base + offset > m_data.size())
            return -1;
        return m_pos = base + offset;
    }
    int64_t Size() override { return m_data.size(); }

private:
    QByteArray m_data;
    int64_t m_failAt;
    int64_t m_pos = 0;
};

QByteArray ReadAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

struct Outcome
{
    JobEvents ev;
    QString error;
    QString output;
};

void RunJob(const QString& input, const QString& outputName, Outcome& r)
{
    TAVConverter c;
    Record(c, r.ev);
    r.output = TempDir() + "/" + outputName;
    c.SetInputFiles({input});
    c.SetOutputFiles({r.output});
    c.ConvertOptions()->VideoOptions()->m_encoderVideoCodecName = "mpeg4";
    c.Start();
    ASSERT_TRUE(WaitFinished(r.ev, 120000));
    r.error = c.ErrorText();
}

} // namespace

TEST(ReadError, AFailingReadEndsTheJobAsFailedWithAReadableOutput)
{
    MessageRecorder messages;
    const QByteArray ts = ReadAll(SampleTs());
    ASSERT_GT(ts.size(), 10000);
    const TStreamHandle handle = RegisterStream(std::make_unique<FailingStream>(ts, ts.size() * 6 / 10));
    Outcome r;
    RunJob(StreamSourceName(handle), "failing.mkv", r);
    EXPECT_TRUE(r.error.startsWith("Error reading input #0: ")) << r.error.toStdString();
    EXPECT_TRUE(r.error.contains("Input/output error")) << r.error.toStdString();
    EXPECT_FALSE(r.error.contains("0x")) << r.error.toStdString();
    // the error box was shown, and the output holds what was read before the failure
    ASSERT_FALSE(messages.Texts().isEmpty());
    EXPECT_TRUE(messages.Texts().first().startsWith(r.error));
    const ProbeResult out = Probe(r.output);
    ASSERT_TRUE(out.ok) << out.error.toStdString();
    EXPECT_GT(out.duration, 0.6);
    EXPECT_LT(out.duration, 1.6);
    QString decodeError;
    EXPECT_TRUE(DecodesCleanly(r.output, &decodeError)) << decodeError.toStdString();
}

TEST(ReadError, AFileThatEndsEarlyIsConvertedToWhereItEnds)
{
    MessageRecorder messages;
    const QString dir = TempDir();
    for (const QString& sample : {SampleTs(), SampleMkvSubs()}) {
        const QString name = "truncated." + sample.section('.', -1);
        SCOPED_TRACE(name.toStdString());
        QFile::remove(dir + "/" + name);
        ASSERT_TRUE(QFile::copy(sample, dir + "/" + name));
        QFile(dir + "/" + name).resize(QFile(sample).size() * 6 / 10);
        Outcome r;
        RunJob(dir + "/" + name, name + ".mkv", r);
        EXPECT_TRUE(r.error.isEmpty()) << r.error.toStdString();
        EXPECT_TRUE(r.ev.order.contains("complete"));
        const ProbeResult out = Probe(r.output);
        ASSERT_TRUE(out.ok);
        EXPECT_GT(out.duration, 0.5);
        EXPECT_LT(out.duration, 1.95); // less than the whole 2 s
    }
}
