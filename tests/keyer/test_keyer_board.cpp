// The keyer against the board library itself (simulated board), through the station board the
// program uses over the library's C ABI: every line it sets is read back from the board.

#include "KeyerFixture.h"
#include "KeyerPanel.h"
#include "PortivaBoard.h"

#include <gtest/gtest.h>

#include <QLineEdit>
#include <QPushButton>

namespace {

// The program's board, reading the keying port back after each line change.
class ReadBackBoard : public StationBoard {
public:
    explicit ReadBackBoard(PortivaBoard& board) : m_board(board) {}
    QStringList seen;

    // Lines 16 (bit 0) and 17 (bit 1) of the keying port; -1 when the board does not answer.
    int level(BoardLine line) {
        const std::optional<quint8> levels = m_board.portLevels(quint8(BoardPort::Keying));
        return levels ? (*levels >> (line.number() - 16)) & 1 : -1;
    }

    bool init() override { return m_board.init(); }
    bool setLineDirection(BoardLine line, bool output) override {
        return m_board.setLineDirection(line, output);
    }
    bool setLine(BoardLine line, bool high) override {
        const bool ok = m_board.setLine(line, high);
        seen << QStringLiteral("%1=%2 reads %3").arg(line.number()).arg(int(high)).arg(level(line));
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

} // namespace

TEST(KeyerOnBoard, LinesFollowTheKeyingAndEndReleased) {
    EnsureApplication();
    const EnvGuard simulated("PORTIVA_SIM", "1"); // one simulated board
    BoardLibrary library(QStringLiteral(PORTIVA_LIBRARY_FILE));
    PortivaBoard portiva(&library);
    ASSERT_TRUE(portiva.init()) << qPrintable(portiva.lastError());
    ReadBackBoard board(portiva);

    VirtualClock clock;
    ManualKeyerTimer timer(clock);
    KeyerPanel panel;
    KeyerController controller(&panel);
    controller.keyer().setTiming(&clock, &timer);
    controller.bindBoard(board);
    controller.activate();
    panel.Text6()->setText(QStringLiteral("et"));
    panel.cmdsend()->click();

    // Between the characters the transmitter is on and the key up.
    int between = 0;
    while (timer.fire()) {
        if (controller.keyer().busy() && board.level(BoardLine::Key) == 0) {
            ++between;
            EXPECT_EQ(board.level(BoardLine::Transmit), 1);
        }
    }
    EXPECT_EQ(between, 2); // after each key-up
    EXPECT_EQ(board.seen, (QStringList{"17=1 reads 1", "16=1 reads 1", "16=0 reads 0",
                                       "16=1 reads 1", "16=0 reads 0", "17=0 reads 0"}));
    EXPECT_EQ(board.level(BoardLine::Key), 0);
    EXPECT_EQ(board.level(BoardLine::Transmit), 0);
}
