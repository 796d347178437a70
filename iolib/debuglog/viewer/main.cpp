// portiva-debugview [--offset N] [file]: shows the Portiva debug log and follows it as it grows.
// Without a file it opens the library's own: $PORTIVA_DEBUG_FILE, else
// $XDG_STATE_HOME/portiva/portivadll_dbg.txt (~/.local/state/portiva/portivadll_dbg.txt). The
// library starts it with the offset of its first line, so that it shows that session.
#include <QApplication>
#include <QDir>
#include <QStringList>

#include <cstdio>

#include "DebugView.h"

namespace {

QString DefaultLogFile() {
    const QString chosen = qEnvironmentVariable("PORTIVA_DEBUG_FILE");
    if (!chosen.isEmpty()) {
        return chosen;
    }
    QString state = qEnvironmentVariable("XDG_STATE_HOME");
    if (!state.startsWith(QLatin1Char('/'))) {
        state = QDir::homePath() + QStringLiteral("/.local/state");
    }
    return state + QStringLiteral("/portiva/portivadll_dbg.txt");
}

int Usage() {
    std::fprintf(stderr, "usage: portiva-debugview [--offset BYTES] [LOGFILE]\n");
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("portiva-debugview"));
    QStringList args = QApplication::arguments();
    args.removeFirst();
    qint64 offset = 0;
    QString file;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--help") || args[i] == QLatin1String("-h")) {
            Usage();
            return 0;
        }
        if (args[i] == QLatin1String("--offset")) {
            bool ok = false;
            offset = i + 1 < args.size() ? args[++i].toLongLong(&ok) : 0;
            if (!ok || offset < 0) {
                return Usage();
            }
        } else if (file.isEmpty() && !args[i].startsWith(QLatin1Char('-'))) {
            file = args[i];
        } else {
            return Usage();
        }
    }
    debugview::DebugView view(file.isEmpty() ? DefaultLogFile() : file, offset);
    view.show();
    return QApplication::exec();
}
