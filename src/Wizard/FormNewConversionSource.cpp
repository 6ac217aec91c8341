// The first page of the new conversion dialog and its file source: one or
// several files typed, browsed or dropped.
#include "FormNewConversion.h"

#include "DvdSourceTab.h"
#include "MediaFolder.h"
#include "OutputNaming.h"
#include "PreviewPane.h"
#include "options/Messages.h"
#include "sources/AVProbe.h"
#include "sources/StreamProtocol.h"

#include <QComboBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QSet>
#include <QThread>
#include <QPushButton>
#include <QTabWidget>
#include <QToolButton>
#include <QVBoxLayout>

namespace korvane {

QWidget* TFormNewConversion::BuildFileTab()
{
    auto* fileTab = new QWidget(this);
    m_sourceEdit = new QLineEdit(fileTab);
    m_sourceEdit->setObjectName("SourceFile");
    m_sourceEdit->setPlaceholderText(tr("A media file, or several"));
    auto* browse = new QToolButton(fileTab);
    browse->setText(tr("..."));
    browse->setToolTip(tr("Select Source File"));
    auto* fileRow = new QHBoxLayout;
    fileRow->addWidget(m_sourceEdit, 1);
    fileRow->addWidget(browse);
    auto* fileLayout = new QFormLayout(fileTab);
    fileLayout->addRow(tr("Source File:"), fileRow);
    // A batch: the sources in a list, added by file or by folder.
    m_sourceList = new QListWidget(fileTab);
    m_sourceList->setObjectName("Sources");
    m_sourceList->setSelectionMode(QAbstractItemView::ExtendedSelection);
    m_sourceList->setMinimumHeight(3 * m_sourceList->fontMetrics().lineSpacing());
    auto* addFiles = new QPushButton(tr("Add Files..."), fileTab);
    auto* addFolder = new QPushButton(tr("Add Folder..."), fileTab);
    addFolder->setToolTip(tr("Adds the media files of a folder and its sub-folders"));
    m_removeSources = new QPushButton(tr("Remove"), fileTab);
    auto* listButtons = new QVBoxLayout;
    listButtons->addWidget(addFiles);
    listButtons->addWidget(addFolder);
    listButtons->addWidget(m_removeSources);
    listButtons->addStretch();
    auto* listRow = new QHBoxLayout;
    listRow->addWidget(m_sourceList, 1);
    listRow->addLayout(listButtons);
    fileLayout->addRow(listRow);

    connect(browse, &QToolButton::clicked, this, [this] {
        const QStringList chosen = AskSourceFiles ? AskSourceFiles() : QStringList();
        if (!chosen.isEmpty()) ChooseSourceFiles(chosen);
    });
    connect(addFiles, &QPushButton::clicked, this, [this] {
        const QStringList chosen = AskSourceFiles ? AskSourceFiles() : QStringList();
        if (!chosen.isEmpty()) AddSourceFiles(chosen);
    });
    connect(addFolder, &QPushButton::clicked, this, [this] {
        const QString folder = AskSourceFolder ? AskSourceFolder() : QString();
        if (!folder.isEmpty()) AddSourceFolder(folder);
    });
    connect(m_removeSources, &QPushButton::clicked, this, &TFormNewConversion::RemoveSelectedSources);
    connect(m_sourceList, &QListWidget::itemSelectionChanged, this,
            [this] { m_removeSources->setEnabled(!m_sourceList->selectedItems().isEmpty()); });
    m_removeSources->setEnabled(false);
    return fileTab;
}

QWidget* TFormNewConversion::BuildSourcePage()
{
    auto* page = new QWidget(this);
    m_sourceTabs = new QTabWidget(page);
    m_sourceTabs->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Maximum);

    m_sourceTabs->addTab(BuildFileTab(), tr("Video File"));
    m_dvd = new TDvdSourceTab(m_sourceTabs);

    m_sourceTabs->addTab(m_dvd, tr("Dvd"));

    auto* profileBox = new QGroupBox(tr("Profile"), page);
    m_categoryList = new QComboBox(profileBox);
    m_categoryList->setObjectName("Category");
    m_profileList = new QComboBox(profileBox);
    m_profileList->setObjectName("Profile");
    m_profileList->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    m_profileList->setMinimumContentsLength(24);
    m_editProfile = new QPushButton(tr("Edit"), profileBox);
    m_profileInfo = new QLabel(profileBox);
    m_profileInfo->setObjectName("ProfileInformation");
    m_profileInfo->setTextFormat(Qt::PlainText);
    m_profileInfo->setWordWrap(true);
    m_profileInfo->setMinimumHeight(3 * m_profileInfo->fontMetrics().lineSpacing());
    auto* profileRow = new QHBoxLayout;
    profileRow->addWidget(m_profileList, 1);
    profileRow->addWidget(m_editProfile);
    auto* profileLayout = new QFormLayout(profileBox);
    profileLayout->addRow(tr("Category:"), m_categoryList);
    profileLayout->addRow(tr("Profile:"), profileRow);
    profileLayout->addRow(m_profileInfo);
    m_estimate = new QLabel(profileBox);
    m_estimate->setObjectName("EstimatedSize");
    profileLayout->addRow(m_estimate);

    auto* outputBox = new QGroupBox(tr("Output"), page);
    m_outputEdit = new QLineEdit(outputBox);
    m_outputEdit->setObjectName("SaveTo");
    m_categoryPicker = new TCategoryPicker(outputBox);
    m_categoryPicker->setObjectName("HistoryCategory");
    m_categoryPicker->setToolTip(tr("The history category the finished task goes into"));
    m_categoryPicker->SetCategories(m_env.Categories);
    m_outputBrowse = new QToolButton(outputBox);
    m_outputBrowse->setObjectName("BrowseSaveTo");
    m_outputBrowse->setText(tr("..."));
    m_outputBrowse->setToolTip(tr("Choose where to save the output"));
    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(m_outputEdit, 1);
    outputRow->addWidget(m_outputBrowse);
    m_batchOutputs = new QLabel(outputBox);
    m_batchOutputs->setObjectName("BatchOutputs");
    m_batchOutputs->setTextInteractionFlags(Qt::TextSelectableByMouse);
    m_batchOutputs->setVisible(false);
    auto* saveTo = new QVBoxLayout;
    saveTo->addLayout(outputRow);
    saveTo->addWidget(m_batchOutputs);
    auto* outputLayout = new QFormLayout(outputBox);
    outputLayout->addRow(tr("Save to:"), saveTo);
    outputLayout->addRow(tr("History category:"), m_categoryPicker);

    auto* layout = new QVBoxLayout(page);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(m_sourceTabs);
    layout->addWidget(profileBox);
    layout->addWidget(outputBox);
    layout->addStretch();

    connect(m_sourceEdit, &QLineEdit::textEdited, this, &TFormNewConversion::SourceTextEdited);
    connect(m_sourceTabs, &QTabWidget::currentChanged, this, [this](int tab) {
        // The drives are listed when the tab is first shown (listing may
        // pull a drive's tray in), on a worker.
        if (tab == tabDvd && !m_dvd->HasListedDrives() && !m_dvd->IsListingDrives()) m_dvd->RefreshDrives(false);
        SourceChanged();
    });
    connect(m_dvd, &TDvdSourceTab::SourceChanged, this, &TFormNewConversion::SourceChanged);
    connect(m_dvd, &TDvdSourceTab::ScanningChanged, this, [this](bool scanning) {
        if (scanning) {
            m_dvd->CancelPreviewOpen(); // a title of the disc read before
            m_preview->StopPreview();
        }
        UpdateReadiness();
    });
    connect(m_categoryList, &QComboBox::activated, this, &TFormNewConversion::SelectCategory);
    connect(m_profileList, &QComboBox::activated, this, &TFormNewConversion::SelectProfile);
    connect(m_editProfile, &QPushButton::clicked, this, &TFormNewConversion::EditCurrentProfile);
    connect(m_outputEdit, &QLineEdit::textChanged, this, &TFormNewConversion::UpdateReadiness);
    connect(m_outputEdit, &QLineEdit::textEdited, this, [this] { m_outputChosen = true; });
    connect(m_outputBrowse, &QToolButton::clicked, this, [this] {
        const QString chosen = AskOutputPath ? AskOutputPath(m_outputEdit->text().trimmed()) : QString();
        if (!chosen.isEmpty()) SetOutputPath(chosen);
    });
    return page;
}

// ---- Source

void TFormNewConversion::SelectSourceTab(TSourceTab tab)
{
    m_sourceTabs->setCurrentIndex(tab);
}

void TFormNewConversion::SetSources(const QStringList& paths)
{
    m_sources.clear();
    for (const QString& p : paths)
        if (!p.trimmed().isEmpty()) m_sources << p;
    ShowSourcesInField();
    SourceChanged();
    // New files named after themselves, in the folder the user chose.
    if (m_outputChosen && IsSourceReady()) m_outputEdit->setText(DefaultOutputPath());
}

bool TFormNewConversion::ChooseSourceFiles(const QStringList& paths)
{
    // A file that is not media is named and left out; the others are taken.
    QStringList usable, refused;
    for (const QString& path : paths)
        (TAVProbe::IsUsableSource(path) ? usable : refused) << path;
    if (!refused.isEmpty()) {
        QStringList names;
        for (const QString& path : refused)
            names << QDir::toNativeSeparators(path);
        ErrorBox(tr("Invalid Video/Audio File: %1").arg(names.join(QStringLiteral(", "))));
    }
    if (usable.isEmpty()) return false;
    SelectSourceTab(tabFile);
    SetSources(usable);
    return true;
}

void TFormNewConversion::AddSourceFiles(const QStringList& paths)
{
    // A file that is not media is named and left out, as when choosing.
    QStringList usable, refused;
    for (const QString& path : paths)
        (TAVProbe::IsUsableSource(path) ? usable : refused) << path;
    if (!refused.isEmpty())
        ErrorBox(tr("Invalid Video/Audio File: %1").arg(QDir::toNativeSeparators(refused.join(QStringLiteral(", ")))));
    AddSources(usable);
}

void TFormNewConversion::AddSources(const QStringList& paths)
{
    QStringList all = m_sources;
    QSet<QString> known;
    for (const QString& s : all)
        known.insert(SameFile(s));
    for (const QString& p : paths)
        if (!known.contains(SameFile(p))) {
            known.insert(SameFile(p));
            all << p;
        }
    if (all == m_sources) return;
    SelectSourceTab(tabFile);
    SetSources(all);
}

void TFormNewConversion::AddSourceFolder(const QString& folder)
{
    // Every file of the folder is opened to tell media from the rest: on a
    // worker, while Start waits.
    ++m_readingFolders;
    UpdateReadiness();
    auto found = std::make_shared<QStringList>();
    QThread* worker = QThread::create([folder, found] { *found = MediaFilesIn(folder, &TAVProbe::IsUsableSource); });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QThread::finished, this, [this, folder, found] {
        --m_readingFolders;
        if (found->isEmpty())
            ErrorBox(tr("There are no video or audio files in %1").arg(QDir::toNativeSeparators(folder)));
        AddSources(*found);
        UpdateReadiness();
    });
    worker->start();
}

void TFormNewConversion::RemoveSelectedSources()
{
    QStringList kept;
    for (int i = 0; i < m_sourceList->count(); ++i)
        if (!m_sourceList->item(i)->isSelected() && i < m_sources.size()) kept << m_sources[i];
    SetSources(kept);
}

void TFormNewConversion::ShowSourcesInField()
{
    m_sourceList->clear();
    for (const QString& s : m_sources) {
        auto* item = new QListWidgetItem(QFileInfo(s).fileName(), m_sourceList);
        item->setToolTip(QDir::toNativeSeparators(s));
    }
    if (m_sources.size() <= 1) {
        m_sourceEdit->setText(m_sources.value(0));
        m_sourceEdit->setCursorPosition(m_sourceEdit->text().size());
        return;
    }
    QStringList quoted;
    for (const QString& s : m_sources)
        quoted << '"' + s + '"';
    m_sourceEdit->setText(quoted.join(' '));
}

void TFormNewConversion::SourceTextEdited(const QString& text)
{
    // Several files show as "a" "b"; anything else is one path.
    m_sources.clear();
    const QString t = text.trimmed();
    if (t.startsWith('"')) {
        for (const QString& part : t.split('"', Qt::SkipEmptyParts))
            if (!part.trimmed().isEmpty()) m_sources << part;
    } else if (!t.isEmpty()) {
        m_sources << text;
    }
    SourceChanged();
}

bool TFormNewConversion::IsSourceReady() const
{
    if (m_sourceTabs->currentIndex() == tabDvd) return m_dvd->HasTitle();
    if (m_sources.isEmpty()) return false;
    for (const QString& s : m_sources)
        if (!QFileInfo(s).isFile()) return false;
    return true;
}

void TFormNewConversion::SourceChanged()
{
    m_taskSource.clear();
    if (m_taskStreamHandle) {
        ReleaseStream(m_taskStreamHandle);
        m_taskStreamHandle = 0;
    }
    const bool ready = IsSourceReady();
    const bool dvd = m_sourceTabs->currentIndex() == tabDvd;
    // A preview open of an earlier DVD choice still running is dropped.
    m_dvd->CancelPreviewOpen();
    const QString input = ready && !dvd && m_sources.size() == 1 ? m_sources.first() : QString();
    if (input.isEmpty())
        m_preview->StopPreview();
    else
        m_preview->OpenSource(input);
    if (ready && dvd) OpenPreviewStream();
    ReadDurations();
    // A path the user chose stays, whichever tab is shown.
    if (ready && !m_outputChosen) ProposeOutput(DefaultOutputPath());
    UpdateReadiness();
}

} // namespace korvane
