#include "CategoryPicker.h"

#include <QHeaderView>
#include <QSet>
#include <QStandardItemModel>
#include <QTreeView>
#include <functional>
#include <map>

namespace korvane {

namespace {
constexpr int kIdRole = Qt::UserRole + 1;
}

std::vector<TCategoryEntry> DefaultCategories()
{
    return {{kRootCategoryId, -1, QStringLiteral("Converted")}};
}

TCategoryPicker::TCategoryPicker(QWidget* parent)
    : QComboBox(parent), m_model(new QStandardItemModel(this)), m_tree(new QTreeView(this))
{
    m_tree->setHeaderHidden(true);
    m_tree->setItemsExpandable(false); // always open: a click always chooses
    m_tree->setRootIsDecorated(false);
    m_tree->setIndentation(14);
    m_tree->setUniformRowHeights(true);
    setModel(m_model);
    setView(m_tree);
    setSizeAdjustPolicy(QComboBox::AdjustToContents);
    // The combo reports activation of nested rows by their row number only;
    // read the chosen item's id from its data instead.
    connect(this, &QComboBox::currentIndexChanged, this, [this] {
        const QVariant id = currentData(kIdRole);
        if (id.isValid() && id.toInt() != m_categoryId) {
            m_categoryId = id.toInt();
            emit CategoryChanged(m_categoryId);
        }
    });
    SetCategories(DefaultCategories());
}

void TCategoryPicker::SetCategories(const std::vector<TCategoryEntry>& categories)
{
    const int previous = m_categoryId;
    const QSignalBlocker block(this);
    m_model->clear();
    std::map<int, QStandardItem*> items;
    for (const TCategoryEntry& c : categories) {
        if (items.count(c.Id))
            continue; // the first entry of an id wins
        auto* item = new QStandardItem(c.Name);
        item->setData(c.Id, kIdRole);
        item->setEditable(false);
        items[c.Id] = item;
    }
    std::map<int, int> parentOf;
    for (const TCategoryEntry& c : categories)
        parentOf.emplace(c.Id, c.ParentId);
    // A parent chain that comes back to the entry would hang the tree; such
    // entries are placed at the top instead.
    auto reachesTop = [&](int id) {
        QSet<int> seen;
        for (int p = parentOf[id]; items.count(p); p = parentOf[p]) {
            if (p == id || seen.contains(p))
                return false;
            seen.insert(p);
        }
        return true;
    };
    QSet<int> placed;
    std::function<void(int)> place = [&](int id) {
        if (placed.contains(id))
            return;
        placed.insert(id);
        const int parent = parentOf[id];
        if (items.count(parent) && reachesTop(id)) {
            place(parent);
            items[parent]->appendRow(items[id]);
        } else {
            m_model->appendRow(items[id]);
        }
    };
    for (const TCategoryEntry& c : categories)
        place(c.Id);
    m_tree->expandAll();
    m_categoryId = -1;
    if (!SetCategoryId(previous) && !SetCategoryId(kRootCategoryId) && m_model->rowCount() > 0)
        ChooseIndex(m_model->index(0, 0));
    if (m_categoryId != previous)
        QMetaObject::invokeMethod(this, [this] { emit CategoryChanged(m_categoryId); }, Qt::QueuedConnection);
}

QStandardItem* TCategoryPicker::FindItem(int id) const
{
    const QModelIndexList found =
        m_model->match(m_model->index(0, 0), kIdRole, id, 1, Qt::MatchExactly | Qt::MatchRecursive);
    return found.isEmpty() ? nullptr : m_model->itemFromIndex(found.first());
}

bool TCategoryPicker::SetCategoryId(int id)
{
    QStandardItem* item = FindItem(id);
    if (!item)
        return false;
    ChooseIndex(item->index());
    return true;
}

void TCategoryPicker::ChooseIndex(const QModelIndex& index)
{
    // The combo's current row lives under its root index: point the root at
    // the item's parent, choose the row, and put the root back. The combo
    // keeps the chosen item itself, so its text stays the nested one.
    setRootModelIndex(index.parent());
    setCurrentIndex(index.row());
    setRootModelIndex(QModelIndex());
    m_tree->setCurrentIndex(index);
    const int id = index.data(kIdRole).toInt();
    if (id != m_categoryId) {
        m_categoryId = id;
        emit CategoryChanged(id);
    }
}

QString TCategoryPicker::CategoryName() const
{
    const QStandardItem* item = FindItem(m_categoryId);
    return item ? item->text() : QString();
}

void TCategoryPicker::showPopup()
{
    m_tree->expandAll();
    if (QStandardItem* item = FindItem(m_categoryId))
        m_tree->setCurrentIndex(item->index());
    QComboBox::showPopup();
}

} // namespace korvane
