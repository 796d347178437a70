#include "KeyerFixture.h"
#include "Morse.h"

#include <gtest/gtest.h>

namespace {

// The time from the last key-up to the transmit line going low: the tail of the transmission.
double Tail(const KeyerRun& run) {
    double lastUp = -1, released = -1;
    for (const QString& l : run.schedule()) {
        const double t = l.section(QLatin1Char(' '), 0, 0).toDouble();
        if (l.endsWith(QLatin1String("UsbSetIOState(0,16,0)")))
            lastUp = t;
        if (l.endsWith(QLatin1String("UsbSetIOState(0,17,0)")))
            released = t;
    }
    return released - lastUp;
}

const QStringList StartOnCom1 = {
    "0 TxRx on",
    "0 Com1 00 00 00 00 08",
    "0 UsbSetPortDir(0,2,1)",
    "0 UsbSetIODir(0,16,1)",
    "0 UsbSetIODir(0,17,1)",
    "0 Com1 00 00 00 00 08",
    "0 UsbSetIOState(0,17,1)",
};

// The release at a time: transmit line, toggle, then both transceivers' receive commands.
QStringList ReleaseOnCom1(int ms) {
    QStringList out;
    for (const char* what : {"UsbSetIOState(0,17,0)", "TxRx off", "Com1 00 00 00 00 88",
                             "Com1 00 00 00 00 88", "Com2 00 00 00 00 88"})
        out << QStringLiteral("%1 %2").arg(ms).arg(QLatin1String(what));
    return out;
}

// Collects the keyer's warnings.
QStringList* g_warnings = nullptr;
void CollectWarnings(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (g_warnings && type == QtWarningMsg &&
        QLatin1String(context.category) == QLatin1String("farscan.keyer"))
        *g_warnings << text;
}
struct WarningLog {
    QStringList warnings;
    QtMessageHandler previous;
    WarningLog() : previous(qInstallMessageHandler(CollectWarnings)) { g_warnings = &warnings; }
    ~WarningLog() {
        g_warnings = nullptr;
        qInstallMessageHandler(previous);
    }
};

} // namespace

TEST(MorseTable, EveryCodeExactly) {
    const char* table[][2] = {
        {"0", "-----0"},        {"1", ".----0"},  {"2", "..---0"},  {"3", "...--0"},
        {"4", "....-0"},        {"5", ".....0"},  {"6", "-....0"},  {"7", "--...0"},
        {"8", "---..0"},        {"9", "----.0"},  {"a", ".-0"},     {"b", "-...0"},
        {"c", "-.-.0"},         {"d", "-..0"},    {"e", ".0"},      {"f", "..-.0"},
        {"g", "--.0"},          {"h", "....0"},   {"i", "..0"},     {"j", ".---0"},
        {"k", "-.-0"},          {"l", ".-..0"},   {"m", "--0"},     {"n", "-.0"},
        {"o", "---0"},          {"p", ".--.0"},   {"q", "--.-0"},   {"r", ".-.0"},
        {"s", "...0"},          {"t", "-0"},      {"u", "..-0"},    {"v", "...-0"},
        {"w", ".--0"},          {"x", "-..-0"},   {"y", "-.--0"},   {"z", "--..0"},
        {",", "--..--0"},       {"-", "-....-0"}, {".", ".-.-.-0"}, {"/", "-..-.0"},
        {"\\", "-..-.0"},       {"=", "-...-0"},  {"?", "..--..0"}, {":", "---...0"},
        {"(", "-.--.-0"},       {")", "-.--.-0"}, {"'", ".-..-.0"}, {"*", ".-...0"},
        {"@", "-.--.0"},        {"&", ".-.-.0"},  {"%", "...-.0"},  {"~", "-...-.-0"},
        {">", "...-...-...-0"}, {"<", "...-.-0"},
    };
    QString coded;
    for (const auto& row : table) {
        EXPECT_EQ(MorseCode(QLatin1Char(row[0][0])), QString::fromLatin1(row[1])) << row[0];
        coded += QLatin1String(row[0]);
    }
    // Nothing else has a code: capitals, the space, the double quote, other signs, non-Latin.
    for (int u = 1; u < 0x180; ++u) {
        const QChar c(u);
        if (!coded.contains(c)) {
            EXPECT_TRUE(MorseCode(c).isEmpty()) << u;
        }
    }
}

TEST(TimingPrimitives, DashTiesToEvenGapsAddUpAndCodesEnd) {
    EXPECT_EQ(DotLengthFor(1), 100);
    EXPECT_EQ(DotLengthFor(2), 75);
    EXPECT_EQ(DotLengthFor(3), 50);
    EXPECT_EQ(DotLengthFor(0), 0);
    EXPECT_EQ(DotLengthFor(4), 0);
    EXPECT_EQ(DashLength(100), 350);
    EXPECT_EQ(DashLength(75), 262); // 262.5: the even neighbour
    EXPECT_EQ(DashLength(50), 175);
    EXPECT_EQ(DashLength(1), 4);  // 3.5
    EXPECT_EQ(DashLength(3), 10); // 10.5
    EXPECT_EQ(DashLength(5), 18); // 17.5
    EXPECT_EQ(DashLength(-75), -262);

    // Played from outside a transmission: they start at once and follow one another.
    KeyerRun run;
    run.keyer->DotLength = 75;
    run.keyer->KeyDash();
    run.keyer->ElementGap();
    run.keyer->KeyDot();
    run.keyer->CharGap();
    run.keyer->KeyDot();
    EXPECT_EQ(run.keyLine(), QStringList{"0 down"}); // the rest waits for its time
    run.run();
    EXPECT_EQ(run.keyLine(),
              (QStringList{"0 down", "262 up", "337 down", "412 up", "562 down", "637 up"}));
    EXPECT_EQ(run.clock.now, 637000);
    EXPECT_FALSE(run.keyer->busy());

    // A code ends at its terminator with a character gap; without one, after twenty
    // positions with no character gap. The dot after each shows where the code ended.
    KeyerRun ended;
    ended.keyer->DotLength = 50;
    ended.keyer->PlayCode(QStringLiteral(".-0.-.-"));
    ended.keyer->KeyDot();
    ended.run();
    EXPECT_EQ(Pulses(ended), (QStringList{"down 50", "up 50", "down 175", "up 150", "down 50"}));

    KeyerRun unended;
    unended.keyer->DotLength = 50;
    unended.keyer->PlayCode(QString(25, QLatin1Char('.')));
    unended.keyer->KeyDot();
    unended.run();
    EXPECT_EQ(unended.keyChanges(), 42);              // twenty dots and the one after
    EXPECT_EQ(unended.keyLine().at(40), "2000 down"); // each dot with its gap, nothing more

    // Speed options outside the three are ignored.
    EXPECT_TRUE(run.keyer->OptSpeedClick(3));
    EXPECT_FALSE(run.keyer->OptSpeedClick(0));
    EXPECT_FALSE(run.keyer->OptSpeedClick(4));
    EXPECT_EQ(run.keyer->SpeedIndex, 3);
}

TEST(Transmission, WholeSequenceForALetterCapitalsAndAnEmptyText) {
    // "e" at "70 lpm": 50 ms down, 50 ms element gap, 100 ms character gap.
    KeyerRun run;
    run.keyer->Text6 = QStringLiteral("e");
    run.keyer->OptSpeedClick(3);
    run.keyer->cmdsendClick();
    // The click returns while the key is down; the rest runs from the timer.
    EXPECT_TRUE(run.keyer->busy());
    EXPECT_TRUE(run.board.level(BoardLine::Key));
    EXPECT_TRUE(run.timer.pending());
    run.run();
    EXPECT_EQ(run.schedule(),
              (StartOnCom1 + QStringList{"0 UsbSetIOState(0,16,1)", "50 UsbSetIOState(0,16,0)"} +
               ReleaseOnCom1(200)));
    EXPECT_FALSE(run.rig->txRx());
    EXPECT_TRUE(run.txRxGreen);
    EXPECT_FALSE(run.keyer->busy());
    EXPECT_EQ(run.keyer->depth(), 0);

    // Capitals have no code: the transmitter is keyed on and off, nothing else.
    KeyerRun capitals;
    capitals.send(QStringLiteral("CQ"), 2);
    EXPECT_EQ(capitals.schedule(), StartOnCom1 + ReleaseOnCom1(0));

    // An empty text stops after the board set-up; the transmitter stays keyed by the toggle.
    KeyerRun empty;
    empty.keyer->TXTSel = true;
    empty.keyer->Text1.clear();
    empty.keyer->Text6 = QStringLiteral("e");
    empty.keyer->cmdsendClick();
    EXPECT_EQ(empty.schedule(), StartOnCom1.mid(0, 5));
    EXPECT_TRUE(empty.rig->txRx());
    EXPECT_FALSE(empty.keyer->SendingFlag);
    EXPECT_FALSE(empty.keyer->busy());
    EXPECT_FALSE(empty.timer.pending());
}

TEST(Transmission, TextRules) {
    // "cq" at "60 lpm": a 262 ms dash, 75 ms gaps, 225 ms between the characters.
    KeyerRun cq;
    cq.send(QStringLiteral("cq"), 2);
    EXPECT_EQ(Pulses(cq), CodePulses(QStringLiteral("-.-."), 75) + QStringList{"up 225"} +
                              CodePulses(QStringLiteral("--.-"), 75));
    EXPECT_EQ(Tail(cq), 225);

    // A space is one character gap.
    KeyerRun words;
    words.send(QStringLiteral("e e"), 1);
    EXPECT_EQ(Pulses(words), (QStringList{"down 100", "up 500", "down 100"}));

    // Capitals, a tab and signs without a code play nothing and add no gap; so does a quote.
    KeyerRun mixed;
    mixed.send(QStringLiteral("eE\t#\"e"), 1);
    EXPECT_EQ(Pulses(mixed), (QStringList{"down 100", "up 300", "down 100"}));

    // Leading and trailing spaces are trimmed; so nothing is added before or after.
    KeyerRun trimmed;
    trimmed.send(QStringLiteral("  e  "), 1);
    EXPECT_EQ(trimmed.keyLine(), (QStringList{"0 down", "100 up"}));
    EXPECT_EQ(Tail(trimmed), 300);

    // Twenty-five characters: a pause of two character gaps after the twentieth.
    KeyerRun long25;
    long25.send(QString(25, QLatin1Char('e')), 3);
    const std::vector<double> d = long25.keyDurations();
    ASSERT_EQ(d.size(), 49u);
    for (size_t i = 1; i < d.size(); i += 2) {
        const size_t character = (i + 1) / 2; // the gap after this character
        EXPECT_EQ(d[i], character == 20 ? 350 : 150) << character;
    }
    // Twenty characters: the pause comes before the transmitter is released.
    KeyerRun twenty;
    twenty.send(QString(20, QLatin1Char('e')), 3);
    EXPECT_EQ(Tail(twenty), 350);

    // The toggle chooses the text.
    KeyerRun selected;
    selected.keyer->Text1 = QStringLiteral("t");
    selected.keyer->TXTSel = true;
    selected.send(QStringLiteral("e"), 1);
    EXPECT_EQ(Pulses(selected), QStringList{"down 350"});

    // Before the window is active nothing is keyed, but the transmitter is released.
    KeyerRun notReady;
    notReady.keyer->KeyerReady = false;
    notReady.send(QStringLiteral("cq"), 1);
    EXPECT_TRUE(notReady.keyLine().isEmpty());
    EXPECT_FALSE(notReady.board.level(BoardLine::Transmit));
    notReady.keyer->KeyerReady = true;
    notReady.keyer->SendMorseChar(QString());
    notReady.keyer->SendMorseChar(QStringLiteral("ee")); // not one character
    EXPECT_FALSE(notReady.keyer->busy());
    EXPECT_TRUE(notReady.keyLine().isEmpty());
}

TEST(Transmission, EveryCharacterAtEverySpeed) {
    const QString text = QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyz,-./\\=?:()'*@&%~><");
    for (int speed = 1; speed <= 3; ++speed) {
        const int dot = DotLengthFor(speed);
        KeyerRun run;
        run.send(text, speed);
        QStringList expected;
        for (qsizetype i = 0; i < text.size(); ++i) {
            if (i > 0)
                expected << QStringLiteral("up %1").arg(i == 20 ? 7 * dot : 3 * dot);
            expected << CodePulses(MorseCode(text[i]), dot);
        }
        EXPECT_EQ(Pulses(run), expected) << speed;
        EXPECT_EQ(Tail(run), 3 * dot);
    }
}

TEST(Transmission, LoopStopAndReceiveEndItWhileTheTimerRuns) {
    // Loop Stop during the second pass: that pass finishes, then " pse k" and the release.
    KeyerRun loop;
    loop.keyer->CWloop = true;
    loop.keyer->Text6 = QStringLiteral("et");
    loop.keyer->OptSpeedClick(3);
    loop.keyer->cmdsendClick();
    loop.run([&loop] { return loop.keyChanges() == 5; }); // the second pass's "e" is down
    loop.keyer->LoopStopClick();
    loop.run();
    QStringList expected = {"down 50", "up 150", "down 175", "up 150", // first pass
                            "down 50", "up 150", "down 175",           // second pass
                            "up 250"};                                 // gap, then " "
    expected << CodePulses(MorseCode(QLatin1Char('p')), 50) << QStringLiteral("up 150");
    expected << CodePulses(MorseCode(QLatin1Char('s')), 50) << QStringLiteral("up 150");
    expected << CodePulses(MorseCode(QLatin1Char('e')), 50) << QStringLiteral("up 250");
    expected << CodePulses(MorseCode(QLatin1Char('k')), 50);
    EXPECT_EQ(Pulses(loop), expected);
    EXPECT_EQ(Tail(loop), 150);
    EXPECT_FALSE(loop.keyer->LoopStopRequested);
    EXPECT_FALSE(loop.board.level(BoardLine::Transmit));
    EXPECT_FALSE(loop.rig->txRx());

    // RX while the third character is keyed: it is finished, then the transmitter released.
    KeyerRun rx;
    rx.keyer->Text6 = QStringLiteral("eeeeee");
    rx.keyer->cmdsendClick();
    rx.run([&rx] { return rx.keyChanges() == 5; });
    rx.keyer->cmdRXClick();
    rx.run();
    EXPECT_EQ(rx.keyChanges(), 6);
    EXPECT_EQ(Tail(rx), 225);
    EXPECT_FALSE(rx.keyer->SendingFlag);
    EXPECT_FALSE(rx.board.level(BoardLine::Transmit));
    EXPECT_FALSE(rx.rig->txRx());

    // RX in the pause after a character (here in loop mode) ends it there.
    KeyerRun gap;
    gap.keyer->CWloop = true;
    gap.keyer->Text6 = QStringLiteral("e");
    gap.keyer->cmdsendClick();
    gap.run([&gap] { return gap.keyChanges() == 4; });
    gap.keyer->cmdRXClick();
    gap.run();
    EXPECT_EQ(gap.keyChanges(), 4);
    EXPECT_FALSE(gap.board.level(BoardLine::Transmit));

    // A loop whose text keys nothing waits a dot per pass, and RX ends it too.
    KeyerRun silent;
    silent.keyer->CWloop = true;
    silent.keyer->Text6 = QStringLiteral("\"CQ\"");
    silent.keyer->OptSpeedClick(1);
    silent.keyer->cmdsendClick();
    EXPECT_EQ(silent.run({}, 1000), 1000);
    EXPECT_EQ(silent.clock.now, 1000 * 100 * 1000);
    silent.keyer->cmdRXClick();
    EXPECT_LT(silent.run(), 10);
    EXPECT_FALSE(silent.keyer->busy());
    EXPECT_FALSE(silent.board.level(BoardLine::Transmit));
    EXPECT_TRUE(silent.keyLine().isEmpty());
}

TEST(RigCases, Ft991WaitsASecondEachWayCom2UsesItsFrameOthersNothing) {
    KeyerRun ft991;
    ft991.ft991 = true;
    ft991.send(QStringLiteral("e"), 3);
    EXPECT_EQ(ft991.schedule(), (QStringList{
                                    "0 TxRx on",
                                    "0 Com1 00 00 00 00 08",
                                    "0 UsbSetPortDir(0,2,1)",
                                    "0 UsbSetIODir(0,16,1)",
                                    "0 UsbSetIODir(0,17,1)",
                                    "1000 Com1 TX1;",
                                    "1000 UsbSetIOState(0,17,1)",
                                    "1000 UsbSetIOState(0,16,1)",
                                    "1050 UsbSetIOState(0,16,0)",
                                    "1200 UsbSetIOState(0,17,0)",
                                    "1200 TxRx off",
                                    "1200 Com1 00 00 00 00 88",
                                    "2200 Com1 TX0;",
                                    "2200 Com2 00 00 00 00 88",
                                }));

    KeyerRun com2;
    com2.state.RigPort = QStringLiteral("Com2");
    com2.send(QStringLiteral("e"), 3);
    EXPECT_EQ(com2.schedule(), (QStringList{
                                   "0 TxRx on",
                                   "0 Com2 00 00 00 00 08",
                                   "0 UsbSetPortDir(0,2,1)",
                                   "0 UsbSetIODir(0,16,1)",
                                   "0 UsbSetIODir(0,17,1)",
                                   "0 Com2 00 00 00 00 08",
                                   "0 UsbSetIOState(0,16,1)",
                                   "50 UsbSetIOState(0,16,0)",
                                   "200 UsbSetIOState(0,17,0)",
                                   "200 TxRx off",
                                   "200 Com2 00 00 00 00 88",
                                   "200 Com1 00 00 00 00 88",
                                   "200 Com2 00 00 00 00 88",
                               }));

    // A port name that is neither: nothing switches the transmitter, the text is still keyed.
    KeyerRun other;
    other.state.RigPort = QStringLiteral("Com3");
    other.send(QStringLiteral("e"), 3);
    EXPECT_EQ(other.keyChanges(), 2);
    EXPECT_TRUE(other.schedule().filter(QStringLiteral("08")).isEmpty());
    EXPECT_FALSE(other.schedule().contains(QStringLiteral("0 UsbSetIOState(0,17,1)")));
}

TEST(Failures, AFailedCommandEndsTheTransmissionReleasesAndIsLogged) {
    // The toggle reached the rig, then the keyer's own PTT frame failed.
    WarningLog log;
    KeyerRun run;
    run.com1.writesBeforeFailing = 1;
    run.send(QStringLiteral("eee"), 3);
    EXPECT_TRUE(run.keyLine().isEmpty());
    EXPECT_FALSE(run.keyer->SendingFlag);
    EXPECT_FALSE(run.board.level(BoardLine::Transmit));
    EXPECT_FALSE(run.rig->txRx());
    EXPECT_TRUE(run.txRxGreen);
    // Com1 takes nothing more; Com2 still gets its receive frame.
    EXPECT_EQ(run.schedule().mid(5),
              (QStringList{"0 UsbSetIOState(0,17,0)", "0 TxRx off", "0 Com2 00 00 00 00 88"}));
    EXPECT_EQ(run.keyer->depth(), 0);
    ASSERT_FALSE(log.warnings.isEmpty());
    EXPECT_TRUE(log.warnings.first().contains(QLatin1String("FT-847 on Com1")))
        << qPrintable(log.warnings.first());
    EXPECT_TRUE(log.warnings.first().contains(QLatin1String("transmission ended")));

    // Com1 vanishes during a transmission on Com2: the release still reaches Com2.
    KeyerRun vanished;
    vanished.state.RigPort = QStringLiteral("Com2");
    vanished.keyer->Text6 = QStringLiteral("e");
    vanished.keyer->OptSpeedClick(3);
    vanished.keyer->cmdsendClick();
    vanished.com1.close();
    vanished.run();
    EXPECT_EQ(vanished.schedule().mid(vanished.schedule().size() - 4),
              (QStringList{"200 UsbSetIOState(0,17,0)", "200 TxRx off", "200 Com2 00 00 00 00 88",
                           "200 Com2 00 00 00 00 88"}));

    // The FT-991's transmit text cannot be sent: the rest of the release still runs, with its
    // pause.
    KeyerRun text;
    text.ft991 = true;
    text.com1.writesBeforeFailing = 1;
    text.send(QStringLiteral("e"), 3);
    EXPECT_TRUE(text.keyLine().isEmpty());
    EXPECT_FALSE(text.board.level(BoardLine::Transmit));
    EXPECT_FALSE(text.rig->txRx());
    EXPECT_EQ(text.schedule().last(), QStringLiteral("2000 Com2 00 00 00 00 88"));
}

TEST(Reentry, StartsDuringATransmissionAndEndingItEarly) {
    // A start during the first character sends its text before the second; the transmitter is
    // released once, at the end of the first.
    KeyerRun run;
    run.keyer->Text6 = QStringLiteral("ee");
    run.keyer->OptSpeedClick(3);
    run.keyer->cmdsendClick();
    run.keyer->Text6 = QStringLiteral("t");
    run.keyer->cmdsendClick();
    EXPECT_EQ(run.keyer->depth(), 1);
    run.run([&run] { return run.keyer->depth() == 2; });
    run.run();
    EXPECT_EQ(Pulses(run), (QStringList{"down 50", "up 150", "down 175", "up 150", "down 50"}));
    EXPECT_EQ(run.schedule().filter(QStringLiteral("UsbSetIOState(0,17,0)")).size(), 1);
    EXPECT_FALSE(run.board.level(BoardLine::Transmit));
    EXPECT_EQ(run.keyer->depth(), 0);

    // A failure in the inner one stops the outer after its character in hand, then releases.
    KeyerRun failing;
    failing.keyer->Text6 = QStringLiteral("eeee");
    failing.keyer->OptSpeedClick(3);
    failing.keyer->cmdsendClick();
    failing.com1.close();
    failing.keyer->cmdsendClick();
    failing.run();
    EXPECT_EQ(failing.keyChanges(), 4);
    EXPECT_FALSE(failing.board.level(BoardLine::Transmit));
    EXPECT_FALSE(failing.rig->txRx());
    EXPECT_EQ(failing.keyer->depth(), 0);

    // A start during the last character comes after the release, as a transmission of its own.
    KeyerRun after;
    after.keyer->Text6 = QStringLiteral("e");
    after.keyer->OptSpeedClick(3);
    after.keyer->cmdsendClick();
    after.keyer->cmdsendClick();
    after.run();
    EXPECT_EQ(after.schedule(),
              (StartOnCom1 + QStringList{"0 UsbSetIOState(0,16,1)", "50 UsbSetIOState(0,16,0)"} +
               ReleaseOnCom1(200) +
               QStringList{"200 TxRx on", "200 Com1 00 00 00 00 08", "200 UsbSetPortDir(0,2,1)",
                           "200 UsbSetIODir(0,16,1)", "200 UsbSetIODir(0,17,1)",
                           "200 Com1 00 00 00 00 08", "200 UsbSetIOState(0,17,1)",
                           "200 UsbSetIOState(0,16,1)", "250 UsbSetIOState(0,16,0)"} +
               ReleaseOnCom1(400)));

    // Ended early (the window closes) with the key down: key up, transmitter released at once.
    KeyerRun closing;
    closing.keyer->Text6 = QStringLiteral("tttt");
    closing.keyer->cmdsendClick();
    closing.keyer->endTransmission();
    EXPECT_EQ(
        closing.schedule().mid(StartOnCom1.size()),
        (QStringList{"0 UsbSetIOState(0,16,1)", "0 UsbSetIOState(0,16,0)"} + ReleaseOnCom1(0)));
    EXPECT_FALSE(closing.keyer->busy());
    EXPECT_FALSE(closing.timer.pending());

    // An FT-991 still gets its receive command after its pause, waited for there and then.
    KeyerRun closing991;
    closing991.ft991 = true;
    closing991.keyer->Text6 = QStringLiteral("tttt");
    closing991.keyer->cmdsendClick();
    closing991.run([&closing991] { return closing991.keyChanges() == 1; });
    closing991.keyer->endTransmission();
    EXPECT_EQ(
        closing991.schedule().mid(closing991.schedule().size() - 6),
        (QStringList{"1000 UsbSetIOState(0,16,0)", "1000 UsbSetIOState(0,17,0)", "1000 TxRx off",
                     "1000 Com1 00 00 00 00 88", "2000 Com1 TX0;", "2000 Com2 00 00 00 00 88"}));
    EXPECT_FALSE(closing991.timer.pending());

    // Destroyed while sending: the board lets the transmitter go.
    KeyerRun destroyed;
    destroyed.keyer->Text6 = QStringLiteral("eee");
    destroyed.keyer->cmdsendClick();
    destroyed.keyer.reset();
    EXPECT_FALSE(destroyed.board.level(BoardLine::Key));
    EXPECT_FALSE(destroyed.board.level(BoardLine::Transmit));
}
