#include "CategoryOperations.h"

#include "AVNodes.h"
#include "Configuration.h"
#include "ExplorerModel.h"
#include "PersistentManager.h"
#include "TaskListModel.h"
#include "options/Messages.h"

#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QToolButton>
#include <QUrl>
#include <QVBoxLayout>

namespace korvane {

TCategoryDialog::TCategoryDialog(const QString& title, const QString& name, const QString& folder, QWidget* parent)
    : QDialog(parent), m_name(new QLineEdit(name, this)), m_folder(new QLineEdit(folder, this))
{
    setWindowTitle(title);
    auto* browse = new QToolButton(this);
    browse->setText(QStringLiteral("..."));
    browse->setToolTip(QStringLiteral("Choose a folder"));
    auto* folderRow = new QHBoxLayout;
    folderRow->addWidget(m_folder, 1);
    folderRow->addWidget(browse);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Category:"), m_name);
    form->addRow(QStringLiteral("Folder:"), folderRow);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    m_ok = buttons->button(QDialogButtonBox::Ok);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addStretch();
    layout->addWidget(buttons);
    m_name->setMinimumWidth(320);

    connect(m_name, &QLineEdit::textChanged, this, &TCategoryDialog::UpdateOk);
    connect(m_folder, &QLineEdit::textChanged, this, &TCategoryDialog::UpdateOk);
    connect(browse, &QToolButton::clicked, this, &TCategoryDialog::BrowseFolder);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    UpdateOk();
}

QString TCategoryDialog::Name() const
{
    return m_name->text().trimmed();
}

QString TCategoryDialog::Folder() const
{
    return m_folder->text().trimmed();
}

void TCategoryDialog::UpdateOk()
{
    m_ok->setEnabled(!Name().isEmpty() && !Folder().isEmpty());
}

void TCategoryDialog::BrowseFolder()
{
    const QString start = Folder().isEmpty() ? TAVConfiguration::DefaultOutputFolder() : Folder();
    const QString chosen = QFileDialog::getExistingDirectory(this, windowTitle(), start);
    if (!chosen.isEmpty())
        m_folder->setText(QDir::toNativeSeparators(chosen));
}

TConvertedNode* TCategoryOperations::SelectedCategory() const
{
    QItemSelectionModel* selection = m_explorer->SelectionModel();
    if (!selection)
        return nullptr;
    return qobject_cast<TConvertedNode*>(m_explorer->NodeAt(selection->currentIndex()));
}

bool TCategoryOperations::CanDelete() const
{
    const TConvertedNode* node = SelectedCategory();
    return node && !node->IsRoot();
}

void TCategoryOperations::OpenFolder()
{
    TConvertedNode* node = SelectedCategory();
    if (!node)
        return;
    if (ShowFolder)
        ShowFolder(node->Folder());
    else
        QDesktopServices::openUrl(QUrl::fromLocalFile(node->Folder()));
}

namespace {

bool RunCategoryDialog(const std::function<bool(const QString&, QString*, QString*)>& ask, const QString& title,
                       QString* name, QString* folder)
{
    if (ask)
        return ask(title, name, folder);
    TCategoryDialog dialog(title, *name, *folder);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *name = dialog.Name();
    *folder = dialog.Folder();
    return true;
}

} // namespace

TConvertedNode* TCategoryOperations::NewCategory()
{
    TConvertedNode* parent = SelectedCategory();
    if (!parent)
        return nullptr;
    QString name, folder;
    if (!RunCategoryDialog(AskCategory, QStringLiteral("New Category"), &name, &folder))
        return nullptr;
    return AddCategory(parent, name.trimmed(), folder.trimmed());
}

TConvertedNode* TCategoryOperations::AddCategory(TConvertedNode* parent, const QString& name, const QString& folder)
{
    TTaskEnvironment* env = m_explorer->Environment();
    // the database gives the id first, so a failed insert leaves no row
    // in the tree without one in the file
    int id = 0;
    if (env && env->Db && env->Db->IsOpen())
        id = env->Db->NewCategory(name, folder, parent->CategoryId());
    auto* node = new TConvertedNode(env);
    node->SetCategory(name);
    node->SetFolder(folder);
    node->SetCategoryId(id);
    m_explorer->AddNode(node, parent);
    return node;
}

bool TCategoryOperations::DeleteCategory()
{
    TConvertedNode* node = SelectedCategory();
    if (!node || node->IsRoot())
        return false;
    if (!ConfirmBox(QStringLiteral("Do you want to delete the selected category?")))
        return false;
    // the category, those below it and all their tasks go in one transaction
    node->DeleteChildrens();
    TNodeObject* parent = m_explorer->ParentOf(node);
    if (parent)
        m_explorer->Select(parent);
    m_explorer->RemoveNode(node);
    return true;
}

bool TCategoryOperations::EditProperties()
{
    TConvertedNode* node = SelectedCategory();
    if (!node)
        return false;
    QString name = node->Category(), folder = node->Folder();
    if (!RunCategoryDialog(AskCategory, QStringLiteral("Category Properties"), &name, &folder))
        return false;
    SetProperties(node, name.trimmed(), folder.trimmed());
    return true;
}

void TCategoryOperations::SetProperties(TConvertedNode* node, const QString& name, const QString& folder)
{
    // the row first: a refusal leaves the node as it was
    TTaskEnvironment* env = m_explorer->Environment();
    if (env && env->Db && env->Db->IsOpen())
        env->Db->UpdateCategory(node->CategoryId(), name, folder);
    node->SetCategory(name);
    node->SetFolder(folder);
    QDir().mkpath(folder);
    m_explorer->NodeChanged(node);
}

} // namespace korvane
