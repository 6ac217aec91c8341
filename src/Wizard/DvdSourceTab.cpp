#include "DvdSourceTab.h"

#include "options/Messages.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QStandardItemModel>
#include <QThread>

namespace korvane {

namespace {

constexpr int kPathRole = Qt::UserRole;

void FillNumbers(QComboBox* list, int count)
{
    list->clear();
    for (int i = 1; i <= count; ++i)
        list->addItem(QString::number(i));
}

} // namespace

TDvdSourceTab::TDvdSourceTab(QWidget* parent) : QWidget(parent)
{
    m_drives = new QComboBox(this);
    m_drives->setObjectName("Drives");
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
    auto* layout = new QFormLayout(this);
    layout->addRow(tr("Drive:"), m_drives);
    layout->addRow(tr("Title:"), m_titles);
    layout->addRow(range);

    AskDiscPath = [this] {
        QString path = QFileDialog::getExistingDirectory(this, tr("Open a VIDEO_TS folder"));
        if (path.isEmpty())
            path = QFileDialog::getOpenFileName(this, tr("Open a DVD image"), {}, tr("DVD images (*.iso);;All files (*)"));
        return path;
    };
    connect(m_drives, &QComboBox::activated, this, &TDvdSourceTab::ChooseDrive);
    connect(m_titles, &QComboBox::activated, this, &TDvdSourceTab::ChooseTitle);
    connect(m_angles, &QComboBox::activated, this, [this] {
        if (!m_choosing)
            emit SourceChanged();
    });
    connect(m_chapter, &QComboBox::activated, this, &TDvdSourceTab::ChapterChosen);
    connect(m_through, &QComboBox::activated, this, &TDvdSourceTab::ThroughChosen);
    SetDrives({});
}

void TDvdSourceTab::SetDrives(const std::vector<dvd::TDvdDrive>& drives)
{
    m_drives->clear();
    for (const dvd::TDvdDrive& d : drives)
        m_drives->addItem(d.Caption, d.Path());
    m_drives->addItem(tr("Open VIDEO_TS folder or ISO image..."));
    m_drives->setCurrentIndex(-1);
    m_lastScanned = -1;
}

void TDvdSourceTab::ChooseDrive(int index)
{
    if (m_scanning || index < 0 || index >= m_drives->count())
        return;
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
    if (index != m_lastScanned)
        StartScan(index, path.toString());
}

void TDvdSourceTab::OpenDiscPath(const QString& path)
{
    if (m_scanning)
        return;
    int index = m_drives->findData(path, kPathRole);
    if (index < 0) {
        index = m_drives->count() - 1; // before the "open" entry
        m_drives->insertItem(index, QDir::toNativeSeparators(path), path);
    }
    m_drives->setCurrentIndex(index);
    if (index != m_lastScanned)
        StartScan(index, path);
}

void TDvdSourceTab::StartScan(int driveIndex, const QString& path)
{
    m_scanning = true;
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::BusyCursor);
    emit ScanningChanged(true);
    // Reading a disc in a drive takes seconds: the tables are read on a
    // worker and the result comes back by a queued call. The thread object
    // outlives this tab if need be and deletes itself.
    auto result = std::make_shared<std::optional<dvd::TDvdDisc>>();
    QThread* worker = QThread::create([path, result] {
        try {
            *result = dvd::ListDvdTitles(path);
        } catch (const std::exception&) {
            result->reset();
        }
    });
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    connect(worker, &QThread::finished, this, [this, driveIndex, result] { ScanFinished(driveIndex, *result); });
    worker->start();
}

void TDvdSourceTab::ScanFinished(int driveIndex, const std::optional<dvd::TDvdDisc>& disc)
{
    QApplication::restoreOverrideCursor();
    m_scanning = false;
    setEnabled(true);
    emit ScanningChanged(false);
    if (!disc) {
        ErrorBox(tr("Can not open DVD"));
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
    if (m_through->currentIndex() < first)
        m_through->setCurrentIndex(first);
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

dvd::TDvdSource TDvdSourceTab::OpenSource() const
{
    dvd::TDvdSource source = dvd::OpenDvdSource(m_disc.Path, TitleNumber(), FirstChapter(), LastChapter(), Angle());
    // A title is an MPEG program stream; the extension tells the engine so
    // instead of leaving it to guess from the first bytes.
    source.Name += QStringLiteral(".vob");
    return source;
}

} // namespace korvane
