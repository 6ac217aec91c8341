#include "ExplorerModel.h"
#include "GuiActions.h"

#include "AVNodes.h"
#include "PersistentManager.h"
#include "TaskListModel.h"

#include <set>

namespace korvane {

// One row: its node object (owned) and its child rows.
struct TExplorerModel::Item
{
    std::unique_ptr<TNodeObject> node;
    Item* parent = nullptr;
    std::vector<std::unique_ptr<Item>> children;

    int Row() const
    {
        if (!parent)
            return 0;
        for (size_t i = 0; i < parent->children.size(); ++i)
            if (parent->children[i].get() == this)
                return int(i);
        return -1;
    }
};

TExplorerModel::TExplorerModel(TTaskEnvironment* env, QObject* parent)
    : QAbstractItemModel(parent), m_env(env), m_top(std::make_unique<Item>())
{
}

TExplorerModel::~TExplorerModel()
{
    // the task list refers to tasks of the nodes about to go
    if (m_taskList)
        m_taskList->Reset(nullptr, {});
    m_top.reset();
}

void TExplorerModel::Load()
{
    if (m_root)
        return;
    if (!m_converting) {
        auto* converting = new TConvertingNode(m_env);
        AddNode(converting, nullptr);
        m_converting = converting;
    }
    if (m_env && m_env->Db && m_env->Db->IsOpen())
        LoadCategories(m_top.get(), TPersistentManager::kNoParent, 0);
}

void TExplorerModel::LoadCategories(Item* parent, int parentId, int depth)
{
    // a parent chain that loops back in a hand-edited file must not recurse
    // for ever
    if (depth > 200)
        return;
    for (const TCategoryRow& row : m_env->Db->LoadConvertedNodes(parentId)) {
        if (row.ID == parentId || FindCategory(row.ID))
            continue;
        auto* node = new TConvertedNode(m_env);
        node->SetCategoryId(row.ID);
        node->SetCategory(row.Category);
        node->SetFolder(row.Path);
        AddNode(node, parent->node.get());
        if (row.ID == TPersistentManager::kRootCategoryId)
            m_root = node;
        LoadCategories(ItemOf(node), row.ID, depth + 1);
    }
}

TConvertedNode* TExplorerModel::FindCategory(int categoryId) const
{
    std::vector<const Item*> stack{m_top.get()};
    while (!stack.empty()) {
        const Item* item = stack.back();
        stack.pop_back();
        if (auto* c = qobject_cast<TConvertedNode*>(item->node.get()); c && c->CategoryId() == categoryId)
            return c;
        for (const auto& child : item->children)
            stack.push_back(child.get());
    }
    return nullptr;
}

TExplorerModel::Item* TExplorerModel::ItemOf(const TNodeObject* node) const
{
    if (!node)
        return m_top.get();
    std::vector<Item*> stack{m_top.get()};
    while (!stack.empty()) {
        Item* item = stack.back();
        stack.pop_back();
        if (item->node.get() == node)
            return item;
        for (const auto& child : item->children)
            stack.push_back(child.get());
    }
    return nullptr;
}

void TExplorerModel::AddNode(TNodeObject* node, TNodeObject* parent)
{
    Item* parentItem = ItemOf(parent);
    if (!parentItem)
        parentItem = m_top.get();
    const QModelIndex parentIndex = parentItem == m_top.get() ? QModelIndex() : createIndex(parentItem->Row(), 0, parentItem);
    const int row = int(parentItem->children.size());
    beginInsertRows(parentIndex, row, row);
    auto item = std::make_unique<Item>();
    item->node.reset(node);
    item->parent = parentItem;
    node->SetTreeView(this);
    parentItem->children.push_back(std::move(item));
    endInsertRows();
}

void TExplorerModel::RemoveNode(TNodeObject* node)
{
    Item* item = ItemOf(node);
    if (!item || item == m_top.get())
        return;
    // the task list must not keep rows of tasks about to be freed
    if (m_taskList) {
        for (TNodeObject* n : Subtree(node))
            if (m_taskList->Node() == n)
                m_taskList->Reset(nullptr, {});
    }
    for (TNodeObject* n : Subtree(node)) {
        if (n == m_root)
            m_root = nullptr;
        if (n == m_converting)
            m_converting = nullptr;
        if (n == m_lastLoaded)
            m_lastLoaded = nullptr;
    }
    Item* parentItem = item->parent;
    const QModelIndex parentIndex = parentItem == m_top.get() ? QModelIndex() : createIndex(parentItem->Row(), 0, parentItem);
    const int row = item->Row();
    beginRemoveRows(parentIndex, row, row);
    std::unique_ptr<Item> owned = std::move(parentItem->children[size_t(row)]);
    parentItem->children.erase(parentItem->children.begin() + row);
    endRemoveRows();
    owned.reset();
}

TNodeObject* TExplorerModel::ParentOf(const TNodeObject* node) const
{
    Item* item = ItemOf(node);
    return item && item->parent ? item->parent->node.get() : nullptr;
}

std::vector<TNodeObject*> TExplorerModel::Subtree(TNodeObject* node) const
{
    std::vector<TNodeObject*> nodes;
    Item* start = ItemOf(node);
    if (!start || start == m_top.get())
        return nodes;
    std::vector<Item*> stack{start};
    while (!stack.empty()) {
        Item* item = stack.back();
        stack.pop_back();
        nodes.push_back(item->node.get());
        for (auto it = item->children.rbegin(); it != item->children.rend(); ++it)
            stack.push_back(it->get());
    }
    return nodes;
}

QModelIndex TExplorerModel::IndexOf(const TNodeObject* node) const
{
    Item* item = ItemOf(node);
    if (!item || item == m_top.get())
        return {};
    return createIndex(item->Row(), 0, item);
}

TNodeObject* TExplorerModel::NodeAt(const QModelIndex& index) const
{
    if (!index.isValid() || index.model() != this)
        return nullptr;
    return static_cast<Item*>(index.internalPointer())->node.get();
}

void TExplorerModel::NodeChanged(TNodeObject* node)
{
    const QModelIndex i = IndexOf(node);
    if (i.isValid())
        emit dataChanged(i, i);
}

void TExplorerModel::SetSelectionModel(QItemSelectionModel* selection)
{
    if (m_selection)
        disconnect(m_selection, nullptr, this, nullptr);
    m_selection = selection;
    if (selection)
        connect(selection, &QItemSelectionModel::selectionChanged, this, &TExplorerModel::OnSelectionChanged);
}

TNodeObject* TExplorerModel::ShownNode() const
{
    if (!m_selection)
        return nullptr;
    const QModelIndexList rows = m_selection->selectedIndexes();
    return rows.isEmpty() ? nullptr : NodeAt(rows.first());
}

bool TExplorerModel::IsShown(const TNodeObject* node) const
{
    if (!m_selection || !node)
        return false;
    const QModelIndex i = IndexOf(node);
    return i.isValid() && m_selection->isSelected(i);
}

void TExplorerModel::Select(TNodeObject* node)
{
    if (!m_selection)
        return;
    const QModelIndex i = IndexOf(node);
    m_selection->setCurrentIndex(i, QItemSelectionModel::ClearAndSelect);
}

void TExplorerModel::OnSelectionChanged()
{
    TNodeObject* node = ShownNode();
    if (!node || !m_taskList)
        return;
    m_lastLoaded = node;
    // a history that cannot be read leaves the list empty and says why;
    // it never ends the program
    RunAction(QStringLiteral("Showing \"%1\"").arg(node->GetCaption(0)), m_env,
              [&] { node->LoadTaskList(m_taskList); });
}

QModelIndex TExplorerModel::index(int row, int column, const QModelIndex& parent) const
{
    if (column != 0 || row < 0)
        return {};
    const Item* p = parent.isValid() ? static_cast<Item*>(parent.internalPointer()) : m_top.get();
    if (size_t(row) >= p->children.size())
        return {};
    return createIndex(row, 0, p->children[size_t(row)].get());
}

QModelIndex TExplorerModel::parent(const QModelIndex& child) const
{
    if (!child.isValid())
        return {};
    const Item* item = static_cast<Item*>(child.internalPointer());
    Item* p = item->parent;
    if (!p || p == m_top.get())
        return {};
    return createIndex(p->Row(), 0, p);
}

int TExplorerModel::rowCount(const QModelIndex& parent) const
{
    if (parent.column() > 0)
        return 0;
    const Item* p = parent.isValid() ? static_cast<Item*>(parent.internalPointer()) : m_top.get();
    return int(p->children.size());
}

int TExplorerModel::columnCount(const QModelIndex&) const
{
    return 1;
}

QVariant TExplorerModel::data(const QModelIndex& index, int role) const
{
    TNodeObject* node = NodeAt(index);
    if (!node)
        return {};
    switch (role) {
    case Qt::DisplayRole:
        return node->GetCaption(index.column());
    case Qt::DecorationRole: {
        const int image = node->GetImageIndex();
        return image >= 0 && image < m_images.size() ? QVariant(m_images[image]) : QVariant();
    }
    case NodeRole:
        return QVariant::fromValue(static_cast<QObject*>(node));
    default:
        return {};
    }
}

} // namespace korvane
