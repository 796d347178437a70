#include "ClusterSpots.h"

#include <QRegularExpression>
#include <algorithm>

bool ParseSpotLine(const QString& line, ClusterSpot* spot) {
    // Spotter, frequency in kHz (decimals with "." or ","), DX call, then the rest.
    static const QRegularExpression head(
        QStringLiteral(R"(^\s*DX de\s+([^\s:]+)\s*:\s*(\d{1,9}(?:[.,]\d*)?)\s+(\S+)(.*)$)"),
        QRegularExpression::CaseInsensitiveOption);
    // The time ends the line, sometimes followed by the spotter's locator.
    static const QRegularExpression tail(
        QStringLiteral(R"((?:^|\s)([0-2]\d[0-5]\d)Z(?:\s+[A-Za-z]{2}\d{2}[A-Za-z]{0,2})?\s*$)"));
    const QRegularExpressionMatch m = head.match(line);
    if (!m.hasMatch())
        return false;
    ClusterSpot s;
    s.spotter = m.captured(1);
    s.frequency = m.captured(2);
    s.dxCall = m.captured(3);
    QString rest = m.captured(4);
    const QRegularExpressionMatch t = tail.match(rest);
    if (t.hasMatch()) {
        s.time = t.captured(1) + QLatin1Char('Z');
        rest.truncate(t.capturedStart(0));
    }
    s.comment = rest.trimmed();
    const QString digits = SpotFrequencyDigits(s.frequency);
    if (digits.isEmpty() || digits == QLatin1String("0"))
        return false;
    // The line's control characters (a stray backspace or bell) do not belong in the table.
    for (QString* field : {&s.spotter, &s.dxCall, &s.comment})
        field->removeIf([](QChar c) { return c.category() == QChar::Other_Control; });
    if (s.dxCall.isEmpty())
        return false;
    if (spot)
        *spot = std::move(s);
    return true;
}

QString SpotFrequencyDigits(const QString& frequency) {
    qsizetype end = 0;
    while (end < frequency.size() && frequency.at(end).isDigit() &&
           frequency.at(end).unicode() < 0x80)
        ++end;
    qsizetype start = 0;
    while (start + 1 < end && frequency.at(start) == QLatin1Char('0'))
        ++start;
    return frequency.mid(start, end - start);
}

bool SpotOnStationBand(const QString& khzDigits) {
    static const char* const bands[] = {"50",   "144",   "432",   "1296",  "2320",  "3400",
                                        "5760", "10368", "24048", "47088", "76032", "122250"};
    return std::any_of(std::begin(bands), std::end(bands), [&](const char* band) {
        const QLatin1String mhz(band);
        return khzDigits.size() == mhz.size() + 3 && khzDigits.startsWith(mhz);
    });
}

QStringList SpotLineSplitter::add(const QString& text) {
    QStringList lines;
    for (QChar c : text) {
        if (c == QLatin1Char('\r') || c == QLatin1Char('\n')) {
            if (!m_overlong && !m_line.isEmpty())
                lines.append(m_line);
            m_line.clear();
            m_overlong = false;
        } else if (!m_overlong) {
            m_line.append(c);
            if (m_line.size() > MaxLine) {
                m_line.clear();
                m_overlong = true;
            }
        }
    }
    return lines;
}

void SpotTableModel::addSpots(const QList<ClusterSpot>& spots) {
    if (spots.isEmpty())
        return;
    // Of a batch larger than the table only its newest spots can be shown.
    const qsizetype take = qMin<qsizetype>(spots.size(), MaxRows);
    const int keep = int(qMin<qsizetype>(m_rows.size(), MaxRows - take));
    if (keep < m_rows.size()) {
        beginRemoveRows(QModelIndex(), keep, int(m_rows.size()) - 1);
        m_rows.resize(keep);
        endRemoveRows();
    }
    beginInsertRows(QModelIndex(), 0, int(take) - 1);
    QList<ClusterSpot> rows;
    rows.reserve(take + m_rows.size());
    for (qsizetype i = spots.size() - 1; i >= spots.size() - take; --i)
        rows.append(spots.at(i));
    rows.append(m_rows);
    m_rows = std::move(rows);
    endInsertRows();
}

int SpotTableModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : int(m_rows.size());
}

int SpotTableModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant SpotTableModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= m_rows.size())
        return {};
    if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
        return {};
    const ClusterSpot& s = m_rows.at(index.row());
    switch (index.column()) {
    case Time:
        return s.time;
    case Spotter:
        return s.spotter;
    case Frequency:
        return s.frequency;
    case DxCall:
        return s.dxCall;
    case Comment:
        return s.comment;
    default:
        return {};
    }
}

QVariant SpotTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (role != Qt::DisplayRole)
        return {};
    if (orientation == Qt::Vertical)
        return section + 1;
    static const char* const captions[] = {"Time", "Spotter", "Frequency", "DX", "Comment"};
    return section >= 0 && section < ColumnCount ? tr(captions[section]) : QVariant();
}
