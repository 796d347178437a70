// The station board over the real board library, bound at run time through its C ABI, with the
// library's simulated board; and the quiet failures without a library or an export.
#include "BoardLibrary.h"
#include "PortivaBoard.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(StationBoardOverTheLibrary, LinesSwitchOnTheSimulatedBoardAndReadBack) {
    EnsureApplication();
    const EnvGuard simulated("PORTIVA_SIM", "1");
    BoardLibrary library(QStringLiteral(PORTIVA_LIBRARY));
    PortivaBoard board(&library);
    EXPECT_FALSE(library.isLoaded()) << "nothing is loaded before the first call";
    ASSERT_TRUE(board.init()) << qPrintable(board.lastError());
    EXPECT_TRUE(library.isLoaded());

    // The 122 GHz relay sits on the upper port; the direct-band line on the keying port.
    EXPECT_TRUE(board.setPortDirection(BoardPort::UpperRelays, 1));
    EXPECT_TRUE(board.setLineDirection(BoardLine::relay(8), true));
    EXPECT_TRUE(board.setLine(BoardLine::relay(8), true));
    EXPECT_TRUE(board.setLineDirection(BoardLine::relay(3), true));
    EXPECT_TRUE(board.setLine(BoardLine::relay(3), true));
    EXPECT_TRUE(board.setLineDirection(BoardLine::DirectBand, true));
    EXPECT_TRUE(board.setLine(BoardLine::DirectBand, true));
    EXPECT_EQ(board.portLevels(0), std::optional<quint8>(0x08));
    EXPECT_EQ(board.portLevels(1), std::optional<quint8>(0x01));
    EXPECT_EQ(board.portLevels(2), std::optional<quint8>(0x10)); // line 20
    EXPECT_TRUE(board.setLine(BoardLine::relay(3), false));
    EXPECT_EQ(board.portLevels(0), std::optional<quint8>(0x00));
    EXPECT_TRUE(board.lastError().isEmpty());
    // A port the board does not have is refused by the library itself.
    EXPECT_EQ(board.portLevels(7), std::nullopt);
}

TEST(StationBoardOverTheLibrary, WithoutTheLibraryOrAnExportCallsFailQuietly) {
    EnsureApplication();
    BoardLibrary none(QStringLiteral("libportiva-not-installed.so.1"));
    PortivaBoard board(&none);
    EXPECT_FALSE(board.init());
    EXPECT_FALSE(board.lastError().isEmpty());
    EXPECT_FALSE(board.setLineDirection(BoardLine::Key, true));
    EXPECT_FALSE(board.setPortDirection(BoardPort::Keying, 1));
    EXPECT_FALSE(board.setLine(BoardLine::Key, true));
    EXPECT_EQ(board.portLevels(0), std::nullopt);
    EXPECT_FALSE(none.isLoaded());

    // A library that lacks UsbInit: that call fails alone, the others work.
    BoardLibrary partial(QStringLiteral(NOINIT_LIBRARY));
    EXPECT_TRUE(partial.UsbSetIOState(0, 16, true));
    EXPECT_FALSE(partial.UsbInit(0));
    EXPECT_FALSE(partial.lastError().isEmpty());
    EXPECT_FALSE(partial.UsbSetIOState(0, 16, false)) << "the library's own result comes back";
    EXPECT_TRUE(partial.lastError().isEmpty());
}

} // namespace
