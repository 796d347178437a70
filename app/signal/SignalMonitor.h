#pragma once

// What the main window calls for the spectrum: the set-up at its first activation, the block step
// (Tick) and the stop when it is about to close. It owns the capture, the spectrum and the panel,
// and shows capture failures in a message box. blockReady() says when Tick has work, so the step
// needs no fast polling timer.

#include "AudioCapture.h"
#include "SignalAnalysis.h"

#include <QObject>
#include <QPointer>

class QMessageBox;
class SpectrumPanel;

class SignalMonitor : public QObject {
    Q_OBJECT
public:
    // Null factory: the source named by FARSCAN_AUDIO; null reporter: a message box.
    explicit SignalMonitor(QWidget* panelParent, AudioCapture::SourceFactory factory = nullptr,
                           AudioCapture::Reporter report = nullptr);
    ~SignalMonitor() override;

    SpectrumPanel* panel() const { return m_panel; }
    Spectrum& spectrum() { return m_spectrum; }
    AudioCapture& capture() { return m_capture; }

    // First activation: parameters, labels, grid, and the capture started.
    void Activate();
    // The block step: with a running capture whose block is done, compute the spectrum, restart
    // the capture for the next block, then update the display. Does nothing otherwise, so extra
    // calls are harmless.
    void Tick();
    // The window is about to close.
    void Stop();

    // Blocks processed so far.
    int BlockCount() const { return m_blocks; }
    // Title of the message boxes.
    QString messageTitle = QStringLiteral("Farscan BCN 2.1.3");

signals:
    // The running block is complete or the capture failed: Tick has work. Emitted from the
    // event loop, never from inside a capture call.
    void blockReady();
    void blockProcessed();

private:
    void ShowMessage(const QString& text);

    Spectrum m_spectrum;
    QPointer<SpectrumPanel> m_panel; // goes with the monitor: it draws the monitor's spectrum
    AudioCapture m_capture;
    QPointer<QMessageBox> m_message;
    int m_blocks = 0;
};
