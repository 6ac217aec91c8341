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
#include <QMessageBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSet>
#include <QSettings>
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

namespace {
QString& ChoicesFile()
{
    static QString file;
    return file;
}
} // namespace

void SetNewConversionChoicesFile(const QString& file)
{
    ChoicesFile() = file;
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
    AskSourceFolder = [this] { return QFileDialog::getExistingDirectory(this, tr("Add Folder")); };
    // Replacing an existing file is asked by the dialog itself, with keeping
    // it as the default answer.
    AskOutputPath = [this](const QString& current) {
        return QFileDialog::getSaveFileName(this, tr("Save to"), current, {}, nullptr,
                                            QFileDialog::DontConfirmOverwrite);
    };
    RunProfileEditor = [this](TAVProfile* profile) {
        return EditProfile(m_env.Profiles, m_env.ProfileStorePath, profile, this);
    };

    // Opening: the file tab, the categories with the first chosen.
    m_sourceTabs->setCurrentIndex(tabFile);
    m_categoryList->addItems(m_env.Profiles->Categories());
    SelectCategory(m_categoryList->count() > 0 ? 0 : -1);

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
    for (QThread* worker : findChildren<QThread*>(Qt::FindDirectChildrenOnly))
        worker->wait();
    m_preview->StopPreview();
    // Streams opened for the preview that the pane never took are freed
    // here; the one a task will read is not among them. A disc scan or check
    // still running is dropped by the DVD tab.
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
    m_startReason = new QLabel(this);
    m_startReason->setObjectName("StartReason");
    m_startReason->setEnabled(false); // drawn in the disabled text colour
    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_startReason, 1);
    buttons->addWidget(m_backButton);
    buttons->addWidget(m_filterButton);
    buttons->addWidget(m_startButton);
    buttons->addWidget(m_cancelButton);
    return buttons;
}

// ---- Profile

void TFormNewConversion::SelectCategory(int index)
{
    // Choosing the category shown again keeps the profile chosen in it.
    TAVProfile* keep = index == m_categoryList->currentIndex() ? CurrentProfile() : nullptr;
    m_categoryList->setCurrentIndex(index);
    RefillProfiles(keep);
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
    // the preview deinterlaces when the job will
    // (a profile that cannot be applied is reported at Start)
    TAVConvertOptions jobOptions;
    bool deinterlace = false;
    try {
        deinterlace = profile && profile->Apply(&jobOptions) &&
                      jobOptions.VideoOptions()->property("Deinterlace").toBool();
    } catch (const std::exception&) {
    }
    m_preview->SetDeinterlace(deinterlace);
    const QString output = m_outputEdit->text();
    if (profile && !output.trimmed().isEmpty()) {
        // A chosen path only changes its extension; a proposed one is
        // proposed again, free under the new extension too.
        if (m_outputChosen)
            m_outputEdit->setText(ChangeFileExt(output.trimmed(), profile->GetExtension()));
        else if (IsSourceReady())
            ProposeOutput(DefaultOutputPath());
    }
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

void TFormNewConversion::ReadDurations()
{
    m_sourcesDurationUs = -1;
    const int reading = ++m_durationRead;
    const QStringList sources = m_sourceTabs->currentIndex() == tabFile && IsSourceReady() ? m_sources : QStringList();
    if (!sources.isEmpty()) {
        auto total = std::make_shared<int64_t>(0);
        QThread* worker = QThread::create([sources, total] {
            for (const QString& source : sources) {
                TAVProbe probe;
                probe.SetFileName(source);
                try {
                    probe.SetActive(true);
                    *total += probe.DurationUs();
                } catch (const std::exception&) {
                }
            }
        });
        // owned by the dialog, which waits for a probe still running when it
        // closes (a few reads of local headers)
        worker->setParent(this);
        connect(worker, &QThread::finished, worker, &QObject::deleteLater);
        connect(worker, &QThread::finished, this, [this, reading, total] {
            if (reading != m_durationRead) return;
            m_sourcesDurationUs = *total;
            ShowEstimate();
        });
        worker->start();
    }
    ShowEstimate();
}

int64_t TFormNewConversion::EstimatedBytes() const
{
    const auto* audio = qobject_cast<const TAVCustomAudioProfile*>(CurrentProfile());
    if (!audio || !IsSourceReady()) return -1;
    const bool dvd = m_sourceTabs->currentIndex() == tabDvd;
    const int64_t duration = dvd ? m_dvd->RangeDurationUs() : m_sourcesDurationUs;
    double kbps = audio->AudioBitrate();
    if (const auto* video = qobject_cast<const TAVCustomVideoProfile*>(audio)) kbps += video->VideoBitrate();
    if (kbps <= 0) {
        // no rates: the streams are copied, about as large as they are now
        if (dvd) return -1;
        int64_t bytes = 0;
        for (const QString& s : m_sources)
            bytes += QFileInfo(s).size();
        return bytes;
    }
    if (duration <= 0) return -1;
    return int64_t(kbps * 1000.0 / 8.0 * double(duration) / 1e6);
}

void TFormNewConversion::ShowEstimate()
{
    const int64_t bytes = EstimatedBytes();
    m_estimate->setText(bytes < 0 ? QString() : tr("Estimated size: about %1").arg(locale().formattedDataSize(bytes)));
}

void TFormNewConversion::ShowProfileInformation()
{
    const auto* audio = qobject_cast<const TAVCustomAudioProfile*>(CurrentProfile());
    if (!audio) {
        m_profileInfo->clear();
        m_estimate->clear();
        return;
    }
    QStringList lines;
    // a catalog profile names no format of its own: its file type says it
    const QString format = audio->Format() != TAVCustomAudioProfile::F_NONE ? FormatNames().value(audio->Format())
                                               : audio->GetExtension().mid(1).toUpper();
    lines << tr("Format: %1    File: %2").arg(format, audio->GetExtension());
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
    ShowEstimate();
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
    m_outputChosen = true;
}

QString TFormNewConversion::OutputFolder() const
{
    const QString chosen = m_outputEdit->text().trimmed();
    return m_outputChosen && !chosen.isEmpty() ? QFileInfo(chosen).path() : m_targetFolder;
}

void TFormNewConversion::ProposeOutput(const QString& path)
{
    m_outputEdit->setText(path);
    m_outputChosen = false;
}

void TFormNewConversion::SetTaskTargets(const QStringList& targets)
{
    m_taken = TTakenTargets(targets);
    if (IsSourceReady() && !m_outputChosen) ProposeOutput(DefaultOutputPath());
}

bool TFormNewConversion::ConfirmOutputs(const QStringList& outputs)
{
    for (const QString& output : outputs) {
        QString text;
        if (QFileInfo::exists(output))
            text = tr("The file %1 already exists.");
        else if (m_taken.IsTaskTarget(output))
            text = tr("The file %1 is the output of another task.");
        else
            continue;
        QMessageBox box(QMessageBox::Warning, tr("Replace File"), text.arg(QDir::toNativeSeparators(output)),
                        QMessageBox::NoButton, this);
        box.setInformativeText(tr("Replace it with this conversion, or keep it and choose another name?"));
        QPushButton* replace = box.addButton(tr("&Replace"), QMessageBox::DestructiveRole);
        QPushButton* keep = box.addButton(tr("&Keep the File"), QMessageBox::RejectRole);
        box.setDefaultButton(keep);
        box.setEscapeButton(keep);
        box.exec();
        if (box.clickedButton() != replace) {
            m_outputEdit->setFocus();
            m_outputEdit->selectAll();
            return false;
        }
    }
    return true;
}

QString TFormNewConversion::DefaultOutputPath() const
{
    const TAVProfile* profile = CurrentProfile();
    const QString extension = profile ? profile->GetExtension() : QString();
    QString path;
    if (m_sourceTabs->currentIndex() == tabDvd)
        path = DvdOutputPath(extension);
    else if (!m_sources.isEmpty())
        path = FileOutputPath(OutputFolder(), m_sources.first(), extension);
    return path.isEmpty() ? path : NextFreePath(path, m_taken.Predicate());
}

QStringList TFormNewConversion::OutputPaths() const
{
    const QString first = m_outputEdit->text().trimmed();
    if (m_sourceTabs->currentIndex() == tabDvd) return {first};
    return BatchOutputPaths(first, m_sources, CurrentProfile() ? CurrentProfile()->GetExtension() : QString(),
                            m_taken.Predicate());
}

// ---- Pages and finishing

bool TFormNewConversion::IsReady() const
{
    // a folder still being read would leave its files out
    const bool reading = m_sourceTabs->currentIndex() == tabFile && m_readingFolders > 0;
    return !reading && IsSourceReady() && !m_outputEdit->text().trimmed().isEmpty() && CurrentProfile() != nullptr;
}

QString TFormNewConversion::StartBlockedReason() const
{
    if (m_sourceTabs->currentIndex() == tabDvd) {
        if (m_dvd->IsScanning()) return tr("Reading the disc...");
        if (m_dvd->IsChecking()) return tr("Checking the disc...");
        if (!m_dvd->HasTitle()) return tr("Choose a disc and a title.");
    } else {
        if (m_readingFolders > 0) return tr("Reading the folder...");
        if (m_sources.isEmpty()) return tr("Choose a source file.");
        for (const QString& s : m_sources)
            if (!QFileInfo(s).isFile())
                return tr("The source file %1 does not exist.").arg(QFileInfo(s).fileName());
    }
    if (!CurrentProfile()) return tr("Choose a profile.");
    if (m_outputEdit->text().trimmed().isEmpty()) return tr("Enter where to save the output.");
    return {};
}

void TFormNewConversion::UpdateReadiness()
{
    const bool ready = IsReady();
    m_filterButton->setEnabled(ready && CurrentPage() == pgSource);
    m_startButton->setEnabled(ready);
    m_backButton->setEnabled(CurrentPage() == pgFilters);
    QString batch;
    if (ready && m_sourceTabs->currentIndex() == tabFile && m_sources.size() > 1) {
        QStringList names;
        for (const QString& output : OutputPaths().mid(1))
            names << QFileInfo(output).fileName();
        batch = tr("The other files go beside it as: %1").arg(names.join(QStringLiteral(", ")));
    }
    // one line, cut to the field's width; the whole list in the tooltip
    const QString shown = m_batchOutputs->fontMetrics().elidedText(batch, Qt::ElideRight,
                                                                    std::max(200, m_outputEdit->width()));
    if (m_batchOutputs->text() != shown) m_batchOutputs->setText(shown);
    m_batchOutputs->setToolTip(batch);
    m_batchOutputs->setVisible(!batch.isEmpty());
    const QString reason = ready ? QString() : StartBlockedReason();
    if (m_startReason->text() != reason) m_startReason->setText(reason);
    m_startButton->setToolTip(reason);
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
    if (!IsReady() || m_dvd->IsScanning() || m_dvd->IsChecking()) return;
    const bool dvd = m_sourceTabs->currentIndex() == tabDvd;
    if (dvd && m_taskSource.isEmpty()) {
        // The disc is checked and the task's stream opened on a worker; Start
        // goes on from there, or the dialog stays open with the reason.
        m_dvd->OpenSourceChecked([this](std::optional<dvd::TDvdSource> source, const QString& error) {
            UpdateReadiness();
            if (!source) {
                ErrorBox(error.isEmpty() ? tr("Can not open DVD") : error);
                return;
            }
            m_taskSource = source->Name;
            m_taskStreamHandle = source->Handle;
            Finish();
        });
        UpdateReadiness();
        return;
    }
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
    if (!ConfirmOutputs(outputs)) return;
    // A fresh copy each time: Apply adds to what it finds, so a second
    // attempt must not stack the profile twice.
    auto options = std::make_unique<TAVConvertOptions>();
    options->Assign(m_options.get());
    // The filters the preview shows are the ones converted, from either page.
    options->FilterOptions()->m_videoFilters = FilterDescription();
    options->m_inputFormat.clear();
    const int configured = m_env.Configuration ? m_env.Configuration->PerformanceOptions()->ThreadCount() : 0;
    options->m_threadCount = configured > 0 ? configured : std::max(1, QThread::idealThreadCount());
    try {
        CurrentProfile()->Apply(options.get());
    } catch (const std::exception& e) {
        ErrorBox(QString::fromUtf8(e.what()));
        return;
    }
    m_finalOptions = std::move(options);
    StoreChoices(outputs.value(0));
    accept();
}

void TFormNewConversion::done(int result)
{
    // Closing drops a disc scan or a preview open still running: their
    // results are not shown.
    m_dvd->CancelScan();
    m_dvd->CancelPreviewOpen();
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

// ---- Remembered choices

void TFormNewConversion::RememberChoicesIn(const QString& file)
{
    m_choicesFile = file;
    if (file.isEmpty()) return;
    const QSettings choices(file, QSettings::IniFormat);
    const int category = m_categoryList->findText(choices.value("Category").toString());
    if (category >= 0) SelectCategory(category);
    const QString profile = choices.value("Profile").toString();
    for (int i = 0; i < m_shownProfiles.size(); ++i)
        if (m_shownProfiles[i] && m_shownProfiles[i]->Description() == profile) SelectProfile(i);
    // A folder that is gone (an unplugged disk) falls back to the configured one.
    const QString folder = choices.value("OutputFolder").toString();
    if (!folder.isEmpty() && QFileInfo(folder).isDir()) m_targetFolder = folder;
    if (IsSourceReady() && !m_outputChosen) ProposeOutput(DefaultOutputPath());
}

void TFormNewConversion::StoreChoices(const QString& firstOutput) const
{
    if (m_choicesFile.isEmpty()) return;
    QSettings choices(m_choicesFile, QSettings::IniFormat);
    choices.setValue("Category", m_categoryList->currentText());
    choices.setValue("Profile", CurrentProfile() ? CurrentProfile()->Description() : QString());
    choices.setValue("OutputFolder", QFileInfo(firstOutput).absolutePath());
}

// ---- Drops

void TFormNewConversion::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->mimeData()->hasUrls()) event->acceptProposedAction();
}

void TFormNewConversion::dropEvent(QDropEvent* event)
{
    // Dropped files replace the sources; dropped folders add their media
    // files to them.
    QStringList files, folders;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile()) (QFileInfo(url.toLocalFile()).isDir() ? folders : files) << url.toLocalFile();
    if (folders.isEmpty()) {
        if (!files.isEmpty() && ChooseSourceFiles(files)) event->acceptProposedAction();
        return;
    }
    if (!files.isEmpty()) AddSourceFiles(files);
    for (const QString& folder : folders)
        AddSourceFolder(folder);
    event->acceptProposedAction();
}

// ---- Running it

std::vector<std::unique_ptr<TConversionSettings>> RunNewConversion(QWidget* parent, const QStringList& sources,
                                                                   const QStringList& taskTargets)
{
    if (!TAVFilter::HasEditor()) InstallFilterDialogs();
    TFormNewConversion form(Environment(), nullptr, parent);
    form.RememberChoicesIn(ChoicesFile());
    form.SetTaskTargets(taskTargets);
    if (!sources.isEmpty()) form.SetSources(sources);
    if (form.exec() != QDialog::Accepted) return {};
    return form.GetConversionSettings();
}

} // namespace korvane
