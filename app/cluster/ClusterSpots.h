#pragma once

// Spots the cluster announces ("DX de SPOTTER:   144300.0  CALL   comment   1234Z"), the lines
// they come in, the table that lists them, and which of them the station can tune to.

#include <QAbstractTableModel>
#include <QList>
#include <QString>

struct ClusterSpot {
    QString time;      // "1234Z", empty when the line has none
    QString spotter;   // as announced, e.g. "DL1ABC-#"
    QString frequency; // kHz as announced, e.g. "144300.0"
    QString dxCall;
    QString comment;
};

// Reads a spot line; false for anything else (the line may still end in CR or LF).
bool ParseSpotLine(const QString& line, ClusterSpot* spot);

// The kHz digits without the decimals: "144300.0" gives "144300". Empty when there are none.
QString SpotFrequencyDigits(const QString& frequency);

// True when the station has the band of a kHz text (digits only): 50, 144 and 432 MHz and the
// transverter bands 1296 to 122250 MHz, each matched by the band's MHz digits leading a text
// of exactly three more digits ("144300", "10368100").
bool SpotOnStationBand(const QString& khzDigits);

// Collects received text into whole lines (without their CR or LF).
class SpotLineSplitter {
public:
    static constexpr qsizetype MaxLine = 1024; // a longer line is no spot: it is dropped

    QStringList add(const QString& text);
    void reset() {
        m_line.clear();
        m_overlong = false;
    }

private:
    QString m_line;
    bool m_overlong = false;
};

// The listed spots, newest on top, at most MaxRows of them.
class SpotTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { Time, Spotter, Frequency, DxCall, Comment, ColumnCount };
    static constexpr int MaxRows = 500;

    using QAbstractTableModel::QAbstractTableModel;

    // Spots in the order they arrived: the last one ends on top.
    void addSpots(const QList<ClusterSpot>& spots);
    const ClusterSpot& spot(int row) const { return m_rows.at(row); }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

private:
    QList<ClusterSpot> m_rows; // newest first
};
