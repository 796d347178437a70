#pragma once

// The station board over board 0 of the board library, bound at run time.

#include "BoardLibrary.h"
#include "StationBoard.h"

class PortivaBoard : public StationBoard {
public:
    // library: not owned; null uses the program's library.
    explicit PortivaBoard(BoardLibrary* library = nullptr);

    bool init() override;
    bool setLineDirection(BoardLine line, bool output) override;
    bool setLine(BoardLine line, bool high) override;
    bool setPortDirection(BoardPort port, quint8 outputs) override;
    std::optional<quint8> portLevels(quint8 port) override;
    QString lastError() const override;

    BoardLibrary& library() { return *m_library; }

private:
    bool note(bool ok, const char* call);

    BoardLibrary* m_library;
    bool m_loggedMissing = false;
};
