#include "FrameProfile.h"

#include "ProfileCatalog.h"
#include "profiles/AVProfile.h"

#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QSize>
#include <QVBoxLayout>

namespace korvane {

namespace {

// Selects the entry of that text; none when absent.
void SelectText(QComboBox* list, const QString& text)
{
    list->setCurrentIndex(list->findText(text, Qt::MatchExactly));
}

// Selects by ordinal; none for a value outside the list.
void SelectIndex(QComboBox* list, int index)
{
    list->setCurrentIndex(index >= 0 && index < list->count() ? index : -1);
}

// The frame size entries carry their width and height; a size outside the
// table gets an extra entry "WxH" at the end.
void SelectFrameSize(QComboBox* list, int width, int height)
{
    const int standard = int(FrameSizeTable().size());
    while (list->count() > standard)
        list->removeItem(list->count() - 1);
    int row = list->findData(QSize(width, height));
    if (row < 0 && width > 0 && height > 0) {
        list->addItem(QStringLiteral("%1x%2").arg(width).arg(height), QSize(width, height));
        row = list->count() - 1;
    }
    list->setCurrentIndex(row);
}

} // namespace

TFrameProfile::TFrameProfile(QWidget* parent) : QWidget(parent)
{
    m_description = new QLineEdit(this);
    m_description->setObjectName("Description");
    m_extension = new QLineEdit(this);
    m_extension->setObjectName("FileExtension");
    m_format = AddList("FileFormat", FormatNames());
    m_sampleRate = AddList("SampleRate", SampleRateChoices());
    m_audioEncoder = AddList("AudioEncoder", AudioEncoderNames());
    m_audioChannels = AddList("AudioChannels", ChannelNames());
    m_audioBitrate = AddList("AudioBitrate", AudioBitrateChoices());
    m_frameSize = AddList("FrameSize", {});
    for (const TFrameSizeInfo& row : FrameSizeTable())
        m_frameSize->addItem(QString::fromLatin1(row.label), QSize(row.width, row.height));
    m_videoEncoder = AddList("VideoEncoder", VideoEncoderNames());
    m_frameRate = AddList("FrameRate", FrameRateNames());
    m_videoBitrate = AddList("VideoBitrate", VideoBitrateChoices());

    auto* general = new QFormLayout;
    general->addRow(tr("Description"), m_description);
    general->addRow(tr("File Extension"), m_extension);
    general->addRow(tr("File Format"), m_format);

    auto* audioBox = new QGroupBox(tr("Audio"), this);
    auto* audio = new QFormLayout(audioBox);
    audio->addRow(tr("Sample Rate"), m_sampleRate);
    audio->addRow(tr("Audio Encoder"), m_audioEncoder);
    audio->addRow(tr("Audio Channels"), m_audioChannels);
    audio->addRow(tr("Audio Bitrate(kbps)"), m_audioBitrate);

    auto* videoBox = new QGroupBox(tr("Video"), this);
    auto* video = new QFormLayout(videoBox);
    video->addRow(tr("Frame Size"), m_frameSize);
    video->addRow(tr("Video Encoder"), m_videoEncoder);
    video->addRow(tr("Frame Rate"), m_frameRate);
    video->addRow(tr("Video Bitrate(kbps)"), m_videoBitrate);

    auto* boxes = new QHBoxLayout;
    boxes->addWidget(audioBox);
    boxes->addWidget(videoBox);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addLayout(general);
    layout->addLayout(boxes);
    layout->addStretch();

    connect(m_description, &QLineEdit::textEdited, this, [this](const QString& text) {
        WriteBack();
        if (!m_loading && m_profile) emit DescriptionEdited(text);
    });
    connect(m_extension, &QLineEdit::textEdited, this, &TFrameProfile::WriteBack);
    ShowProfile(nullptr);
}

QComboBox* TFrameProfile::AddList(const QString& name, const QStringList& choices)
{
    auto* list = new QComboBox(this);
    list->setObjectName(name);
    list->addItems(choices);
    list->setMaxVisibleItems(16);
    connect(list, &QComboBox::currentIndexChanged, this, &TFrameProfile::WriteBack);
    return list;
}

TAVProfile* TFrameProfile::Profile() const
{
    return m_profile.data();
}

void TFrameProfile::SetVideoListsEnabled(bool enabled)
{
    for (QComboBox* list : {m_frameSize, m_videoEncoder, m_frameRate, m_videoBitrate})
        list->setEnabled(enabled);
}

void TFrameProfile::ShowProfile(TAVProfile* profile)
{
    m_loading = true;
    m_profile = qobject_cast<TAVCustomAudioProfile*>(profile);
    auto* audio = m_profile.data();
    auto* video = qobject_cast<TAVCustomVideoProfile*>(profile);
    setEnabled(audio != nullptr);
    m_description->setText(audio ? audio->Description() : QString());
    m_extension->setText(audio ? audio->GetExtension() : QString());
    if (video) {
        SelectFrameSize(m_frameSize, video->FrameWidth(), video->FrameHeight());
        SelectIndex(m_videoEncoder, video->VideoEncoder());
        SelectIndex(m_frameRate, video->FrameRate());
        SelectText(m_videoBitrate, QString::number(video->VideoBitrate()));
    } else {
        for (QComboBox* list : {m_frameSize, m_videoEncoder, m_frameRate, m_videoBitrate})
            list->setCurrentIndex(-1);
    }
    SetVideoListsEnabled(video != nullptr);
    if (audio) {
        SelectIndex(m_audioEncoder, audio->AudioEncoder());
        SelectIndex(m_audioChannels, audio->AudioChannels());
        SelectIndex(m_format, audio->Format());
        SelectText(m_sampleRate, QString::number(audio->SampleRate()));
        SelectText(m_audioBitrate, AudioBitrateText(audio->AudioBitrate()));
    } else {
        for (QComboBox* list : {m_audioEncoder, m_audioChannels, m_format, m_sampleRate, m_audioBitrate})
            list->setCurrentIndex(-1);
    }
    m_loading = false;
}

void TFrameProfile::WriteBack()
{
    TAVCustomAudioProfile* audio = m_profile.data();
    if (m_loading || !audio) return;
    emit Edited();
    using A = TAVCustomAudioProfile;
    using V = TAVCustomVideoProfile;
    if (m_format->currentIndex() >= 0) audio->SetFormat(A::TCustomAVFormat(m_format->currentIndex()));
    if (m_sampleRate->currentIndex() >= 0) audio->SetSampleRate(m_sampleRate->currentText().toInt());
    if (m_audioEncoder->currentIndex() >= 0)
        audio->SetAudioEncoder(A::TCustomAudioEncoder(m_audioEncoder->currentIndex()));
    if (m_audioChannels->currentIndex() >= 0)
        audio->SetAudioChannels(A::TCustomAudioChannels(m_audioChannels->currentIndex()));
    if (m_audioBitrate->currentIndex() >= 0) audio->SetAudioBitrate(m_audioBitrate->currentText().toDouble());
    audio->SetDescription(m_description->text().trimmed());
    audio->SetExtension(m_extension->text().trimmed());
    auto* video = qobject_cast<V*>(audio);
    if (!video) return;
    if (m_frameSize->currentIndex() >= 0) {
        const QSize size = m_frameSize->currentData().toSize();
        video->SetFrameWidth(size.width());
        video->SetFrameHeight(size.height());
    }
    if (m_videoEncoder->currentIndex() >= 0)
        video->SetVideoEncoder(V::TCustomVideoEncoder(m_videoEncoder->currentIndex()));
    if (m_frameRate->currentIndex() >= 0)
        video->SetFrameRate(V::TCustomFrameRate(m_frameRate->currentIndex()));
    if (m_videoBitrate->currentIndex() >= 0) video->SetVideoBitrate(m_videoBitrate->currentText().toInt());
}

} // namespace korvane
