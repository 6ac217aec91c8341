// One conversion job as the user chose it: source (a file or a DVD title),
// target, profile, history category and a complete snapshot of the converter
// options with profile, filters and time range already applied. A task owns
// it for its whole life; the history stores it as a property document.
#pragma once

#include "options/ConvertOptions.h"

#include <QString>

namespace korvane {

class TConversionSettings : public TPersistent
{
    Q_OBJECT
public:
    enum TAVSourceType { stFile, stDvd };
    Q_ENUM(TAVSourceType)

private:
    // declaration order is the element order of the stored text
    Q_PROPERTY(QString SourceFile READ SourceFile WRITE SetSourceFile)
    Q_PROPERTY(TAVSourceType SourceType READ SourceType WRITE SetSourceType)
    Q_PROPERTY(QString DvdDriver READ DvdDriver WRITE SetDvdDriver)
    Q_PROPERTY(int DvdTitle READ DvdTitle WRITE SetDvdTitle)
    Q_PROPERTY(int DvdChapter READ DvdChapter WRITE SetDvdChapter)
    Q_PROPERTY(int DvdThrough READ DvdThrough WRITE SetDvdThrough)
    Q_PROPERTY(int DvdAngle READ DvdAngle WRITE SetDvdAngle)
    Q_PROPERTY(QString DvdVolume READ DvdVolume WRITE SetDvdVolume)
    Q_PROPERTY(QString TargetFile READ TargetFile WRITE SetTargetFile)
    Q_PROPERTY(QString Profile READ Profile WRITE SetProfile)
    Q_PROPERTY(int CategoryId READ CategoryId WRITE SetCategoryId)
    Q_PROPERTY(korvane::TAVConvertOptions* ConvertOptions READ ConvertOptions WRITE SetConvertOptions)
    Q_PROPERTY(double Duration READ Duration WRITE SetDuration)
    Q_PROPERTY(qint64 SourceFileSize READ SourceFileSize WRITE SetSourceFileSize)

public:
    explicit TConversionSettings(QObject* parent = nullptr);

    // Copies every published property of another settings object; the
    // options tree by its own Assign.
    void Assign(const TPersistent* source) override;

    // For a DVD source the engine input name "stream:<n>" of an in-process
    // title stream, valid only in the process that opened it.
    QString SourceFile() const { return m_sourceFile; }
    TAVSourceType SourceType() const { return m_sourceType; }
    // The drive of a DVD source.
    QString DvdDriver() const { return m_dvdDriver; }
    int DvdTitle() const { return m_dvdTitle; }
    // First and last chapter and the angle, counted from 1.
    int DvdChapter() const { return m_dvdChapter; }
    int DvdThrough() const { return m_dvdThrough; }
    int DvdAngle() const { return m_dvdAngle; }
    QString DvdVolume() const { return m_dvdVolume; }
    QString TargetFile() const { return m_targetFile; }
    // Description of the chosen profile, for display only.
    QString Profile() const { return m_profile; }
    int CategoryId() const { return m_categoryId; }
    // Owned; never null.
    korvane::TAVConvertOptions* ConvertOptions() const { return m_convertOptions; }
    // Seconds; 0 until the task has finished.
    double Duration() const { return m_duration; }
    // Bytes; 0 until known.
    qint64 SourceFileSize() const { return m_sourceFileSize; }

    void SetSourceFile(const QString& v) { m_sourceFile = v; }
    void SetSourceType(TAVSourceType v) { m_sourceType = v; }
    void SetDvdDriver(const QString& v) { m_dvdDriver = v; }
    void SetDvdTitle(int v) { m_dvdTitle = v; }
    void SetDvdChapter(int v) { m_dvdChapter = v; }
    void SetDvdThrough(int v) { m_dvdThrough = v; }
    void SetDvdAngle(int v) { m_dvdAngle = v; }
    void SetDvdVolume(const QString& v) { m_dvdVolume = v; }
    void SetTargetFile(const QString& v) { m_targetFile = v; }
    void SetProfile(const QString& v) { m_profile = v; }
    void SetCategoryId(int v) { m_categoryId = v; }
    // Copies the given tree into the owned one; never takes it over.
    void SetConvertOptions(korvane::TAVConvertOptions* v) { m_convertOptions->Assign(v); }
    void SetDuration(double v) { m_duration = v; }
    void SetSourceFileSize(qint64 v) { m_sourceFileSize = v; }

private:
    QString m_sourceFile;
    TAVSourceType m_sourceType = stFile;
    QString m_dvdDriver;
    int m_dvdTitle = 0;
    int m_dvdChapter = 0;
    int m_dvdThrough = 0;
    int m_dvdAngle = 0;
    QString m_dvdVolume;
    QString m_targetFile;
    QString m_profile;
    int m_categoryId = 0;
    TAVConvertOptions* m_convertOptions; // owned (child object)
    double m_duration = 0;
    qint64 m_sourceFileSize = 0;
};

} // namespace korvane
