// The standard filters dialog with real widgets: defaults, limits, the OK
// rule, Setup and Edit through the installed dialogs, and the pictures its
// text gives through the engine, judged by the ffmpeg tool's own filters.
#include "FilterDialogSupport.h"
#include "FilterDialogs.h"
#include "FilterWidgets.h"
#include "FormStdFilter.h"

#include <QCheckBox>
#include <QPushButton>
#include <QSpinBox>

using namespace korvane;
using namespace korvane::test;

TEST(FilterDialogStd, DefaultsLimitsAndTheOkRule)
{
    TFormStdFilter form;
    form.show();
    EXPECT_EQ(S(form.windowTitle()), "Standar Filters");
    EXPECT_FALSE(form.OkButton()->isEnabled()) << "nothing checked gives an empty text";
    EXPECT_EQ(form.Degrees()->value(), 45);
    EXPECT_EQ(form.Degrees()->minimum(), 0);
    EXPECT_EQ(form.Degrees()->maximum(), 359);
    EXPECT_FALSE(form.Degrees()->isEnabled());
    EXPECT_EQ(S(form.BoxColor()->ColorName()), "Black");
    EXPECT_EQ(form.BoxColor()->count(), 16);
    for (QSpinBox* spin : {form.BoxX(), form.BoxY(), form.BoxWidth(), form.BoxHeight()}) {
        EXPECT_EQ(spin->value(), 0);
        EXPECT_FALSE(spin->isEnabled());
        spin->setValue(-70000); // no limits
        EXPECT_EQ(spin->value(), -70000);
        spin->setValue(0);
    }

    // every check box alone enables OK
    for (QCheckBox* check : {form.VerticalFlip(), form.HorizontalFlip(), form.Negate(), form.Rotate(), form.DrawBox()}) {
        SCOPED_TRACE(S(check->text()));
        check->click();
        EXPECT_TRUE(form.OkButton()->isEnabled());
        check->click();
        EXPECT_FALSE(form.OkButton()->isEnabled());
    }
    form.Rotate()->click();
    EXPECT_TRUE(form.Degrees()->isEnabled());
    form.Degrees()->setValue(400);
    EXPECT_EQ(form.Degrees()->value(), 359);
    form.DrawBox()->click();
    EXPECT_TRUE(form.BoxWidth()->isEnabled());
    EXPECT_TRUE(form.BoxColor()->isEnabled());
}

TEST(FilterDialogStd, SetupTakesTheDialogsValuesAndCancelChangesNothing)
{
    InstallFilterDialogs();
    TVideoStdFilter filter;
    AnswerNextDialog([](QDialog* d) {
        auto* form = qobject_cast<TFormStdFilter*>(d);
        ASSERT_TRUE(form);
        form->Rotate()->click();
        form->OkButton()->click();
    });
    ASSERT_TRUE(filter.Setup());
    EXPECT_EQ(S(filter.GetFilterText()), "rotate=45");
    EXPECT_EQ(S(filter.BColor()), "Black");

    AnswerNextDialog([](QDialog* d) {
        auto* form = qobject_cast<TFormStdFilter*>(d);
        form->Negate()->click();
        d->reject();
    });
    EXPECT_FALSE(filter.Edit());
    EXPECT_EQ(S(filter.GetFilterText()), "rotate=45");
}

TEST(FilterDialogStd, EditShowsTheFiltersValuesAndKeepsThemOnOk)
{
    InstallFilterDialogs();
    TVideoStdFilter filter;
    filter.SetDrawBox(true);
    filter.SetBX(10);
    filter.SetBY(20);
    filter.SetBWidth(100);
    filter.SetBHeight(50);
    filter.SetBColor("Red");
    filter.SetRotate(true);
    filter.SetDegree(90);
    filter.SetVerticalFilp(true);
    const QString before = filter.GetFilterText();
    AnswerNextDialog([](QDialog* d) {
        auto* form = qobject_cast<TFormStdFilter*>(d);
        EXPECT_EQ(S(form->BoxColor()->currentText()), "Red");
        EXPECT_EQ(form->Degrees()->value(), 90);
        EXPECT_TRUE(form->VerticalFlip()->isChecked());
        EXPECT_FALSE(form->HorizontalFlip()->isChecked());
        EXPECT_TRUE(form->BoxX()->isEnabled());
        form->OkButton()->click();
    });
    ASSERT_TRUE(filter.Edit());
    EXPECT_EQ(S(filter.GetFilterText()), S(before));
    EXPECT_EQ(S(filter.GetFilterText()), "vflip,drawbox=10:20:100:50:Red,rotate=90");

    // a colour name outside the list (from an older history row) survives
    // opening and OK, and the list still offers the standard ones
    filter.SetBColor("orange");
    AnswerNextDialog([](QDialog* d) {
        auto* form = qobject_cast<TFormStdFilter*>(d);
        EXPECT_EQ(S(form->BoxColor()->currentText()), "orange");
        EXPECT_EQ(form->BoxColor()->count(), 17);
        form->OkButton()->click();
    });
    ASSERT_TRUE(filter.Edit());
    EXPECT_EQ(S(filter.BColor()), "orange");
    TFormStdFilter form;
    form.BoxColor()->SetColorName("orange");
    form.BoxColor()->SetColorName("navy");
    EXPECT_EQ(S(form.BoxColor()->ColorName()), "Navy");
    form.BoxColor()->SetColorName("");
    EXPECT_EQ(S(form.BoxColor()->ColorName()), "");
}

TEST(FilterDialogStd, TextGivesThePicturesTheDialogPromised)
{
    struct Case
    {
        std::function<void(TFormStdFilter&)> choose;
        QString tool; // the same picture by the tool's own filters
        int width, height;
    } cases[] = {
        {[](TFormStdFilter& f) {
             f.VerticalFlip()->setChecked(true);
             f.HorizontalFlip()->setChecked(true);
             f.Negate()->setChecked(true);
             f.DrawBox()->setChecked(true);
             f.BoxX()->setValue(10);
             f.BoxY()->setValue(20);
             f.BoxWidth()->setValue(100);
             f.BoxHeight()->setValue(50);
             f.BoxColor()->SetColorName("Lime");
         },
         "vflip,hflip,drawbox=x=10:y=20:w=100:h=50:color=0x00FF00,negate", 320, 240},
        {[](TFormStdFilter& f) {
             f.Rotate()->setChecked(true);
             f.Degrees()->setValue(90);
         },
         "transpose=clock", 240, 320},
    };
    const QString dir = TempDir();
    int n = 0;
    for (const Case& k : cases) {
        TFormStdFilter form;
        k.choose(form);
        ASSERT_TRUE(form.OkButton()->isEnabled());
        TVideoStdFilter filter;
        form.SaveTo(filter);
        SCOPED_TRACE(S(filter.GetFilterText()));
        const QString ours = dir + QStringLiteral("/std%1.mkv").arg(n);
        const QString theirs = dir + QStringLiteral("/tool%1.mkv").arg(n++);
        ASSERT_EQ(S(ConvertWithFilters(filter.GetFilterText(), ours)), "");
        ASSERT_EQ(S(ToolConvert(k.tool, theirs)), "");
        const ProbeResult p = Probe(ours);
        ASSERT_EQ(p.Count("video"), 1);
        EXPECT_EQ(p.First("video")->width, k.width);
        EXPECT_EQ(p.First("video")->height, k.height);
        EXPECT_EQ(Psnr(theirs, ours), 1000) << "pictures differ from the tool's";
    }

    // 45 degrees enlarges the canvas to hold the whole picture
    TFormStdFilter form;
    form.Rotate()->setChecked(true);
    TVideoStdFilter filter;
    form.SaveTo(filter);
    ASSERT_EQ(S(filter.GetFilterText()), "rotate=45");
    const QString rotated = dir + "/rotated.mkv";
    ASSERT_EQ(S(ConvertWithFilters(filter.GetFilterText(), rotated)), "");
    const ProbeResult p = Probe(rotated);
    ASSERT_EQ(p.Count("video"), 1);
    // (320 + 240) * cos 45 = 395.98
    EXPECT_NEAR(p.First("video")->width, 396, 1);
    EXPECT_NEAR(p.First("video")->height, 396, 1);
}
