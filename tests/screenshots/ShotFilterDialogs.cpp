// The four filter dialogs, filled in as a user would before pressing OK.
#include "AVFilter.h"
#include "FilterWidgets.h"
#include "FontFiles.h"
#include "FormLogoFilter.h"
#include "FormStdFilter.h"
#include "FormSubtitleFilter.h"
#include "FormTextFilter.h"
#include "ShotRegistry.h"

#include <QCheckBox>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QPlainTextEdit>
#include <QSpinBox>

using namespace korvane;

namespace {

// A small sample file in the temporary folder, so the dialogs show an
// existing file and an enabled OK.
QString SampleFile(const QString& name, const QByteArray& bytes)
{
    const QString path = QDir::temp().filePath(name);
    QFile f(path);
    if (f.open(QIODevice::WriteOnly))
        f.write(bytes);
    return path;
}

QString SampleLogo()
{
    const QString path = QDir::temp().filePath("korvane-logo.png");
    QImage logo(64, 32, QImage::Format_RGB32);
    logo.fill(Qt::red);
    logo.save(path);
    return path;
}

static shots::Register standard("filter-standard", [] {
    auto* form = new TFormStdFilter;
    form->VerticalFlip()->setChecked(true);
    form->Rotate()->setChecked(true);
    form->DrawBox()->setChecked(true);
    form->BoxX()->setValue(10);
    form->BoxY()->setValue(20);
    form->BoxWidth()->setValue(100);
    form->BoxHeight()->setValue(50);
    form->BoxColor()->SetColorName("Red");
    return form;
});

static shots::Register logo("filter-logo", [] {
    auto* form = new TFormLogoFilter;
    form->File()->SetPath(SampleLogo());
    form->X()->setValue(10);
    form->Y()->setValue(20);
    return form;
});

static shots::Register text("filter-text", [] {
    auto* form = new TFormTextFilter;
    form->Text()->setPlainText("Holiday 2026\nDay one");
    form->FontFile()->SetPath(MatchFontFile("DejaVu Sans"));
    form->X()->setValue(16);
    form->Y()->setValue(16);
    form->FontSize()->setValue(32);
    return form;
});

static shots::Register subtitle("filter-subtitle", [] {
    auto* form = new TFormSubtitleFilter;
    form->File()->SetPath(SampleFile("korvane-sample.srt", "1\r\n00:00:00,000 --> 00:00:02,000\r\nHello\r\n"));
    form->FontFile()->SetPath(MatchFontFile("DejaVu Sans"));
    form->CodePage()->setEditText("UTF-8");
    return form;
});

} // namespace
