#include "KeyerFixture.h"
#include "Morse.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

namespace {

// The key line as "down <ms>" / "up <ms>" durations, from the first key-down to the last key-up.
QStringList Pulses(const KeyerRun& run) {
    QStringList out;
    const std::vector<double> d = run.keyDurations();
    for (size_t i = 0; i < d.size(); ++i)
        out << QStringLiteral("%1 %2").arg(i % 2 == 0 ? "down" : "up").arg(d[i]);
    return out;
}

// Pulses of a code at a dot length: each element then one element gap.
QStringList CodePulses(const QString& code, int dot) {
    QStringList out;
    for (QChar c : code) {
        if (c == QLatin1Char('0'))
            break;
        if (!out.isEmpty())
            out << QStringLiteral("up %1").arg(dot);
        out << QStringLiteral("down %1").arg(c == QLatin1Char('-') ? DashLength(dot) : dot);
    }
    return out;
}

// The time from the last key-up to line 17 going low: the tail of the transmission.
double Tail(const KeyerRun& run) {
    double lastUp = -1, pttOff = -1;
    for (const QString& l : run.schedule()) {
        const double t = l.section(QLatin1Char(' '), 0, 0).toDouble();
        if (l.endsWith(QLatin1String("UsbSetIOState(0,16,0)")))
            lastUp = t;
        if (l.endsWith(QLatin1String("UsbSetIOState(0,17,0)")))
            pttOff = t;
    }
    return pttOff - lastUp;
}

void Send(KeyerRun& run, const QString& text, int speed) {
    run.keyer->Text6 = text;
    run.keyer->OptSpeedClick(speed);
    run.keyer->cmdsendClick();
}

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

TEST(TimingPrimitives, DashIsThreeAndAHalfDotsTiesToEven) {
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

    KeyerRun run;
    ASSERT_TRUE(run.libraryLoaded());
    run.keyer->DotLength = 75;
    run.keyer->KeyDash();
    run.keyer->ElementGap();
    run.keyer->KeyDot();
    run.keyer->CharGap();
    run.keyer->KeyDot();
    run.keyer->settle();
    EXPECT_EQ(run.keyLine(),
              (QStringList{"0 down", "262 up", "337 down", "412 up", "562 down", "637 up"}));
    EXPECT_EQ(run.clock.now, 637000);
}

TEST(Transmission, LetterEAtSeventyLpmWithTheWholeSequence) {
    KeyerRun run;
    ASSERT_TRUE(run.libraryLoaded());
    Send(run, QStringLiteral("e"), 3);
    EXPECT_EQ(run.schedule(), (QStringList{
                                  "0 TxRx on",
                                  "0 Com1 00 00 00 00 08",
                                  "0 UsbSetPortDir(0,2,1)",
                                  "0 UsbSetIODir(0,16,1)",
                                  "0 UsbSetIODir(0,17,1)",
                                  "0 Com1 00 00 00 00 08",
                                  "0 UsbSetIOState(0,17,1)",
                                  "0 UsbSetIOState(0,16,1)",
                                  "50 UsbSetIOState(0,16,0)",
                                  "200 UsbSetIOState(0,17,0)",
                                  "200 TxRx off",
                                  "200 Com1 00 00 00 00 88",
                                  "200 Com1 00 00 00 00 88",
                                  "200 Com2 00 00 00 00 88",
                              }));
    EXPECT_FALSE(run.station.txRx);
    EXPECT_TRUE(run.station.txRxGreen);
    EXPECT_EQ(run.keyer->depth(), 0);
}

TEST(Transmission, CqAtSixtyLpm) {
    KeyerRun run;
    Send(run, QStringLiteral("cq"), 2);
    QStringList expected = CodePulses(QStringLiteral("-.-."), 75);
    expected << QStringLiteral("up 225"); // element gap and character gap
    expected << CodePulses(QStringLiteral("--.-"), 75);
    EXPECT_EQ(Pulses(run), expected);
    EXPECT_EQ(Tail(run), 225);
}

TEST(Transmission, EveryCharacterAtEverySpeed) {
    const QString text = QStringLiteral("0123456789abcdefghijklmnopqrstuvwxyz,-./\\=?:()'*@&%~><");
    for (int speed = 1; speed <= 3; ++speed) {
        const int dot = DotLengthFor(speed);
        KeyerRun run;
        run.keyer->CWloop = false;
        Send(run, text, speed);
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

TEST(Transmission, SpaceIsACharacterGapAndOthersPlayNothing) {
    KeyerRun words;
    Send(words, QStringLiteral("e e"), 1);
    EXPECT_EQ(Pulses(words), (QStringList{"down 100", "up 500", "down 100"}));

    // Capitals, a tab and signs without a code play nothing and add no gap; so does a quote.
    KeyerRun mixed;
    Send(mixed, QStringLiteral("eE\t#\"e"), 1);
    EXPECT_EQ(Pulses(mixed), (QStringList{"down 100", "up 300", "down 100"}));

    // Leading and trailing spaces are trimmed; so nothing is added before or after.
    KeyerRun trimmed;
    Send(trimmed, QStringLiteral("  e  "), 1);
    EXPECT_EQ(trimmed.keyLine(), (QStringList{"0 down", "100 up"}));
    EXPECT_EQ(Tail(trimmed), 300);
}

TEST(Transmission, CapitalsKeyTheTransmitterOnlyAndQuotesProcessNoEvents) {
    KeyerRun run;
    Send(run, QStringLiteral("CQ"), 2);
    EXPECT_TRUE(run.keyLine().isEmpty());
    EXPECT_EQ(run.schedule(), (QStringList{
                                  "0 TxRx on",
                                  "0 Com1 00 00 00 00 08",
                                  "0 UsbSetPortDir(0,2,1)",
                                  "0 UsbSetIODir(0,16,1)",
                                  "0 UsbSetIODir(0,17,1)",
                                  "0 Com1 00 00 00 00 08",
                                  "0 UsbSetIOState(0,17,1)",
                                  "0 UsbSetIOState(0,17,0)",
                                  "0 TxRx off",
                                  "0 Com1 00 00 00 00 88",
                                  "0 Com1 00 00 00 00 88",
                                  "0 Com2 00 00 00 00 88",
                              }));
    EXPECT_EQ(run.processEventsCalls, 2);

    KeyerRun quotes;
    Send(quotes, QStringLiteral("\"e\""), 2);
    EXPECT_EQ(quotes.processEventsCalls, 1);
}

TEST(Transmission, PauseAfterTheTwentiethCharacter) {
    KeyerRun run;
    Send(run, QStringLiteral("eeeeeeeeeeeeeeeeeeeeeeeee"), 3); // 25 characters
    const std::vector<double> d = run.keyDurations();
    ASSERT_EQ(d.size(), 49u);
    for (size_t i = 1; i < d.size(); i += 2) {
        const size_t character = (i + 1) / 2; // the gap after this character
        EXPECT_EQ(d[i], character == 20 ? 350 : 150) << character;
    }
    // A twenty-character text: the pause comes before the end of the transmission.
    KeyerRun twenty;
    Send(twenty, QStringLiteral("eeeeeeeeeeeeeeeeeeee"), 3);
    EXPECT_EQ(Tail(twenty), 350);
}

TEST(Transmission, LoopRepeatsUntilLoopStopThenSendsTheClosingGroup) {
    KeyerRun run;
    run.keyer->CWloop = true;
    // "LoopStop" arrives during the third character of the second pass.
    run.onProcessEvents = [&run](int call) {
        if (call == 5) // two characters plus the restart of the pass, then two more
            run.keyer->LoopStopClick();
    };
    Send(run, QStringLiteral("et"), 3);
    QStringList expected = {"down 50", "up 150", "down 175", "up 150", // first pass
                            "down 50", "up 150", "down 175",           // second pass
                            "up 250"};                                 // gap, then " "
    expected << CodePulses(MorseCode(QLatin1Char('p')), 50) << QStringLiteral("up 150");
    expected << CodePulses(MorseCode(QLatin1Char('s')), 50) << QStringLiteral("up 150");
    expected << CodePulses(MorseCode(QLatin1Char('e')), 50) << QStringLiteral("up 250");
    expected << CodePulses(MorseCode(QLatin1Char('k')), 50);
    EXPECT_EQ(Pulses(run), expected);
    EXPECT_FALSE(run.keyer->LoopStopRequested);
    EXPECT_EQ(run.lastState(17), 0);
    EXPECT_FALSE(run.station.txRx);
}

TEST(Transmission, ReceiveButtonStopsAfterTheCharacterBeingSent) {
    KeyerRun run;
    run.onProcessEvents = [&run](int call) {
        if (call == 3)
            run.keyer->cmdRXClick(); // arrives before the third character is keyed
    };
    Send(run, QStringLiteral("eeeeee"), 1);
    EXPECT_EQ(run.keyLine().size(), 6); // three characters
    EXPECT_FALSE(run.keyer->SendingFlag);
    EXPECT_EQ(run.lastState(17), 0);
    EXPECT_FALSE(run.station.txRx);

    // In loop mode as well, and the loop ends even for a text that keys nothing.
    KeyerRun silent;
    silent.keyer->CWloop = true;
    silent.onProcessEvents = [&silent](int call) {
        if (call == 1000)
            silent.keyer->cmdRXClick();
    };
    Send(silent, QStringLiteral("\"\""), 1);
    EXPECT_EQ(silent.processEventsCalls, 1000);
    EXPECT_EQ(silent.lastState(17), 0);
}

TEST(Transmission, NotReadyKeysNothing) {
    KeyerRun run;
    run.keyer->KeyerReady = false;
    Send(run, QStringLiteral("cq"), 1);
    EXPECT_TRUE(run.keyLine().isEmpty());
    EXPECT_EQ(run.lastState(17), 0);
    run.keyer->KeyerReady = true;
    run.keyer->SendMorseChar(QString());
    run.keyer->SendMorseChar(QStringLiteral("ee")); // not one character
    EXPECT_TRUE(run.keyLine().isEmpty());
}

TEST(Transmission, EmptyTextLeavesTheTransmitterToTheOperator) {
    KeyerRun run;
    run.keyer->TXTSel = true;
    run.keyer->Text1.clear();
    run.keyer->Text6 = QStringLiteral("e");
    run.keyer->cmdsendClick();
    EXPECT_EQ(run.schedule(),
              (QStringList{"0 TxRx on", "0 Com1 00 00 00 00 08", "0 UsbSetPortDir(0,2,1)",
                           "0 UsbSetIODir(0,16,1)", "0 UsbSetIODir(0,17,1)"}));
    EXPECT_TRUE(run.station.txRx);
    EXPECT_FALSE(run.keyer->SendingFlag);
    EXPECT_EQ(run.keyer->depth(), 0);
}

TEST(Transmission, TextSelectChoosesTheField) {
    KeyerRun run;
    run.keyer->Text1 = QStringLiteral("t");
    run.keyer->Text6 = QStringLiteral("e");
    run.keyer->TXTSel = true;
    run.keyer->OptSpeedClick(1);
    run.keyer->cmdsendClick();
    EXPECT_EQ(Pulses(run), QStringList{"down 350"});
}

TEST(RigCases, Ft991OnCom1WaitsASecondEachWay) {
    KeyerRun run;
    run.station.ft991 = true;
    Send(run, QStringLiteral("e"), 3);
    EXPECT_EQ(run.schedule(), (QStringList{
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
}

TEST(RigCases, Com2UsesItsFrameAndNoTransmitLine) {
    KeyerRun run;
    run.station.rigPort = QStringLiteral("Com2");
    Send(run, QStringLiteral("e"), 3);
    EXPECT_EQ(run.schedule(), (QStringList{
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
    other.station.rigPort = QStringLiteral("Com3");
    Send(other, QStringLiteral("e"), 3);
    EXPECT_EQ(other.keyLine().size(), 2);
    EXPECT_EQ(other.schedule().filter(QStringLiteral("08")).size(), 1); // the toggle's only
}

TEST(Failures, ClosedPortEndsTheTransmissionAndReleasesTheTransmitter) {
    // The toggle reached the rig, then the keyer's own PTT frame failed.
    KeyerRun run;
    int writes = 0;
    KeyerHooks& h = run.keyer->hooks();
    auto frame = h.writeFrame;
    h.writeFrame = [&](int com, const QByteArray& bytes) {
        return ++writes == 1 ? false : frame(com, bytes);
    };
    Send(run, QStringLiteral("eee"), 3);
    EXPECT_TRUE(run.keyLine().isEmpty());
    EXPECT_FALSE(run.keyer->SendingFlag);
    EXPECT_EQ(run.lastState(17), 0);
    EXPECT_FALSE(run.station.txRx);
    const QStringList tail = run.schedule().mid(5);
    EXPECT_EQ(tail, (QStringList{"0 UsbSetIOState(0,17,0)", "0 TxRx off", "0 Com1 00 00 00 00 88",
                                 "0 Com1 00 00 00 00 88", "0 Com2 00 00 00 00 88"}));
    EXPECT_EQ(run.keyer->depth(), 0);
}

TEST(Failures, FailingWritesAtTheEndStillReachTheOtherRig) {
    KeyerRun run;
    run.station.rigPort = QStringLiteral("Com2");
    run.onProcessEvents = [&run](int) { run.station.com1Open = false; }; // Com1 vanished
    Send(run, QStringLiteral("e"), 3);
    const QStringList s = run.schedule();
    EXPECT_EQ(s.mid(s.size() - 3),
              (QStringList{"200 Com2 00 00 00 00 88", "200 Com1 00 00 00 00 88 (closed)",
                           "200 Com2 00 00 00 00 88"}));
    EXPECT_EQ(run.lastState(17), 0);

    // The transmit text fails: the rest of the release still runs.
    KeyerRun text;
    text.station.ft991 = true;
    text.station.com1Open = false;
    Send(text, QStringLiteral("e"), 3);
    EXPECT_TRUE(text.keyLine().isEmpty());
    EXPECT_EQ(text.lastState(17), 0);
    EXPECT_FALSE(text.station.txRx);
    EXPECT_TRUE(text.schedule().last().endsWith(QLatin1String("Com2 00 00 00 00 88")));
}

TEST(Reentry, StartDuringATransmissionKeepsTheTransmitterUntilTheOuterEnds) {
    KeyerRun run;
    run.onProcessEvents = [&run](int call) {
        if (call == 2) {
            run.keyer->Text6 = QStringLiteral("t");
            run.keyer->cmdsendClick();
            EXPECT_EQ(run.keyer->depth(), 1);
        }
    };
    Send(run, QStringLiteral("ee"), 3);
    // e, then the inner t, then the outer's second e.
    EXPECT_EQ(Pulses(run), (QStringList{"down 50", "up 150", "down 175", "up 150", "down 50"}));
    EXPECT_EQ(run.schedule().filter(QStringLiteral("UsbSetIOState(0,17,0)")).size(), 1);
    EXPECT_EQ(run.lastState(17), 0);
    EXPECT_EQ(run.keyer->depth(), 0);

    // An inner failure stops the outer too, which then releases.
    KeyerRun failing;
    failing.onProcessEvents = [&failing](int call) {
        if (call == 2) {
            failing.station.com1Open = false;
            failing.keyer->cmdsendClick();
        }
    };
    Send(failing, QStringLiteral("eeee"), 3);
    EXPECT_EQ(failing.keyLine().size(), 4); // the first e and the outer's character in hand
    EXPECT_EQ(failing.lastState(17), 0);
    EXPECT_FALSE(failing.station.txRx);
    EXPECT_EQ(failing.keyer->depth(), 0);
}

TEST(Reentry, KeyerDestroyedWhileSendingLetsTheLinesGo) {
    KeyerRun run;
    run.onProcessEvents = [&run](int call) {
        if (call == 2)
            run.keyer.reset();
    };
    run.keyer->Text6 = QStringLiteral("eee");
    run.keyer->cmdsendClick();
    EXPECT_EQ(run.keyer, nullptr);
    EXPECT_EQ(run.lastState(16), 0);
    EXPECT_EQ(run.lastState(17), 0);
}

TEST(PlayCode, StopsAtTheTerminatorOrAfterTwentyPositions) {
    KeyerRun run;
    run.keyer->DotLength = 50;
    run.keyer->PlayCode(QStringLiteral(".-0.-.-"));
    run.keyer->settle();
    EXPECT_EQ(Pulses(run), (QStringList{"down 50", "up 50", "down 175"}));
    EXPECT_EQ(run.clock.now, (50 + 50 + 175 + 50 + 100) * 1000);

    KeyerRun unended;
    unended.keyer->DotLength = 50;
    unended.keyer->PlayCode(QString(25, QLatin1Char('.')));
    unended.keyer->settle();
    EXPECT_EQ(unended.keyLine().size(), 40);       // twenty dots
    EXPECT_EQ(unended.clock.now, 20 * 100 * 1000); // each with its gap, no character gap
}

TEST(Speed, OptionsOutsideTheThreeAreIgnored) {
    Keyer keyer;
    EXPECT_TRUE(keyer.OptSpeedClick(3));
    EXPECT_FALSE(keyer.OptSpeedClick(0));
    EXPECT_FALSE(keyer.OptSpeedClick(4));
    EXPECT_EQ(keyer.SpeedIndex, 3);
}
