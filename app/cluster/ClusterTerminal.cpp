#include "ClusterTerminal.h"

#include "Settings.h"

namespace {

constexpr QChar Backspace = QChar(8);
constexpr unsigned char Iac = 255, Dont = 254, Do = 253, Wont = 252, Will = 251, Sb = 250, Se = 240;
// A subnegotiation that never ends is given up after this many bytes, so a broken server
// cannot swallow everything that follows.
constexpr int MaxSubnegotiation = 512;

// Characters a line break or a surrogate pair takes at the end of text[0, end).
qsizetype UnitBefore(const QString& text, qsizetype end) {
    if (end <= 0)
        return 0;
    if (end >= 2 && ((text.at(end - 2) == QLatin1Char('\r') && text.at(end - 1) == u'\n') ||
                     (text.at(end - 2).isHighSurrogate() && text.at(end - 1).isLowSurrogate())))
        return 2;
    return 1;
}

qsizetype CountBreaks(const QString& text, qsizetype from, qsizetype to) {
    qsizetype n = 0;
    for (qsizetype i = from; i < to; ++i)
        if (text.at(i) == QLatin1Char('\r'))
            ++n;
    return n;
}

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
bool ValidUtf8(const char* data, qsizetype size) {
    const auto* p = reinterpret_cast<const unsigned char*>(data);
    qsizetype i = 0;
    while (i < size) {
        const unsigned char b = p[i];
        if (b < 0x80) {
            ++i;
            continue;
        }
        int length;
        unsigned char low = 0x80, high = 0xBF;
        if (b >= 0xC2 && b <= 0xDF) {
            length = 2;
        } else if (b >= 0xE0 && b <= 0xEF) {
            length = 3;
            if (b == 0xE0)
                low = 0xA0;
            else if (b == 0xED)
                high = 0x9F;
        } else if (b >= 0xF0 && b <= 0xF4) {
            length = 4;
            if (b == 0xF0)
                low = 0x90;
            else if (b == 0xF4)
                high = 0x8F;
        } else {
            return false;
        }
        if (i + length > size)
            return false;
        if (p[i + 1] < low || p[i + 1] > high)
            return false;
        for (int k = 2; k < length; ++k)
            if ((p[i + k] & 0xC0) != 0x80)
                return false;
        i += length;
    }
    return true;
}

// The number of bytes at the end that start a UTF-8 character still waiting for its rest.
qsizetype UnfinishedUtf8(const QByteArray& bytes) {
    const qsizetype size = bytes.size();
    for (qsizetype back = 1; back <= 3 && back <= size; ++back) {
        const auto b = static_cast<unsigned char>(bytes.at(size - back));
        if ((b & 0xC0) == 0x80)
            continue; // a continuation byte: look further back for the lead
        const int length = b >= 0xF0 ? 4 : b >= 0xE0 ? 3 : b >= 0xC0 ? 2 : 1;
        return length > back ? back : 0;
    }
    return 0;
}

QString DecodeLine(const char* data, qsizetype size) {
    bool ascii = true;
    for (qsizetype i = 0; i < size && ascii; ++i)
        ascii = static_cast<unsigned char>(data[i]) < 0x80;
    if (ascii)
        return QString::fromLatin1(data, size);
    if (ValidUtf8(data, size))
        return QString::fromUtf8(data, size);
    return Settings::DecodeCp1252(QByteArray(data, size));
}

} // namespace

QString TerminalText::shownText() const {
    QString shown = m_text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    return shown;
}

TerminalEdit AppendToTerminal(TerminalText& terminal, const QString& text) {
    TerminalEdit edit;
    QString& held = terminal.m_text;

    // 1. The oldest text goes, whole line breaks and characters only. Repeated, so that the
    //    terminal never holds more than the limit plus the last text, however large the texts.
    qsizetype cut = 0;
    while (held.size() - cut > TerminalText::Limit) {
        qsizetype next = qMin(cut + TerminalText::Drop, held.size());
        if (next < held.size() && UnitBefore(held, next + 1) == 2)
            ++next; // do not split a CR LF or a surrogate pair
        cut = next;
    }
    if (cut > 0) {
        edit.removedFront = cut;
        edit.removedFrontShown = cut - CountBreaks(held, 0, cut);
        held.remove(0, cut);
    }

    // 3. Backspaces in one pass: each takes the character before it, or, with nothing before
    //    it, marks the terminal's last character for replacement.
    QString block;
    block.reserve(text.size() + text.size() / 16);
    bool markLast = false;
    for (QChar c : text) {
        if (c == Backspace) {
            if (block.isEmpty())
                markLast = true;
            else
                block.chop(UnitBefore(block, block.size()));
        } else {
            block.append(c);
        }
    }
    if (markLast && !held.isEmpty()) {
        const qsizetype unit = UnitBefore(held, held.size());
        edit.replacedTail = unit;
        edit.replacedTailShown = held.endsWith(QLatin1String("\r\n")) ? 1 : unit;
        held.chop(unit);
    }

    // 4. and 5. LF goes, CR becomes CR LF.
    QString inserted;
    inserted.reserve(block.size() + block.size() / 16);
    for (QChar c : block) {
        if (c == QLatin1Char('\n'))
            continue;
        inserted.append(c);
        if (c == QLatin1Char('\r'))
            inserted.append(QLatin1Char('\n'));
    }
    // 6.
    held.append(inserted);
    edit.inserted = std::move(inserted);
    return edit;
}

void ShownEditQueue::reset(qsizetype shownSize) {
    m_size = shownSize;
    m_edit = ShownEdit();
}

void ShownEditQueue::add(const TerminalEdit& edit) {
    // The terminal shows the document's untouched middle followed by the text to append.
    qsizetype kept = m_size - m_edit.removeFront - m_edit.removeTail;
    const qsizetype front = qMin(edit.removedFrontShown, kept);
    m_edit.removeFront += front;
    kept -= front;
    m_edit.append.remove(0, edit.removedFrontShown - front);
    const qsizetype tail = qMin(edit.replacedTailShown, m_edit.append.size());
    m_edit.append.chop(tail);
    m_edit.removeTail += qMin(edit.replacedTailShown - tail, kept);
    // Every CR of the terminal is followed by its LF: dropping the CR leaves the "\n".
    for (QChar c : edit.inserted)
        if (c != QLatin1Char('\r'))
            m_edit.append.append(c);
}

ShownEdit ShownEditQueue::take() {
    ShownEdit edit = std::move(m_edit);
    m_size += edit.append.size() - edit.removeFront - edit.removeTail;
    m_edit = ShownEdit();
    return edit;
}

QString ClusterDecoder::decode(const QByteArray& bytes, QByteArray* reply) {
    QByteArray data;
    data.reserve(bytes.size());
    for (char ch : bytes) {
        const auto b = static_cast<unsigned char>(ch);
        switch (m_telnet) {
        case Telnet::Data:
            if (b == Iac)
                m_telnet = Telnet::Command;
            else if (b != 0)
                data.append(ch);
            break;
        case Telnet::Command:
            m_telnet = Telnet::Data;
            if (b == Iac) {
                data.append(ch); // an escaped 0xFF is data
            } else if (b >= Will) {
                m_command = b;
                m_telnet = Telnet::Option;
            } else if (b == Sb) {
                m_subLength = 0;
                m_telnet = Telnet::Sub;
            } else if (b < Se && b != 0) {
                data.append(ch); // a stray 0xFF before ordinary data: keep the data
            }
            break;
        case Telnet::Option: {
            m_telnet = Telnet::Data;
            const unsigned char answer = m_command == Do ? Wont : m_command == Will ? Dont : 0;
            if (answer != 0 && reply && m_answered.insert({m_command, b}).second)
                reply->append(char(Iac)).append(char(answer)).append(ch);
            break;
        }
        case Telnet::Sub:
        case Telnet::SubCommand:
            if (m_telnet == Telnet::SubCommand && b == Se) {
                m_telnet = Telnet::Data;
                break;
            }
            m_telnet = b == Iac && m_telnet == Telnet::Sub ? Telnet::SubCommand : Telnet::Sub;
            if (++m_subLength > MaxSubnegotiation)
                m_telnet = Telnet::Data;
            break;
        }
    }
    return decodeData(std::move(data), false);
}

QString ClusterDecoder::flush() {
    return decodeData(QByteArray(), true);
}

void ClusterDecoder::reset() {
    m_telnet = Telnet::Data;
    m_command = 0;
    m_subLength = 0;
    m_pending.clear();
    m_answered.clear();
}

QString ClusterDecoder::decodeData(QByteArray data, bool final) {
    if (!m_pending.isEmpty()) {
        data.prepend(m_pending);
        m_pending.clear();
    }
    qsizetype end = data.size();
    if (!final) {
        const qsizetype tail = UnfinishedUtf8(data);
        if (tail > 0) {
            // Held back only when the line it ends is UTF-8 so far; in a Latin-1 line the
            // byte is a letter of its own.
            qsizetype lineStart = end - tail;
            while (lineStart > 0 && data.at(lineStart - 1) != '\n' &&
                   data.at(lineStart - 1) != '\r')
                --lineStart;
            if (ValidUtf8(data.constData() + lineStart, end - tail - lineStart)) {
                m_pending = data.right(tail);
                end -= tail;
            }
        }
    }
    QString text;
    text.reserve(end);
    qsizetype start = 0;
    for (qsizetype i = 0; i < end; ++i) {
        const char c = data.at(i);
        if (c == '\n' || c == '\r' || i + 1 == end) {
            text.append(DecodeLine(data.constData() + start, i + 1 - start));
            start = i + 1;
        }
    }
    return text;
}

QByteArray EncodeClusterLine(const QString& line) {
    QByteArray bytes = Settings::EncodeCp1252(line);
    bytes.replace(QByteArray(1, char(Iac)), QByteArray(2, char(Iac)));
    return bytes;
}
