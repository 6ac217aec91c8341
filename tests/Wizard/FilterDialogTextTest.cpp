// The overlay text dialog: its defaults and limits, the OK rule, the lines
// each ended by a line break, the font chooser, and the text drawn in the
// chosen colour as the ffmpeg tool's own drawtext draws it.
#include "FilterDialogSupport.h"
#include "FilterDialogs.h"
#include "FilterWidgets.h"
#include "FontFiles.h"
#include "FormTextFilter.h"

#include <QFile>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>

using namespace korvane;
using namespace korvane::test;

namespace {

QString DejaVuSans()
{
    const QString file = MatchFontFile("DejaVu Sans:style=Book");
    EXPECT_TRUE(file.endsWith("DejaVuSans.ttf")) << S(file);
    return file;
}

} // namespace

TEST(FilterDialogText, DefaultsLimitsAndTheOkRule)
{
    TFormTextFilter form;
    form.show();
    EXPECT_EQ(S(form.windowTitle()), "Overlay Text Filter");
    EXPECT_EQ(S(form.FontColor()->ColorName()), "Yellow");
    EXPECT_EQ(S(form.BackgroundColor()->ColorName()), "Blue");
    EXPECT_FALSE(form.BackgroundColor()->isVisible()) << "the user cannot change the background";
    EXPECT_EQ(form.FontSize()->value(), 16);
    EXPECT_EQ(form.FontSize()->minimum(), 1);
    EXPECT_EQ(form.FontSize()->maximum(), 72);
    EXPECT_EQ(form.FontSize()->singleStep(), 16);
    form.X()->setValue(-5);
    EXPECT_EQ(form.X()->value(), 0);
    form.Y()->setValue(-1);
    EXPECT_EQ(form.Y()->value(), 0);

    EXPECT_FALSE(form.OkButton()->isEnabled());
    form.Text()->setPlainText("  \n\t ");
    form.FontFile()->SetPath(DejaVuSans());
    EXPECT_FALSE(form.OkButton()->isEnabled()) << "blank text";
    form.Text()->setPlainText("Hi");
    EXPECT_TRUE(form.OkButton()->isEnabled());
    form.FontFile()->FileEdit()->LineEdit()->setText("/no/such/font.ttf");
    EXPECT_FALSE(form.OkButton()->isEnabled()) << "missing font";
}

TEST(FilterDialogText, FontChooserGivesTheFileOfTheChosenFont)
{
    TFormTextFilter form;
    QComboBox* fonts = form.FontFile()->FontList();
    ASSERT_GT(fonts->count(), 0) << "fontconfig lists no TrueType font";
    EXPECT_EQ(fonts->currentIndex(), -1);
    const int index = fonts->findText("DejaVu Sans Book");
    ASSERT_GE(index, 0);
    fonts->setCurrentIndex(index);
    emit fonts->activated(index);
    EXPECT_EQ(S(form.FontFile()->Path()), S(DejaVuSans()));
    EXPECT_TRUE(QFile::exists(form.FontFile()->Path()));
    for (int i = 0; i < fonts->count(); ++i)
        EXPECT_TRUE(fonts->itemData(i).toString().endsWith(".ttf", Qt::CaseInsensitive) ||
                    fonts->itemData(i).toString().endsWith(".otf", Qt::CaseInsensitive));

    // a typed path of an installed font selects it in the list; another clears it
    form.FontFile()->FileEdit()->LineEdit()->setText("/elsewhere/x.ttf");
    EXPECT_EQ(fonts->currentIndex(), -1);
    form.FontFile()->SetPath(DejaVuSans());
    EXPECT_EQ(fonts->currentIndex(), index);
}

TEST(FilterDialogText, LinesEndWithLineBreaksAndEditRoundTrips)
{
    InstallFilterDialogs();
    const QString font = DejaVuSans();
    TOverlayTextFilter filter;
    AnswerNextDialog([font](QDialog* d) {
        auto* form = qobject_cast<TFormTextFilter*>(d);
        ASSERT_TRUE(form);
        form->Text()->setPlainText("A\nB");
        form->FontFile()->SetPath(font);
        form->OkButton()->click();
    });
    ASSERT_TRUE(filter.Setup());
    EXPECT_EQ(S(filter.Text()), "A\r\nB\r\n");
    const QString text = filter.GetFilterText();
    EXPECT_TRUE(text.contains("#text='A\\nB\\n'#")) << S(text);
    EXPECT_TRUE(text.contains("#fgcolor=0xFFFF00FF#bgcolor=0x0000FF00")) << S(text);
    EXPECT_TRUE(text.contains("#x=0#y=0#fontsize=16#")) << S(text);

    AnswerNextDialog([](QDialog* d) {
        auto* form = qobject_cast<TFormTextFilter*>(d);
        EXPECT_EQ(S(form->Text()->toPlainText()), "A\nB");
        EXPECT_EQ(S(form->FontColor()->ColorName()), "Yellow");
        form->OkButton()->click();
    });
    ASSERT_TRUE(filter.Edit());
    EXPECT_EQ(S(filter.GetFilterText()), S(text));

    // colours outside the list survive opening and OK
    filter.SetFontColor(0x123456);
    filter.SetBgColor(0x00FF00);
    const QString custom = filter.GetFilterText();
    AnswerNextDialog([](QDialog* d) {
        auto* form = qobject_cast<TFormTextFilter*>(d);
        EXPECT_EQ(S(form->FontColor()->currentText()), "#563412");
        form->OkButton()->click();
    });
    ASSERT_TRUE(filter.Edit());
    EXPECT_EQ(S(filter.GetFilterText()), S(custom));

    // a one-line text yields a trailing "\n"; an ending line break adds no line
    TFormTextFilter form;
    form.Text()->setPlainText("One\n");
    form.SaveTo(filter);
    EXPECT_EQ(S(filter.Text()), "One\r\n");
}

TEST(FilterDialogText, TextIsDrawnInTheChosenColourAsTheToolDrawsIt)
{
    const QString font = DejaVuSans();
    TFormTextFilter form;
    form.Text()->setPlainText("Hello, 100% 'W'");
    form.FontFile()->SetPath(font);
    form.FontColor()->SetColorName("Fuchsia");
    form.X()->setValue(10);
    form.Y()->setValue(20);
    form.FontSize()->setValue(32);
    ASSERT_TRUE(form.OkButton()->isEnabled());
    TOverlayTextFilter filter;
    form.SaveTo(filter);

    const QString dir = TempDir();
    const QString ours = dir + "/text.mkv", theirs = dir + "/tool.mkv";
    ASSERT_EQ(S(ConvertWithFilters(filter.GetFilterText(), ours)), "");
    // the tool reads the same text from a file, so nothing in it needs escaping
    const QString textFile = dir + "/text.txt";
    QFile f(textFile);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write("Hello, 100% 'W'\n");
    f.close();
    ASSERT_EQ(S(ToolConvert(QStringLiteral("drawtext=fontfile=%1:textfile=%2:expansion=none:x=10:y=20:fontsize=32:"
                                           "fontcolor=0xFF00FF")
                                .arg(font, textFile),
                            theirs)),
              "");
    EXPECT_EQ(Psnr(theirs, ours), 1000) << "text differs from the tool's drawtext";
    EXPECT_LT(Psnr(FilterSource(), ours), 60) << "no text was drawn";

    // glyphs of the chosen colour in the text's area, none above it
    const QImage picture = FirstPicture(ours), source = FirstPicture(FilterSource());
    ASSERT_FALSE(picture.isNull());
    const QRect area(10, 20, 250, 40), above(0, 0, 320, 18);
    const QRgb fuchsia = qRgb(255, 0, 255);
    EXPECT_GT(CountNear(picture, area, fuchsia) - CountNear(source, area, fuchsia), 200);
    EXPECT_EQ(CountNear(picture, above, fuchsia), CountNear(source, above, fuchsia));
}
