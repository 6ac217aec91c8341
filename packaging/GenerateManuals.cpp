// Writes the manual pages korvane.1 and korvane-cli.1 into the folder named
// by the first argument, from the same text that gives --help.
#include "manual/Manual.h"

#include <QFile>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s FOLDER\n", argv[0]);
        return 2;
    }
    using namespace korvane::manual;
    for (const Page& page : {DesktopPage(), CliPage()}) {
        QFile f(QString::fromLocal8Bit(argv[1]) + '/' + page.Name + ".1");
        const QByteArray text = RoffPage(page, QStringLiteral(KORVANE_VERSION)).toUtf8();
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(text) != text.size()) {
            std::fprintf(stderr, "%s: %s\n", qPrintable(f.fileName()), qPrintable(f.errorString()));
            return 1;
        }
    }
    return 0;
}
