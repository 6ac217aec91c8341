// The titles of a video DVD, read from its IFO tables with libdvdread, and
// the texts shown for them.
#pragma once

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <vector>

namespace korvane::dvd {

struct TDvdChapter
{
    int Number = 0;          // chapter number within the title, from 1
    int64_t DurationUs = 0;  // playback time of the chapter, microseconds
};

struct TDvdTitle
{
    QString Path;            // the disc, as given to the scan; reopened to read the title
    int Number = 0;          // title number on the disc, from 1
    int Hours = 0, Minutes = 0, Seconds = 0; // duration, whole seconds cut
    int64_t DurationUs = 0;  // playback time of the whole title, microseconds
    int AngleCount = 1;
    std::vector<TDvdChapter> Chapters;
};

struct TDvdDisc
{
    QString Path;
    QString VolumeLabel;     // never empty: falls back to the folder or file name
    QByteArray Id;           // what DvdDiscId gave when the disc was scanned
    std::vector<TDvdTitle> Titles;
};

// Scans the disc at path (device, folder with VIDEO_TS, VIDEO_TS itself or
// image file). Titles whose tables cannot be read are left out. Raises
// EEngineError "Can not open DVD" when the disc or its main table cannot be
// read.
TDvdDisc ScanDvd(const QString& path);

// The identity of the disc at path: libdvdread's MD5 over its IFO tables, so
// another disc put in the same drive gives another one; empty when the disc
// cannot be read.
QByteArray DvdDiscId(const QString& path);

// Volume label of the disc at path; empty when it cannot be read.
QString DvdVolumeLabel(const QString& path);

// "%d(%.2d:%.2d:%.2d)": title number and duration, as the title list shows it.
QString DvdTitleCaption(const TDvdTitle& title);
// "dvd[%s:title%d]": how a queued DVD conversion is shown.
QString DvdSourceCaption(const QString& volumeLabel, int title);
// "%s_%d": default output file name (without extension) of a DVD title. The
// label comes from the disc: characters that cannot be in a file name are
// replaced by '_'.
QString DvdDefaultOutputName(const QString& volumeLabel, int title);

} // namespace korvane::dvd
