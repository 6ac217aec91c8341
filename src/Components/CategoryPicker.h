// A drop-down that shows the history categories as a tree and lets the user
// pick one. The caller gives the categories as {id, parent id, name}; the
// root category (id 1) is chosen until the user picks another.
#pragma once

#include <QComboBox>
#include <QString>
#include <vector>

class QStandardItemModel;
class QStandardItem;
class QTreeView;

namespace korvane {

struct TCategoryEntry
{
    int Id = 0;
    int ParentId = -1; // -1 (or any id not in the list) puts it at the top
    QString Name;
};

constexpr int kRootCategoryId = 1;

// The list used when the caller gives none: the root category alone.
std::vector<TCategoryEntry> DefaultCategories();

class TCategoryPicker : public QComboBox
{
    Q_OBJECT
public:
    explicit TCategoryPicker(QWidget* parent = nullptr);

    // Rebuilds the tree. Entries whose parent is missing become top-level
    // nodes, and so do entries caught in a parent cycle. The current choice
    // is kept when its id is still listed, else the root (or the first entry).
    void SetCategories(const std::vector<TCategoryEntry>& categories);
    int CategoryId() const { return m_categoryId; }
    // False when no category has that id (the choice does not change).
    bool SetCategoryId(int id);
    QString CategoryName() const;

    void showPopup() override;

signals:
    void CategoryChanged(int id);

private:
    QStandardItem* FindItem(int id) const;
    void ChooseIndex(const QModelIndex& index);

    QStandardItemModel* m_model;
    QTreeView* m_tree;
    int m_categoryId = -1;
};

} // namespace korvane
