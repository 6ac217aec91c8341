#include "Progress.h"

#include "av/AVLib.h"

#include <cstdio>
#include <sys/ioctl.h>
#include <unistd.h>

namespace korvane::cli {

QString FormatFigures(const JobFigures& f)
{
    const QString left = f.remainingS < 0 ? QStringLiteral("-") : TimeText(f.remainingS);
    // the label (a file name) is added as it is: it may hold "%1" itself
    return QStringLiteral("[%1%] ").arg(f.percent, 3) + f.label +
           QStringLiteral("  %1x  elapsed %2  left %3  %4KB  %5 kbit/s")
               .arg(QString::number(f.speed, 'f', 1), TimeText(f.elapsedS), left,
                    QString::number(f.outputBytes / 1024), QString::number(f.kbps, 'f', 1)) +
           (f.paused ? QStringLiteral("  paused") : QString());
}

ProgressView::ProgressView(bool quiet) : m_quiet(quiet), m_terminal(isatty(STDERR_FILENO) == 1) {}

QString ProgressView::Fit(const QString& line) const
{
    // a wrapped line would break the count of lines to move up over
    winsize ws = {};
    const int width = ioctl(STDERR_FILENO, TIOCGWINSZ, &ws) == 0 && ws.ws_col > 10 ? ws.ws_col : 80;
    return line.size() < width ? line : line.left(width - 1);
}

void ProgressView::Show(const QList<JobFigures>& running)
{
    if (m_quiet)
        return;
    if (!m_terminal) {
        for (const JobFigures& f : running)
            std::fprintf(stderr, "%s\n", qPrintable(FormatFigures(f)));
        std::fflush(stderr);
        return;
    }
    if (m_drawn > 0)
        std::fprintf(stderr, "\x1b[%dA", m_drawn);
    for (const JobFigures& f : running)
        std::fprintf(stderr, "\r\x1b[K%s\n", qPrintable(Fit(FormatFigures(f))));
    std::fputs("\x1b[J", stderr); // lines of jobs that ended since the last draw
    m_drawn = int(running.size());
    std::fflush(stderr);
}

void ProgressView::Clear()
{
    if (m_terminal && m_drawn > 0) {
        std::fprintf(stderr, "\x1b[%dA\r\x1b[J", m_drawn);
        std::fflush(stderr);
    }
    m_drawn = 0;
}

void ProgressView::Message(const QString& line)
{
    Clear(); // the live lines come back with the next Show
    std::fprintf(stderr, "%s\n", qPrintable(line));
    std::fflush(stderr);
}

} // namespace korvane::cli
