// What the dialog and the command line need from a DVD: the optical drives
// holding a video DVD, the titles of a disc, and a title range opened as an
// engine source ("stream:<n>").
#pragma once

#include "sources/StreamProtocol.h"
#include "sources/dvd/DvdScan.h"

#include <QString>
#include <vector>

namespace korvane::dvd {

struct TDvdDrive
{
    QString Device;      // /dev/sr0
    QString MountPoint;  // where it is mounted, empty when it is not
    QString Label;       // volume label, may be empty
    QString Caption;     // "%s: [%s]": drive name and volume label, or "%s: [no disc]"
    bool HasDisc = true; // holds a video DVD
    // What to give ScanDvd: the mount point when mounted, else the device.
    QString Path() const { return MountPoint.isEmpty() ? Device : MountPoint; }
};

// Optical drives (/sys/block/sr*) that hold a video DVD, in name order. The
// roots are parameters so that tests can stand in for the system's.
std::vector<TDvdDrive> ListDvdDrives(const QString& sysBlock = QStringLiteral("/sys/block"),
                                     const QString& mounts = QStringLiteral("/proc/mounts"),
                                     const QString& devices = QStringLiteral("/dev"));
// Every optical drive, those without a video DVD too (HasDisc false). Reading
// an unmounted drive can take seconds: call it off the GUI thread.
std::vector<TDvdDrive> ListOpticalDrives(const QString& sysBlock = QStringLiteral("/sys/block"),
                                         const QString& mounts = QStringLiteral("/proc/mounts"),
                                         const QString& devices = QStringLiteral("/dev"));

// The titles of the disc at path (device, VIDEO_TS folder or its parent, or
// image). Raises EEngineError "Can not open DVD".
TDvdDisc ListDvdTitles(const QString& path);

// An opened title range, registered as an engine source.
struct TDvdSource
{
    QString Name;            // "stream:<n>", the input name for the engine
    TStreamHandle Handle = 0;
    int64_t Size = 0;        // bytes of the range
    QString VolumeLabel;
    int Title = 0;
    int64_t DurationUs = 0;  // playback time of the chapters of the range
};

// Opens chapters firstChapter..lastChapter (from 1; lastChapter 0 means the
// title's last) of title at angle and registers the stream. The engine frees
// it when it closes the source; ReleaseStream(Handle) frees one that was
// never opened. Raises EEngineError: "Can not open DVD", "Can not open
// title" (also for a title the disc does not have), "Can not start chapter".
TDvdSource OpenDvdSource(const QString& path, int title, int firstChapter = 1, int lastChapter = 0, int angle = 1);
// The same for a title already scanned, without reading the disc's tables
// again. Raises EEngineError.
TDvdSource OpenDvdTitle(const TDvdTitle& title, const QString& volumeLabel, int firstChapter, int lastChapter,
                        int angle);

// Parses a chapter range "A-B", "A-" (to the end) or "A"; lastChapter 0
// means the title's last. False for anything else.
bool ParseChapterRange(const QString& text, int* firstChapter, int* lastChapter);

} // namespace korvane::dvd
