// The window's sizes: geometry, toolbar, splitter positions and the task
// list's column widths, kept in an INI file beside the configuration.
#include "AVNodes.h"
#include "Configuration.h"
#include "FormMain.h"
#include "TaskListModel.h"

#include <QHeaderView>
#include <QSettings>
#include <QSplitter>
#include <QTreeView>

namespace korvane {

QString TFormMain::WindowStateFile()
{
    // the same naming rule as the configuration file beside it
    return TAVConfiguration::GetAppDataFolder() + QStringLiteral("Window.ini");
}

void TFormMain::ShowAtStart()
{
    QSettings settings(WindowStateFile(), QSettings::IniFormat);
    const QByteArray geometry = settings.value("Window/Geometry").toByteArray();
    if (geometry.isEmpty() || !restoreGeometry(geometry)) {
        showMaximized();
        return;
    }
    show();
}

void TFormMain::RestoreWindowState()
{
    QSettings settings(WindowStateFile(), QSettings::IniFormat);
    restoreState(settings.value("Window/State").toByteArray());
    m_mainSplitter->restoreState(settings.value("Window/MainSplitter").toByteArray());
    m_rightSplitter->restoreState(settings.value("Window/RightSplitter").toByteArray());
    settings.beginGroup("TaskColumns");
    for (const QString& key : settings.childKeys())
        m_columnStates[key.toInt()] = settings.value(key).toByteArray();
    settings.endGroup();
}

void TFormMain::SaveWindowState()
{
    SaveColumns();
    QSettings settings(WindowStateFile(), QSettings::IniFormat);
    settings.setValue("Window/Geometry", saveGeometry());
    settings.setValue("Window/State", saveState());
    settings.setValue("Window/MainSplitter", m_mainSplitter->saveState());
    settings.setValue("Window/RightSplitter", m_rightSplitter->saveState());
    settings.beginGroup("TaskColumns");
    for (auto it = m_columnStates.begin(); it != m_columnStates.end(); ++it)
        settings.setValue(QString::number(it.key()), it.value());
    settings.endGroup();
    settings.sync();
}

void TFormMain::SaveColumns()
{
    const int columns = m_taskList->columnCount();
    if (columns > 0)
        m_columnStates[columns] = m_taskView->header()->saveState();
}

void TFormMain::RestoreColumns()
{
    const int columns = m_taskList->columnCount();
    const auto saved = m_columnStates.constFind(columns);
    if (saved != m_columnStates.constEnd() && m_taskView->header()->restoreState(*saved))
        return;
    // the node's own widths the first time, never narrower than the caption
    QHeaderView* header = m_taskView->header();
    for (int i = 0; i < columns; ++i)
        m_taskView->setColumnWidth(i, std::max(m_taskList->Columns().value(i).Width, header->sectionSizeHint(i)));
}

} // namespace korvane
