#pragma once

// The station's I/O board (board 0 of the board library) as the program uses it: named lines
// and ports instead of numbers. The line numbers of the station's wiring live here and nowhere
// else. Results may be ignored: without a board every call fails and nothing switches.

#include <QString>
#include <QtGlobal>
#include <optional>

// One digital line of the board (0-39: bit n mod 8 of port n div 8).
class BoardLine {
public:
    // The transverter band relays, 0 to 8.
    static constexpr BoardLine relay(int n) { return BoardLine(quint8(n)); }
    static const BoardLine Key;           // Morse key, high = key down
    static const BoardLine Transmit;      // transmitter on
    static const BoardLine ElevationDown; // elevation motor down while high
    static const BoardLine ElevationUp;   // elevation motor up while high
    static const BoardLine DirectBand;    // high while a directly worked band is chosen

    constexpr quint8 number() const { return m_number; }
    constexpr bool operator==(const BoardLine&) const = default;

private:
    constexpr explicit BoardLine(quint8 number) : m_number(number) {}
    quint8 m_number;
};

inline constexpr BoardLine BoardLine::Key{16};
inline constexpr BoardLine BoardLine::Transmit{17};
inline constexpr BoardLine BoardLine::ElevationDown{18};
inline constexpr BoardLine BoardLine::ElevationUp{19};
inline constexpr BoardLine BoardLine::DirectBand{20};

// A port of eight lines.
enum class BoardPort : quint8 {
    UpperRelays = 1, // lines 8-15: relay 8 (the 122 GHz band) and spare inputs
    Keying = 2,      // lines 16-23: key, transmit, elevation, direct band
};

class StationBoard {
public:
    virtual ~StationBoard() = default;

    // Starts the board (loads its firmware).
    virtual bool init() = 0;
    // A line as output (true) or input.
    virtual bool setLineDirection(BoardLine line, bool output) = 0;
    // A line's output level.
    virtual bool setLine(BoardLine line, bool high) = 0;
    // The directions of a port's eight lines, one bit a line (1 = output).
    virtual bool setPortDirection(BoardPort port, quint8 outputs) = 0;
    // The levels of a port's lines (any port 0-4); nothing when the board does not answer.
    virtual std::optional<quint8> portLevels(quint8 port) = 0;

    // What the last failure was, for the status line and the log; empty after success.
    virtual QString lastError() const = 0;
};
