// The program itself with file audio that is not a plain file: a named pipe nobody writes to yet,
// and an endless device. Either way it must reach its event loop with bounded memory, end on
// SIGTERM and save its settings on the way out.

#include <gtest/gtest.h>

#include <QDateTime>
#include <QDeadlineTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>

#include <csignal>
#include <sys/stat.h>

namespace {
// Resident memory of a process in MB, from /proc; -1 when it is gone.
long ResidentMegabytes(qint64 pid) {
    QFile f(QStringLiteral("/proc/%1/status").arg(pid));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray& line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return long(line.mid(6).trimmed().split(' ').value(0).toLongLong() / 1024);
    return -1;
}

// Runs farscan on `audio` until its log says `awaited`, then ends it with SIGTERM.
void RunAndTerminate(const QString& audio, const QString& awaited) {
    SCOPED_TRACE(qPrintable(audio));
    QTemporaryDir dir;
    QProcess farscan;
    farscan.setWorkingDirectory(dir.path());
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("FARSCAN_AUDIO"), QStringLiteral("file:") + audio);
    env.insert(QStringLiteral("FARSCAN_NO_VIDEO"), QStringLiteral("1"));
    env.insert(QStringLiteral("FARSCAN_DATA_DIR"), dir.path());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("offscreen"));
    env.insert(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("farscan.signal.info=true"));
    farscan.setProcessEnvironment(env);
    farscan.start(QStringLiteral(FARSCAN_BINARY), {});
    ASSERT_TRUE(farscan.waitForStarted(10000));

    QByteArray log;
    QDeadlineTimer deadline(60000);
    while (!log.contains(awaited.toUtf8()) && !deadline.hasExpired() &&
           farscan.state() == QProcess::Running) {
        farscan.waitForReadyRead(200);
        log += farscan.readAllStandardError();
    }
    ASSERT_TRUE(log.contains(awaited.toUtf8())) << log.constData();
    QThread::msleep(500); // into the event loop, reading
    const long rss = ResidentMegabytes(farscan.processId());
    EXPECT_GT(rss, 0);
    EXPECT_LT(rss, 1024) << "MB resident";

    const QDateTime terminated = QDateTime::currentDateTime().addSecs(-1);
    ::kill(pid_t(farscan.processId()), SIGTERM);
    ASSERT_TRUE(farscan.waitForFinished(30000)) << "SIGTERM not served";
    log += farscan.readAllStandardError();
    EXPECT_EQ(farscan.exitStatus(), QProcess::NormalExit) << log.constData();
    EXPECT_EQ(farscan.exitCode(), 0) << log.constData();
    const QFileInfo settings(dir.filePath(QStringLiteral("Farscan.txt")));
    EXPECT_TRUE(settings.exists());
    EXPECT_GE(settings.lastModified(), terminated) << "settings not saved at the end";
}
} // namespace

TEST(ProgramAudio, PipeWithoutWriterAndEndlessDeviceLeaveTheProgramResponsive) {
    QTemporaryDir dir;
    const QString pipe = dir.filePath(QStringLiteral("radio.pipe"));
    ASSERT_EQ(::mkfifo(QFile::encodeName(pipe).constData(), 0600), 0);
    RunAndTerminate(pipe, QStringLiteral("audio from"));
    // The one message the operator gets is in the log too.
    RunAndTerminate(QStringLiteral("/dev/zero"), QStringLiteral("/dev/zero: not a WAV file"));
}
