#pragma once

// The cluster terminal without widgets: the text it holds, how received text is added to it,
// and how the bytes a cluster server sends become text (and the lines sent become bytes).

#include <QByteArray>
#include <QString>
#include <set>
#include <utility>

// What one AppendToTerminal did, so a text widget showing the terminal can follow with small
// edits instead of taking the whole text again. A line break is CR LF (two characters) here
// and one character in a text document; the *Shown counts are in the document's characters.
struct TerminalEdit {
    qsizetype removedFront = 0;      // characters dropped at the start
    qsizetype removedFrontShown = 0; // the same, as the document counts them
    qsizetype replacedTail = 0;      // characters at the end replaced by a backspace
    qsizetype replacedTailShown = 0;
    QString inserted; // appended at the end, line breaks as CR LF
};

// The terminal's text: every line break is CR LF, and no edit ever splits a line break or a
// surrogate pair.
class TerminalText {
public:
    static constexpr qsizetype Limit = 16000; // more than this loses the oldest text
    static constexpr qsizetype Drop = 4096;   // ... in steps of this many characters

    const QString& text() const { return m_text; }
    qsizetype size() const { return m_text.size(); }
    // The text as a document shows it: one "\n" per line break.
    QString shownText() const;
    void clear() { m_text.clear(); }

private:
    friend TerminalEdit AppendToTerminal(TerminalText& terminal, const QString& text);
    QString m_text;
};

// Adds received text: drops the oldest 4096 characters while the terminal holds more than
// 16000; a backspace removes the character before it in the text, or (leading the text) the
// terminal's last character, at most one per call; LF is removed and CR becomes CR LF.
TerminalEdit AppendToTerminal(TerminalText& terminal, const QString& text);

// Many TerminalEdits folded into one edit of a text document that shows the terminal, so the
// document can follow a flood with one update now and then. Between updates the document
// shows the terminal as it was at the last one.
struct ShownEdit {
    qsizetype removeFront = 0; // first: characters dropped at the document's start
    qsizetype removeTail = 0;  // then: characters dropped at its end
    QString append;            // then appended; a line break is "\n"
};

class ShownEditQueue {
public:
    // The document shows shownSize characters (the terminal's shownText) and nothing waits.
    void reset(qsizetype shownSize);
    void add(const TerminalEdit& edit);
    bool isEmpty() const {
        return m_edit.removeFront == 0 && m_edit.removeTail == 0 && m_edit.append.isEmpty();
    }
    // The edit that brings the document to the terminal's text; the queue starts afresh.
    ShownEdit take();

private:
    qsizetype m_size = 0; // what the document shows before the edit
    ShownEdit m_edit;
};

// Bytes from a cluster server to text. Servers speak telnet and send Latin-1, Windows-1252 or
// UTF-8: telnet commands are taken out (an escaped 0xFF stays as data), option requests are
// refused (DO is answered WONT, WILL is answered DONT, once per option and connection), and
// each line is read as UTF-8 when it is valid UTF-8, otherwise as Windows-1252. A UTF-8
// character split between two deliveries is held back until its rest arrives. NUL bytes are
// dropped.
class ClusterDecoder {
public:
    // The text of one delivery; telnet answers for the server are added to reply.
    QString decode(const QByteArray& bytes, QByteArray* reply = nullptr);
    // The bytes held back (an unfinished UTF-8 character), as text; for the end of a connection.
    QString flush();
    // A new connection: nothing held back, nothing negotiated.
    void reset();

private:
    enum class Telnet { Data, Command, Option, Sub, SubCommand };
    QString decodeData(QByteArray data, bool final);

    Telnet m_telnet = Telnet::Data;
    unsigned char m_command = 0;
    int m_subLength = 0;
    QByteArray m_pending; // the start of a UTF-8 character whose rest has not arrived
    std::set<std::pair<unsigned char, unsigned char>> m_answered;
};

// The bytes of a line to send: Windows-1252, "?" for characters the code page lacks, and 0xFF
// doubled as telnet asks.
QByteArray EncodeClusterLine(const QString& line);
