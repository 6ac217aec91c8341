#include "FilterListPage.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QKeyEvent>
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
    m_upButton = new QPushButton(tr("Up"), this);
    m_upButton->setToolTip(tr("Move the filter up: filters apply from the top down"));
    m_downButton = new QPushButton(tr("Down"), this);
    m_downButton->setToolTip(tr("Move the filter down: filters apply from the top down"));

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_newButton);
    buttons->addWidget(m_editButton);
    buttons->addWidget(m_deleteButton);
    buttons->addWidget(m_upButton);
    buttons->addWidget(m_downButton);
    buttons->addStretch();
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(buttons);
    layout->addWidget(m_list, 1);

    connect(m_editButton, &QPushButton::clicked, this, &TFilterListPage::EditFilter);
    connect(m_deleteButton, &QPushButton::clicked, this, &TFilterListPage::DeleteFilter);
    connect(m_upButton, &QPushButton::clicked, this, [this] { MoveFilter(-1); });
    connect(m_downButton, &QPushButton::clicked, this, [this] { MoveFilter(+1); });
    m_list->installEventFilter(this);
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
    if (!filter || !filter->Setup()) return false;
    m_list->addItem(QString());
    m_filters.push_back(std::move(filter));
    ShowEntry(Count() - 1);
    m_list->setCurrentRow(Count() - 1);
    emit FiltersChanged(FilterDescription());
    return true;
}

bool TFilterListPage::EditFilter()
{
    const int row = m_list->currentRow();
    TAVFilter* filter = Filter(row);
    if (!filter || !filter->Edit()) return false;
    ShowEntry(row);
    emit FiltersChanged(FilterDescription());
    return true;
}

void TFilterListPage::DeleteFilter()
{
    const int row = m_list->currentRow();
    if (!Filter(row)) return;
    delete m_list->takeItem(row);
    m_filters.erase(m_filters.begin() + row);
    UpdateButtons();
    emit FiltersChanged(FilterDescription());
}

void TFilterListPage::MoveFilter(int step)
{
    const int row = m_list->currentRow();
    const int to = row + step;
    if (!Filter(row) || !Filter(to)) return;
    std::swap(m_filters[size_t(row)], m_filters[size_t(to)]);
    ShowEntry(row);
    ShowEntry(to);
    m_list->setCurrentRow(to);
    emit FiltersChanged(FilterDescription());
}

void TFilterListPage::ShowEntry(int row)
{
    if (const TAVFilter* filter = Filter(row)) {
        m_list->item(row)->setText(Describe(*filter));
        m_list->item(row)->setToolTip(filter->GetFilterName());
    }
}

bool TFilterListPage::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_list && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Delete) {
            DeleteFilter();
            return true;
        }
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            EditFilter();
            return true; // Enter edits the filter, it does not start the conversion
        }
    }
    return QWidget::eventFilter(watched, event);
}

QString TFilterListPage::Describe(const TAVFilter& filter)
{
    QStringList parts;
    if (const auto* s = qobject_cast<const TVideoStdFilter*>(&filter)) {
        if (s->HorizontalFilip()) parts << tr("Flip left to right");
        if (s->VerticalFilp()) parts << tr("flip upside down");
        if (s->Negate()) parts << tr("negative");
        if (s->Rotate()) parts << tr("rotate %1°").arg(s->Degree());
        if (s->DrawBox())
            parts << tr("box %1,%2 %3×%4 %5").arg(s->BX()).arg(s->BY()).arg(s->BWidth()).arg(s->BHeight()).arg(
                         s->BColor().toLower());
        if (parts.isEmpty()) return tr("Standard filters (none chosen)");
    } else if (const auto* l = qobject_cast<const TLogoFilter*>(&filter)) {
        parts << tr("Logo %1 at %2,%3").arg(QFileInfo(l->LogoFile()).fileName()).arg(l->X()).arg(l->Y());
    } else if (const auto* t = qobject_cast<const TOverlayTextFilter*>(&filter)) {
        QString text = t->Text().simplified();
        if (text.size() > 30) text = text.left(29) + u'…';
        parts << tr("Text \"%1\" at %2,%3, %4 pt").arg(text).arg(t->X()).arg(t->Y()).arg(t->FontSize());
    } else if (const auto* sub = qobject_cast<const TSubtitleFilter*>(&filter)) {
        parts << tr("Subtitles %1").arg(QFileInfo(sub->SubtitleFile()).fileName());
        if (!sub->FontFile().isEmpty()) parts << tr("font %1").arg(QFileInfo(sub->FontFile()).completeBaseName());
    } else {
        return filter.GetFilterName();
    }
    QString text = parts.join(QStringLiteral(", "));
    text[0] = text[0].toUpper();
    return text;
}

void TFilterListPage::UpdateButtons()
{
    const int row = m_list->currentRow();
    const bool selected = Filter(row) != nullptr;
    m_editButton->setEnabled(selected);
    m_deleteButton->setEnabled(selected);
    m_upButton->setEnabled(selected && row > 0);
    m_downButton->setEnabled(selected && row + 1 < Count());
}

} // namespace korvane
