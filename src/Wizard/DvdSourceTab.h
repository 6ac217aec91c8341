// The "Dvd" tab of the new conversion dialog: the optical drives holding a
// video DVD plus an entry that opens a VIDEO_TS folder or an ISO image, the
// titles of the chosen disc, and the angle and chapter range of the title.
// Discs are scanned on a worker thread; the tab is disabled meanwhile.
#pragma once

#include "sources/dvd/DvdSource.h"

#include <QWidget>
#include <functional>
#include <optional>

class QComboBox;

namespace korvane {

class TDvdSourceTab : public QWidget
{
    Q_OBJECT
public:
    explicit TDvdSourceTab(QWidget* parent = nullptr);

    // Fills the drive list: the drives given, then the entry that opens a
    // folder or image. Resets the last scanned drive.
    void SetDrives(const std::vector<dvd::TDvdDrive>& drives);
    // Chooses a drive entry (the last one asks for a folder or image); a
    // drive is scanned only when it differs from the one scanned last.
    void ChooseDrive(int index);
    // Adds a folder or image as a drive entry, chooses and scans it.
    void OpenDiscPath(const QString& path);

    bool IsScanning() const { return m_scanning; }
    // A title is chosen.
    bool HasTitle() const;
    const dvd::TDvdDisc& Disc() const { return m_disc; }
    // The chosen title, angle and chapters (from 1); 0 without a title.
    int TitleNumber() const;
    int Angle() const;
    int FirstChapter() const;
    int LastChapter() const;
    // Opens the chosen range as an engine source named "stream:<n>.vob".
    // Raises EEngineError.
    dvd::TDvdSource OpenSource() const;

    QComboBox* Drives() const { return m_drives; }
    QComboBox* Titles() const { return m_titles; }
    QComboBox* Angles() const { return m_angles; }
    QComboBox* Chapters() const { return m_chapter; }
    QComboBox* Through() const { return m_through; }

    // Asks for a VIDEO_TS folder or an ISO image; empty when cancelled.
    // Replaced by tests.
    std::function<QString()> AskDiscPath;

signals:
    // The chosen title, angle or chapter range changed (also to none).
    void SourceChanged();
    // A scan started (true) or ended (false).
    void ScanningChanged(bool scanning);

private:
    void StartScan(int driveIndex, const QString& path);
    void ScanFinished(int driveIndex, const std::optional<dvd::TDvdDisc>& disc);
    void ChooseTitle(int index);
    void ChapterChosen();
    void ThroughChosen();
    const dvd::TDvdTitle* Title() const;

    QComboBox* m_drives;
    QComboBox* m_titles;
    QComboBox* m_angles;
    QComboBox* m_chapter;
    QComboBox* m_through;
    dvd::TDvdDisc m_disc;
    int m_lastScanned = -1;
    bool m_scanning = false;
    bool m_choosing = false; // a title choice is being applied
};

} // namespace korvane
