#include "FormNewConversion.h"

#include "Configuration.h"
#include "DvdSourceTab.h"
#include "FilterDialogs.h"
#include "FilterListPage.h"
#include "FormEditProfile.h"
#include "OutputNaming.h"
#include "PreviewPane.h"
#include "ProfileCatalog.h"
#include "options/Messages.h"
#include "options/Persistent.h"
#include "profiles/AVProfile.h"
#include "sources/AVProbe.h"
#include "sources/StreamProtocol.h"

#include <QComboBox>
#include <QDir>
#include <QDragEnterEvent>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSet>
#include <QStackedWidget>
#include <QTabWidget>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QVBoxLayout>
#include <limits>

namespace korvane {

namespace {

TWizardEnvironment& Environment()
{
    static TWizardEnvironment environment;
    return environment;
}

} // namespace

void SetWizardEnvironment(const TWizardEnvironment& environment)
{
    Environment() = environment;
}

void SetNewConversionCategories(const std::vector<TCategoryEntry>& categories)
{
    Environment().Categories = categories;
}

TFormNewConversion::TFormNewConversion(const TWizardEnvironment& environment, IPreviewPane* pane,
                                       QWidget* parent)
    : QDialog(parent), m_env(environment), m_options(std::make_unique<TAVConvertOptions>())
{
    setWindowTitle(tr("New Conversion Wizard"));
    setObjectName("FormNewConversion");
    setAcceptDrops(true);
    if (m_env.ProfileStorePath.isEmpty())
        m_env.ProfileStorePath = ProfileStorePath(TAVConfiguration::GetAppDataFolder());
    if (!m_env.Profiles) {
        // No list given: the catalog with the user's store over it.
        m_ownProfiles = std::make_unique<TAVProfileList>();
        try {
            InitializeProfiles(m_ownProfiles.get(), m_ownProfiles.get(), m_env.ProfileStorePath);
        } catch (const std::exception& e) {
            ErrorBox(QString::fromUtf8(e.what()));
        }
        m_env.Profiles = m_ownProfiles.get();
    }
    m_targetFolder =
        m_env.Configuration ? m_env.Configuration->OutputFolder() : TAVConfiguration::DefaultOutputFolder();
    m_options->m_recordingTime = std::numeric_limits<int64_t>::max();

    if (!pane) pane = m_env.PreviewFactory ? m_env.PreviewFactory(this) : CreatePreviewPane(this);
    m_preview = pane;
    if (!m_preview->Widget()->parent()) m_preview->Widget()->setParent(this);

    m_pageTitle = new QLabel(this);
    QFont titleFont = m_pageTitle->font();
    titleFont.setBold(true);
    titleFont.setPointSizeF(titleFont.pointSizeF() * 1.25);
    m_pageTitle->setFont(titleFont);

    m_pages = new QStackedWidget(this);
    m_pages->addWidget(BuildSourcePage());
    m_filterPage = new TFilterListPage(this);
    m_pages->addWidget(m_filterPage);
    connect(m_filterPage, &TFilterListPage::FiltersChanged, this,
            [this](const QString& description) { m_preview->SetVideoFilters(description); });

    auto* left = new QVBoxLayout;
    left->addWidget(m_pageTitle);
    left->addWidget(m_pages, 1);
    auto* body = new QHBoxLayout;
    body->addLayout(left, 3);
    body->addWidget(m_preview->Widget(), 2);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(body, 1);
    layout->addLayout(BuildButtons());

    AskSourceFiles = [this] { return QFileDialog::getOpenFileNames(this, tr("Select Source File")); };
    RunProfileEditor = [this](TAVProfile* profile) {
        return EditProfile(m_env.Profiles, m_env.ProfileStorePath, profile, this);
    };

    // Opening: the file tab, the categories with the first chosen.
    m_sourceTabs->setCurrentIndex(tabFile);
    m_categoryList->addItems(m_env.Profiles->Categories());
    SelectCategory(m_categoryList->count() > 0 ? 0 : -1);
    m_dvd->SetDrives(dvd::ListDvdDrives());

    m_readiness = new QTimer(this);
    m_readiness->setInterval(300);
    connect(m_readiness, &QTimer::timeout, this, &TFormNewConversion::UpdateReadiness);
    m_readiness->start();
    m_pages->setCurrentIndex(pgSource);
    m_pageTitle->setText(tr("Select Source File"));
    UpdateReadiness();
    resize(960, 560);
    m_sourceEdit->setFocus();
}

TFormNewConversion::~TFormNewConversion()
{
    m_preview->StopPreview();
    // Streams opened for the preview that the pane never took are freed
    // here; the one a task will read is not among them.
    for (int handle : m_previewStreams)
        ReleaseStream(handle);
    if (m_taskStreamHandle) ReleaseStream(m_taskStreamHandle); // opened, but no task took it
}

QLayout* TFormNewConversion::BuildButtons()
{
    m_filterButton = new QPushButton(tr("&Filter >"), this);
    m_backButton = new QPushButton(tr("< &Back"), this);
    m_startButton = new QPushButton(tr("&Start Convert"), this);
    m_cancelButton = new QPushButton(tr("Cancel"), this);
    m_startButton->setDefault(true);
    connect(m_filterButton, &QPushButton::clicked, this, &TFormNewConversion::GoToFilters);
    connect(m_backButton, &QPushButton::clicked, this, &TFormNewConversion::GoBack);
    connect(m_startButton, &QPushButton::clicked, this, &TFormNewConversion::Finish);
    connect(m_cancelButton, &QPushButton::clicked, this, &QDialog::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(m_backButton);
    buttons->addWidget(m_filterButton);
    buttons->addWidget(m_startButton);
    buttons->addWidget(m_cancelButton);
    return buttons;
}

// ---- Profile

void TFormNewConversion::SelectCategory(int index)
{
    m_categoryList->setCurrentIndex(index);
    RefillProfiles(nullptr);
}

void TFormNewConversion::RefillProfiles(TAVProfile* select)
{
    m_profileList->clear();
    m_shownProfiles.clear();
    const QString category = m_categoryList->currentText();
    if (m_categoryList->currentIndex() >= 0) {
        // A category left without profiles (all deleted in the editor) shows
        // an empty list; the dialog is then not ready.
        for (TAVProfile* p : m_env.Profiles->ProfilesOfCategory(category)) {
            m_profileList->addItem(p->Description());
            m_shownProfiles << QPointer<TAVProfile>(p);
        }
    }
    const int row = select ? std::max<int>(0, m_shownProfiles.indexOf(QPointer<TAVProfile>(select))) : 0;
    SelectProfile(m_profileList->count() > 0 ? row : -1);
}

void TFormNewConversion::SelectProfile(int index)
{
    m_profileList->setCurrentIndex(index);
    ShowProfileInformation();
    TAVProfile* profile = CurrentProfile();
    m_editProfile->setEnabled(qobject_cast<TAVCustomAudioProfile*>(profile) != nullptr);
    const QString output = m_outputEdit->text();
    if (profile && !output.trimmed().isEmpty())
        m_outputEdit->setText(ChangeFileExt(output.trimmed(), profile->GetExtension()));
    UpdateReadiness();
}

bool TFormNewConversion::SelectProfileByDescription(const QString& description)
{
    for (TAVProfile* p : m_env.Profiles->ProfilesOfCategory(m_categoryList->currentText()))
        if (p->Description() == description) {
            RefillProfiles(p);
            return true;
        }
    for (int c = 0; c < m_categoryList->count(); ++c)
        for (TAVProfile* p : m_env.Profiles->ProfilesOfCategory(m_categoryList->itemText(c)))
            if (p->Description() == description) {
                m_categoryList->setCurrentIndex(c);
                RefillProfiles(p);
                return true;
            }
    return false;
}

TAVProfile* TFormNewConversion::CurrentProfile() const
{
    const int i = m_profileList->currentIndex();
    return i >= 0 && i < m_shownProfiles.size() ? m_shownProfiles[i].data() : nullptr;
}

void TFormNewConversion::ShowProfileInformation()
{
    const auto* audio = qobject_cast<const TAVCustomAudioProfile*>(CurrentProfile());
    if (!audio) {
        m_profileInfo->clear();
        return;
    }
    QStringList lines;
    lines << tr("Format: %1    File: %2").arg(FormatNames().value(audio->Format()), audio->GetExtension());
    if (const auto* video = qobject_cast<const TAVCustomVideoProfile*>(audio)) {
        const QString size = video->FrameWidth() > 0 && video->FrameHeight() > 0
                                 ? QStringLiteral("%1x%2").arg(video->FrameWidth()).arg(video->FrameHeight())
                                 : tr("original size");
        const QString rate =
            video->FrameRateValue() > 0 ? tr("%1 fps").arg(video->FrameRateValue()) : tr("original rate");
        lines << tr("Video: %1, %2, %3, %4 kbps")
                     .arg(VideoEncoderNames().value(video->VideoEncoder()), size, rate)
                     .arg(video->VideoBitrate());
    }
    const QString sampleRate =
        audio->SampleRate() > 0 ? tr("%1 Hz").arg(audio->SampleRate()) : tr("original rate");
    lines << tr("Audio: %1, %2, %3, %4 kbps")
                 .arg(AudioEncoderNames().value(audio->AudioEncoder()), sampleRate,
                      ChannelNames().value(audio->AudioChannels()), AudioBitrateText(audio->AudioBitrate()));
    m_profileInfo->setText(lines.join('\n'));
}

void TFormNewConversion::EditCurrentProfile()
{
    TAVProfile* profile = CurrentProfile();
    if (!qobject_cast<TAVCustomAudioProfile*>(profile) || !RunProfileEditor) return;
    QPointer<TAVProfile> edited = RunProfileEditor(profile);
    // The editor may have deleted profiles, this one included: the lists are
    // rebuilt from the profile list, never from pointers kept before.
    int category = m_categoryList->currentIndex();
    if (edited) {
        const int found = m_env.Profiles->IndexOfCategory(edited->Category().trimmed());
        if (found >= 0) category = found;
    }
    m_categoryList->setCurrentIndex(category);
    RefillProfiles(edited.data());
}

// ---- Output

QString TFormNewConversion::OutputPath() const
{
    return m_outputEdit->text();
}

void TFormNewConversion::SetOutputPath(const QString& path)
{
    m_outputEdit->setText(path);
}

QString TFormNewConversion::DefaultOutputPath() const
{
    const TAVProfile* profile = CurrentProfile();
    const QString extension = profile ? profile->GetExtension() : QString();
    if (m_sourceTabs->currentIndex() == tabDvd) return DvdOutputPath(extension);
    if (m_sources.isEmpty()) return {};
    return FileOutputPath(m_targetFolder, m_sources.first(), extension);
}

QStringList TFormNewConversion::OutputPaths() const
{
    const QString first = m_outputEdit->text().trimmed();
    if (m_sourceTabs->currentIndex() == tabDvd) return {first};
    return BatchOutputPaths(first, m_sources, CurrentProfile() ? CurrentProfile()->GetExtension() : QString());
}

// ---- Pages and finishing

bool TFormNewConversion::IsReady() const
{
    return IsSourceReady() && !m_outputEdit->text().trimmed().isEmpty() && CurrentProfile() != nullptr;
}

void TFormNewConversion::UpdateReadiness()
{
    const bool ready = IsReady();
    m_filterButton->setEnabled(ready && CurrentPage() == pgSource);
    m_startButton->setEnabled(ready);
    m_backButton->setEnabled(CurrentPage() == pgFilters);
}

TFormNewConversion::TPage TFormNewConversion::CurrentPage() const
{
    return TPage(m_pages->currentIndex());
}

void TFormNewConversion::GoToFilters()
{
    if (!IsReady()) return;
    m_pages->setCurrentIndex(pgFilters);
    m_pageTitle->setText(tr("Filters Settings"));
    UpdateReadiness();
}

void TFormNewConversion::GoBack()
{
    m_pages->setCurrentIndex(pgSource);
    m_pageTitle->setText(tr("Select Source File"));
    UpdateReadiness();
}

QString TFormNewConversion::FilterDescription() const
{
    return m_filterPage->FilterDescription();
}

void TFormNewConversion::Finish()
{
    if (!IsReady() || m_dvd->IsScanning()) return;
    const bool dvd = m_sourceTabs->currentIndex() == tabDvd;
    // An output that is one of the sources would be overwritten while it is
    // read.
    const QStringList outputs = OutputPaths();
    if (!dvd) {
        QSet<QString> sources;
        for (const QString& s : m_sources)
            sources.insert(SameFile(s));
        for (const QString& o : outputs)
            if (sources.contains(SameFile(o))) {
                ErrorBox(tr("The output file %1 is a source file").arg(QDir::toNativeSeparators(o)));
                return;
            }
    }
    // A fresh copy each time: Apply adds to what it finds, so a second
    // attempt must not stack the profile twice.
    auto options = std::make_unique<TAVConvertOptions>();
    options->Assign(m_options.get());
    options->FilterOptions()->m_videoFilters = CurrentPage() == pgFilters ? FilterDescription() : QString();
    options->m_inputFormat.clear();
    const int configured = m_env.Configuration ? m_env.Configuration->PerformanceOptions()->ThreadCount() : 0;
    options->m_threadCount = configured > 0 ? configured : std::max(1, QThread::idealThreadCount());
    try {
        CurrentProfile()->Apply(options.get());
        if (dvd) OpenTaskStream();
    } catch (const std::exception& e) {
        ErrorBox(QString::fromUtf8(e.what()));
        return;
    }
    m_finalOptions = std::move(options);
    accept();
}

void TFormNewConversion::done(int result)
{
    // A title choice being applied (a disc scan) cannot be interrupted.
    if (m_dvd->IsScanning()) return;
    QDialog::done(result);
}

std::vector<std::unique_ptr<TConversionSettings>> TFormNewConversion::GetConversionSettings()
{
    std::vector<std::unique_ptr<TConversionSettings>> result;
    if (!m_finalOptions) return result;
    m_preview->StopPreview();
    const bool dvd = m_sourceTabs->currentIndex() == tabDvd;
    const QStringList outputs = OutputPaths();
    const int count = dvd ? 1 : int(m_sources.size());
    // The marks belong to the one source previewed.
    const bool marks = count == 1;
    const int64_t start = marks ? m_preview->StartPosition() : 0;
    const int64_t end = marks ? m_preview->EndPosition() : 0;
    for (int i = 0; i < count; ++i) {
        auto settings = std::make_unique<TConversionSettings>();
        if (dvd) {
            FillDvdSettings(settings.get());
        } else {
            settings->SetSourceFile(m_sources[i]);
            settings->SetSourceType(TConversionSettings::stFile);
        }
        settings->SetTargetFile(outputs.value(i));
        settings->SetProfile(CurrentProfile() ? CurrentProfile()->Description() : QString());
        settings->SetCategoryId(m_categoryPicker->CategoryId());
        settings->SetConvertOptions(m_finalOptions.get());
        TAVConvertOptions* options = settings->ConvertOptions();
        options->m_startTime = std::max<int64_t>(0, start);
        // An end before the start marks nothing.
        if (end > 0 && end > start) options->m_recordingTime = end - options->m_startTime;
        result.push_back(std::move(settings));
    }
    return result;
}

// ---- Drops

void TFormNewConversion::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TFormNewConversion::dropEvent(QDropEvent* event)
{
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) paths << url.toLocalFile();
    if (!paths.isEmpty() && ChooseSourceFiles(paths)) event->acceptProposedAction();
}

// ---- Running it

std::vector<std::unique_ptr<TConversionSettings>> RunNewConversion(QWidget* parent,
                                                                   const QStringList& sources)
{
    if (!TAVFilter::HasEditor()) InstallFilterDialogs();
    TFormNewConversion form(Environment(), nullptr, parent);
    if (!sources.isEmpty()) form.SetSources(sources);
    if (form.exec() != QDialog::Accepted) return {};
    return form.GetConversionSettings();
}

} // namespace korvane
