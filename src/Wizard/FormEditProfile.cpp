#include "FormEditProfile.h"

#include "FrameProfile.h"
#include "ProfileCatalog.h"
#include "options/Messages.h"
#include "options/Persistent.h"
#include "profiles/AVProfile.h"

#include <QAction>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QSplitter>
#include <QStyle>
#include <QToolBar>
#include <QVBoxLayout>

namespace korvane {

namespace {
constexpr int kProfileRole = Qt::UserRole + 1;
}

TFormEditProfile::TFormEditProfile(TAVProfileList* profiles, QString storePath, QWidget* parent)
    : QDialog(parent), m_list(profiles), m_storePath(std::move(storePath))
{
    setWindowTitle(tr("Edit Profile"));
    setObjectName("FormEditProfile");
    m_categories = new QListWidget(this);
    m_categories->setObjectName("Categories");
    m_categories->addItems(EditableCategories(m_list));
    m_categories->setMaximumWidth(170);

    auto* toolbar = new QToolBar(this);
    toolbar->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    auto add = [&](QStyle::StandardPixmap icon, const QString& hint) {
        QAction* action = toolbar->addAction(style()->standardIcon(icon), hint);
        action->setToolTip(hint);
        return action;
    };
    m_newAudio = add(QStyle::SP_MediaVolume, tr("New Audio Profile"));
    m_newVideo = add(QStyle::SP_FileIcon, tr("New Video Profile"));
    m_delete = add(QStyle::SP_TrashIcon, tr("Delete Profile"));
    m_save = add(QStyle::SP_DialogSaveButton, tr("Save and Exit"));

    m_profiles = new QListWidget(this);
    m_profiles->setObjectName("Profiles");
    m_frame = new TFrameProfile(this);

    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(toolbar);
    rightLayout->addWidget(m_profiles, 1);
    rightLayout->addWidget(m_frame);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_categories);
    layout->addWidget(right, 1);

    connect(m_categories, &QListWidget::currentRowChanged, this, &TFormEditProfile::SelectCategory);
    connect(m_profiles, &QListWidget::currentRowChanged, this, &TFormEditProfile::SelectProfile);
    connect(m_newAudio, &QAction::triggered, this, &TFormEditProfile::NewAudioProfile);
    connect(m_newVideo, &QAction::triggered, this, &TFormEditProfile::NewVideoProfile);
    connect(m_delete, &QAction::triggered, this, &TFormEditProfile::DeleteProfile);
    connect(m_save, &QAction::triggered, this, &TFormEditProfile::SaveAndExit);
    connect(m_frame, &TFrameProfile::DescriptionEdited, this, [this](const QString& text) {
        if (QListWidgetItem* item = m_profiles->currentItem())
            item->setText(text);
    });
    resize(760, 560);
    UpdateActions();
}

TAVProfile* TFormEditProfile::ProfileOf(const QListWidgetItem* item) const
{
    return item ? static_cast<TAVProfile*>(item->data(kProfileRole).value<QObject*>()) : nullptr;
}

void TFormEditProfile::UpdateActions()
{
    m_delete->setEnabled(m_profiles->count() > 0 && m_profiles->currentRow() >= 0);
    const bool category = m_categories->currentRow() >= 0;
    m_newAudio->setEnabled(category);
    m_newVideo->setEnabled(category);
}

void TFormEditProfile::OpenProfile(TAVProfile* profile)
{
    m_current = profile;
    int row = -1;
    if (profile) {
        const QString category = profile->Category().trimmed();
        for (int i = 0; i < m_categories->count() && row < 0; ++i)
            if (m_categories->item(i)->text().compare(category, Qt::CaseInsensitive) == 0)
                row = i;
    }
    if (row < 0) {
        // Not an editable category (image profiles): nothing is shown, and
        // the profile handed back stays the one given until another is chosen.
        const QSignalBlocker block(m_profiles);
        m_categories->setCurrentRow(0);
        m_frame->ShowProfile(nullptr);
        m_profiles->setCurrentRow(-1);
        UpdateActions();
        return;
    }
    m_categories->setCurrentRow(row);
    SelectCategory(row);
    for (int i = 0; i < m_profiles->count(); ++i)
        if (ProfileOf(m_profiles->item(i)) == profile)
            m_profiles->setCurrentRow(i);
}

void TFormEditProfile::SelectCategory(int row)
{
    {
        const QSignalBlocker block(m_profiles);
        m_profiles->clear();
        if (row >= 0 && row < m_categories->count()) {
            for (TAVProfile* p : m_list->ProfilesOfCategory(m_categories->item(row)->text())) {
                auto* item = new QListWidgetItem(p->Description(), m_profiles);
                item->setData(kProfileRole, QVariant::fromValue<QObject*>(p));
            }
        }
    }
    if (m_profiles->count() > 0 && m_current)
        m_profiles->setCurrentRow(0);
    else
        m_frame->ShowProfile(nullptr);
    UpdateActions();
}

void TFormEditProfile::SelectProfile(int row)
{
    TAVProfile* profile = ProfileOf(m_profiles->item(row));
    if (profile)
        m_current = profile;
    m_frame->ShowProfile(profile);
    UpdateActions();
}

void TFormEditProfile::AddNewProfile(TAVProfile* profile, const QString& description)
{
    profile->SetDescription(description);
    profile->SetProfileList(m_list);
    if (QListWidgetItem* category = m_categories->currentItem())
        profile->SetCategory(category->text().trimmed());
    auto* item = new QListWidgetItem(profile->Description(), m_profiles);
    item->setData(kProfileRole, QVariant::fromValue<QObject*>(profile));
    m_profiles->setCurrentItem(item);
    SelectProfile(m_profiles->row(item));
}

void TFormEditProfile::NewAudioProfile()
{
    AddNewProfile(new TAVCustomAudioProfile(m_list), tr("New Audio Profile"));
}

void TFormEditProfile::NewVideoProfile()
{
    AddNewProfile(new TAVCustomVideoProfile(m_list), tr("New Video Profile"));
}

void TFormEditProfile::DeleteProfile()
{
    const int row = m_profiles->currentRow();
    TAVProfile* profile = ProfileOf(m_profiles->item(row));
    if (!profile || !ConfirmBox(tr("Are you sure to delete the profile?")))
        return;
    m_frame->ShowProfile(nullptr);
    {
        const QSignalBlocker block(m_profiles);
        delete m_profiles->takeItem(row);
    }
    delete profile; // unlists itself; m_current (a QPointer) clears if it was current
    if (m_profiles->count() > 0) {
        const int next = row > 0 ? row - 1 : 0;
        m_profiles->setCurrentRow(next);
        SelectProfile(next);
    } else {
        m_current = nullptr;
    }
    UpdateActions();
}

void TFormEditProfile::SaveAndExit()
{
    try {
        SaveProfiles(m_list, m_storePath);
    } catch (const std::exception& e) {
        ErrorBox(QString::fromUtf8(e.what()));
        return;
    }
    accept();
}

TAVProfile* EditProfile(TAVProfileList* profiles, const QString& storePath, TAVProfile* profile, QWidget* parent)
{
    TFormEditProfile editor(profiles, storePath, parent);
    editor.OpenProfile(profile);
    editor.exec();
    return editor.CurrentProfile();
}

} // namespace korvane
