// The profile editor: categories on the left, the chosen category's profiles
// and the fields of the current one on the right. Edits act on the live
// profile objects at once; "Save and Exit" writes the store.
#pragma once

#include <QDialog>
#include <QPointer>

#include "profiles/AVProfile.h"

class QAction;
class QLabel;
class QListWidget;
class QListWidgetItem;

namespace korvane {

class TAVProfile;
class TAVProfileList;
class TFrameProfile;

class TFormEditProfile : public QDialog
{
    Q_OBJECT
public:
    TFormEditProfile(TAVProfileList* profiles, QString storePath, QWidget* parent = nullptr);

    // Selects the profile's category (without regard to case) and the
    // profile. A profile whose category the editor does not list (an image
    // profile) leaves the first category selected and nothing shown.
    void OpenProfile(TAVProfile* profile);
    // The profile current when the editor closed. Never a deleted one: null
    // when the current profile was deleted and its category became empty.
    TAVProfile* CurrentProfile() const { return m_current.data(); }

    void SelectCategory(int row);
    void SelectProfile(int row);
    void NewAudioProfile();
    void NewVideoProfile();
    // Asks "Are you sure to delete the profile?"; on Yes frees the selected
    // profile and shows the entry before it (the first when the first went).
    void DeleteProfile();
    // Writes the store and closes; a store that cannot be written is shown
    // and the editor stays open. A profile that could not convert (no
    // description or extension, a negative sample rate, a description used twice) is
    // shown with the reason under its fields, and nothing is written. A
    // sample rate of 0 keeps the source's and is taken.
    void SaveAndExit();
    // Esc or closing with changes not saved asks first: Save, Keep Editing
    // (the default) or Close Without Saving.
    void reject() override;
    bool HasUnsavedChanges() const { return m_unsaved; }

    // The reason the last SaveAndExit refused a profile; empty otherwise.
    QLabel* Problem() const { return m_problem; }

    QListWidget* Categories() const { return m_categories; }
    QListWidget* Profiles() const { return m_profiles; }
    TFrameProfile* Frame() const { return m_frame; }
    QAction* DeleteAction() const { return m_delete; }

private:
    TAVProfile* ProfileOf(const QListWidgetItem* item) const;
    void AddNewProfile(TAVProfile* profile, const QString& description);
    void UpdateActions();
    // Shows the first profile that could not convert with its reason and
    // focuses its field; false when there is one.
    bool CheckProfiles();

    TAVProfileList* m_list;
    QString m_storePath;
    QPointer<TAVProfile> m_current;
    QListWidget* m_categories;
    QListWidget* m_profiles;
    TFrameProfile* m_frame;
    QLabel* m_problem;
    bool m_unsaved = false;
    QAction* m_newAudio;
    QAction* m_newVideo;
    QAction* m_delete;
    QAction* m_save;
};

// Opens the editor modally on profile and returns the profile that was
// current when it closed (null when none).
TAVProfile* EditProfile(TAVProfileList* profiles, const QString& storePath, TAVProfile* profile,
                        QWidget* parent);

} // namespace korvane
