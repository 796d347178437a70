// The cluster terminal's text rules, the decoding of what servers send, and spot lines.
#include "ClusterSpots.h"
#include "ClusterTerminal.h"

#include <gtest/gtest.h>

namespace {

QString Filled(qsizetype n) {
    QString s;
    for (qsizetype i = 0; i < n; ++i)
        s.append(QChar(u'a' + char16_t(i % 26)));
    return s;
}

} // namespace

TEST(ClusterTerminal, LimitBackspacesAndLineBreaks) {
    // Exactly 16000 characters stay; the next text is simply added.
    TerminalText t;
    const QString full = Filled(16000);
    AppendToTerminal(t, full);
    TerminalEdit e = AppendToTerminal(t, QStringLiteral("x"));
    EXPECT_EQ(e.removedFront, 0);
    EXPECT_EQ(t.size(), 16001);
    // Now it holds 16001: the first 4096 go before the new text.
    e = AppendToTerminal(t, QStringLiteral("y"));
    EXPECT_EQ(e.removedFront, 4096);
    EXPECT_EQ(t.size(), 16001 - 4096 + 1);
    EXPECT_EQ(t.text(), full.mid(4096) + QStringLiteral("xy"));

    // "ab", backspace, "c" shows "ac"; CR LF is one line break; a bare LF is none.
    TerminalText u;
    AppendToTerminal(u, QStringLiteral("ab\bc\r\nnext\nsame\rend"));
    EXPECT_EQ(u.text(), QStringLiteral("ac\r\nnextsame\r\nend"));
    EXPECT_EQ(u.shownText(), QStringLiteral("ac\nnextsame\nend"));
    // Leading backspaces take at most one character of the terminal.
    e = AppendToTerminal(u, QStringLiteral("\b\b\bX"));
    EXPECT_EQ(e.replacedTail, 1);
    EXPECT_EQ(u.text(), QStringLiteral("ac\r\nnextsame\r\nenX"));
    // Backspaces beyond the text's start reach the terminal once; a line break goes whole.
    AppendToTerminal(u, QStringLiteral("\r"));
    e = AppendToTerminal(u, QStringLiteral("q\b\bZ"));
    EXPECT_EQ(e.replacedTail, 2);
    EXPECT_EQ(e.replacedTailShown, 1);
    EXPECT_EQ(u.text(), QStringLiteral("ac\r\nnextsame\r\nenXZ"));
    // A character outside the basic plane is removed whole.
    AppendToTerminal(u, QString::fromUtf8("\xF0\x9F\x93\xA1"));
    e = AppendToTerminal(u, QStringLiteral("\b"));
    EXPECT_EQ(e.replacedTail, 2);
    EXPECT_EQ(u.text(), QStringLiteral("ac\r\nnextsame\r\nenXZ"));

    // A cut never splits a line break, and huge texts still leave at most the limit plus the
    // last text.
    TerminalText v;
    AppendToTerminal(v, Filled(4095) + QStringLiteral("\r") + Filled(12000));
    e = AppendToTerminal(v, QStringLiteral("!"));
    EXPECT_EQ(e.removedFront, 4097);
    EXPECT_EQ(e.removedFrontShown, 4096);
    EXPECT_FALSE(v.text().startsWith(QLatin1Char('\n')));
    for (int i = 0; i < 20; ++i) {
        const QString big = Filled(9000);
        AppendToTerminal(v, big);
        EXPECT_LE(v.size(), TerminalText::Limit + big.size());
    }
}

TEST(ClusterTerminal, ShownEditsFollowTheTerminal) {
    // A document that applies the folded edits now and then shows exactly the terminal's text,
    // through cuts at the limit, backspaces reaching into text not yet shown or already shown,
    // line breaks, surrogate pairs and texts larger than the terminal.
    static const QString pieces[] = {
        QStringLiteral("DX de DL1ABC:   144300.0  Q0ABC   tnx   1234Z\r\n"),
        QStringLiteral("\b"),
        QStringLiteral("\b\b\bx"),
        QStringLiteral("\r"),
        QStringLiteral("\n"),
        QStringLiteral("ab\bc\r\n"),
        QString::fromUtf8("\xF0\x9F\x93\xA1"),
        QStringLiteral("\r\b"),
        Filled(5000),
        Filled(17000) + QStringLiteral("\r\n"),
    };
    TerminalText t;
    ShownEditQueue queue;
    queue.reset(0);
    QString document;
    quint32 seed = 12345;
    const auto next = [&seed](quint32 n) {
        seed = seed * 1103515245u + 12345u;
        return (seed >> 8) % n;
    };
    int flushes = 0;
    for (int i = 0; i < 4000; ++i) {
        // Mostly short texts, now and then a big one.
        const quint32 pick = next(100);
        const QString& text = pieces[pick < 2 ? 9 : pick < 6 ? 8 : pick % 8];
        queue.add(AppendToTerminal(t, text));
        if (next(7) == 0 || i == 3999) {
            const ShownEdit e = queue.take();
            ASSERT_LE(e.removeFront + e.removeTail, document.size());
            document.remove(0, e.removeFront);
            document.chop(e.removeTail);
            document.append(e.append);
            ASSERT_EQ(document, t.shownText()) << "after text " << i;
            EXPECT_TRUE(queue.isEmpty());
            ++flushes;
        }
    }
    EXPECT_GT(flushes, 400);
}

TEST(ClusterTerminal, DecodingServerBytes) {
    ClusterDecoder d;
    QByteArray reply;
    // A plain callsign line, a Latin-1 line and a UTF-8 line, each read as what it is.
    EXPECT_EQ(d.decode("DL1ABC\r\n", &reply), QStringLiteral("DL1ABC\r\n"));
    EXPECT_EQ(d.decode("Gr\xFC\xDF"
                       "e aus M\xFCnchen\r\n",
                       &reply),
              QString::fromUtf8("Grüße aus München\r\n"));
    EXPECT_EQ(d.decode("Grüße aus München\r\n", &reply),
              QString::fromUtf8("Grüße aus München\r\n"));
    // Windows-1252 letters beyond Latin-1.
    EXPECT_EQ(d.decode("\x80 5\r\n", &reply), QString::fromUtf8("€ 5\r\n"));
    // One chunk with a Latin-1 line and a UTF-8 line: each line on its own.
    EXPECT_EQ(d.decode("S\xE9rie\r\nS\xC3\xA9rie\r\n", &reply),
              QString::fromUtf8("Série\r\nSérie\r\n"));
    // A UTF-8 character split between deliveries waits for its rest.
    EXPECT_EQ(d.decode("73 de \xC3", &reply), QStringLiteral("73 de "));
    EXPECT_EQ(d.decode("\xA9t\xE2\x82", &reply), QString::fromUtf8("ét"));
    EXPECT_EQ(d.decode("\xAC\r\n", &reply), QString::fromUtf8("€\r\n"));
    // ... unless the rest never comes: then it was a Latin-1 letter.
    EXPECT_EQ(d.decode("Caf\xC3", &reply), QStringLiteral("Caf"));
    EXPECT_EQ(d.decode("\r\n", &reply), QString::fromUtf8("Ã\r\n"));
    EXPECT_EQ(d.decode("end \xC3", &reply), QStringLiteral("end "));
    EXPECT_EQ(d.flush(), QString::fromUtf8("Ã"));
    EXPECT_TRUE(reply.isEmpty());

    // Telnet: negotiation and subnegotiation vanish, an escaped 0xFF is data, option requests
    // are refused once each; NUL bytes are dropped.
    static const char raw[] = "\xFF\xFB\x01"
                              "\xFF\xFD\x18"
                              "lo\0gin:"
                              "\xFF\xFA\x18\x01\xFF\xF0"
                              " \xFF\xF1"
                              "\xFF\xFF\r\n"
                              "\xFF\xFD\x18"
                              "\xFF\xFC\x03";
    const QByteArray telnet(raw, sizeof(raw) - 1);
    EXPECT_EQ(d.decode(telnet, &reply), QString::fromUtf8("login: ÿ\r\n"));
    EXPECT_EQ(reply, QByteArray("\xFF\xFE\x01\xFF\xFC\x18"));
    // A command split across deliveries.
    reply.clear();
    EXPECT_EQ(d.decode("ab\xFF", &reply), QStringLiteral("ab"));
    EXPECT_EQ(d.decode("\xFD\x01"
                       "cd",
                       &reply),
              QStringLiteral("cd"));
    EXPECT_EQ(reply, QByteArray("\xFF\xFC\x01"));
    // A new connection negotiates afresh.
    d.reset();
    reply.clear();
    d.decode("\xFF\xFD\x18", &reply);
    EXPECT_EQ(reply, QByteArray("\xFF\xFC\x18"));

    // Lines sent: Windows-1252, "?" for what it lacks, 0xFF doubled.
    EXPECT_EQ(EncodeClusterLine(QString::fromUtf8("dx ÿ €\u4E2D\r\n")),
              QByteArray("dx \xFF\xFF \x80?\r\n"));
}

TEST(ClusterSpots, SpotLinesAndBands) {
    ClusterSpot s;
    ASSERT_TRUE(ParseSpotLine(
        QStringLiteral("DX de DL1ABC-#:   144300.0  Q0ABC        JO60<TR>JO62 tnx qso     1234Z"),
        &s));
    EXPECT_EQ(s.spotter, QStringLiteral("DL1ABC-#"));
    EXPECT_EQ(s.frequency, QStringLiteral("144300.0"));
    EXPECT_EQ(s.dxCall, QStringLiteral("Q0ABC"));
    EXPECT_EQ(s.comment, QStringLiteral("JO60<TR>JO62 tnx qso"));
    EXPECT_EQ(s.time, QStringLiteral("1234Z"));
    // A locator after the time, no comment, lower case, a comma as decimal separator.
    ASSERT_TRUE(ParseSpotLine(QStringLiteral("dx de OK1XYZ: 10368100,5 DB0XYZ/B 0815Z JN79"), &s));
    EXPECT_EQ(s.frequency, QStringLiteral("10368100,5"));
    EXPECT_EQ(s.dxCall, QStringLiteral("DB0XYZ/B"));
    EXPECT_EQ(s.comment, QString());
    EXPECT_EQ(s.time, QStringLiteral("0815Z"));
    // A line cut short before its time still lists.
    ASSERT_TRUE(ParseSpotLine(QStringLiteral("DX de G4ABC:  50110.0  ZS6XYZ  big signal"), &s));
    EXPECT_EQ(s.time, QString());
    EXPECT_EQ(s.comment, QStringLiteral("big signal"));
    // Not spots.
    for (const char* line : {"DL1ABC de DB0SUE 21-Nov-2024 1234Z >", "DX de :  144300.0 Q0ABC",
                             "DX de DL1ABC: abc Q0ABC 1234Z", "DX de DL1ABC:   0.0  Q0ABC",
                             "WWV de W0MU: SFI=70", "", "DX de DL1ABC: 144300.0"})
        EXPECT_FALSE(ParseSpotLine(QString::fromLatin1(line), nullptr)) << line;

    EXPECT_EQ(SpotFrequencyDigits(QStringLiteral("144300.0")), QStringLiteral("144300"));
    EXPECT_EQ(SpotFrequencyDigits(QStringLiteral("0050110,9")), QStringLiteral("50110"));
    for (const char* khz : {"50110", "144300", "432100", "1296200", "2320100", "3400100", "5760100",
                            "10368100", "24048100", "47088100", "76032100", "122250100"})
        EXPECT_TRUE(SpotOnStationBand(QString::fromLatin1(khz))) << khz;
    for (const char* khz : {"14074", "7030", "3400", "1296", "12960000", "145500", "28500", "",
                            "1443000", "50110000"})
        EXPECT_FALSE(SpotOnStationBand(QString::fromLatin1(khz))) << khz;

    // Lines come whole, whatever the deliveries; an endless line is dropped.
    SpotLineSplitter split;
    EXPECT_TRUE(split.add(QStringLiteral("DX de A1AA: 14")).isEmpty());
    EXPECT_EQ(split.add(QStringLiteral("4300.0 Q0ABC 1234Z\r\nnext")),
              QStringList{QStringLiteral("DX de A1AA: 144300.0 Q0ABC 1234Z")});
    EXPECT_TRUE(split.add(QString(5000, QLatin1Char('x'))).isEmpty());
    EXPECT_EQ(split.add(QStringLiteral("\nok\n")), QStringList{QStringLiteral("ok")});

    // The table: newest on top, bounded.
    SpotTableModel model;
    QList<ClusterSpot> batch;
    for (int i = 0; i < 520; ++i)
        batch.append({QStringLiteral("0000Z"), QStringLiteral("S"), QString::number(144000 + i),
                      QStringLiteral("C%1").arg(i), QString()});
    model.addSpots(batch.mid(0, 10));
    EXPECT_EQ(model.spot(0).dxCall, QStringLiteral("C9"));
    model.addSpots(batch.mid(10));
    EXPECT_EQ(model.rowCount(), SpotTableModel::MaxRows);
    EXPECT_EQ(model.spot(0).dxCall, QStringLiteral("C519"));
    EXPECT_EQ(model.spot(SpotTableModel::MaxRows - 1).dxCall, QStringLiteral("C20"));
    EXPECT_EQ(model.data(model.index(0, SpotTableModel::Frequency)).toString(),
              QStringLiteral("144519"));
}
