#include "BoardLibrary.h"
#include "TestSupport.h"

#include <QLibrary>
#include <gtest/gtest.h>

namespace {

QString Recorded() {
    QLibrary lib(QStringLiteral(RECORDER_LIBRARY));
    auto fn = reinterpret_cast<const char* (*)()>(lib.resolve("RecordedCalls"));
    return fn ? QString::fromLatin1(fn()) : QStringLiteral("<no recorder>");
}

TEST(BoardLibrary, CallsReachTheLibraryWithTheirArguments) {
    EnsureApplication();
    BoardLibrary board(QStringLiteral(RECORDER_LIBRARY));
    EXPECT_FALSE(board.isLoaded()) << "nothing is loaded before the first call";
    EXPECT_TRUE(board.UsbInit(0));
    EXPECT_TRUE(board.isLoaded());
    EXPECT_TRUE(board.UsbSetIODir(0, 7, true));
    EXPECT_TRUE(board.UsbSetPortDir(0, 1, 1));
    EXPECT_FALSE(board.UsbSetIOState(0, 20, false)) << "the library's own result comes back";
    EXPECT_TRUE(board.lastError().isEmpty());
    EXPECT_TRUE(board.UsbSetIODir(0, 39, false));
    EXPECT_EQ(Recorded(), QStringLiteral("UsbInit(0);UsbSetIODir(0,7,1);UsbSetPortDir(0,1,1);"
                                         "UsbSetIOState(0,20,0);UsbSetIODir(0,39,0);"));
}

TEST(BoardLibrary, WithoutTheLibraryEveryCallFails) {
    EnsureApplication();
    BoardLibrary board(QStringLiteral("libportiva-not-installed.so.1"));
    EXPECT_FALSE(board.UsbInit(0));
    EXPECT_FALSE(board.lastError().isEmpty());
    EXPECT_FALSE(board.UsbSetIODir(0, 16, true));
    EXPECT_FALSE(board.UsbSetPortDir(0, 1, 1));
    EXPECT_FALSE(board.UsbSetIOState(0, 16, true));
    EXPECT_FALSE(board.isLoaded());
}

TEST(BoardLibrary, AMissingExportFailsAloneWhenItIsCalled) {
    EnsureApplication();
    BoardLibrary board(QStringLiteral(NOINIT_LIBRARY));
    EXPECT_TRUE(board.UsbSetIOState(0, 16, true));
    EXPECT_FALSE(board.UsbInit(0));
    EXPECT_FALSE(board.lastError().isEmpty());
    EXPECT_FALSE(board.UsbSetIOState(0, 16, false));
    EXPECT_TRUE(board.lastError().isEmpty());
}

} // namespace
