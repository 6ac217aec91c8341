// The logo filter dialog: the OK rule on the file, positions without limits,
// and the logo drawn where the dialog put it.
#include "FilterDialogSupport.h"
#include "FilterDialogs.h"
#include "FilterWidgets.h"
#include "FormLogoFilter.h"

#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>

using namespace korvane;
using namespace korvane::test;

namespace {

// A 40 x 30 opaque red PNG, in a folder whose name has a blank.
QString RedLogo()
{
    const QString dir = TempDir() + "/my logos";
    QDir().mkpath(dir);
    const QString png = dir + "/logo.png";
    const ProcessResult r = RunProcess(QStringLiteral(KORVANE_FFMPEG),
                                       {"-y", "-v", "error", "-f", "lavfi", "-i", "color=c=red:s=40x30", "-frames:v",
                                        "1", "-pix_fmt", "rgb24", png});
    EXPECT_EQ(r.exitCode, 0) << S(r.err);
    return png;
}

} // namespace

TEST(FilterDialogLogo, OkOnlyWhileTheFileExists)
{
    TFormLogoFilter form;
    form.show();
    EXPECT_EQ(S(form.windowTitle()), "Logo Filter");
    EXPECT_EQ(form.X()->value(), 0);
    EXPECT_EQ(form.Y()->value(), 0);
    EXPECT_FALSE(form.OkButton()->isEnabled());
    form.File()->LineEdit()->setText(TempDir() + "/missing.png");
    EXPECT_FALSE(form.OkButton()->isEnabled());
    form.File()->LineEdit()->setText(TempDir()); // a folder is not a file
    EXPECT_FALSE(form.OkButton()->isEnabled());
    const QString logo = RedLogo();
    form.File()->LineEdit()->setText(logo);
    EXPECT_TRUE(form.OkButton()->isEnabled());
    form.X()->setValue(-25); // a logo may start outside the picture
    EXPECT_EQ(form.X()->value(), -25);

    TLogoFilter filter;
    form.SaveTo(filter);
    EXPECT_EQ(S(filter.LogoFile()), S(logo));
    EXPECT_EQ(filter.X(), -25);
}

TEST(FilterDialogLogo, EditLoadsTheFilterAndCancelKeepsIt)
{
    InstallFilterDialogs();
    TLogoFilter filter;
    filter.SetLogoFile(RedLogo());
    filter.SetX(12);
    filter.SetY(34);
    const QString before = filter.GetFilterText();
    AnswerNextDialog([](QDialog* d) {
        auto* form = qobject_cast<TFormLogoFilter*>(d);
        ASSERT_TRUE(form);
        EXPECT_EQ(form->X()->value(), 12);
        EXPECT_EQ(form->Y()->value(), 34);
        EXPECT_TRUE(form->OkButton()->isEnabled());
        form->X()->setValue(99);
        d->reject();
    });
    EXPECT_FALSE(filter.Edit());
    EXPECT_EQ(S(filter.GetFilterText()), S(before));

    AnswerNextDialog([](QDialog* d) {
        auto* form = qobject_cast<TFormLogoFilter*>(d);
        form->Y()->setValue(5);
        form->OkButton()->click();
    });
    EXPECT_TRUE(filter.Edit());
    EXPECT_EQ(filter.Y(), 5);
    EXPECT_EQ(filter.X(), 12);
}

TEST(FilterDialogLogo, LogoIsDrawnWhereTheDialogPutIt)
{
    TFormLogoFilter form;
    const QString logo = RedLogo();
    form.File()->SetPath(logo);
    form.X()->setValue(10);
    form.Y()->setValue(20);
    TLogoFilter filter;
    form.SaveTo(filter);
    ASSERT_TRUE(filter.GetFilterText().contains("/my logos/logo.png [wm]")) << S(filter.GetFilterText());

    const QString dir = TempDir();
    const QString ours = dir + "/logo.mkv", theirs = dir + "/tool.mkv";
    ASSERT_EQ(S(ConvertWithFilters(filter.GetFilterText(), ours)), "");
    ASSERT_EQ(S(ToolConvert("[0:v][1:v]overlay=10:20", theirs, {logo})), "");
    const ProbeResult p = Probe(ours);
    ASSERT_EQ(p.Count("video"), 1);
    EXPECT_EQ(p.First("video")->width, 320);
    EXPECT_EQ(p.First("video")->height, 240);
    EXPECT_EQ(p.First("video")->packets, 25) << "the logo is on every picture, and ends nothing early";
    EXPECT_GT(Psnr(theirs, ours), 45) << "pictures differ from the tool's overlay";

    // red where the logo is, the test picture elsewhere
    const QImage picture = FirstPicture(ours);
    ASSERT_FALSE(picture.isNull());
    EXPECT_GT(CountNear(picture, QRect(12, 22, 36, 26), qRgb(255, 0, 0)), 36 * 26 * 9 / 10);
    EXPECT_LT(CountNear(picture, QRect(60, 60, 36, 26), qRgb(255, 0, 0)), 36 * 26 / 2);
}
