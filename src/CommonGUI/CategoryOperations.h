// The history category commands of the explorer's category menu ("Open
// Folder", "New Category", "Delete", "Properties") and the category dialog.
// The window owns the actions and asks CanDelete for the enabling rule.
#pragma once

#include <QDialog>
#include <QString>
#include <functional>

class QLineEdit;
class QPushButton;

namespace korvane {

class TExplorerModel;
class TNodeObject;
class TConvertedNode;

// Name and folder of a category. OK is enabled only while both fields,
// trimmed, are not empty; the values come back trimmed.
class TCategoryDialog : public QDialog
{
    Q_OBJECT
public:
    TCategoryDialog(const QString& title, const QString& name, const QString& folder, QWidget* parent = nullptr);

    QString Name() const;
    QString Folder() const;
    QLineEdit* NameEdit() const { return m_name; }
    QLineEdit* FolderEdit() const { return m_folder; }
    QPushButton* OkButton() const { return m_ok; }

private:
    void UpdateOk();
    void BrowseFolder();

    QLineEdit* m_name;
    QLineEdit* m_folder;
    QPushButton* m_ok;
};

class TCategoryOperations
{
public:
    explicit TCategoryOperations(TExplorerModel* explorer) : m_explorer(explorer) {}

    // The selected category: the explorer's current node when it is one.
    TConvertedNode* SelectedCategory() const;
    // "Delete": a category is selected and it is not the root.
    bool CanDelete() const;

    // Runs the category dialog: true with the values on OK. Replaced by
    // tests; the default shows TCategoryDialog modally.
    std::function<bool(const QString& title, QString* name, QString* folder)> AskCategory;
    // Shows a folder in the file browser; the default opens it with the
    // desktop's handler. Tests replace it.
    std::function<void(const QString& folder)> ShowFolder;

    void OpenFolder();
    // "New Category" under the selected category; returns the new node.
    TConvertedNode* NewCategory();
    // The same without the dialog.
    TConvertedNode* AddCategory(TConvertedNode* parent, const QString& name, const QString& folder);
    // "Delete": asks "Do you want to delete the selected category?"; on Yes
    // deletes the category, those below and their tasks, selects the parent.
    bool DeleteCategory();
    // "Properties": the dialog, then the folder is created and the row saved.
    bool EditProperties();
    void SetProperties(TConvertedNode* node, const QString& name, const QString& folder);

private:
    TExplorerModel* m_explorer;
};

} // namespace korvane
