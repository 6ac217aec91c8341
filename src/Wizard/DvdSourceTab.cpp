#include "DvdSourceTab.h"

#include "options/Messages.h"
#include "options/Persistent.h"
#include "sources/StreamProtocol.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QStandardItemModel>
#include <QPointer>
#include <QThreadPool>
#include <mutex>

namespace korvane {

namespace {

constexpr int kPathRole = Qt::UserRole;
constexpr int kHasDiscRole = Qt::UserRole + 1;

void FillNumbers(QComboBox* list, int count)
{
    list->clear();
    for (int i = 1; i <= count; ++i)
        list->addItem(QString::number(i));
}

// The tab's disc work (listing drives, reading discs, opening titles) runs
// on a pool of its own, so a drive that blocks for seconds holds up no other
// work of the program. Results are posted to a courier on the GUI thread. At
// the program's end the pool waits a while for the work still running, so no
// disc open outlives the stream registry it registers into (made before the
// pool, it is destroyed after it); a drive that never answers keeps its
// thread, and the pool and courier are left to the end of the process rather
// than hold the program open.
struct TDiscWork
{
    QObject* courier = new QObject;
    QThreadPool* pool = new QThreadPool;
    ~TDiscWork()
    {
        if (!pool->waitForDone(10000)) return;
        delete pool;
        delete courier;
    }
};

TDiscWork& DiscWork()
{
    [[maybe_unused]] static const bool registryFirst = (IsStreamRegistered(0), true);
    static TDiscWork work;
    // waiting on drives, not computing: more threads than processors, so a
    // hung open does not hold up the next choice
    [[maybe_unused]] static const bool sized = (work.pool->setMaxThreadCount(8), true);
    return work;
}

// Runs work on the disc pool and hands its result to then on the GUI thread;
// nothing is handed when the receiver is gone by then. Call it on the GUI
// thread.
template <typename T>
void RunOffThread(QObject* receiver, std::function<T()> work, std::function<void(const T&)> then)
{
    TDiscWork& disc = DiscWork();
    const QPointer<QObject> target(receiver); // checked only on the GUI thread
    QObject* courier = disc.courier;
    disc.pool->start([target, courier, work, then] {
        auto result = std::make_shared<T>(work());
        QMetaObject::invokeMethod(
            courier, [target, then, result] { if (target) then(*result); }, Qt::QueuedConnection);
    });
}

// Opens a range of a scanned title as an engine source. A title is an MPEG
// program stream; the extension tells the engine so instead of leaving it to
// guess from the first bytes. Raises EEngineError.
dvd::TDvdSource OpenRange(const dvd::TDvdTitle& title, const QString& volumeLabel, int first, int last, int angle)
{
    dvd::TDvdSource source = dvd::OpenDvdTitle(title, volumeLabel, first, last, angle);
    source.Name += QStringLiteral(".vob");
    return source;
}

} // namespace

// A stream opened on a worker: handed to the tab, or freed when the tab
// dropped the open (or went away) first. The worker and the GUI thread meet
// only under lock.
struct TDvdSourceTab::Pending
{
    std::mutex lock;
    bool abandoned = false;
    std::optional<dvd::TDvdSource> source;
    QString error;

    // GUI thread: drops the open; a stream it gave already is freed now.
    void Abandon()
    {
        std::lock_guard guard(lock);
        abandoned = true;
        if (source) ReleaseStream(source->Handle);
        source.reset();
    }
    // Worker: hands the result over; false (and the stream freed) when the
    // open was dropped meanwhile.
    bool Deliver(std::optional<dvd::TDvdSource> opened, const QString& reason)
    {
        std::lock_guard guard(lock);
        if (abandoned) {
            if (opened) ReleaseStream(opened->Handle);
            return false;
        }
        source = std::move(opened);
        error = reason;
        return true;
    }
    // GUI thread: takes the result.
    std::optional<dvd::TDvdSource> Take(QString* reason)
    {
        std::lock_guard guard(lock);
        std::optional<dvd::TDvdSource> taken;
        taken.swap(source);
        *reason = error;
        return taken;
    }
};

TDvdSourceTab::TDvdSourceTab(QWidget* parent) : QWidget(parent)
{
    m_drives = new QComboBox(this);
    m_drives->setObjectName("Drives");
    m_refresh = new QPushButton(tr("Refresh"), this);
    m_refresh->setObjectName("RefreshDrives");
    m_refresh->setToolTip(tr("List the drives and read the chosen disc again"));
    m_titles = new QComboBox(this);
    m_titles->setObjectName("Titles");
    m_angles = new QComboBox(this);
    m_angles->setObjectName("Angle");
    m_chapter = new QComboBox(this);
    m_chapter->setObjectName("Chapter");
    m_through = new QComboBox(this);
    m_through->setObjectName("Through");
    auto* range = new QHBoxLayout;
    for (auto [caption, list] : {std::pair{tr("Angle:"), m_angles}, std::pair{tr("Chapter:"), m_chapter},
                                 std::pair{tr("Through:"), m_through}}) {
        auto* label = new QLabel(caption, this);
        label->setBuddy(list);
        range->addWidget(label);
        range->addWidget(list, 1);
    }
    auto* driveRow = new QHBoxLayout;
    driveRow->addWidget(m_drives, 1);
    driveRow->addWidget(m_refresh);
    auto* layout = new QFormLayout(this);
    layout->addRow(tr("Drive:"), driveRow);
    layout->addRow(tr("Title:"), m_titles);
    layout->addRow(range);

    AskDiscPath = [this] {
        // One file dialog serves both kinds: the VIDEO_TS.IFO of a disc
        // folder stands for its folder, anything else is taken as an image.
        const QString chosen =
            QFileDialog::getOpenFileName(this, tr("Open VIDEO_TS folder or ISO image"), {},
                                         tr("DVD (VIDEO_TS.IFO *.iso *.ISO);;All files (*)"));
        const QFileInfo info(chosen);
        if (info.fileName().compare(QStringLiteral("VIDEO_TS.IFO"), Qt::CaseInsensitive) == 0)
            return info.absolutePath();
        return chosen;
    };
    ListDrives = [] { return dvd::ListOpticalDrives(); };
    connect(m_drives, &QComboBox::activated, this, &TDvdSourceTab::ChooseDrive);
    connect(m_refresh, &QPushButton::clicked, this, [this] {
        if (m_scanning)
            CancelScan();
        else
            RefreshDrives();
    });
    connect(m_titles, &QComboBox::activated, this, &TDvdSourceTab::ChooseTitle);
    connect(m_angles, &QComboBox::activated, this, [this] {
        if (!m_choosing) emit SourceChanged();
    });
    connect(m_chapter, &QComboBox::activated, this, &TDvdSourceTab::ChapterChosen);
    connect(m_through, &QComboBox::activated, this, &TDvdSourceTab::ThroughChosen);
    SetDrives({});
    m_listed = false;
}

TDvdSourceTab::~TDvdSourceTab()
{
    if (m_scanning) QApplication::restoreOverrideCursor();
    if (m_pending) m_pending->Abandon();
    if (m_previewPending) m_previewPending->Abandon();
}

void TDvdSourceTab::SetDrives(const std::vector<dvd::TDvdDrive>& drives)
{
    m_drives->clear();
    for (const dvd::TDvdDrive& d : drives) {
        m_drives->addItem(d.Caption, d.Path());
        m_drives->setItemData(m_drives->count() - 1, d.HasDisc, kHasDiscRole);
    }
    m_drives->addItem(tr("Open VIDEO_TS folder or ISO image..."));
    m_drives->setCurrentIndex(-1);
    m_lastScanned = -1;
    m_listed = true;
}

void TDvdSourceTab::RefreshDrives(bool rescan)
{
    if (m_listing || m_scanning) return;
    m_listing = true;
    m_refresh->setEnabled(false);
    std::function<std::vector<dvd::TDvdDrive>()> list = ListDrives;
    RunOffThread<std::vector<dvd::TDvdDrive>>(
        this, [list] { return list ? list() : std::vector<dvd::TDvdDrive>{}; },
        [this, rescan](const std::vector<dvd::TDvdDrive>& drives) { DrivesListed(drives, rescan); });
}

void TDvdSourceTab::DrivesListed(const std::vector<dvd::TDvdDrive>& drives, bool rescan)
{
    m_listing = false;
    m_refresh->setEnabled(true);
    // What is chosen now counts: a disc may have been opened meanwhile.
    const QString scanning = m_scanning ? m_drives->currentData(kPathRole).toString() : QString();
    const QString chosenPath = m_drives->itemData(m_lastScanned, kPathRole).toString();
    // Folders and images the user opened stay listed.
    QStringList opened;
    for (int i = 0; i + 1 < m_drives->count(); ++i)
        if (!m_drives->itemData(i, kHasDiscRole).isValid()) opened << m_drives->itemData(i, kPathRole).toString();
    SetDrives(drives);
    for (const QString& path : opened)
        m_drives->insertItem(m_drives->count() - 1, QDir::toNativeSeparators(path), path);
    if (m_scanning) {
        // the scan going on goes on; its drive stays chosen
        m_drives->setCurrentIndex(m_drives->findData(scanning, kPathRole));
        return;
    }
    // The drive read before stays chosen; on a refresh its disc is read
    // again, since it may have been swapped.
    const int again = chosenPath.isEmpty() ? -1 : m_drives->findData(chosenPath, kPathRole);
    if (again >= 0) {
        m_drives->setCurrentIndex(again);
        m_lastScanned = again;
        if (rescan) StartScan(chosenPath);
    } else if (!chosenPath.isEmpty()) {
        m_disc = {};
        m_titles->clear();
        ChooseTitle(-1);
    }
}

void TDvdSourceTab::ChooseDrive(int index)
{
    if (m_scanning || index < 0 || index >= m_drives->count()) return;
    const QVariant path = m_drives->itemData(index, kPathRole);
    if (index == m_drives->count() - 1 && !path.isValid()) {
        const QString chosen = AskDiscPath ? AskDiscPath() : QString();
        if (chosen.isEmpty()) {
            m_drives->setCurrentIndex(m_lastScanned);
            return;
        }
        OpenDiscPath(chosen);
        return;
    }
    m_drives->setCurrentIndex(index);
    if (index != m_lastScanned) StartScan(path.toString());
}

void TDvdSourceTab::OpenDiscPath(const QString& path)
{
    if (m_scanning) return;
    int index = m_drives->findData(path, kPathRole);
    if (index < 0) {
        index = m_drives->count() - 1; // before the "open" entry
        m_drives->insertItem(index, QDir::toNativeSeparators(path), path);
    }
    m_drives->setCurrentIndex(index);
    if (index != m_lastScanned) StartScan(path);
}

void TDvdSourceTab::SetScanning(bool scanning)
{
    if (scanning == m_scanning) return;
    m_scanning = scanning;
    if (scanning)
        QApplication::setOverrideCursor(Qt::BusyCursor);
    else
        QApplication::restoreOverrideCursor();
    // Only the Cancel button stays usable while a disc is read.
    for (QWidget* w : std::initializer_list<QWidget*>{m_drives, m_titles, m_angles, m_chapter, m_through})
        w->setEnabled(!scanning);
    m_refresh->setText(scanning ? tr("Cancel") : tr("Refresh"));
    m_refresh->setEnabled(scanning || !m_listing);
    m_refresh->setToolTip(scanning ? tr("Stop reading the disc") : tr("List the drives and read the chosen disc again"));
    emit ScanningChanged(scanning);
}

void TDvdSourceTab::StartScan(const QString& path)
{
    SetScanning(true);
    // Reading a disc in a drive takes seconds: the tables are read on a
    // worker and the result comes back by a queued call, unless the scan was
    // cancelled or another one started meanwhile.
    const int scan = ++m_scan;
    RunOffThread<std::optional<dvd::TDvdDisc>>(
        this,
        [path]() -> std::optional<dvd::TDvdDisc> {
            try {
                return dvd::ListDvdTitles(path);
            } catch (const std::exception&) {
                return std::nullopt;
            }
        },
        [this, scan, path](const std::optional<dvd::TDvdDisc>& disc) {
            if (scan == m_scan) ScanFinished(path, disc);
        });
}

void TDvdSourceTab::CancelScan()
{
    if (!m_scanning) return;
    ++m_scan;
    SetScanning(false);
    m_drives->setCurrentIndex(m_lastScanned);
}

void TDvdSourceTab::ScanFinished(const QString& path, const std::optional<dvd::TDvdDisc>& disc)
{
    SetScanning(false);
    const int driveIndex = m_drives->findData(path, kPathRole);
    if (!disc) {
        const bool noDisc = m_drives->itemData(driveIndex, kHasDiscRole) == QVariant(false);
        ErrorBox(noDisc ? tr("There is no video DVD in %1").arg(m_drives->itemText(driveIndex).section(':', 0, 0))
                        : tr("Can not open DVD"));
        m_drives->setCurrentIndex(m_lastScanned);
        return;
    }
    m_lastScanned = driveIndex;
    m_disc = *disc;
    m_titles->clear();
    for (const dvd::TDvdTitle& t : m_disc.Titles)
        m_titles->addItem(dvd::DvdTitleCaption(t));
    if (m_titles->count() > 0) {
        m_titles->setCurrentIndex(0);
        ChooseTitle(0);
    } else {
        ChooseTitle(-1);
    }
}

const dvd::TDvdTitle* TDvdSourceTab::Title() const
{
    const int i = m_titles->currentIndex();
    return i >= 0 && size_t(i) < m_disc.Titles.size() ? &m_disc.Titles[size_t(i)] : nullptr;
}

void TDvdSourceTab::ChooseTitle(int index)
{
    m_choosing = true;
    m_titles->setCurrentIndex(index);
    const dvd::TDvdTitle* title = Title();
    FillNumbers(m_angles, title ? title->AngleCount : 0);
    const int chapters = title ? int(title->Chapters.size()) : 0;
    FillNumbers(m_chapter, chapters);
    FillNumbers(m_through, chapters);
    m_angles->setCurrentIndex(m_angles->count() > 0 ? 0 : -1);
    m_chapter->setCurrentIndex(chapters > 0 ? 0 : -1);
    m_through->setCurrentIndex(chapters - 1);
    m_choosing = false;
    emit SourceChanged();
}

void TDvdSourceTab::ChapterChosen()
{
    // "Through" never lies before "Chapter": its earlier entries are
    // disabled, and a last chapter before the new first one moves with it.
    const int first = m_chapter->currentIndex();
    if (auto* model = qobject_cast<QStandardItemModel*>(m_through->model()))
        for (int i = 0; i < model->rowCount(); ++i)
            model->item(i)->setEnabled(i >= first);
    if (m_through->currentIndex() < first) m_through->setCurrentIndex(first);
    emit SourceChanged();
}

void TDvdSourceTab::ThroughChosen()
{
    if (m_through->currentIndex() < m_chapter->currentIndex())
        m_through->setCurrentIndex(m_chapter->currentIndex());
    emit SourceChanged();
}

bool TDvdSourceTab::HasTitle() const
{
    return !m_scanning && Title() != nullptr;
}

int TDvdSourceTab::TitleNumber() const
{
    const dvd::TDvdTitle* t = Title();
    return t ? t->Number : 0;
}

int TDvdSourceTab::Angle() const
{
    return m_angles->currentIndex() + 1;
}

int TDvdSourceTab::FirstChapter() const
{
    return m_chapter->currentIndex() + 1;
}

int TDvdSourceTab::LastChapter() const
{
    return m_through->currentIndex() + 1;
}

int64_t TDvdSourceTab::RangeDurationUs() const
{
    const dvd::TDvdTitle* title = Title();
    int64_t duration = 0;
    for (int c = FirstChapter(); title && c >= 1 && c <= LastChapter() && size_t(c) <= title->Chapters.size(); ++c)
        duration += title->Chapters[size_t(c - 1)].DurationUs;
    return duration;
}

dvd::TDvdSource TDvdSourceTab::OpenSource() const
{
    const dvd::TDvdTitle* title = Title();
    if (!title) throw EEngineError("Can not open title");
    return OpenRange(*title, m_disc.VolumeLabel, FirstChapter(), LastChapter(), Angle());
}

void TDvdSourceTab::OpenSourceChecked(TOpened done)
{
    const dvd::TDvdTitle* title = Title();
    if (m_checking || !title) return;
    m_checking = true;
    auto pending = std::make_shared<Pending>();
    m_pending = pending;
    const dvd::TDvdDisc disc = m_disc;
    const dvd::TDvdTitle chosen = *title;
    const int first = FirstChapter(), last = LastChapter(), angle = Angle();
    const QString swapped = tr("The disc in %1 is not the one whose titles are shown: it was changed. "
                               "Its titles were read again; choose the title once more.")
                                .arg(QDir::toNativeSeparators(disc.Path));
    RunOffThread<bool>(
        this,
        [pending, disc, chosen, first, last, angle, swapped] {
            std::optional<dvd::TDvdSource> source;
            QString error;
            if (dvd::DvdDiscId(disc.Path) != disc.Id) {
                error = swapped;
            } else {
                try {
                    source = OpenRange(chosen, disc.VolumeLabel, first, last, angle);
                } catch (const std::exception& e) {
                    error = QString::fromUtf8(e.what());
                }
            }
            return pending->Deliver(std::move(source), error);
        },
        [this, pending, done, swapped](const bool&) {
            m_checking = false;
            QString error;
            std::optional<dvd::TDvdSource> source = pending->Take(&error);
            if (m_pending == pending) m_pending.reset();
            if (error == swapped) RefreshDrives();
            done(source, error);
        });
}

void TDvdSourceTab::OpenPreviewSource(TOpened done)
{
    CancelPreviewOpen();
    const dvd::TDvdTitle* title = Title();
    if (!title) return;
    auto pending = std::make_shared<Pending>();
    m_previewPending = pending;
    const dvd::TDvdTitle chosen = *title;
    const QString label = m_disc.VolumeLabel;
    const int first = FirstChapter(), last = LastChapter(), angle = Angle();
    RunOffThread<bool>(
        this,
        [pending, chosen, label, first, last, angle] {
            std::optional<dvd::TDvdSource> source;
            QString error;
            try {
                source = OpenRange(chosen, label, first, last, angle);
            } catch (const std::exception& e) {
                error = QString::fromUtf8(e.what());
            }
            return pending->Deliver(std::move(source), error);
        },
        [this, pending, done](const bool&) {
            // an open dropped meanwhile had its stream freed by Abandon
            if (m_previewPending != pending) return;
            m_previewPending.reset();
            QString error;
            std::optional<dvd::TDvdSource> source = pending->Take(&error);
            done(source, error);
        });
}

void TDvdSourceTab::CancelPreviewOpen()
{
    if (!m_previewPending) return;
    m_previewPending->Abandon();
    m_previewPending.reset();
}

} // namespace korvane
