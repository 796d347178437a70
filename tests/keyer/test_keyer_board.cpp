// The keyer against the board library itself (simulated board): the lines it sets are read back
// through the library's C ABI while a transmission runs.

#include "BoardLibrary.h"
#include "KeyerFixture.h"
#include "KeyerPanel.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <QLibrary>
#include <QLineEdit>

namespace {
using GetIOState = unsigned char (*)(unsigned char, unsigned char, unsigned char*);

int ReadLine(GetIOState get, int line) {
    unsigned char state = 0xFF;
    if (!get || !get(0, quint8(line), &state))
        return -1;
    return state;
}
} // namespace

TEST(KeyerOnBoard, LinesFollowTheKeyingAndEndReleased) {
    EnsureApplication();
    const EnvGuard simulated("PORTIVA_SIM", "1"); // one simulated board
    QLibrary library(QStringLiteral(PORTIVA_LIBRARY_FILE));
    ASSERT_TRUE(library.load()) << qPrintable(library.errorString());
    auto get = reinterpret_cast<GetIOState>(library.resolve("UsbGetIOState"));
    ASSERT_NE(get, nullptr);

    BoardLibrary board(QStringLiteral(PORTIVA_LIBRARY_FILE));
    ASSERT_TRUE(board.UsbInit(0));

    KeyerPanel panel;
    KeyerController controller(&panel);
    VirtualClock clock;
    controller.keyer().setClock(&clock);
    controller.bindBoard(board);
    controller.activate();

    // Every line change is read back right after it was made; between characters the
    // transmitter must be on and the key up.
    KeyerHooks& h = controller.hooks();
    auto set = h.setIOState;
    QStringList seen;
    h.setIOState = [&](quint8 line, bool state) {
        set(line, state);
        seen << QStringLiteral("%1=%2 reads %3").arg(line).arg(int(state)).arg(ReadLine(get, line));
    };
    int between = 0;
    h.processEvents = [&] {
        ++between;
        EXPECT_EQ(ReadLine(get, 17), 1);
        EXPECT_EQ(ReadLine(get, 16), 0);
    };
    panel.Text6()->setText(QStringLiteral("et"));
    controller.keyer().cmdsendClick();

    EXPECT_EQ(between, 2);
    EXPECT_EQ(seen, (QStringList{"17=1 reads 1", "16=1 reads 1", "16=0 reads 0", "16=1 reads 1",
                                 "16=0 reads 0", "17=0 reads 0"}));
    EXPECT_EQ(ReadLine(get, 16), 0);
    EXPECT_EQ(ReadLine(get, 17), 0);
}
