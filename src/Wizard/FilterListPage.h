// The "Filters Settings" page: the ordered list of video filters, each entry
// saying what it does, the "New Filter" drop-down with one command per kind,
// "Edit Filter" (also a double click or Enter), "Delete" (also the Delete
// key) and "Up"/"Down", since the filters apply in list order. The page owns
// the filter objects.
#pragma once

#include "AVFilter.h"

#include <QWidget>
#include <memory>
#include <vector>

class QAction;
class QListWidget;
class QToolButton;
class QPushButton;

namespace korvane {

class TFilterListPage : public QWidget
{
    Q_OBJECT
public:
    explicit TFilterListPage(QWidget* parent = nullptr);
    ~TFilterListPage() override;

    // Creates a filter of that kind and runs its Setup; on OK it is appended
    // (and selected), otherwise freed. True when appended.
    bool NewFilter(TAVFilter::TFilterKind kind);
    // Runs Edit on the selected filter; true on OK.
    bool EditFilter();
    // Removes and frees the selected filter.
    void DeleteFilter();
    // Moves the selected filter one place up (-1) or down (+1).
    void MoveFilter(int step);
    // What a filter does, as its list entry shows it ("Rotate 90°, box 10,10
    // 100×50 red").
    static QString Describe(const TAVFilter& filter);

    int Count() const { return int(m_filters.size()); }
    TAVFilter* Filter(int index) const;
    // Each filter's text in list order, joined with ","; empty for none.
    QString FilterDescription() const;

    QListWidget* List() const { return m_list; }
    QToolButton* NewButton() const { return m_newButton; }
    QPushButton* EditButton() const { return m_editButton; }
    QPushButton* DeleteButton() const { return m_deleteButton; }
    QPushButton* UpButton() const { return m_upButton; }
    QPushButton* DownButton() const { return m_downButton; }

signals:
    // The list or a filter's values changed; the new description.
    void FiltersChanged(const QString& description);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void UpdateButtons();
    void ShowEntry(int row);

    std::vector<std::unique_ptr<TAVFilter>> m_filters;
    QListWidget* m_list;
    QToolButton* m_newButton;
    QPushButton* m_editButton;
    QPushButton* m_deleteButton;
    QPushButton* m_upButton;
    QPushButton* m_downButton;
};

} // namespace korvane
