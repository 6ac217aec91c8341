// The explorer tree as an item model: the "Converting" node first, then the
// history categories as they nest in the database. The model owns the node
// objects of its rows. The view's selection model (set by the window, or by
// a test) decides which node is shown; when the selection changes to a row,
// that node fills the task list.
#pragma once

#include "TaskServices.h"

#include <QAbstractItemModel>
#include <QIcon>
#include <QPointer>
#include <QItemSelectionModel>
#include <memory>
#include <vector>

namespace korvane {

class TNodeObject;
class TConvertingNode;
class TConvertedNode;
class TTaskListModel;

class TExplorerModel : public QAbstractItemModel
{
    Q_OBJECT
public:
    // The node object of a row, as a pointer in a QVariant.
    static constexpr int NodeRole = Qt::UserRole + 1;

    explicit TExplorerModel(TTaskEnvironment* env, QObject* parent = nullptr);
    ~TExplorerModel() override;

    TTaskEnvironment* Environment() const { return m_env; }

    // Builds the tree once: the Converting node, then the categories read
    // depth first from the database. Nothing happens when it is built.
    void Load();
    TConvertingNode* ConvertingNode() const { return m_converting; }
    // The category with id 1.
    TConvertedNode* RootCategory() const { return m_root; }
    TConvertedNode* FindCategory(int categoryId) const;

    // Adds a row for node under parent (top level when null) and takes the
    // node over.
    void AddNode(TNodeObject* node, TNodeObject* parent);
    // Removes node's row with everything below it and frees their objects.
    void RemoveNode(TNodeObject* node);
    TNodeObject* ParentOf(const TNodeObject* node) const;
    // node and every node below it, depth first.
    std::vector<TNodeObject*> Subtree(TNodeObject* node) const;
    QModelIndex IndexOf(const TNodeObject* node) const;
    TNodeObject* NodeAt(const QModelIndex& index) const;
    // Repaints node's row (after a rename).
    void NodeChanged(TNodeObject* node);

    // The view's selection model; its selection is the shown node.
    void SetSelectionModel(QItemSelectionModel* selection);
    QItemSelectionModel* SelectionModel() const { return m_selection; }
    // The task list the shown node fills.
    void SetTaskList(TTaskListModel* list) { m_taskList = list; }
    TTaskListModel* TaskList() const { return m_taskList; }
    // The selected node; null when none is selected.
    TNodeObject* ShownNode() const;
    bool IsShown(const TNodeObject* node) const;
    // Selects and focuses node's row (which fills the task list).
    void Select(TNodeObject* node);

    // Images by GetImageIndex (0 Converting, 1 category); optional.
    void SetImages(const QList<QIcon>& images) { m_images = images; }

    QModelIndex index(int row, int column, const QModelIndex& parent = {}) const override;
    QModelIndex parent(const QModelIndex& child) const override;
    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;

private:
    struct Item;
    void LoadCategories(Item* parent, int parentId, int depth);
    Item* ItemOf(const TNodeObject* node) const;
    void OnSelectionChanged();

    TTaskEnvironment* m_env;
    std::unique_ptr<Item> m_top; // invisible root item
    TConvertingNode* m_converting = nullptr;
    TConvertedNode* m_root = nullptr;
    QPointer<QItemSelectionModel> m_selection;
    TTaskListModel* m_taskList = nullptr;
    QList<QIcon> m_images;
    TNodeObject* m_lastLoaded = nullptr;
};

} // namespace korvane
