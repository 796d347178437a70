#pragma once

// The QSL window (Form6, "FarscanQSL"). The window is itself the card: labels and text boxes at
// fixed places, printed where they stand in their own fonts, with the signature and the club
// emblem from the data folder. A button prints the cards of every QSO with its QSL code, up to
// four QSOs of a station per card, one card per page; once the job has gone through, each
// printed QSO's code moves on to its next state.
//
// Output goes through a print preview to the printer, or, with "Print to PDF file" ticked, to a
// PDF file the user chooses. Closing the preview without printing, a file dialog cancelled or a
// job that fails leaves the codes as they were.

#include "QslCards.h"
#include "StationContext.h"

#include <QPointer>
#include <QPrintPreviewDialog>
#include <QWidget>
#include <array>
#include <functional>
#include <memory>

class QCheckBox;
class QLabel;
class QLineEdit;
class QPainter;
class QPrinter;
class QPushButton;

class QslWindow : public QWidget {
    Q_OBJECT
public:
    // The card's size on paper and on the screen (one pixel a 96th of an inch).
    static constexpr double CardWidthMm = 140.0;
    static constexpr double CardHeightMm = 90.0;
    static constexpr int CardWidthPx = 529;
    static constexpr int CardHeightPx = 340;

    explicit QslWindow(StationContext& context, QWidget* parent = nullptr);
    ~QslWindow() override;

    // Exit: the window hides and the main window comes back.
    std::function<void()> showMainWindow;
    // Where the window's messages go; by default a non-modal message box.
    void setMessageSink(std::function<void(const QString&)> sink) { m_message = std::move(sink); }
    // Asks for the PDF file's name and answers through the callback (an empty name cancels); by
    // default a non-modal save dialog.
    using PdfPathChooser = std::function<void(QWidget* parent, std::function<void(QString)>)>;
    void setPdfPathChooser(PdfPathChooser chooser) { m_choosePdf = std::move(chooser); }

    // Window load: the station labels from the settings.
    void loadStation();
    // Prints the cards of the QSOs whose QSL code is `code`.
    void PrintCards(const QString& code);
    // Ends the run that waits for its preview or file name; nothing is printed, no code changes.
    void stopRun();
    bool runPending() const { return m_run != nullptr; }

    // Prints the card as it stands into `target` (device units of the painter's device).
    void PrintCardPage(QPainter& painter, const QRectF& target);
    // Renders every card of the pending run, one page each; false when the device failed.
    bool renderRun(QPrinter& printer);

    // Controls by their design names.
    QWidget* card() const { return m_card; }
    QLabel* label(const QString& designName) const;
    // A row's text box: datem, utc, qrg, mode, rsts, qrb or qtf, row 0..3.
    QLineEdit* box(const QString& designName, int row) const;
    QPushButton* button(const QString& designName) const;
    QCheckBox* chkPdf() const { return m_chkPdf; }
    QPrintPreviewDialog* preview() const { return m_preview; }

signals:
    // A run ended: printed or not, and the number of QSOs whose code moved on.
    void runFinished(bool printed, int advanced);

protected:
    void showEvent(QShowEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

private:
    struct Run {
        QString code;
        QslRun read;
        std::vector<QslCard> cards;
        bool rendered = false;
        bool renderFailed = false;
    };
    struct Row {
        std::array<QLineEdit*, 7> boxes{};
    };

    void buildControls();
    QLabel* makeLabel(const QString& name, const QString& text, int x, int y, int pointSize,
                      bool bold = false);
    void clearRows();
    void fillCard(const QslCard& card);
    void applyWording(const QslWording& wording);
    void resetLabel4();
    void printToPdf(const QString& path);
    void openPreview();
    void finishRun(bool printed, const QString& failure = QString());
    void tell(const QString& text);
    QString dataFile(const QString& name) const;

    StationContext& m_context;
    QWidget* m_card = nullptr;
    QLabel* m_sign = nullptr;
    QLabel* m_clubSign = nullptr;
    std::array<Row, QslRowsPerCard> m_rows;
    QCheckBox* m_chkPdf = nullptr;
    std::unique_ptr<Run> m_run;
    std::unique_ptr<QPrinter> m_printer;
    QPointer<QPrintPreviewDialog> m_preview;
    std::function<void(const QString&)> m_message;
    PdfPathChooser m_choosePdf;
    bool m_loaded = false;
};
