#include "TaskWorld.h"

#include "PropertyDocument.h"
#include "SettingsSummary.h"

#include <QMetaProperty>

using namespace korvane;
using namespace korvane::test;

namespace {

// Every simple property of a against b.
void ExpectSameFields(const TConversionSettings& a, const TConversionSettings& b, const QString& what)
{
    const QMetaObject& meta = TConversionSettings::staticMetaObject;
    for (int i = meta.propertyOffset(); i < meta.propertyCount(); ++i) {
        const QMetaProperty p = meta.property(i);
        if (QLatin1String(p.name()) == QLatin1String("ConvertOptions"))
            continue;
        EXPECT_EQ(p.read(&a), p.read(&b)) << what.toStdString() << ": " << p.name();
    }
}

std::unique_ptr<TConversionSettings> Sample()
{
    auto s = std::make_unique<TConversionSettings>();
    s->SetSourceFile("/m/a & b <c> \"d\" 'e' \u00e9\u00fc \u6f22 \u2014 x.mkv");
    s->SetSourceType(TConversionSettings::stDvd);
    s->SetDvdDriver("/dev/sr0");
    s->SetDvdTitle(7);
    s->SetDvdChapter(2);
    s->SetDvdThrough(5);
    s->SetDvdAngle(1);
    s->SetDvdVolume("  SPACED  ");
    s->SetTargetFile("/out/t\tab.mp4");
    s->SetProfile("iPod & <Zune>");
    s->SetCategoryId(42);
    s->SetDuration(12.5);
    s->SetSourceFileSize(9000000000LL);
    s->ConvertOptions()->VideoOptions()->setProperty("EncoderVideoCodecName", "libx264");
    s->ConvertOptions()->SetCodecOption("coder", "1");
    return s;
}

} // namespace

TEST(SettingsSummary, ReadsTheSimpleFieldsAsTheFullReadDoes)
{
    const auto original = Sample();
    const QString doc = WritePropertyDocument(original.get());
    QString lower = doc;
    for (const char* name : {"SourceFile", "TargetFile", "DvdTitle", "SourceType", "TConversionSettings", "ConvertOptions"})
        lower.replace(QString(">") .prepend(QString("<") + name), QString("<%1>").arg(QString(name).toLower()))
            .replace(QString("</%1>").arg(name), QString("</%1>").arg(QString(name).toLower()));
    TConversionSettings plain;
    plain.SetSourceFile("plain.avi");
    const QStringList docs = {doc, lower, WritePropertyDocument(original.get(), 2),
                              "<?xml version=\"1.0\"?>" + doc, WritePropertyDocument(&plain)};
    for (const QString& d : docs) {
        TConversionSettings full, summary;
        ReadPropertyDocument(d, &full);
        ASSERT_TRUE(ReadSettingsSummary(d, &summary)) << d.left(300).toStdString();
        ExpectSameFields(full, summary, d.left(80));
    }

    // what the quick read leaves to the full one
    TConversionSettings s;
    EXPECT_FALSE(ReadSettingsSummary(QString(doc).replace("PropFormat=\"node\"", "PropFormat=\"attr\""), &s));
    EXPECT_FALSE(ReadSettingsSummary(QString(doc).replace("PropFormat=\"node\"", "PropFormat=\"auto\""), &s));
    EXPECT_FALSE(ReadSettingsSummary(QString(doc).replace("<DvdTitle>7<", "<DvdTitle>seven<"), &s));
    EXPECT_FALSE(ReadSettingsSummary(QString(doc).replace("<SourceType>stDvd<", "<SourceType>stTape<"), &s));
    EXPECT_FALSE(ReadSettingsSummary("not a document", &s));
    EXPECT_FALSE(ReadSettingsSummary(QString(doc).replace("<Profile>", "<!-- c --><Profile>"), &s));
}

// A task listed from the history reads its options only when it needs them;
// options that fail then leave the error in its log.
TEST(SettingsSummary, TaskReadsItsOptionsOnDemand)
{
    TaskWorld w;
    const auto original = Sample();
    TConversionRow row;
    row.ID = 5;
    row.Converting = false;
    row.ConvertSettings = WritePropertyDocument(original.get());
    row.LogText = "one\r\ntwo\r\n";
    auto task = TaskFromRow(row, &w.env);
    task->SetIsConverted(true);
    EXPECT_EQ(task->GetCaption(2), "t\tab.mp4");
    EXPECT_EQ(task->GetCaption(4), "iPod & <Zune>");
    EXPECT_EQ(task->Log(), QStringList({"one", "two"}));
    EXPECT_EQ(task->Settings()->ConvertOptions()->VideoOptions()->property("EncoderVideoCodecName").toString(),
              "libx264");
    EXPECT_EQ(task->Settings()->ConvertOptions()->m_codecOptions, QStringList{"coder=1"});

    row.ConvertSettings.replace("<EncoderVideoCodecName>", "<Bitrate>many</Bitrate><EncoderVideoCodecName>");
    auto damaged = TaskFromRow(row, &w.env);
    damaged->SetIsConverted(true);
    EXPECT_EQ(damaged->GetCaption(2), "t\tab.mp4");
    EXPECT_EQ(damaged->Log().size(), 2);
    damaged->Settings();
    ASSERT_EQ(damaged->Log().size(), 3);
    EXPECT_TRUE(damaged->Log().last().startsWith("The stored settings of this task cannot be read: Invalid integer"))
        << damaged->Log().last().toStdString();
    // such a task is never run with what was left of its settings
    damaged->Start();
    EXPECT_EQ(damaged->Status(), TAVTask::stError);
    EXPECT_EQ(damaged->Converter(), nullptr);
    EXPECT_EQ(damaged->Log(), QStringList{damaged->Log().last()});
}
