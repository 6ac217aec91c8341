// The subtitle filter dialog: defaults, code page suggestions and free text,
// the OK rule on both files, and subtitles burnt in the chosen colour and
// code page as the ffmpeg tool's own subtitles filter burns them.
#include "FilterDialogSupport.h"
#include "FilterDialogs.h"
#include "FilterWidgets.h"
#include "FontFiles.h"
#include "filters/FontFamily.h"
#include "FormSubtitleFilter.h"

#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QPushButton>

using namespace korvane;
using namespace korvane::test;

namespace {

QString WriteFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
    return path;
}

QByteArray Srt(const QByteArray& text)
{
    return "1\r\n00:00:00,000 --> 00:00:01,000\r\n" + text + "\r\n\r\n";
}

} // namespace

TEST(FilterDialogSubtitle, DefaultsCodePagesAndTheOkRule)
{
    const QString dir = TempDir();
    const QString srt = WriteFile(dir + "/a.srt", Srt("Hi"));
    const QString font = MatchFontFile("DejaVu Sans");
    TFormSubtitleFilter form;
    form.show();
    EXPECT_EQ(S(form.windowTitle()), "Subtitle Filter");
    EXPECT_EQ(S(form.FontColor()->ColorName()), "Yellow");
    EXPECT_EQ(S(form.CodePage()->currentText()), "");
    ASSERT_EQ(form.CodePage()->count(), 67);
    EXPECT_EQ(S(form.CodePage()->itemText(0)), "ISO-2022-JP");
    EXPECT_EQ(S(form.CodePage()->itemText(66)), "UTF-7");
    EXPECT_TRUE(form.CodePage()->isEditable());

    EXPECT_FALSE(form.OkButton()->isEnabled());
    form.File()->SetPath(srt);
    EXPECT_FALSE(form.OkButton()->isEnabled()) << "no font";
    form.FontFile()->SetPath(font);
    EXPECT_TRUE(form.OkButton()->isEnabled());
    form.File()->SetPath(dir + "/gone.srt");
    EXPECT_FALSE(form.OkButton()->isEnabled()) << "missing subtitles";
    form.File()->SetPath(srt);

    // a suggestion, or free text trimmed
    TSubtitleFilter filter;
    form.CodePage()->setCurrentIndex(form.CodePage()->findText("cp1251"));
    form.SaveTo(filter);
    EXPECT_TRUE(filter.GetFilterText().endsWith("#color$0xFFFF0000#codepage$cp1251")) << S(filter.GetFilterText());
    form.CodePage()->setEditText("  latin1 ");
    form.SaveTo(filter);
    EXPECT_EQ(S(filter.CodePage()), "latin1");
    form.CodePage()->setEditText("   ");
    form.SaveTo(filter);
    EXPECT_FALSE(filter.GetFilterText().contains("#codepage$"));
}

TEST(FilterDialogSubtitle, EditLoadsEveryValue)
{
    InstallFilterDialogs();
    const QString dir = TempDir();
    TSubtitleFilter filter;
    filter.SetSubtitleFile(WriteFile(dir + "/b.ass", Srt("x")));
    filter.SetFontFile(MatchFontFile("DejaVu Sans"));
    filter.SetCodePage("my-page");
    TColor red = 0;
    ASSERT_TRUE(ColorFromName("Red", &red));
    filter.SetFontColor(red);
    const QString before = filter.GetFilterText();
    AnswerNextDialog([](QDialog* d) {
        auto* form = qobject_cast<TFormSubtitleFilter*>(d);
        ASSERT_TRUE(form);
        EXPECT_EQ(S(form->CodePage()->currentText()), "my-page");
        EXPECT_EQ(S(form->FontColor()->ColorName()), "Red");
        EXPECT_TRUE(form->OkButton()->isEnabled());
        form->OkButton()->click();
    });
    ASSERT_TRUE(filter.Edit());
    EXPECT_EQ(S(filter.GetFilterText()), S(before));
}

TEST(FilterDialogSubtitle, SubtitlesAreBurntInTheChosenColourAndCodePage)
{
    const QString dir = TempDir();
    const QString font = MatchFontFile("DejaVu Sans:style=Book");
    ASSERT_TRUE(font.endsWith("DejaVuSans.ttf")) << S(font);
    // the same Cyrillic line in cp1251 for the engine and in UTF-8 for the tool
    const QByteArray utf8 = QStringLiteral("Привет мир").toUtf8();
    const QByteArray cp1251("\xCF\xF0\xE8\xE2\xE5\xF2 \xEC\xE8\xF0");
    const QString ourSrt = WriteFile(dir + "/cyrillic 1251.srt", Srt(cp1251));
    const QString toolSrt = WriteFile(dir + "/utf8.srt", Srt(utf8));

    TFormSubtitleFilter form;
    form.File()->SetPath(ourSrt);
    form.FontFile()->SetPath(font);
    form.FontColor()->SetColorName("Lime");
    form.CodePage()->setEditText("cp1251");
    ASSERT_TRUE(form.OkButton()->isEnabled());
    TSubtitleFilter filter;
    form.SaveTo(filter);

    const QString ours = dir + "/subs.mkv", theirs = dir + "/tool.mkv";
    ASSERT_EQ(S(ConvertWithFilters(filter.GetFilterText(), ours)), "");
    ASSERT_EQ(S(ToolConvert(QStringLiteral("subtitles=filename=%1:fontsdir=%2:force_style='FontName=DejaVu Sans,"
                                           "PrimaryColour=&H0000FF00'")
                                .arg(toolSrt, QFileInfo(font).absolutePath()),
                            theirs)),
              "");
    EXPECT_GT(Psnr(theirs, ours), 50) << "subtitles differ from the tool's";
    EXPECT_LT(Psnr(FilterSource(), ours), 60) << "no subtitles were burnt";

    // green glyphs in the lower part of the picture
    const QImage picture = FirstPicture(ours), source = FirstPicture(FilterSource());
    ASSERT_FALSE(picture.isNull());
    const QRect bottom(0, 160, 320, 80);
    // small glyphs blend with their dark outline: green clearly above red and blue
    auto greenish = [](QRgb p) { return qGreen(p) > 110 && qGreen(p) - qRed(p) > 60 && qGreen(p) - qBlue(p) > 60; };
    EXPECT_GT(CountBecame(picture, source, bottom, greenish), 60);
}

// The renderer finds fonts by family name. A font whose file is not named
// after its family, and which is not the default font, must still be the one
// the glyphs are drawn in.
TEST(FilterDialogSubtitle, TheChosenFontIsUsedWhenItsFileIsNotNamedAfterItsFamily)
{
    const QString dir = TempDir();
    const QString font = MatchFontFile("DejaVu Serif:style=Book");
    ASSERT_TRUE(font.endsWith("DejaVuSerif.ttf")) << S(font);
    ASSERT_FALSE(MatchFontFile("sans-serif").endsWith("DejaVuSerif.ttf")) << "the serif font is the default";
    EXPECT_EQ(S(FontFamilyOfFile(font)), "DejaVu Serif");
    EXPECT_EQ(S(FontFamilyOfFile(dir + "/missing.ttf")), "");

    const QString srt = WriteFile(dir + "/big.srt", Srt("WAXY QUILT"));
    TSubtitleFilter filter;
    filter.SetSubtitleFile(srt);
    filter.SetFontFile(font);
    TColor white = 0;
    ASSERT_TRUE(ColorFromName("White", &white));
    filter.SetFontColor(white);
    const QString ours = dir + "/ours.mkv", serif = dir + "/serif.mkv", sans = dir + "/sans.mkv";
    ASSERT_EQ(S(ConvertWithFilters(filter.GetFilterText(), ours)), "");
    const QString tool = QStringLiteral("subtitles=filename=%1:fontsdir=%2:force_style='FontName=%3,"
                                        "PrimaryColour=&H00FFFFFF'");
    const QString fonts = QFileInfo(font).absolutePath();
    ASSERT_EQ(S(ToolConvert(tool.arg(srt, fonts, "DejaVu Serif"), serif)), "");
    ASSERT_EQ(S(ToolConvert(tool.arg(srt, fonts, "DejaVu Sans"), sans)), "");
    ASSERT_LT(Psnr(serif, sans), 45) << "the two fonts draw alike: the test cannot tell them apart";
    EXPECT_GT(Psnr(serif, ours), 50) << "not drawn in the chosen serif font";
}
