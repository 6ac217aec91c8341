// The fields of one custom audio or video profile. Every change of a control
// is written straight into the profile shown; showing a profile writes
// nothing back.
#pragma once

#include <QPointer>
#include <QWidget>

#include "profiles/AVProfile.h"

class QComboBox;
class QLineEdit;

namespace korvane {

class TAVProfile;
class TAVCustomAudioProfile;

class TFrameProfile : public QWidget
{
    Q_OBJECT
public:
    explicit TFrameProfile(QWidget* parent = nullptr);

    // Shows a custom profile; any other profile (or none) empties and
    // disables the fields.
    void ShowProfile(TAVProfile* profile);
    TAVProfile* Profile() const;

    QLineEdit* DescriptionEdit() const { return m_description; }

signals:
    // The description box changed (the editor renames the profile's entry).
    void DescriptionEdited(const QString& text);
    // A field of the shown profile was changed by the user.
    void Edited();

private:
    QComboBox* AddList(const QString& name, const QStringList& choices);
    void WriteBack();
    void SetVideoListsEnabled(bool enabled);

    QPointer<TAVCustomAudioProfile> m_profile;
    bool m_loading = false;

    QLineEdit* m_description;
    QLineEdit* m_extension;
    QComboBox* m_format;
    QComboBox* m_sampleRate;
    QComboBox* m_audioEncoder;
    QComboBox* m_audioChannels;
    QComboBox* m_audioBitrate;
    QComboBox* m_frameSize;
    QComboBox* m_videoEncoder;
    QComboBox* m_frameRate;
    QComboBox* m_videoBitrate;
};

} // namespace korvane
