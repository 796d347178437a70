#pragma once

// Runs an ADIF export or import in chunks from a timer, with a progress dialog (non-modal, shown
// once a run lasts longer than half a second) whose Cancel stops the job: a cancelled export
// leaves the old file, a cancelled import leaves the log as it was. The runner deletes itself
// after it reported its result.

#include "Adif.h"

#include <QObject>
#include <QPointer>
#include <QProgressDialog>
#include <QTimer>
#include <functional>
#include <memory>

class QWidget;

// How a window asks for a file: a title, save or open, then chosen(path) once one is picked
// (never on cancel). Tests put their own in place of the dialog.
using AdifFileChooser = std::function<void(const QString& title, bool save,
                                           const std::function<void(const QString&)>& chosen)>;
// The default: a non-modal file dialog for ADIF files (*.adi), opened with open().
void OpenAdifFileDialog(QWidget* parent, const QString& title, bool save,
                        const std::function<void(const QString&)>& chosen);

class AdifRunner : public QObject {
    Q_OBJECT
public:
    static AdifRunner* startExport(QWidget* parent, const QString& connectionText,
                                   const QString& path, const AdifExportOptions& options);
    static AdifRunner* startImport(QWidget* parent, const QString& connectionText,
                                   const QString& path, const QString& homeLocator);
    ~AdifRunner() override;

    QProgressDialog* progressDialog() const { return m_progress; }
    void cancel();

signals:
    void exportFinished(const AdifExportResult& result);
    void importFinished(const AdifImportResult& result);

private:
    AdifRunner(QWidget* parent, const QString& label);
    void tick();

    std::unique_ptr<AdifExportJob> m_export;
    std::unique_ptr<AdifImportJob> m_import;
    QTimer m_timer;
    QPointer<QProgressDialog> m_progress;
};
