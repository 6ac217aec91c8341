// The "Dvd" tab of the new conversion dialog: the optical drives (with or
// without a disc) plus an entry that opens a VIDEO_TS folder or an ISO image,
// the titles of the chosen disc, and the angle and chapter range of the title.
// Drives are listed and discs scanned on worker threads: the dialog stays
// responsive, a scan can be cancelled, and closing the dialog drops it.
#pragma once

#include "sources/dvd/DvdSource.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <optional>

class QComboBox;
class QPushButton;

namespace korvane {

class TDvdSourceTab : public QWidget
{
    Q_OBJECT
public:
    explicit TDvdSourceTab(QWidget* parent = nullptr);
    // A listing, scan, check or preview open still running finishes on its
    // own; its result is dropped (a stream it opened is freed).
    ~TDvdSourceTab() override;

    // Fills the drive list: the drives given, then the entry that opens a
    // folder or image. Resets the last scanned drive.
    void SetDrives(const std::vector<dvd::TDvdDrive>& drives);
    // Lists the drives again on a worker (ListDrives); with rescan, the disc
    // of the chosen drive is read again, so a swapped disc shows its own
    // titles.
    void RefreshDrives(bool rescan = true);
    bool IsListingDrives() const { return m_listing; }
    // True once the drives were listed (or set).
    bool HasListedDrives() const { return m_listed; }
    // Chooses a drive entry (the last one asks for a folder or image); a
    // drive is scanned only when it differs from the one scanned last.
    void ChooseDrive(int index);
    // Adds a folder or image as a drive entry, chooses and scans it.
    void OpenDiscPath(const QString& path);
    // Drops the running scan; the choice before it stays.
    void CancelScan();

    bool IsScanning() const { return m_scanning; }
    // A title is chosen.
    bool HasTitle() const;
    const dvd::TDvdDisc& Disc() const { return m_disc; }
    // The chosen title, angle and chapters (from 1); 0 without a title.
    int TitleNumber() const;
    int Angle() const;
    int FirstChapter() const;
    int LastChapter() const;
    // Playing time of the chosen chapters, microseconds; 0 without a title.
    int64_t RangeDurationUs() const;
    // Opens the chosen range of the title as scanned (the disc's tables are
    // not read again) as an engine source named "stream:<n>.vob". Raises
    // EEngineError.
    dvd::TDvdSource OpenSource() const;
    // On a worker: checks that the disc is the one scanned, then opens the
    // chosen range. done gets the source, or the reason it was not opened;
    // it is not called when the tab goes first.
    using TOpened = std::function<void(std::optional<dvd::TDvdSource> source, const QString& error)>;
    void OpenSourceChecked(TOpened done);
    bool IsChecking() const { return m_checking; }
    // On a worker: opens the chosen range for the preview (opening a title
    // may spin a drive up for seconds). done gets the source, or the reason
    // it was not opened. A newer call, CancelPreviewOpen or the tab's end
    // drops an open still running: done is not called and its stream is
    // freed when it comes.
    void OpenPreviewSource(TOpened done);
    void CancelPreviewOpen();
    bool IsOpeningPreview() const { return m_previewPending != nullptr; }

    QComboBox* Drives() const { return m_drives; }
    QComboBox* Titles() const { return m_titles; }
    QComboBox* Angles() const { return m_angles; }
    QComboBox* Chapters() const { return m_chapter; }
    QComboBox* Through() const { return m_through; }
    // "Refresh" (a new listing), or "Cancel" while a disc is read.
    QPushButton* RefreshButton() const { return m_refresh; }

    // Asks for a VIDEO_TS folder or an ISO image; empty when cancelled.
    // Replaced by tests.
    std::function<QString()> AskDiscPath;
    // Lists the drives; called on a worker thread. Replaced by tests.
    std::function<std::vector<dvd::TDvdDrive>()> ListDrives;

signals:
    // The chosen title, angle or chapter range changed (also to none).
    void SourceChanged();
    // A scan started (true) or ended (false).
    void ScanningChanged(bool scanning);

private:
    struct Pending;
    void StartScan(const QString& path);
    void ScanFinished(const QString& path, const std::optional<dvd::TDvdDisc>& disc);
    void DrivesListed(const std::vector<dvd::TDvdDrive>& drives, bool rescan);
    void SetScanning(bool scanning);
    void ChooseTitle(int index);
    void ChapterChosen();
    void ThroughChosen();
    const dvd::TDvdTitle* Title() const;

    QComboBox* m_drives;
    QPushButton* m_refresh;
    QComboBox* m_titles;
    QComboBox* m_angles;
    QComboBox* m_chapter;
    QComboBox* m_through;
    dvd::TDvdDisc m_disc;
    int m_lastScanned = -1;
    int m_scan = 0; // number of the scan whose result is awaited
    bool m_scanning = false;
    bool m_listing = false;
    bool m_listed = false;
    bool m_checking = false;
    bool m_choosing = false; // a title choice is being applied
    std::shared_ptr<Pending> m_pending; // the stream a check is opening
    std::shared_ptr<Pending> m_previewPending; // the stream the preview waits for
};

} // namespace korvane
