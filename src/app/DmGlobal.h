// The global data module: what the main window's parts share. It opens the
// history database, loads the profiles (the catalog, then the user's store
// over it), holds the status and node images, the task menu and the category
// menu with their actions, and the services the tasks call when one
// completes (the alert and the shutdown).
#pragma once

#include "TaskServices.h"

#include <QIcon>
#include <QList>
#include <QObject>
#include <memory>

class QAction;
class QMenu;

namespace korvane {

class TAVConfiguration;
class TAVProfileList;
class TPersistentManager;

class TdmGlobal : public QObject
{
    Q_OBJECT
public:
    // Opens the history database in the configuration's settings folder and
    // loads the profiles. Throws EEngineError when no database can be had.
    explicit TdmGlobal(TAVConfiguration* config, QObject* parent = nullptr);
    ~TdmGlobal() override;

    TAVConfiguration* Config() const { return m_config; }
    TPersistentManager* Db() const { return m_db.get(); }
    TAVProfileList* Profiles() const { return m_profiles; }
    TTaskEnvironment* Environment() { return &m_env; }

    // Replace the real alert and shutdown (tests); null shows or shuts down
    // nothing. Not owned.
    void SetAlert(ICompletionAlert* alert) { m_env.Alert = alert; }
    void SetShutdown(IShutdown* shutdown) { m_env.Shutdown = shutdown; }

    // By status: running, paused, stopped (error), finished.
    const QList<QIcon>& StatusImages() const { return m_statusImages; }
    // By node image index: Converting, category.
    const QList<QIcon>& NodeImages() const { return m_nodeImages; }

    // The task menu of the task list.
    QAction* actDeleteTask;
    QAction* actOpenSource;
    QAction* actOpenConverted;
    QAction* actExploreFile;
    QMenu* TaskMenu() const { return m_taskMenu; }

    // The category menu of the explorer.
    QAction* actOpenFolder;
    QAction* actNewCategory;
    QAction* actDeleteCategory;
    QAction* actCategoryProperties;
    QMenu* CategoryMenu() const { return m_categoryMenu; }

    // A message about the database file that was moved aside at opening;
    // empty when it opened cleanly.
    QString OpenProblem() const { return m_openProblem; }

private:
    void BuildImages();
    void BuildActions();

    TAVConfiguration* m_config;
    std::unique_ptr<TPersistentManager> m_db;
    TAVProfileList* m_profiles; // child object
    TTaskEnvironment m_env;
    std::unique_ptr<ICompletionAlert> m_alert;
    std::unique_ptr<IShutdown> m_shutdown;
    QList<QIcon> m_statusImages;
    QList<QIcon> m_nodeImages;
    QMenu* m_taskMenu;
    QMenu* m_categoryMenu;
    QString m_openProblem;
};

} // namespace korvane
