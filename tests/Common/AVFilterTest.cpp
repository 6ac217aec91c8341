// The filter settings objects: the exact description text each kind writes,
// the colour conversion, streaming by property name, and Setup/Edit through
// the installed editor.
#include "AVFilter.h"
#include "PropertyDocument.h"
#include "filters/FilterDescription.h"

#include <gtest/gtest.h>

using namespace korvane;

namespace {

std::string S(const QString& text)
{
    return text.toStdString();
}

TColor Named(const char* name)
{
    TColor color = -1;
    EXPECT_TRUE(ColorFromName(QString::fromLatin1(name), &color)) << name;
    return color;
}

// Restores "no editor" after a test that installs one.
struct EditorGuard
{
    ~EditorGuard() { TAVFilter::SetEditor({}); }
};

} // namespace

TEST(AVFilter, StandardFilterElementsKeepTheirOrderWhateverIsChecked)
{
    TVideoStdFilter f;
    EXPECT_EQ(S(f.GetFilterText()), "");
    EXPECT_EQ(S(f.GetFilterName()), "Standar Filters");

    f.SetRotate(true);
    f.SetDegree(45);
    EXPECT_EQ(S(f.GetFilterText()), "rotate=45");

    // checked in the reverse order, written in the fixed one
    f.SetDegree(90);
    f.SetNegate(true);
    f.SetDrawBox(true);
    f.SetBX(10);
    f.SetBY(20);
    f.SetBWidth(100);
    f.SetBHeight(50);
    f.SetBColor("Red");
    f.SetHorizontalFilip(true);
    f.SetVerticalFilp(true);
    EXPECT_EQ(S(f.GetFilterText()), "vflip,hflip,drawbox=10:20:100:50:Red,negate,rotate=90");

    f.SetHorizontalFilip(false);
    f.SetNegate(false);
    EXPECT_EQ(S(f.GetFilterText()), "vflip,drawbox=10:20:100:50:Red,rotate=90");

    // no colour chosen: the element ends with an empty colour, and negative
    // numbers are written as they are
    TVideoStdFilter box;
    box.SetDrawBox(true);
    box.SetBX(-5);
    EXPECT_EQ(S(box.GetFilterText()), "drawbox=-5:0:0:0:");
}

TEST(AVFilter, LogoDoublesBackslashesAndKeepsBlanks)
{
    TLogoFilter f;
    EXPECT_EQ(S(f.GetFilterName()), "Logo Filter");
    f.SetLogoFile(R"(C:\logos\a.png)");
    f.SetX(10);
    f.SetY(20);
    EXPECT_EQ(S(f.GetFilterText()), R"(movie=0:png:C:\\logos\\a.png [wm];[in][wm] overlay=10:20:1 [out])");
    f.SetLogoFile("/home/me/my logos/a,b.png");
    f.SetX(-3);
    EXPECT_EQ(S(f.GetFilterText()), "movie=0:png:/home/me/my logos/a,b.png [wm];[in][wm] overlay=-3:20:1 [out]");
}

TEST(AVFilter, OverlayTextTurnsLineBreaksIntoBackslashN)
{
    TOverlayTextFilter f;
    EXPECT_EQ(S(f.GetFilterName()), "Overlay Text Filter");
    f.SetText("A\r\nB\r\n");
    f.SetFontFile(R"(C:\fonts\arial.ttf)");
    f.SetX(5);
    f.SetY(7);
    f.SetFontSize(16);
    f.SetFontColor(Named("Yellow"));
    f.SetBgColor(Named("Blue"));
    EXPECT_EQ(S(f.GetFilterText()), R"(drawtext=fontfile=\'C:\\fonts\\arial.ttf\'#text='A\nB\n'#x=5#y=7#fontsize=16)"
                                    R"(#fgcolor=0xFFFF00FF#bgcolor=0x0000FF00)");

    // nothing else is escaped; "%1" in the text is not a placeholder; a bare
    // line feed is a line break too
    f.SetText("50% 'off' %1\nnow");
    f.SetFontFile("/usr/share/fonts/a b.ttf");
    f.SetFontColor(Named("Black"));
    f.SetBgColor(0x123456); // any platform colour, not only the named ones
    EXPECT_EQ(S(f.GetFilterText()), R"(drawtext=fontfile=\'/usr/share/fonts/a b.ttf\'#text='50% 'off' %1\nnow')"
                                    R"(#x=5#y=7#fontsize=16#fgcolor=0x000000FF#bgcolor=0x56341200)");
}

TEST(AVFilter, SubtitleColourHasNoLeadingZerosAndCodePageIsOptional)
{
    TSubtitleFilter f;
    EXPECT_EQ(S(f.GetFilterName()), "Hard Subtitle Filter");
    f.SetSubtitleFile(R"(C:\subs\a.srt)");
    f.SetFontFile(R"(C:\fonts\b.ttf)");
    f.SetFontColor(Named("Yellow"));
    EXPECT_EQ(S(f.GetFilterText()), R"(ass=filename$C:\\subs\\a.srt#font$C:\\fonts\\b.ttf#color$0xFFFF0000)");
    f.SetCodePage("cp1251");
    EXPECT_EQ(S(f.GetFilterText()), R"(ass=filename$C:\\subs\\a.srt#font$C:\\fonts\\b.ttf#color$0xFFFF0000#codepage$cp1251)");
    f.SetFontColor(Named("Blue"));
    f.SetCodePage("");
    EXPECT_TRUE(f.GetFilterText().endsWith("#color$0xFF00"));
    f.SetFontColor(Named("Black"));
    EXPECT_TRUE(f.GetFilterText().endsWith("#color$0x000"));
    f.SetFontColor(Named("Teal")); // 0x808000 -> 0x008080
    EXPECT_TRUE(f.GetFilterText().endsWith("#color$0x808000"));
}

TEST(AVFilter, SixteenStandardColoursAndTheirConversion)
{
    struct
    {
        const char* name;
        quint32 rgb;
    } expected[] = {
        {"Black", 0x000000},  {"Maroon", 0x800000}, {"Green", 0x008000}, {"Olive", 0x808000},
        {"Navy", 0x000080},   {"Purple", 0x800080}, {"Teal", 0x008080},  {"Gray", 0x808080},
        {"Silver", 0xC0C0C0}, {"Red", 0xFF0000},    {"Lime", 0x00FF00},  {"Yellow", 0xFFFF00},
        {"Blue", 0x0000FF},   {"Fuchsia", 0xFF00FF}, {"Aqua", 0x00FFFF}, {"White", 0xFFFFFF},
    };
    ASSERT_EQ(StandardColors().size(), 16);
    for (int i = 0; i < 16; ++i) {
        SCOPED_TRACE(expected[i].name);
        EXPECT_STREQ(StandardColors()[i].name, expected[i].name);
        EXPECT_EQ(ColorToRgb(StandardColors()[i].color), expected[i].rgb);
        EXPECT_EQ(S(ColorName(StandardColors()[i].color)), expected[i].name);
    }
    TColor c = 0;
    EXPECT_TRUE(ColorFromName("fUCHSIA", &c));
    EXPECT_EQ(c, 0xFF00FF);
    EXPECT_FALSE(ColorFromName("Orange", &c));
    EXPECT_EQ(S(ColorName(0x123456)), "");
    EXPECT_EQ(ColorToRgb(int(0xAB123456)), 0x563412u); // the top byte is dropped
}

TEST(AVFilter, CodePageSuggestions)
{
    const QStringList& pages = TSubtitleFilter::CodePages();
    ASSERT_EQ(pages.size(), 67);
    EXPECT_EQ(S(pages.first()), "ISO-2022-JP");
    EXPECT_EQ(S(pages[3]), "ISO-8859-1");
    EXPECT_EQ(S(pages[12]), "ISO-8859-10");
    EXPECT_EQ(S(pages[13]), "ISO-8859-13");
    EXPECT_EQ(S(pages[20]), "cp1250");
    EXPECT_EQ(S(pages[53]), "UTF-8");
    EXPECT_EQ(S(pages.last()), "UTF-7");
    QStringList unique = pages;
    EXPECT_EQ(unique.removeDuplicates(), 0);
}

TEST(AVFilter, JoinedListAndEngineTranslation)
{
    TVideoStdFilter flip;
    flip.SetHorizontalFilip(true);
    TLogoFilter logo;
    logo.SetLogoFile("/tmp/my logo.png");
    logo.SetX(4);
    EXPECT_EQ(S(JoinFilterTexts({})), "");
    const QString text = JoinFilterTexts({&flip, &logo});
    EXPECT_EQ(S(text), "hflip,movie=0:png:/tmp/my logo.png [wm];[in][wm] overlay=4:0:1 [out]");

    // every kind's text is one the engine can build a graph from
    TOverlayTextFilter overlay;
    overlay.SetText("Hi, there\r\n");
    overlay.SetFontFile("/f/a.ttf");
    overlay.SetFontSize(16);
    TSubtitleFilter subtitles;
    subtitles.SetSubtitleFile("/s/a b.srt");
    subtitles.SetCodePage("cp1251");
    TVideoStdFilter all;
    all.SetVerticalFilp(true);
    all.SetDrawBox(true);
    all.SetBColor("Navy");
    all.SetRotate(true);
    all.SetDegree(45);
    const QString joined = JoinFilterTexts({&all, &overlay, &subtitles, &logo});
    const QString graph = BuildFilterGraphText(joined, {320, 240, 0});
    EXPECT_TRUE(graph.contains("vflip")) << S(graph);
    EXPECT_TRUE(graph.contains("drawtext")) << S(graph);
    EXPECT_TRUE(graph.contains("subtitles")) << S(graph);
    EXPECT_TRUE(graph.contains("overlay")) << S(graph);
}

TEST(AVFilter, CopiedAndStreamedByPublishedName)
{
    for (auto kind : {TAVFilter::fkStandard, TAVFilter::fkLogo, TAVFilter::fkOverlayText, TAVFilter::fkSubtitle}) {
        std::unique_ptr<TAVFilter> f = TAVFilter::Create(kind);
        ASSERT_TRUE(f);
        EXPECT_EQ(f->Kind(), kind);
        EXPECT_FALSE(f->GetFilterName().isEmpty());
    }

    TVideoStdFilter a;
    a.SetVerticalFilp(true);
    a.SetDrawBox(true);
    a.SetBColor("Olive");
    a.SetBHeight(12);
    TVideoStdFilter b;
    b.Assign(&a);
    EXPECT_EQ(S(b.GetFilterText()), S(a.GetFilterText()));
    TLogoFilter other;
    EXPECT_THROW(other.Assign(&a), EEngineError);

    const QString doc = WritePropertyDocument(&a);
    EXPECT_TRUE(doc.contains("<VerticalFilp>")) << S(doc);
    TVideoStdFilter c;
    ReadPropertyDocument(doc, &c);
    EXPECT_EQ(S(c.GetFilterText()), "vflip,drawbox=0:0:0:12:Olive");

    TOverlayTextFilter t;
    t.SetText("two\r\nlines\r\n");
    t.SetFontColor(Named("Yellow"));
    TOverlayTextFilter u;
    ReadPropertyDocument(WritePropertyDocument(&t), &u);
    EXPECT_EQ(S(u.GetFilterText()), S(t.GetFilterText()));
}

TEST(AVFilter, SetupAndEditGoThroughTheInstalledEditor)
{
    EditorGuard guard;
    TAVFilter::SetEditor({});
    TLogoFilter logo;
    EXPECT_FALSE(TAVFilter::HasEditor());
    EXPECT_FALSE(logo.Setup());
    EXPECT_FALSE(logo.Edit());

    QList<bool> calls;
    TAVFilter::SetEditor([&](TAVFilter& f, bool isNew) {
        calls << isNew;
        if (!isNew)
            return false; // cancelled
        static_cast<TLogoFilter&>(f).SetX(33);
        return true;
    });
    EXPECT_TRUE(logo.Setup());
    EXPECT_EQ(logo.X(), 33);
    EXPECT_FALSE(logo.Edit());
    EXPECT_EQ(calls, (QList<bool>{true, false}));
}
