// The Portiva debug window on Linux: a program apart from the library (which must not bring a GUI
// toolkit into every program that loads it) that follows the library's log file as it grows and
// shows it as the Windows library's window does: coloured by level, errors in bold, with the
// commands Clear log, Insert marker, Scroll To End and Save to File.
#pragma once

#include <QByteArray>
#include <QColor>
#include <QFileDialog>
#include <QFileSystemWatcher>
#include <QPointer>
#include <QString>
#include <QTextCharFormat>
#include <QTimer>
#include <QWidget>

class QPushButton;
class QTextDocument;
class QTextEdit;

namespace debugview {

// The level a log line carries in its tag ("[DETLD]", "[DEV]  ", "[INFO] ", "[ERROR]" after an
// optional indent); -1 for a line without one.
int LevelOfLine(const QString& line);

// The colour and weight a line is shown in.
QTextCharFormat FormatOfLevel(int level);

// The document as rich text (RTF): colours and bold kept, in Courier New 8 point.
QByteArray DocumentToRtf(const QTextDocument& document);

// Reads a growing file from an offset in whole lines, a bounded chunk per call, and starts again
// from the beginning when the file was replaced by a shorter one.
class LogFollower {
public:
    LogFollower(QString file, qint64 offset) : m_file(std::move(file)), m_offset(offset) {}
    // The complete lines added since the last call (at most about maxBytes); `more` tells
    // whether the file holds more already.
    QStringList readLines(qint64 maxBytes, bool* more);
    const QString& file() const { return m_file; }

private:
    QString m_file;
    qint64 m_offset;
    QByteArray m_partial;
};

class DebugView : public QWidget {
public:
    DebugView(const QString& file, qint64 offset, QWidget* parent = nullptr);

    QTextEdit* log() const { return m_log; }
    QPushButton* clearButton() const { return m_clear; }
    QPushButton* markerButton() const { return m_marker; }
    QPushButton* scrollButton() const { return m_scroll; }
    QPushButton* saveButton() const { return m_save; }

    // Reads what the file gained (also run by the watcher and the timer).
    void poll();
    // Writes the log as RTF; false (and the user is told) when the file cannot be written.
    bool saveTo(const QString& file);
    // The save dialog, while it is open.
    QFileDialog* saveDialog() const { return m_dialog; }

private:
    void appendLine(const QString& text, const QTextCharFormat& format);
    void insertMarker();
    void scrollToEnd();
    void openSaveDialog();
    void watch();

    LogFollower m_follower;
    QTextEdit* m_log = nullptr;
    QPushButton* m_clear = nullptr;
    QPushButton* m_marker = nullptr;
    QPushButton* m_scroll = nullptr;
    QPushButton* m_save = nullptr;
    QPointer<QFileDialog> m_dialog; // deletes itself on close
    QFileSystemWatcher m_watcher;
    QTimer m_timer;
    bool m_pollQueued = false;
};

} // namespace debugview
