#include "FilterListPage.h"

#include <QHBoxLayout>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QVBoxLayout>

namespace korvane {

TFilterListPage::TFilterListPage(QWidget* parent) : QWidget(parent)
{
    m_list = new QListWidget(this);
    m_list->setObjectName("Filters");
    m_newButton = new QToolButton(this);
    m_newButton->setText(tr("New Filter"));
    m_newButton->setPopupMode(QToolButton::InstantPopup);
    m_newButton->setToolButtonStyle(Qt::ToolButtonTextOnly);
    auto* menu = new QMenu(m_newButton);
    const std::pair<const char*, TAVFilter::TFilterKind> kinds[] = {
        {QT_TR_NOOP("New Standard Filters"), TAVFilter::fkStandard},
        {QT_TR_NOOP("New Logo Filter"), TAVFilter::fkLogo},
        {QT_TR_NOOP("New Overlay Text Filter"), TAVFilter::fkOverlayText},
        {QT_TR_NOOP("New Subtitle Filter"), TAVFilter::fkSubtitle},
    };
    for (const auto& [caption, kind] : kinds) {
        const TAVFilter::TFilterKind k = kind;
        menu->addAction(tr(caption), this, [this, k] { NewFilter(k); });
    }
    m_newButton->setMenu(menu);
    m_editButton = new QPushButton(tr("Edit Filter"), this);
    m_deleteButton = new QPushButton(tr("Delete"), this);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_newButton);
    buttons->addWidget(m_editButton);
    buttons->addWidget(m_deleteButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(m_list, 1);

    connect(m_editButton, &QPushButton::clicked, this, &TFilterListPage::EditFilter);
    connect(m_deleteButton, &QPushButton::clicked, this, &TFilterListPage::DeleteFilter);
    connect(m_list, &QListWidget::itemDoubleClicked, this, [this] { EditFilter(); });
    connect(m_list, &QListWidget::currentRowChanged, this, &TFilterListPage::UpdateButtons);
    UpdateButtons();
}

TFilterListPage::~TFilterListPage() = default;

TAVFilter* TFilterListPage::Filter(int index) const
{
    return index >= 0 && index < Count() ? m_filters[size_t(index)].get() : nullptr;
}

QString TFilterListPage::FilterDescription() const
{
    QList<const TAVFilter*> filters;
    for (const auto& f : m_filters)
        filters << f.get();
    return JoinFilterTexts(filters);
}

bool TFilterListPage::NewFilter(TAVFilter::TFilterKind kind)
{
    std::unique_ptr<TAVFilter> filter = TAVFilter::Create(kind);
    if (!filter || !filter->Setup())
        return false;
    m_list->addItem(filter->GetFilterName());
    m_filters.push_back(std::move(filter));
    m_list->setCurrentRow(Count() - 1);
    emit FiltersChanged(FilterDescription());
    return true;
}

bool TFilterListPage::EditFilter()
{
    const int row = m_list->currentRow();
    TAVFilter* filter = Filter(row);
    if (!filter || !filter->Edit())
        return false;
    m_list->item(row)->setText(filter->GetFilterName());
    emit FiltersChanged(FilterDescription());
    return true;
}

void TFilterListPage::DeleteFilter()
{
    const int row = m_list->currentRow();
    if (!Filter(row))
        return;
    delete m_list->takeItem(row);
    m_filters.erase(m_filters.begin() + row);
    UpdateButtons();
    emit FiltersChanged(FilterDescription());
}

void TFilterListPage::UpdateButtons()
{
    const bool selected = Filter(m_list->currentRow()) != nullptr;
    m_editButton->setEnabled(selected);
    m_deleteButton->setEnabled(selected);
}

} // namespace korvane
