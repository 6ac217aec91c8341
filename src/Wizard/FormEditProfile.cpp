#include "FormEditProfile.h"

#include "FrameProfile.h"
#include "ProfileCatalog.h"
#include "options/Messages.h"
#include "options/Persistent.h"
#include "profiles/AVProfile.h"

#include <QAction>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
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
    const std::pair<QAction*, QKeySequence> keys[] = {{m_newAudio, QKeySequence(tr("Ctrl+Shift+N"))},
                                                      {m_newVideo, QKeySequence::New},
                                                      {m_delete, QKeySequence::Delete},
                                                      {m_save, QKeySequence::Save}};
    for (const auto& [action, key] : keys) {
        action->setShortcut(key);
        action->setShortcutContext(Qt::WidgetWithChildrenShortcut);
        addAction(action);
        action->setToolTip(QStringLiteral("%1 (%2)").arg(action->text(), key.toString(QKeySequence::NativeText)));
    }

    m_profiles = new QListWidget(this);
    m_profiles->setObjectName("Profiles");
    m_frame = new TFrameProfile(this);
    m_problem = new QLabel(this);
    m_problem->setObjectName("Problem");
    m_problem->setWordWrap(true);
    QPalette warning = m_problem->palette();
    warning.setColor(QPalette::WindowText, QColor(0xd0, 0x30, 0x30));
    m_problem->setPalette(warning);

    auto* right = new QWidget(this);
    auto* rightLayout = new QVBoxLayout(right);
    rightLayout->setContentsMargins(0, 0, 0, 0);
    rightLayout->addWidget(toolbar);
    rightLayout->addWidget(m_profiles, 1);
    rightLayout->addWidget(m_frame);
    rightLayout->addWidget(m_problem);
    auto* layout = new QHBoxLayout(this);
    layout->addWidget(m_categories);
    layout->addWidget(right, 1);

    connect(m_categories, &QListWidget::currentRowChanged, this, &TFormEditProfile::SelectCategory);
    connect(m_profiles, &QListWidget::currentRowChanged, this, &TFormEditProfile::SelectProfile);
    connect(m_newAudio, &QAction::triggered, this, &TFormEditProfile::NewAudioProfile);
    connect(m_newVideo, &QAction::triggered, this, &TFormEditProfile::NewVideoProfile);
    connect(m_delete, &QAction::triggered, this, &TFormEditProfile::DeleteProfile);
    connect(m_save, &QAction::triggered, this, &TFormEditProfile::SaveAndExit);
    connect(m_frame, &TFrameProfile::Edited, this, [this] { m_unsaved = true; });
    connect(m_frame, &TFrameProfile::DescriptionEdited, this, [this](const QString& text) {
        if (QListWidgetItem* item = m_profiles->currentItem()) item->setText(text);
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
            if (m_categories->item(i)->text().compare(category, Qt::CaseInsensitive) == 0) row = i;
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
        if (ProfileOf(m_profiles->item(i)) == profile) m_profiles->setCurrentRow(i);
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
    if (profile) m_current = profile;
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
    m_unsaved = true;
    m_profiles->setCurrentItem(item);
    SelectProfile(m_profiles->row(item));
}

void TFormEditProfile::NewAudioProfile()
{
    // A new profile starts out able to convert: a file type, a sample rate.
    auto* profile = new TAVCustomAudioProfile(m_list);
    profile->SetExtension(QStringLiteral(".m4a"));
    profile->SetSampleRate(44100);
    profile->SetAudioChannels(TAVCustomAudioProfile::stereo2);
    profile->SetAudioBitrate(128);
    AddNewProfile(profile, tr("New Audio Profile"));
}

void TFormEditProfile::NewVideoProfile()
{
    auto* profile = new TAVCustomVideoProfile(m_list);
    profile->SetExtension(QStringLiteral(".mp4"));
    profile->SetSampleRate(44100);
    profile->SetAudioChannels(TAVCustomAudioProfile::stereo2);
    profile->SetAudioBitrate(128);
    profile->SetVideoEncoder(TAVCustomVideoProfile::MPEG4);
    profile->SetVideoBitrate(1000);
    AddNewProfile(profile, tr("New Video Profile"));
}

void TFormEditProfile::DeleteProfile()
{
    const int row = m_profiles->currentRow();
    TAVProfile* profile = ProfileOf(m_profiles->item(row));
    if (!profile || !ConfirmBox(tr("Are you sure to delete the profile?"))) return;
    m_frame->ShowProfile(nullptr);
    {
        const QSignalBlocker block(m_profiles);
        delete m_profiles->takeItem(row);
    }
    delete profile; // unlists itself; m_current (a QPointer) clears if it was current
    m_unsaved = true;
    if (m_profiles->count() > 0) {
        const int next = row > 0 ? row - 1 : 0;
        m_profiles->setCurrentRow(next);
        SelectProfile(next);
    } else {
        m_current = nullptr;
    }
    UpdateActions();
}

bool TFormEditProfile::CheckProfiles()
{
    QMap<QString, TAVProfile*> described;
    for (int i = 0; i < m_list->Count(); ++i) {
        auto* profile = qobject_cast<TAVCustomAudioProfile*>(m_list->Items(i));
        if (!profile) continue;
        const QString description = profile->Description().trimmed();
        QString problem;
        QWidget* field = nullptr;
        if (description.isEmpty()) {
            problem = tr("The profile needs a description.");
            field = m_frame->DescriptionEdit();
        } else if (described.contains(description.toLower())) {
            problem = tr("Another profile is already called \"%1\".").arg(description);
            field = m_frame->DescriptionEdit();
        } else if (profile->GetExtension().trimmed().isEmpty() || profile->GetExtension().trimmed() == u".") {
            problem = tr("The profile needs a file extension.");
            field = m_frame->findChild<QWidget*>("FileExtension");
        } else if (profile->SampleRate() < 0) { // 0 keeps the source's rate
            problem = tr("Choose a sample rate.");
            field = m_frame->findChild<QWidget*>("SampleRate");
        }
        described.insert(description.toLower(), profile);
        if (problem.isEmpty()) continue;
        OpenProfile(profile);
        m_problem->setText(problem);
        if (field) field->setFocus();
        return false;
    }
    m_problem->clear();
    return true;
}

void TFormEditProfile::SaveAndExit()
{
    if (!CheckProfiles()) return;
    try {
        SaveProfiles(m_list, m_storePath);
    } catch (const std::exception& e) {
        ErrorBox(QString::fromUtf8(e.what()));
        return;
    }
    m_unsaved = false;
    accept();
}

void TFormEditProfile::reject()
{
    if (!m_unsaved) {
        QDialog::reject();
        return;
    }
    QMessageBox box(QMessageBox::Question, tr("Edit Profile"), tr("Save the changes to the profiles?"),
                    QMessageBox::NoButton, this);
    box.setInformativeText(tr("Changes not saved are used until the program ends, then lost."));
    QPushButton* save = box.addButton(tr("&Save"), QMessageBox::AcceptRole);
    QPushButton* keep = box.addButton(tr("&Keep Editing"), QMessageBox::RejectRole);
    QPushButton* close = box.addButton(tr("&Close Without Saving"), QMessageBox::DestructiveRole);
    box.setDefaultButton(keep);
    box.setEscapeButton(keep);
    box.exec();
    if (box.clickedButton() == save)
        SaveAndExit();
    else if (box.clickedButton() == close)
        QDialog::reject();
}

TAVProfile* EditProfile(TAVProfileList* profiles, const QString& storePath, TAVProfile* profile,
                        QWidget* parent)
{
    TFormEditProfile editor(profiles, storePath, parent);
    editor.OpenProfile(profile);
    editor.exec();
    return editor.CurrentProfile();
}

} // namespace korvane
