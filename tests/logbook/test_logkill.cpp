// A logbook killed (SIGKILL) while it saves QSOs leaves a consistent log: SQLite's journal
// rolls back the QSO being written, every QSO stored before it is whole.

#include "Database.h"
#include "FakeBoard.h"
#include "LogbookWindow.h"
#include "ProgramState.h"
#include "Settings.h"
#include "TestStation.h"
#include "TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QLineEdit>
#include <QProcess>
#include <QSqlQuery>
#include <gtest/gtest.h>

namespace {

const char* const kWriterVariable = "FARSCAN_LOG_WRITER_FOLDER";

int StoredRows(const QString& connectionText) {
    DbConnection db;
    if (!db.open(connectionText))
        return -1;
    QSqlQuery q(db.handle()->database());
    return q.exec(QStringLiteral("SELECT count(*) FROM logtab")) && q.next() ? q.value(0).toInt()
                                                                             : -1;
}

} // namespace

// Runs only as the child of the test below: saves QSOs through the logbook window until it is
// killed.
TEST(LogKill, WriterChild) {
    const QString folder = qEnvironmentVariable(kWriterVariable);
    if (folder.isEmpty())
        GTEST_SKIP() << "runs only as the child of KilledWhileSavingLeavesAConsistentLog";
    EnsureApplication();
    TestStation station(folder, QDir(folder).filePath(QStringLiteral("Farscan.txt")));
    station.settings.LoadSettings();
    station.state.ownCallsign = QStringLiteral("DL0TST");
    station.state.ownLocator = QStringLiteral("JO62QM");
    station.state.BandPattern = QStringLiteral("144%");
    StationContext context = station.context();
    LogbookWindow w(context);
    w.setMessageSink([](const QString& m) {
        fprintf(stderr, "message: %s\n", qPrintable(m));
        std::_Exit(3);
    });
    for (int n = 0;; ++n) {
        w.newQso();
        w.Ca()->setText(QStringLiteral("DL%1KIL").arg(n));
        w.Gr()->setText(QStringLiteral("JO31NF"));
        w.Co()->setText(QStringLiteral("qso %1").arg(n));
        w.saveQso();
    }
}

TEST(LogKill, KilledWhileSavingLeavesAConsistentLog) {
    EnsureApplication();
    ScratchDir dir;
    StationDatabase database(dir.path());
    ASSERT_TRUE(database.ensure());
    const QString text = database.connectionText();

    for (int round = 0; round < 3; ++round) {
        const int before = StoredRows(text);
        QProcess child;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QString::fromLatin1(kWriterVariable), dir.path());
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
        env.insert(QStringLiteral("ASAN_OPTIONS"), QStringLiteral("detect_leaks=0"));
        child.setProcessEnvironment(env);
        child.start(QCoreApplication::applicationFilePath(),
                    {QStringLiteral("--gtest_filter=LogKill.WriterChild")});
        ASSERT_TRUE(child.waitForStarted());
        // Killed at a different moment of a save each round.
        ASSERT_TRUE(WaitFor([&] { return StoredRows(text) >= before + 10 + 7 * round; }, 60000))
            << child.readAllStandardError().toStdString();
        child.kill();
        ASSERT_TRUE(child.waitForFinished(10000));
        EXPECT_EQ(child.exitStatus(), QProcess::CrashExit);

        DbConnection db;
        ASSERT_TRUE(db.open(text)) << db.lastError().toStdString();
        QSqlQuery q(db.handle()->database());
        ASSERT_TRUE(q.exec(QStringLiteral("PRAGMA integrity_check")) && q.next());
        EXPECT_EQ(q.value(0).toString(), QStringLiteral("ok"));
        // Every stored QSO is whole: its fields and its description agree.
        ASSERT_TRUE(q.exec(QStringLiteral("SELECT Callsign, Band, Comment, GEdata, QRB, "
                                          "GEgridXY FROM logtab")));
        int rows = 0;
        while (q.next()) {
            ++rows;
            const QString call = q.value(0).toString();
            EXPECT_TRUE(call.startsWith(QStringLiteral("DL"))) << call.toStdString();
            EXPECT_EQ(q.value(1).toString(), QStringLiteral("144"));
            EXPECT_TRUE(q.value(3).toString().startsWith(QStringLiteral("Log: ") + call + " 144"))
                << q.value(3).toString().toStdString();
            EXPECT_TRUE(q.value(3).toString().endsWith(q.value(2).toString()));
            EXPECT_GT(q.value(4).toInt(), 0);
            EXPECT_FALSE(q.value(5).toString().isEmpty());
        }
        EXPECT_GE(rows, before + 10);
    }
}
