#include "ConversionSettings.h"
#include "MediaFixtures.h"
#include "options/Messages.h"
#include "PropertyDocument.h"

#include <QDateTime>
#include <QDir>
#include <QDomDocument>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <gtest/gtest.h>

#include <clocale>
#include <memory>
#include <vector>

using namespace korvane;

// readable QString values in failure messages
inline void PrintTo(const QString& text, std::ostream* os)
{
    *os << '"' << text.toStdString() << '"';
}

// ---- classes covering the value kinds the options tree does not use

namespace pdtest {

class TItem : public TPersistent
{
    Q_OBJECT
    Q_PROPERTY(QString Name MEMBER m_name)
    Q_PROPERTY(int Level MEMBER m_level)
public:
    using TPersistent::TPersistent;
    QString m_name;
    int m_level = 0;
};

class TItems : public TPersistentCollection
{
    Q_OBJECT
public:
    using TPersistentCollection::TPersistentCollection;
    int Count() const override { return static_cast<int>(m_items.size()); }
    TPersistent* Item(int index) const override { return m_items[index].get(); }
    void Clear() override { m_items.clear(); }
    TPersistent* Add() override { return m_items.emplace_back(std::make_unique<TItem>()).get(); }
    std::vector<std::unique_ptr<TItem>> m_items;
};

class TKinds : public TPersistent
{
    Q_OBJECT
public:
    enum TStyle { fsBold = 1, fsItalic = 2, fsUnderline = 4 };
    Q_DECLARE_FLAGS(TStyles, TStyle)
    Q_FLAG(TStyles)
private:
    Q_PROPERTY(QChar Letter MEMBER m_letter)
    Q_PROPERTY(QDateTime Stamp MEMBER m_stamp)
    Q_PROPERTY(TStyles Styles READ Styles WRITE SetStyles)
    Q_PROPERTY(bool Visible MEMBER m_visible)
    Q_PROPERTY(pdtest::TItems* Items READ Items)
    Q_PROPERTY(QString Note MEMBER m_note)
public:
    using TPersistent::TPersistent;
    bool DeclaredDefault(const char* property, QVariant* value) const override
    {
        if (qstrcmp(property, "Visible") == 0) {
            *value = true;
            return true;
        }
        if (qstrcmp(property, "Styles") == 0) {
            *value = 0;
            return true;
        }
        if (qstrcmp(property, "Letter") == 0) {
            *value = QChar(u'A');
            return true;
        }
        return false;
    }
    TItems* Items() const { return m_items; }
    TStyles Styles() const { return m_styles; }
    void SetStyles(TStyles v) { m_styles = v; }

    QChar m_letter = u'A';
    QDateTime m_stamp;
    TStyles m_styles;
    bool m_visible = true;
    TItems* m_items = new TItems(this);
    QString m_note;
};

} // namespace pdtest

namespace {

// The child element names of the class element, in document order.
QStringList ChildNames(const QString& text, const QString& path = {})
{
    QDomDocument doc;
    EXPECT_TRUE(doc.setContent(text));
    QDomElement element = doc.documentElement().firstChildElement();
    for (const QString& step : path.split(QLatin1Char('/'), Qt::SkipEmptyParts))
        element = element.firstChildElement(step);
    QStringList names;
    for (QDomElement c = element.firstChildElement(); !c.isNull(); c = c.nextSiblingElement())
        names << c.tagName();
    return names;
}

QString ReadError(const QString& text, QObject* object)
{
    try {
        ReadPropertyDocument(text, object);
    } catch (const EPropertyDocumentError& e) {
        return QString::fromStdString(e.what());
    }
    return {};
}

QString Doc(const QString& classBody, const QString& rootAttrs = QStringLiteral(" PropFormat=\"node\""))
{
    return QStringLiteral("<data%1><TConversionSettings>%2</TConversionSettings></data>").arg(rootAttrs, classBody);
}

// Switches the Qt and C number locale to one with a decimal comma for one
// test. The C locale is built into a temporary folder when the system has
// none installed; when that is impossible only the Qt locale changes.
class CommaLocale
{
public:
    CommaLocale()
    {
        m_oldQt = QLocale();
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        m_oldC = std::setlocale(LC_NUMERIC, nullptr);
        if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8"))
            return;
        const QString dir = test::TempDir();
        if (QProcess::execute(QStringLiteral("localedef"),
                              {QStringLiteral("-i"), QStringLiteral("de_DE"), QStringLiteral("-f"),
                               QStringLiteral("UTF-8"), dir + QStringLiteral("/de_DE.UTF-8")}) == 0) {
            qputenv("LOCPATH", dir.toUtf8());
            m_setLocPath = true;
            std::setlocale(LC_NUMERIC, "de_DE.UTF-8");
        }
    }
    ~CommaLocale()
    {
        std::setlocale(LC_NUMERIC, m_oldC.c_str());
        if (m_setLocPath)
            qunsetenv("LOCPATH");
        QLocale::setDefault(m_oldQt);
    }
    static bool CommaInC()
    {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.1f", 1.5);
        return buf[1] == ',';
    }

private:
    QLocale m_oldQt;
    std::string m_oldC;
    bool m_setLocPath = false;
};

} // namespace

// ---- number format

TEST(PropertyFloat, FifteenSignificantDigitsWithPoint)
{
    EXPECT_EQ(FormatPropertyFloat(12.5), "12.5");
    EXPECT_EQ(FormatPropertyFloat(double(0.1f)), "0.100000001490116");
    EXPECT_EQ(FormatPropertyFloat(1.0 / 3), "0.333333333333333");
    EXPECT_EQ(FormatPropertyFloat(-99999.0), "-99999");
    EXPECT_EQ(FormatPropertyFloat(100.0), "100");
    EXPECT_EQ(FormatPropertyFloat(2.0 / 3), "0.666666666666667");
}

TEST(PropertyFloat, ScientificOutsidePlainRange)
{
    EXPECT_EQ(FormatPropertyFloat(1e20), "1E20");
    EXPECT_EQ(FormatPropertyFloat(1e-6), "1E-6");
    EXPECT_EQ(FormatPropertyFloat(-1.5e-7), "-1.5E-7");
    EXPECT_EQ(FormatPropertyFloat(0.00001), "0.00001");
    EXPECT_EQ(FormatPropertyFloat(123456789012345.0), "123456789012345");
    EXPECT_EQ(FormatPropertyFloat(1234567890123456.0), "1.23456789012346E15");
    EXPECT_EQ(FormatPropertyFloat(999999999999999.9), "1E15"); // rounding carries into a new digit
}

// ---- conversion settings as stored in the history

TEST(PropertyDocumentWrite, MinimalSettingsElementsAndOrder)
{
    TConversionSettings s;
    s.SetSourceFile(QStringLiteral("/m/in.avi"));
    s.SetTargetFile(QStringLiteral("/m/out.mp4"));
    s.SetProfile(QStringLiteral("iPod Video"));
    const QString text = WritePropertyDocument(&s);

    EXPECT_TRUE(text.startsWith(QStringLiteral("<data PropFormat=\"node\"><TConversionSettings>"))) << text.toStdString();
    EXPECT_FALSE(text.contains(QLatin1Char('\n')));
    EXPECT_FALSE(text.contains(QStringLiteral("<?xml")));
    EXPECT_EQ(ChildNames(text), (QStringList{"SourceFile", "SourceType", "DvdTitle", "DvdChapter", "DvdThrough",
                                             "DvdAngle", "TargetFile", "Profile", "CategoryId", "ConvertOptions"}));
    EXPECT_TRUE(text.contains(QStringLiteral("<SourceType>stFile</SourceType>")));
    EXPECT_TRUE(text.contains(QStringLiteral("<CategoryId>0</CategoryId>")));
}

TEST(PropertyDocumentWrite, DeclaredDefaultsAreOmitted)
{
    TConversionSettings s;
    QString text = WritePropertyDocument(&s);
    // ThreadCount 1, MaxFrames, IntraDcPrecision and the 25/1 frame rate equal their declared defaults
    EXPECT_FALSE(ChildNames(text, QStringLiteral("ConvertOptions")).contains(QStringLiteral("ThreadCount")));
    EXPECT_FALSE(ChildNames(text, QStringLiteral("ConvertOptions/AudioOptions")).contains(QStringLiteral("MaxFrames")));
    EXPECT_FALSE(ChildNames(text, QStringLiteral("ConvertOptions/VideoOptions")).contains(QStringLiteral("FrameRate")));
    // properties without a declared default are written even when 0
    EXPECT_TRUE(ChildNames(text, QStringLiteral("ConvertOptions/VideoOptions")).contains(QStringLiteral("MaxFrames")));
    EXPECT_TRUE(ChildNames(text, QStringLiteral("ConvertOptions/AudioOptions")).contains(QStringLiteral("AudioVolume")));

    s.ConvertOptions()->m_threadCount = 4;
    s.ConvertOptions()->VideoOptions()->FrameRate()->setDen(1001);
    text = WritePropertyDocument(&s);
    EXPECT_TRUE(text.contains(QStringLiteral("<ThreadCount>4</ThreadCount>")));
    EXPECT_TRUE(text.contains(QStringLiteral("<FrameRate><den>1001</den></FrameRate>"))) << text.toStdString();
}

TEST(PropertyDocumentRoundTrip, WholeOptionsTree)
{
    TConversionSettings s;
    s.SetSourceFile(QStringLiteral("stream:3"));
    s.SetSourceType(TConversionSettings::stDvd);
    s.SetDvdDriver(QStringLiteral("E"));
    s.SetDvdTitle(2);
    s.SetDvdChapter(1);
    s.SetDvdThrough(7);
    s.SetDvdAngle(1);
    s.SetDvdVolume(QStringLiteral("MY DISC"));
    s.SetTargetFile(QStringLiteral("/v/Ä ö & <x>.mp4"));
    s.SetCategoryId(12);
    s.SetDuration(5400.04);
    s.SetSourceFileSize(4700000000LL);
    TAVConvertOptions* o = s.ConvertOptions();
    o->AudioOptions()->SetAudioSampleFmt(TAudioOptions::sfS16);
    o->AudioOptions()->m_audioDriftThreshold = 0.1f;
    o->AudioOptions()->m_maxFrames = 500;
    o->VideoOptions()->m_videoQscale = 2.5f;
    o->VideoOptions()->m_frameAspectRatio = 16.0f / 9.0f;
    o->VideoOptions()->FrameRate()->setNum(30000);
    o->VideoOptions()->FrameRate()->setDen(1001);
    o->VideoOptions()->SetPass(2);
    o->VideoOptions()->m_forceKeyFrames = QStringList{"0", "10"};
    o->MuxerOptions()->m_videoBitstreamFilters = QStringList{"h264_mp4toannexb"};
    o->FilterOptions()->m_videoFilters = QStringLiteral("rotate=90,drawtext=#text=a:b");
    o->m_metaData = QStringList{"title=T", "", "artist=A"};
    o->SetCodecOption(QStringLiteral("g"), QStringLiteral("12"));
    o->m_startTime = 1500000;
    o->m_recordingTime = 60000000;
    o->m_threadCount = 0;

    const QString text = WritePropertyDocument(&s);
    TConversionSettings back;
    ReadPropertyDocument(text, &back);

    EXPECT_EQ(WritePropertyDocument(&back), text);
    EXPECT_EQ(back.SourceType(), TConversionSettings::stDvd);
    EXPECT_EQ(back.TargetFile(), s.TargetFile());
    EXPECT_EQ(back.SourceFileSize(), 4700000000LL);
    EXPECT_DOUBLE_EQ(back.Duration(), 5400.04);
    const TAVConvertOptions* b = back.ConvertOptions();
    EXPECT_EQ(b->AudioOptions()->AudioSampleFmt(), TAudioOptions::sfS16);
    EXPECT_EQ(b->AudioOptions()->m_audioDriftThreshold, 0.1f);
    EXPECT_EQ(b->AudioOptions()->m_maxFrames, 500);
    EXPECT_EQ(b->VideoOptions()->m_frameAspectRatio, 16.0f / 9.0f);
    EXPECT_EQ(b->VideoOptions()->FrameRate()->num(), 30000);
    EXPECT_EQ(b->VideoOptions()->Pass(), 2);
    EXPECT_EQ(b->m_metaData, o->m_metaData);
    EXPECT_EQ(b->m_codecOptions, QStringList{"g=12"});
    EXPECT_EQ(b->m_recordingTime, 60000000);
    EXPECT_EQ(b->m_threadCount, 0);
    EXPECT_EQ(b->FilterOptions()->m_videoFilters, o->FilterOptions()->m_videoFilters);
    EXPECT_TRUE(text.contains(QStringLiteral("<AudioDriftThreshold>0.100000001490116</AudioDriftThreshold>")));
}

TEST(PropertyDocumentRoundTrip, StringListWithEmptyMiddleLine)
{
    TAVConvertOptions o;
    o.m_metaData = QStringList{"a=1", "", "c=3"};
    const QString text = WritePropertyDocument(&o);
    EXPECT_TRUE(text.contains(QStringLiteral("<MetaData Count=\"3\"><l0>a=1</l0><l2>c=3</l2></MetaData>")))
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("<StreamMaps Count=\"0\"/>"))) << text.toStdString();

    TAVConvertOptions back;
    back.m_streamMaps = QStringList{"stale"};
    ReadPropertyDocument(text, &back);
    EXPECT_EQ(back.m_metaData, (QStringList{"a=1", "", "c=3"}));
    EXPECT_TRUE(back.m_streamMaps.isEmpty());
}

TEST(PropertyDocumentRoundTrip, PointUnderCommaLocale)
{
    CommaLocale comma;
    if (!CommaLocale::CommaInC())
        std::fprintf(stderr, "note: no comma-decimal C locale here; only the Qt locale is switched\n");
    EXPECT_EQ(QLocale().decimalPoint(), QStringLiteral(","));
    TConversionSettings s;
    s.SetDuration(12.5);
    const QString text = WritePropertyDocument(&s);
    EXPECT_TRUE(text.contains(QStringLiteral("<Duration>12.5</Duration>"))) << text.toStdString();
    TConversionSettings back;
    ReadPropertyDocument(text, &back);
    EXPECT_EQ(back.Duration(), 12.5);
}

TEST(PropertyDocumentRoundTrip, TextsKeepSpacesAndSurviveControlCharacters)
{
    TConversionSettings s;
    s.SetProfile(QStringLiteral("  "));
    s.SetDvdVolume(QStringLiteral(" a\r\nb\t "));
    s.SetTargetFile(QStringLiteral("/v/a") + QChar(1) + QStringLiteral("b.mp4"));
    for (int indent : {-1, 2}) {
        TConversionSettings back;
        ReadPropertyDocument(WritePropertyDocument(&s, indent), &back);
        EXPECT_EQ(back.Profile(), QStringLiteral("  "));
        EXPECT_EQ(back.DvdVolume(), s.DvdVolume());
        // XML cannot carry U+0001: it is replaced so the row stays readable
        EXPECT_EQ(back.TargetFile(), QStringLiteral("/v/a\uFFFDb.mp4"));
    }
}

TEST(PropertyDocumentRoundTrip, OtherValueKinds)
{
    pdtest::TKinds k;
    k.m_letter = u'Z';
    k.m_styles = pdtest::TKinds::TStyles(pdtest::TKinds::fsBold) | pdtest::TKinds::fsUnderline;
    k.m_visible = false;
    k.m_stamp = QDateTime(QDate(2011, 3, 4), QTime(5, 6, 7, 89));
    k.m_items->Add();
    static_cast<pdtest::TItem*>(k.m_items->Add())->m_name = QStringLiteral("second");
    const QString text = WritePropertyDocument(&k);
    EXPECT_TRUE(text.contains(QStringLiteral("<Styles>[fsBold,fsUnderline]</Styles>"))) << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("<Stamp>2011-03-04T05:06:07.089</Stamp>")));
    EXPECT_TRUE(text.contains(QStringLiteral("<Visible>0</Visible>")));
    EXPECT_TRUE(text.contains(QStringLiteral("<Items><o><Level>0</Level></o><o><Name>second</Name>")));

    pdtest::TKinds back;
    ReadPropertyDocument(text, &back);
    EXPECT_EQ(back.m_letter, QChar(u'Z'));
    EXPECT_EQ(back.m_styles, k.m_styles);
    EXPECT_FALSE(back.m_visible);
    EXPECT_EQ(back.m_stamp, k.m_stamp);
    ASSERT_EQ(back.m_items->Count(), 2);
    EXPECT_EQ(back.m_items->m_items[1]->m_name, QStringLiteral("second"));

    // date alone and time alone
    k.m_stamp = QDateTime(QDate(2011, 3, 4), QTime(0, 0));
    EXPECT_TRUE(WritePropertyDocument(&k).contains(QStringLiteral("<Stamp>2011-03-04</Stamp>")));
    k.m_stamp = QDateTime(QDate(1899, 12, 30), QTime(1, 2, 3));
    EXPECT_TRUE(WritePropertyDocument(&k).contains(QStringLiteral("<Stamp>01:02:03.000</Stamp>")));
    ReadPropertyDocument(WritePropertyDocument(&k), &back);
    EXPECT_EQ(back.m_stamp, k.m_stamp);
}

TEST(PropertyDocumentWrite, EmptyObjectsAndDefaultsLeaveNoElement)
{
    pdtest::TKinds k;
    const QString text = WritePropertyDocument(&k);
    // every value equals its default or is empty, and the collection has no item
    EXPECT_EQ(text, QStringLiteral("<data PropFormat=\"node\"/>"));
}

// ---- reading

TEST(PropertyDocumentRead, NamesMatchWithoutCase)
{
    TConversionSettings s;
    ReadPropertyDocument(QStringLiteral("<DATA propformat=\"NODE\"><tconversionsettings><sourcefile>/a.avi</sourcefile>"
                                        "<SOURCETYPE>STDVD</SOURCETYPE><convertoptions><metadata count=\"1\"><L0>x=1"
                                        "</L0></metadata></convertoptions></tconversionsettings></DATA>"),
                         &s);
    EXPECT_EQ(s.SourceFile(), QStringLiteral("/a.avi"));
    EXPECT_EQ(s.SourceType(), TConversionSettings::stDvd);
    EXPECT_EQ(s.ConvertOptions()->m_metaData, QStringList{"x=1"});
}

TEST(PropertyDocumentRead, PropFormatAutoRefusedMissingMeansNode)
{
    TConversionSettings s;
    EXPECT_EQ(ReadError(Doc(QStringLiteral("<Profile>p</Profile>"), QStringLiteral(" PropFormat=\"Auto\"")), &s),
              QStringLiteral("Auto PropFormat not allowed here."));
    EXPECT_TRUE(s.Profile().isEmpty());
    ReadPropertyDocument(Doc(QStringLiteral("<Profile>p</Profile>"), QString()), &s);
    EXPECT_EQ(s.Profile(), QStringLiteral("p"));
}

TEST(PropertyDocumentRead, AttrLayout)
{
    pdtest::TKinds k;
    k.m_note = QStringLiteral("n \"q\"");
    k.m_visible = false;
    TAVConvertOptions o;
    o.m_metaData = QStringList{"", "b=2"};
    o.AudioOptions()->m_audioVolume = 512;
    // the attr form read into a fresh object gives the same node form
    auto roundTrip = [](const QObject* object, QObject* fresh) {
        const QString text = WritePropertyDocument(object, -1, TPropFormat::pfAttr);
        EXPECT_TRUE(text.startsWith(QStringLiteral("<data PropFormat=\"attr\">"))) << text.toStdString();
        ReadPropertyDocument(text, fresh);
        EXPECT_EQ(WritePropertyDocument(fresh), WritePropertyDocument(object));
    };
    pdtest::TKinds freshKinds;
    roundTrip(&k, &freshKinds);
    TAVConvertOptions freshOptions;
    roundTrip(&o, &freshOptions);
    TConversionSettings s;
    ReadPropertyDocument(QStringLiteral("<data PropFormat=\"attr\"><TConversionSettings SourceFile=\"/x\" "
                                        "DvdTitle=\"4\"><ConvertOptions><MetaData Count=\"2\" l1=\"t=1\"/>"
                                        "</ConvertOptions></TConversionSettings></data>"),
                         &s);
    EXPECT_EQ(s.SourceFile(), QStringLiteral("/x"));
    EXPECT_EQ(s.DvdTitle(), 4);
    EXPECT_EQ(s.ConvertOptions()->m_metaData, (QStringList{"", "t=1"}));
}

TEST(PropertyDocumentRead, MissingElements)
{
    TConversionSettings s;
    s.SetSourceFileSize(777);
    s.SetProfile(QStringLiteral("old"));
    s.SetDuration(3);
    s.SetDvdTitle(9);
    s.ConvertOptions()->m_threadCount = 6;
    s.ConvertOptions()->VideoOptions()->FrameRate()->setNum(30);
    ReadPropertyDocument(Doc(QStringLiteral("<SourceFile>/a</SourceFile><ConvertOptions/>")), &s);
    EXPECT_EQ(s.SourceFileSize(), 777);                          // 64-bit: keeps its value
    EXPECT_TRUE(s.Profile().isEmpty());                          // text: empty
    EXPECT_EQ(s.Duration(), 0.0);                                // floating point: 0
    EXPECT_EQ(s.DvdTitle(), 9);                                  // no declared default: kept
    EXPECT_EQ(s.ConvertOptions()->m_threadCount, 1);             // declared default
    EXPECT_EQ(s.ConvertOptions()->VideoOptions()->FrameRate()->num(), 25);

    // no element of the class at all: nothing changes
    ReadPropertyDocument(QStringLiteral("<data><TAVConfiguration/></data>"), &s);
    EXPECT_EQ(s.SourceFile(), QStringLiteral("/a"));
}

TEST(PropertyDocumentRead, BadValuesRaiseTheirMessages)
{
    TConversionSettings s;
    EXPECT_EQ(ReadError(Doc(QStringLiteral("<SourceFile>/a</SourceFile><DvdTitle>x1</DvdTitle>")), &s),
              QStringLiteral("Invalid integer value (x1)."));
    EXPECT_EQ(s.SourceFile(), QStringLiteral("/a")); // read before the failure: stays set
    EXPECT_EQ(ReadError(Doc(QStringLiteral("<SourceFileSize>1.5</SourceFileSize>")), &s),
              QStringLiteral("Invalid int64 value (1.5)."));
    EXPECT_EQ(ReadError(Doc(QStringLiteral("<SourceType>stTape</SourceType>")), &s),
              QStringLiteral("Invalid enumeration value (stTape)."));
    EXPECT_EQ(ReadError(Doc(QStringLiteral("<ConvertOptions><AudioOptions><AudioDisable>yes</AudioDisable>"
                                           "</AudioOptions></ConvertOptions>")),
                        &s),
              QStringLiteral("Invalid boolean value (yes)."));
    EXPECT_EQ(ReadError(Doc(QStringLiteral("<Duration>1,5</Duration>")), &s), QString());
    EXPECT_EQ(s.Duration(), 0.0);

    pdtest::TKinds k;
    EXPECT_EQ(ReadError(QStringLiteral("<data><TKinds><Stamp>yesterday</Stamp></TKinds></data>"), &k),
              QStringLiteral("Error in datetime property Stamp"));
    EXPECT_EQ(ReadError(QStringLiteral("<data><TKinds><Styles>[fsBold,fsWide]</Styles></TKinds></data>"), &k),
              QStringLiteral("Invalid set value ([fsBold,fsWide])."));
}

TEST(PropertyDocumentRead, MalformedTextIsRefused)
{
    TConversionSettings s;
    EXPECT_TRUE(ReadError(QStringLiteral("<data><TConversionSettings>"), &s).startsWith(
        QStringLiteral("Invalid property document: ")));
    EXPECT_TRUE(ReadError(QString(), &s).startsWith(QStringLiteral("Invalid property document")));
    EXPECT_TRUE(ReadError(Doc(QStringLiteral("<SourceFile>&#x1;</SourceFile>")), &s).startsWith(
        QStringLiteral("Invalid property document")));
}

TEST(PropertyDocumentRead, HostileListCountIsRefused)
{
    TAVConvertOptions o;
    const QString text = QStringLiteral("<data><TAVConvertOptions><MetaData Count=\"2000000000\"><l1999999999>x"
                                        "</l1999999999></MetaData></TAVConvertOptions></data>");
    try {
        ReadPropertyDocument(text, &o);
        FAIL() << "accepted";
    } catch (const EPropertyDocumentError& e) {
        EXPECT_STREQ(e.what(), "Invalid line count (2000000000) of list MetaData.");
    }
    ReadPropertyDocument(QStringLiteral("<data><TAVConvertOptions><MetaData Count=\"1\"><l0>a</l0><l5>b</l5>"
                                        "</MetaData></TAVConvertOptions></data>"),
                         &o);
    EXPECT_EQ(o.m_metaData, QStringList{"a"}); // lines beyond the count are ignored
}

TEST(PropertyDocumentRead, SetterValidationStillApplies)
{
    std::vector<QString> errors;
    auto old = MessageService::Install([&](MessageKind, const QString&, const QString& text) {
        errors.push_back(text);
        return true;
    });
    TAVConvertOptions o;
    ReadPropertyDocument(QStringLiteral("<data><TAVConvertOptions><VideoOptions><Pass>7</Pass><IntraMatrix "
                                        "Count=\"2\"><l0>1</l0><l1>2</l1></IntraMatrix></VideoOptions>"
                                        "</TAVConvertOptions></data>"),
                         &o);
    MessageService::Install(old);
    EXPECT_EQ(o.VideoOptions()->Pass(), 0);
    EXPECT_TRUE(o.VideoOptions()->IntraMatrix().isEmpty());
    EXPECT_EQ(errors, (std::vector<QString>{"matrix element count should be equal 64",
                                            "pass number can be only 0, 1 or 2"}));
}

// ---- the settings object itself

TEST(ConversionSettings, AssignAndSetConvertOptionsCopy)
{
    TConversionSettings a;
    a.SetSourceFile(QStringLiteral("/a.avi"));
    a.SetSourceType(TConversionSettings::stDvd);
    a.SetSourceFileSize(5);
    a.ConvertOptions()->m_outputFormat = QStringLiteral("mp4");
    TConversionSettings b;
    TAVConvertOptions* owned = b.ConvertOptions();
    b.Assign(&a);
    EXPECT_EQ(b.SourceFile(), QStringLiteral("/a.avi"));
    EXPECT_EQ(b.SourceType(), TConversionSettings::stDvd);
    EXPECT_EQ(b.SourceFileSize(), 5);
    EXPECT_EQ(b.ConvertOptions(), owned); // the owned tree is filled, not replaced
    EXPECT_EQ(owned->m_outputFormat, QStringLiteral("mp4"));
    a.ConvertOptions()->m_outputFormat = QStringLiteral("avi");
    EXPECT_EQ(owned->m_outputFormat, QStringLiteral("mp4"));
    TAVConvertOptions other;
    EXPECT_THROW(b.Assign(&other), EEngineError);
}

// ---- files

TEST(PropertyDocumentFile, IndentedUtf8RoundTrip)
{
    const QString path = test::TempDir() + QStringLiteral("/s.xml");
    TConversionSettings s;
    s.SetTargetFile(QStringLiteral("/v/Ünïcode.mp4"));
    SavePropertyDocumentFile(&s, path);
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QByteArray bytes = f.readAll();
    EXPECT_TRUE(bytes.startsWith("<data PropFormat=\"node\">\n  <TConversionSettings>\n"));
    EXPECT_TRUE(bytes.contains(QStringLiteral("Ünïcode").toUtf8()));
    TConversionSettings back;
    LoadPropertyDocumentFile(path, &back);
    EXPECT_EQ(back.TargetFile(), s.TargetFile());
}

TEST(PropertyDocumentFile, ErrorsNameTheFile)
{
    const QString dir = test::TempDir();
    TConversionSettings s;
    try {
        SavePropertyDocumentFile(&s, dir + QStringLiteral("/missing/s.xml"));
        FAIL() << "saved into a missing folder";
    } catch (const EPropertyDocumentError& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(dir + QStringLiteral("/missing/s.xml"))) << e.what();
    }
    const QString bad = dir + QStringLiteral("/bad.xml");
    QFile f(bad);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("<data><TConversionSettings><SourceFile>");
    f.close();
    try {
        LoadPropertyDocumentFile(bad, &s);
        FAIL() << "loaded a truncated file";
    } catch (const EPropertyDocumentError& e) {
        EXPECT_TRUE(QString::fromUtf8(e.what()).contains(bad)) << e.what();
    }
}

#include "PropertyDocumentTest.moc"
