// Keys a text at each speed against the board library (simulated board) on the system clock and
// the keyer's own timer, and prints
// - how far the key-down and key-up durations on the key line stray from their nominal lengths,
//   measured between the moments the keyer made its calls and between the moments the library
//   answered them;
// - how long events posted to the window thread every few milliseconds from another thread
//   waited before they were handled, while the text was being sent.
//
//   keyer_timing_bench [passes] [library]
//
// passes: how often the text is sent at each speed (default 2). library: the board library to
// load (default: the one this build made). The simulated board is used unless PORTIVA_SIM is
// already set.

#include "KeyerFixture.h"
#include "Morse.h"
#include "PortivaBoard.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <vector>

namespace {

constexpr char Text[] = "cq cq de q0abc q0abc";
constexpr int PostEveryMs = 5;

double NowMs() {
    using namespace std::chrono;
    return double(duration_cast<nanoseconds>(steady_clock::now().time_since_epoch()).count()) / 1e6;
}

QString TextFor(int passes) {
    QStringList parts;
    for (int i = 0; i < passes; ++i)
        parts << QString::fromLatin1(Text);
    return parts.join(QLatin1Char(' '));
}

// Nominal durations between key-line changes: the same transmission in virtual time, where
// every change happens exactly at its due time.
std::vector<double> NominalDurations(int speed, const QString& text) {
    VirtualClock clock;
    ManualKeyerTimer timer(clock);
    FakeBoard board(&clock);
    Keyer keyer(&clock, &timer);
    keyer.setBoard(&board);
    keyer.KeyerReady = true;
    keyer.Text6 = text;
    keyer.OptSpeedClick(speed);
    keyer.cmdsendClick();
    while (timer.fire()) {
    }
    std::vector<double> times;
    for (const FakeBoard::Call& c : board.timedCalls())
        if (c.text.startsWith(QLatin1String("UsbSetIOState(0,16,")))
            times.push_back(double(c.timeUs) / 1000.0);
    std::vector<double> d;
    for (size_t i = 1; i < times.size(); ++i)
        d.push_back(times[i] - times[i - 1]);
    return d;
}

// The program's board, noting when each key-line change was asked for and when it was done.
class TimedBoard : public StationBoard {
public:
    struct Change {
        double at;       // ms, when the call was made
        double returned; // ms, when the library answered (the line is set on the board)
    };
    explicit TimedBoard(PortivaBoard& board) : m_board(board) {}
    std::vector<Change> changes;

    bool init() override { return m_board.init(); }
    bool setLineDirection(BoardLine line, bool output) override {
        return m_board.setLineDirection(line, output);
    }
    bool setLine(BoardLine line, bool high) override {
        const double before = NowMs();
        const bool ok = m_board.setLine(line, high);
        if (line == BoardLine::Key)
            changes.push_back({before, NowMs()});
        return ok;
    }
    bool setPortDirection(BoardPort port, quint8 outputs) override {
        return m_board.setPortDirection(port, outputs);
    }
    std::optional<quint8> portLevels(quint8 port) override { return m_board.portLevels(port); }
    QString lastError() const override { return m_board.lastError(); }

private:
    PortivaBoard& m_board;
};

// An event stamped with the moment it was posted; the receiver notes how long it waited.
class StampEvent : public QEvent {
public:
    static const QEvent::Type Kind;
    explicit StampEvent(double postedMs) : QEvent(Kind), posted(postedMs) {}
    double posted;
};
const QEvent::Type StampEvent::Kind = QEvent::Type(QEvent::registerEventType());

class Receiver : public QObject {
public:
    std::vector<double> delays;
    bool event(QEvent* e) override {
        if (e->type() != StampEvent::Kind)
            return QObject::event(e);
        delays.push_back(NowMs() - static_cast<StampEvent*>(e)->posted);
        return true;
    }
};

struct Stats {
    double worst = 0; // signed, largest magnitude
    double p99 = 0;   // of the magnitude
    double median = 0;
    size_t count = 0;
};

Stats Summary(std::vector<double> values) {
    Stats s;
    for (double v : values)
        if (std::fabs(v) > std::fabs(s.worst))
            s.worst = v;
    for (double& v : values)
        v = std::fabs(v);
    s.count = values.size();
    if (!values.empty()) {
        std::sort(values.begin(), values.end());
        const size_t rank = size_t(std::ceil(0.99 * double(values.size()))) - 1;
        s.p99 = values[std::min(rank, values.size() - 1)];
        s.median = values[values.size() / 2];
    }
    return s;
}

// Deviations of the key-down (even) or key-up (odd) durations.
Stats Deviation(const std::vector<TimedBoard::Change>& c, const std::vector<double>& nominal,
                bool atReturn, bool keyDown) {
    std::vector<double> dev;
    for (size_t i = keyDown ? 0 : 1; i + 1 < c.size() && i < nominal.size(); i += 2) {
        const double measured =
            atReturn ? c[i + 1].returned - c[i].returned : c[i + 1].at - c[i].at;
        dev.push_back(measured - nominal[i]);
    }
    return Summary(dev);
}

} // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("PORTIVA_SIM"))
        qputenv("PORTIVA_SIM", "1");
    QCoreApplication app(argc, argv);
    const int passes = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    const QString file =
        argc > 2 ? QString::fromLocal8Bit(argv[2]) : QStringLiteral(PORTIVA_LIBRARY_FILE);

    BoardLibrary library(file);
    PortivaBoard portiva(&library);
    const bool init = portiva.init();
    if (!library.isLoaded()) {
        std::fprintf(stderr, "board library not loaded: %s\n", qPrintable(library.lastError()));
        return 1;
    }
    std::printf("library %s, PORTIVA_SIM=%s, UsbInit(0) %s\n", qPrintable(file),
                qgetenv("PORTIVA_SIM").constData(), init ? "true" : "false");
    std::printf("text \"%s\" x %d per speed; an event posted every %d ms from another thread\n",
                Text, passes, PostEveryMs);
    std::printf("keying deviations in ms (measured - nominal):\n");
    std::printf("%-6s %-9s %6s | %-29s | %-29s | %s\n", "dot", "measured", "pulses",
                "key-down worst / p99 / median", "key-up worst / p99 / median",
                "call ms mean / max");

    const QString text = TextFor(passes);
    std::vector<double> allDelays;
    std::vector<std::vector<double>> delaysBySpeed;
    for (int speed = 1; speed <= 3; ++speed) {
        const std::vector<double> nominal = NominalDurations(speed, text);
        TimedBoard board(portiva);
        Keyer keyer;
        keyer.setBoard(&board);
        keyer.KeyerReady = true;
        keyer.Text6 = text;
        keyer.OptSpeedClick(speed);

        Receiver receiver;
        std::atomic<bool> sending{true};
        std::thread poster([&receiver, &sending] {
            while (sending) {
                QCoreApplication::postEvent(&receiver, new StampEvent(NowMs()));
                std::this_thread::sleep_for(std::chrono::milliseconds(PostEveryMs));
            }
        });
        QTimer done;
        QObject::connect(&done, &QTimer::timeout, [&keyer, &app] {
            if (!keyer.busy())
                app.quit();
        });
        done.start(20);
        keyer.cmdsendClick();
        app.exec();
        sending = false;
        poster.join();
        QCoreApplication::sendPostedEvents(&receiver);

        const std::vector<TimedBoard::Change>& changes = board.changes;
        if (changes.size() != nominal.size() + 1) {
            std::fprintf(stderr, "speed %d: %zu key-line changes, %zu expected\n", speed,
                         changes.size(), nominal.size() + 1);
            return 1;
        }
        double callSum = 0, callMax = 0;
        for (const TimedBoard::Change& c : changes) {
            callSum += c.returned - c.at;
            callMax = std::max(callMax, c.returned - c.at);
        }
        for (bool atReturn : {false, true}) {
            const Stats down = Deviation(changes, nominal, atReturn, true);
            const Stats up = Deviation(changes, nominal, atReturn, false);
            std::printf("%-6s %-9s %6zu | %+8.3f / %7.3f / %7.3f | %+8.3f / %7.3f / %7.3f | "
                        "%.3f / %.3f\n",
                        qPrintable(QStringLiteral("%1 ms").arg(DotLengthFor(speed))),
                        atReturn ? "at return" : "at call", down.count, down.worst, down.p99,
                        down.median, up.worst, up.p99, up.median, callSum / double(changes.size()),
                        callMax);
        }
        delaysBySpeed.push_back(receiver.delays);
        allDelays.insert(allDelays.end(), receiver.delays.begin(), receiver.delays.end());
    }

    std::printf("posted-event delay in ms during the transmissions:\n");
    std::printf("%-6s %7s | %8s %8s %8s\n", "dot", "events", "median", "p99", "max");
    for (size_t i = 0; i <= delaysBySpeed.size(); ++i) {
        const bool total = i == delaysBySpeed.size();
        const Stats s = Summary(total ? allDelays : delaysBySpeed[i]);
        std::printf("%-6s %7zu | %8.3f %8.3f %8.3f\n",
                    total ? "all"
                          : qPrintable(QStringLiteral("%1 ms").arg(DotLengthFor(int(i) + 1))),
                    s.count, s.median, s.p99, std::fabs(s.worst));
    }
    return 0;
}
