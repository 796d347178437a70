#include "AdifRunner.h"

#include "WidgetHelpers.h"

#include <QElapsedTimer>
#include <QFileDialog>
#include <QProgressDialog>
#include <QWidget>

namespace {
// Work per timer tick: long enough to cost little in timer overhead, short enough that the
// window answers between ticks.
constexpr int TickMs = 30;
constexpr int StepBudget = 200;
constexpr int Scale = 1000;
} // namespace

void OpenAdifFileDialog(QWidget* parent, const QString& title, bool save,
                        const std::function<void(const QString&)>& chosen) {
    OpenFileDialog(parent, title,
                   save ? AdifRunner::tr("ADIF files (*.adi)")
                        : AdifRunner::tr("ADIF files (*.adi *.adif);;All files (*)"),
                   save ? QStringLiteral("adi") : QString(), chosen)
        ->setObjectName(QStringLiteral("AdifFileDialog"));
}

AdifRunner::AdifRunner(QWidget* parent, const QString& label) : QObject(parent) {
    m_progress = new QProgressDialog(label, tr("Cancel"), 0, Scale, parent);
    m_progress->setObjectName(QStringLiteral("AdifProgress"));
    m_progress->setAccessibleName(tr("ADIF progress"));
    // Non-modal: a modal progress dialog would run the event loop from inside setValue().
    m_progress->setWindowModality(Qt::NonModal);
    m_progress->setMinimumDuration(500);
    m_progress->setAutoClose(false);
    m_progress->setAutoReset(false);
    m_progress->setValue(0);
    connect(m_progress, &QProgressDialog::canceled, this, &AdifRunner::cancel);
    m_timer.setInterval(0);
    connect(&m_timer, &QTimer::timeout, this, &AdifRunner::tick);
}

AdifRunner::~AdifRunner() {
    if (m_progress)
        m_progress->deleteLater();
}

AdifRunner* AdifRunner::startExport(QWidget* parent, const QString& connectionText,
                                    const QString& path, const AdifExportOptions& options) {
    auto* runner = new AdifRunner(parent, tr("Writing the log as ADIF..."));
    runner->m_export = std::make_unique<AdifExportJob>(connectionText, path, options);
    runner->m_timer.start();
    return runner;
}

AdifRunner* AdifRunner::startImport(QWidget* parent, const QString& connectionText,
                                    const QString& path, const QString& homeLocator) {
    auto* runner = new AdifRunner(parent, tr("Importing ADIF into the log..."));
    runner->m_import = std::make_unique<AdifImportJob>(connectionText, path, homeLocator);
    runner->m_timer.start();
    return runner;
}

void AdifRunner::tick() {
    QElapsedTimer elapsed;
    elapsed.start();
    AdifProgress p;
    do {
        p = m_export ? m_export->step(StepBudget) : m_import->step(StepBudget);
    } while (!p.finished && elapsed.elapsed() < TickMs);
    if (!p.finished) {
        if (m_progress)
            m_progress->setValue(
                p.total > 0 ? int(qMin<qint64>(Scale - 1, p.done * Scale / p.total)) : 0);
        return;
    }
    m_timer.stop();
    if (m_progress) {
        m_progress->disconnect(this);
        m_progress->close();
    }
    if (m_export)
        emit exportFinished(m_export->result());
    else
        emit importFinished(m_import->result());
    deleteLater();
}

void AdifRunner::cancel() {
    if (!m_timer.isActive())
        return;
    if (m_export)
        m_export->cancel();
    else
        m_import->cancel();
    // The next tick reports the cancelled job.
}
