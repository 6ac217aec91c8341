#include "MediaFixtures.h"
#include "ShotRegistry.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QPalette>
#include <QPixmap>
#include <QStyleFactory>
#include <QTemporaryDir>
#include <QTextStream>
#include <QWidget>
#include <cstdlib>

namespace korvane::shots {

std::vector<Shot>& Registry()
{
    static std::vector<Shot> shots;
    return shots;
}

QString SampleClip()
{
    return test::SampleMp4();
}

} // namespace korvane::shots

namespace {

QPalette DarkPalette()
{
    QPalette p;
    const QColor window(45, 45, 48), base(30, 30, 30), text(220, 220, 220);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, window);
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::Highlight, QColor(42, 130, 218));
    p.setColor(QPalette::HighlightedText, Qt::black);
    p.setColor(QPalette::Disabled, QPalette::Text, QColor(120, 120, 120));
    p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(120, 120, 120));
    p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(120, 120, 120));
    return p;
}

void Settle(int ms)
{
    QElapsedTimer t;
    t.start();
    while (t.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 20);
}

} // namespace

// korvane_screenshots OUTDIR [NAME...]: writes every registered shot (or the
// named ones) in the light and the dark palette.
int main(int argc, char** argv)
{
    QTemporaryDir settings;
    qputenv("XDG_CONFIG_HOME", settings.path().toUtf8());
    QApplication app(argc, argv);
    QApplication::setStyle(QStyleFactory::create("Fusion"));
    const QStringList args = app.arguments().mid(1);
    if (args.isEmpty()) {
        QTextStream(stderr) << "usage: korvane_screenshots OUTDIR [NAME...]\n";
        return 2;
    }
    const QDir out(args.first());
    QDir().mkpath(out.path());
    const QStringList only = args.mid(1);
    const QPalette light = QApplication::palette();
    int written = 0;
    for (const bool dark : {false, true}) {
        QApplication::setPalette(dark ? DarkPalette() : light);
        for (const auto& shot : korvane::shots::Registry()) {
            if (!only.isEmpty() && !only.contains(shot.name))
                continue;
            QWidget* w = shot.build();
            if (!w)
                continue;
            w->show();
            Settle(shot.settleMs);
            const QString file = out.filePath(shot.name + (dark ? "-dark" : "") + ".png");
            if (w->grab().save(file)) {
                ++written;
                QTextStream(stdout) << file << "\n";
            }
            w->close();
            delete w;
            Settle(50);
        }
    }
    return written > 0 ? 0 : 1;
}
