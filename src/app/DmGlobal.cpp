#include "DmGlobal.h"

#include "AppIcon.h"
#include "Configuration.h"
#include "DesktopAlert.h"
#include "LogindShutdown.h"
#include "PersistentManager.h"
#include "ProfileCatalog.h"
#include "options/Messages.h"
#include "profiles/AVProfile.h"

#include <QAction>
#include <QApplication>
#include <QMenu>
#include <QStyle>

namespace korvane {

namespace {

class TDesktopAlertService : public ICompletionAlert
{
public:
    void ShowTaskCompleted(const QString& header, const QString& message, const QString& file) override
    {
        ShowDesktopAlert(header, message, file, &ErrorBox);
    }
};

// The system bus is reached only when a shutdown is due, not at start-up.
class TLogindShutdownService : public IShutdown
{
public:
    void ShutdownComputer() override
    {
        if (!m_logind)
            m_logind = std::make_unique<TLogindShutdown>();
        m_logind->PowerOff();
    }

private:
    std::unique_ptr<TLogindShutdown> m_logind;
};

} // namespace

TdmGlobal::TdmGlobal(TAVConfiguration* config, QObject* parent)
    : QObject(parent), m_config(config), m_db(std::make_unique<TPersistentManager>()),
      m_profiles(new TAVProfileList(this)), m_alert(std::make_unique<TDesktopAlertService>()),
      m_shutdown(std::make_unique<TLogindShutdownService>())
{
    m_openProblem = m_db->Open(TAVConfiguration::GetAppDataFolder(), config->OutputFolder());
    try {
        InitializeProfiles(m_profiles, m_profiles,
                           ProfileStorePath(TAVConfiguration::GetAppDataFolder()));
    } catch (const EEngineError& e) {
        // a damaged store leaves the catalog; the user is told which file
        ErrorBox(QString::fromUtf8(e.what()));
    }
    m_env.Db = m_db.get();
    m_env.Config = config;
    m_env.Alert = m_alert.get();
    m_env.Shutdown = m_shutdown.get();
    BuildImages();
    BuildActions();
}

TdmGlobal::~TdmGlobal()
{
    delete m_taskMenu;
    delete m_categoryMenu;
}

void TdmGlobal::BuildImages()
{
    QStyle* style = QApplication::style();
    m_statusImages = {StatusIcon(TStatusPicture::Running), StatusIcon(TStatusPicture::Paused),
                      StatusIcon(TStatusPicture::Stopped), StatusIcon(TStatusPicture::Finished),
                      StatusIcon(TStatusPicture::Failed)};
    m_nodeImages = {style->standardIcon(QStyle::SP_BrowserReload), style->standardIcon(QStyle::SP_DirIcon)};
}

void TdmGlobal::BuildActions()
{
    QStyle* style = QApplication::style();
    actDeleteTask = new QAction(style->standardIcon(QStyle::SP_TrashIcon), QStringLiteral("Delete Task(s)"), this);
    actOpenSource = new QAction(QStringLiteral("Open Source File"), this);
    actOpenConverted = new QAction(QStringLiteral("Open Converted File"), this);
    actExploreFile = new QAction(style->standardIcon(QStyle::SP_DirOpenIcon), QStringLiteral("Explore The File"), this);
    m_taskMenu = new QMenu;
    m_taskMenu->addAction(actDeleteTask);
    m_taskMenu->addSeparator();
    m_taskMenu->addAction(actOpenSource);
    m_taskMenu->addAction(actOpenConverted);
    m_taskMenu->addAction(actExploreFile);

    actOpenFolder = new QAction(style->standardIcon(QStyle::SP_DirOpenIcon), QStringLiteral("Open Folder"), this);
    actNewCategory = new QAction(style->standardIcon(QStyle::SP_FileDialogNewFolder), QStringLiteral("New Category"), this);
    actDeleteCategory = new QAction(QStringLiteral("Delete"), this);
    actCategoryProperties = new QAction(QStringLiteral("Properties"), this);
    m_categoryMenu = new QMenu;
    m_categoryMenu->addAction(actOpenFolder);
    m_categoryMenu->addAction(actNewCategory);
    m_categoryMenu->addAction(actDeleteCategory);
    m_categoryMenu->addSeparator();
    m_categoryMenu->addAction(actCategoryProperties);
}

} // namespace korvane
