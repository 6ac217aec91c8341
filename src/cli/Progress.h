// Progress of running jobs on stderr. On a terminal the running jobs keep
// one line each, redrawn in place below the messages; otherwise plain lines
// are printed now and then, so logs and pipes stay readable.
#pragma once

#include <QList>
#include <QString>
#include <cstdint>

namespace korvane::cli {

struct JobFigures
{
    QString label;
    int percent = 0;
    double speed = 0;         // media seconds converted per wall-clock second
    int64_t elapsedS = 0;     // wall clock
    int64_t remainingS = -1;  // -1: not known yet
    int64_t outputBytes = 0;
    double kbps = 0;
    bool paused = false;
};

// "[ 42%] clip.mp4  3.1x  elapsed 0:0:12  left 0:0:16  1234KB  845.2 kbit/s"
QString FormatFigures(const JobFigures& f);

class ProgressView
{
public:
    // Silent when quiet: only Message prints then.
    explicit ProgressView(bool quiet);
    bool Live() const { return m_terminal && !m_quiet; }
    // Milliseconds between two Show calls that suit the output.
    int Interval() const { return m_terminal ? 250 : 2000; }

    void Show(const QList<JobFigures>& running);
    // A line that stays, printed above the live lines.
    void Message(const QString& line);
    // Removes the live lines (before the program ends).
    void Clear();

private:
    QString Fit(const QString& line) const;

    bool m_quiet;
    bool m_terminal;
    int m_drawn = 0; // live lines on screen
};

} // namespace korvane::cli
