#include "FilterDialogs.h"

#include "AVFilter.h"
#include "FormLogoFilter.h"
#include "FormStdFilter.h"
#include "FormSubtitleFilter.h"
#include "FormTextFilter.h"

#include <QApplication>

namespace korvane {

namespace {

template <class Form, class Filter> bool Run(TAVFilter& filter, bool isNew)
{
    auto& typed = static_cast<Filter&>(filter);
    Form form(QApplication::activeWindow());
    if (!isNew)
        form.LoadFrom(typed);
    if (form.exec() != QDialog::Accepted)
        return false;
    form.SaveTo(typed);
    return true;
}

} // namespace

void InstallFilterDialogs()
{
    TAVFilter::SetEditor(&RunFilterDialog);
}

bool RunFilterDialog(TAVFilter& filter, bool isNew)
{
    switch (filter.Kind()) {
    case TAVFilter::fkStandard:
        return Run<TFormStdFilter, TVideoStdFilter>(filter, isNew);
    case TAVFilter::fkLogo:
        return Run<TFormLogoFilter, TLogoFilter>(filter, isNew);
    case TAVFilter::fkOverlayText:
        return Run<TFormTextFilter, TOverlayTextFilter>(filter, isNew);
    case TAVFilter::fkSubtitle:
        return Run<TFormSubtitleFilter, TSubtitleFilter>(filter, isNew);
    }
    return false;
}

} // namespace korvane
