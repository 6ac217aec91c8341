#include "WatchFoldersPage.h"

#include <QComboBox>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

namespace korvane {

namespace {

QStringList& ProfileNames()
{
    static QStringList names;
    return names;
}

enum Column { colFolder, colProfile, colOutput, colCategory, colCount };

} // namespace

void TWatchFoldersPage::SetProfileNames(const QStringList& names)
{
    ProfileNames() = names;
}

TWatchFoldersPage::TWatchFoldersPage(const QString& listFile, const QString& defaultOutput, QWidget* parent)
    : QGroupBox(QStringLiteral("Watch folders"), parent), m_file(listFile), m_defaultOutput(defaultOutput)
{
    setObjectName("WatchFolders");
    m_table = new QTableWidget(0, colCount, this);
    m_table->setObjectName("WatchFolderTable");
    m_table->setHorizontalHeaderLabels({QStringLiteral("Folder"), QStringLiteral("Profile"),
                                        QStringLiteral("Output Folder"), QStringLiteral("Category")});
    m_table->horizontalHeader()->setStretchLastSection(true);
    m_table->verticalHeader()->hide();
    m_table->setSelectionBehavior(QAbstractItemView::SelectRows);
    auto* add = new QPushButton(QStringLiteral("Add..."), this);
    add->setObjectName("AddWatchFolder");
    auto* remove = new QPushButton(QStringLiteral("Remove"), this);
    remove->setObjectName("RemoveWatchFolder");
    connect(add, &QPushButton::clicked, this, &TWatchFoldersPage::AddFolder);
    connect(remove, &QPushButton::clicked, this, &TWatchFoldersPage::RemoveRows);
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(add);
    buttons->addWidget(remove);
    buttons->addStretch(1);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(
        new QLabel(QStringLiteral("New files in these folders are converted while the program runs."), this));
    layout->addWidget(m_table, 1);
    layout->addLayout(buttons);
    for (const TWatchFolderEntry& e : TWatchFolderList::Load(m_file))
        AddRow(e);
}

void TWatchFoldersPage::AddRow(const TWatchFolderEntry& entry)
{
    const int row = m_table->rowCount();
    m_table->insertRow(row);
    m_table->setItem(row, colFolder, new QTableWidgetItem(entry.Folder));
    auto* profile = new QComboBox(m_table);
    profile->setEditable(true);
    profile->addItems(ProfileNames());
    profile->setCurrentText(entry.Profile);
    m_table->setCellWidget(row, colProfile, profile);
    m_table->setItem(row, colOutput, new QTableWidgetItem(entry.OutputFolder));
    m_table->setItem(row, colCategory, new QTableWidgetItem(entry.Category));
}

QList<TWatchFolderEntry> TWatchFoldersPage::Entries() const
{
    QList<TWatchFolderEntry> entries;
    auto text = [this](int row, int column) {
        const QTableWidgetItem* item = m_table->item(row, column);
        return item ? item->text().trimmed() : QString();
    };
    for (int row = 0; row < m_table->rowCount(); ++row) {
        const auto* profile = qobject_cast<QComboBox*>(m_table->cellWidget(row, colProfile));
        TWatchFolderEntry e{text(row, colFolder), profile ? profile->currentText().trimmed() : QString(),
                            text(row, colOutput), text(row, colCategory)};
        if (!e.Folder.isEmpty()) entries << e;
    }
    return entries;
}

QString TWatchFoldersPage::Save() const
{
    return TWatchFolderList::Save(Entries(), m_file);
}

void TWatchFoldersPage::AddFolder()
{
    const QString folder = QFileDialog::getExistingDirectory(this, QStringLiteral("Watch Folder"));
    if (folder.isEmpty()) return;
    AddRow({folder, ProfileNames().value(0), m_defaultOutput, QString()});
}

void TWatchFoldersPage::RemoveRows()
{
    const QModelIndexList rows = m_table->selectionModel()->selectedRows();
    QList<int> numbers;
    for (const QModelIndex& i : rows)
        numbers << i.row();
    std::sort(numbers.begin(), numbers.end(), std::greater<>());
    for (int row : numbers)
        m_table->removeRow(row);
}

} // namespace korvane
