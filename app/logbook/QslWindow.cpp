#include "QslWindow.h"

#include "Database.h"
#include "ProgramState.h"
#include "Settings.h"
#include "WidgetHelpers.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPageLayout>
#include <QPageSize>
#include <QPainter>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QVBoxLayout>

namespace {

// The row boxes: design name, left edge and width on the card.
struct Column {
    const char* name;
    const char* heading;
    const char* accessible;
    int x;
    int width;
};
constexpr std::array<Column, 7> Columns = {{
    {"datem", "Date", "Date", 16, 84},
    {"utc", "UTC", "Time UTC", 102, 54},
    {"qrg", "kHz", "Frequency kHz", 158, 104},
    {"mode", "Mode", "Mode", 264, 50},
    {"rsts", "RST", "Report", 316, 40},
    {"qrb", "QRB km", "Distance km", 358, 56},
    {"qtf", "QTF", "Heading", 416, 40},
}};
constexpr int RowTop = 194;
constexpr int RowHeight = 20;
constexpr int BoxHeight = 18;

// Design names of the headings above the row boxes.
constexpr std::array<const char*, 7> HeadingNames = {"Label2",  "Label5",  "Label9", "Label12",
                                                     "Label13", "Label16", "Label17"};

// Printed text without ligatures, so that a "fi" stays two letters for whoever reads the PDF.
QFont printFont(QFont font) {
    font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
    return font;
}

} // namespace

QslWindow::QslWindow(StationContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window), m_context(context) {
    setObjectName(QStringLiteral("Form6"));
    setWindowTitle(QStringLiteral("FarscanQSL"));
    setAccessibleName(windowTitle());
    m_message = [this](const QString& text) {
        auto* box =
            new QMessageBox(QMessageBox::Information, windowTitle(), text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    m_choosePdf = [](QWidget* parent, std::function<void(QString)> done) {
        OpenFileDialog(parent, QObject::tr("Print QSL cards to PDF"),
                       QObject::tr("PDF files (*.pdf)"), QStringLiteral("pdf"), done,
                       [done] { done(QString()); });
    };
    buildControls();
}

QslWindow::~QslWindow() {
    // The preview holds the printer: it goes first.
    delete m_preview.data();
}

QLabel* QslWindow::makeLabel(const QString& name, const QString& text, int x, int y, int pointSize,
                             bool bold) {
    auto* label = new QLabel(text, m_card);
    label->setObjectName(name);
    QFont font = label->font();
    font.setPointSize(pointSize);
    font.setBold(bold);
    label->setFont(font);
    label->move(x, y);
    label->adjustSize();
    return label;
}

void QslWindow::buildControls() {
    auto* top = new QVBoxLayout(this);

    m_card = new QWidget(this);
    m_card->setObjectName(QStringLiteral("Card"));
    m_card->setAccessibleName(tr("QSL card"));
    m_card->setFixedSize(CardWidthPx, CardHeightPx);
    m_card->setAutoFillBackground(true);
    QPalette palette = m_card->palette();
    palette.setColor(QPalette::Window, Qt::white);
    palette.setColor(QPalette::WindowText, Qt::black);
    m_card->setPalette(palette);
    top->addWidget(m_card, 0, Qt::AlignLeft);

    // Station block, top left; the club emblem top right.
    makeLabel(QStringLiteral("CallL"), QString(), 16, 6, 26, true);
    makeLabel(QStringLiteral("GridL"), QString(), 16, 50, 16, true);
    makeLabel(QStringLiteral("GridL1"), QString(), 80, 55, 11);
    makeLabel(QStringLiteral("Label6"), QString(), 16, 80, 9);
    makeLabel(QStringLiteral("Label11"), QString(), 16, 96, 9);
    makeLabel(QStringLiteral("Label14"), QString(), 16, 112, 9);
    makeLabel(QStringLiteral("Label15"), QString(), 16, 128, 9);
    m_clubSign = new QLabel(m_card);
    m_clubSign->setObjectName(QStringLiteral("ClubSign"));
    m_clubSign->setAccessibleName(tr("Club emblem"));
    m_clubSign->setGeometry(404, 8, 110, 76);
    m_clubSign->setAlignment(Qt::AlignCenter);

    // The QSO block.
    makeLabel(QStringLiteral("Label1"), QStringLiteral("Confirming 2-way QSO with:"), 16, 154, 10);
    makeLabel(QStringLiteral("Cal"), QString(), 230, 146, 18, true);
    makeLabel(QStringLiteral("Label10"), QString(), 380, 154, 9);
    for (size_t c = 0; c < Columns.size(); ++c)
        makeLabel(QLatin1String(HeadingNames[c]), QLatin1String(Columns[c].heading),
                  Columns[c].x + 2, RowTop - 16, 8);
    for (int r = 0; r < QslRowsPerCard; ++r) {
        for (size_t c = 0; c < Columns.size(); ++c) {
            auto* box = new QLineEdit(m_card);
            // A row is a control array: every entry has the column's name, its row as Index.
            box->setObjectName(QLatin1String(Columns[c].name));
            box->setProperty("Index", r);
            box->setAccessibleName(tr("%1, row %2").arg(tr(Columns[c].accessible)).arg(r + 1));
            QFont font = box->font();
            font.setPointSize(8);
            box->setFont(font);
            box->setGeometry(Columns[c].x, RowTop + r * RowHeight, Columns[c].width, BoxHeight);
            m_rows[size_t(r)].boxes[c] = box;
        }
    }
    makeLabel(QStringLiteral("Label4"), QStringLiteral("PSE QSL"), 412, 96, 12, true);

    // Greeting, signature, address and foot.
    makeLabel(QStringLiteral("Label3"), QStringLiteral("tnx fer QSO Best 73 de"), 16, 282, 9);
    m_sign = new QLabel(m_card);
    m_sign->setObjectName(QStringLiteral("Sign"));
    m_sign->setAccessibleName(tr("Signature"));
    m_sign->setGeometry(190, 272, 140, 34);
    m_sign->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    makeLabel(QStringLiteral("Label7"), QString(), 16, 306, 8);
    makeLabel(QStringLiteral("Label8"), QString(), 16, 322, 8);

    // The selection codes and the window's own buttons.
    auto* buttons = new QHBoxLayout;
    auto addButton = [&](const char* name, const QString& caption, const QString& code) {
        auto* b = new QPushButton(caption, this);
        b->setObjectName(QLatin1String(name));
        b->setAccessibleName(caption);
        buttons->addWidget(b);
        if (!code.isNull())
            connect(b, &QPushButton::clicked, this, [this, code] { PrintCards(code); });
        return b;
    };
    addButton("Command1", tr("QSL Y"), QStringLiteral("Y"));
    addButton("Command3", tr("QSL S"), QStringLiteral("S"));
    addButton("Command4", tr("TNX QSL T"), QStringLiteral("T"));
    addButton("BeaconPrint", tr("Beacon B"), QStringLiteral("B"));
    addButton("Empty", tr("Empty card"), QStringLiteral("X"));
    // Stop ends a run waiting for its preview or file: an empty selection code would print a
    // card for every QSO of the log that has no QSL code at all.
    QPushButton* stop = addButton("StopPrint", tr("Stop"), QString());
    connect(stop, &QPushButton::clicked, this, &QslWindow::stopRun);
    m_chkPdf = new QCheckBox(tr("Print to PDF file"), this);
    m_chkPdf->setObjectName(QStringLiteral("chkPdf"));
    m_chkPdf->setAccessibleName(m_chkPdf->text());
    buttons->addWidget(m_chkPdf);
    buttons->addStretch(1);
    QPushButton* exit = addButton("Exit", tr("Exit"), QString());
    connect(exit, &QPushButton::clicked, this, [this] {
        hide();
        if (showMainWindow)
            showMainWindow();
    });
    top->addLayout(buttons);
    top->addStretch(1);

    // Labels that show values keep a short caption as their name and give what they show as
    // their description; the column headings are named by their text.
    const std::array<std::pair<const char*, const char*>, 14> captions = {{
        {"CallL", "Own callsign"},
        {"GridL", "Own locator"},
        {"GridL1", "Own locator, subsquare"},
        {"Label6", "QSL info line"},
        {"Label11", "QSL line 2"},
        {"Label14", "QSL line 3"},
        {"Label15", "QSL line 4"},
        {"Label7", "Address line"},
        {"Label8", "Foot line"},
        {"Label1", "Card heading"},
        {"Cal", "Callsign on the card"},
        {"Label10", "QSL manager"},
        {"Label4", "Card request"},
        {"Label3", "Greeting"},
    }};
    for (const auto& [name, caption] : captions) {
        if (QLabel* l = label(QLatin1String(name))) {
            l->setAccessibleName(tr(caption));
            l->setAccessibleDescription(l->text());
        }
    }
}

QLabel* QslWindow::label(const QString& designName) const {
    return m_card->findChild<QLabel*>(designName, Qt::FindDirectChildrenOnly);
}

QLineEdit* QslWindow::box(const QString& designName, int row) const {
    if (row < 0 || row >= QslRowsPerCard)
        return nullptr;
    for (size_t c = 0; c < Columns.size(); ++c) {
        if (designName == QLatin1String(Columns[c].name))
            return m_rows[size_t(row)].boxes[c];
    }
    return nullptr;
}

QPushButton* QslWindow::button(const QString& designName) const {
    return findChild<QPushButton*>(designName);
}

QString QslWindow::dataFile(const QString& name) const {
    return QDir(m_context.database.folder()).filePath(name);
}

void QslWindow::showEvent(QShowEvent* event) {
    if (!m_loaded)
        loadStation();
    QWidget::showEvent(event);
}

void QslWindow::closeEvent(QCloseEvent* event) {
    stopRun();
    QWidget::closeEvent(event);
}

void QslWindow::loadStation() {
    const SettingsStore& s = m_context.settings;
    auto set = [this](const char* name, const QString& text) {
        if (QLabel* l = label(QLatin1String(name))) {
            l->setText(text);
            l->setAccessibleDescription(text);
            l->adjustSize();
        }
    };
    // The station as set up, not where a GPS fix has put the program's locator.
    const QString grid = s[Settings::MyGrid].toText();
    set("CallL", s[Settings::MyCallsign].toText());
    set("GridL", grid.left(4));
    set("GridL1", grid.mid(4));
    if (QLabel* l1 = label(QStringLiteral("GridL1")); l1 && label(QStringLiteral("GridL")))
        l1->move(label(QStringLiteral("GridL"))->geometry().right() + 4, l1->y());
    set("Label6", s[Settings::QslInfo].toText());
    set("Label11", s[Settings::QslLine2].toText());
    set("Label14", s[Settings::QslLine3].toText());
    set("Label15", s[Settings::QslLine4].toText());
    set("Label7", s[Settings::QslAddress].toText());
    set("Label8", s[Settings::QslFoot].toText());
    for (QLabel* picture : {m_sign, m_clubSign}) {
        const QPixmap pixmap(dataFile(picture == m_sign ? QStringLiteral("Sign.bmp")
                                                        : QStringLiteral("ClubSign.bmp")));
        if (pixmap.isNull())
            picture->clear();
        else
            picture->setPixmap(
                pixmap.scaled(picture->size(), Qt::KeepAspectRatio, Qt::SmoothTransformation));
    }
    m_loaded = true;
}

void QslWindow::tell(const QString& text) {
    if (m_message)
        m_message(text);
}

void QslWindow::clearRows() {
    for (Row& row : m_rows) {
        for (QLineEdit* b : row.boxes)
            b->clear();
    }
}

void QslWindow::applyWording(const QslWording& wording) {
    const std::array<std::pair<const char*, QString>, 3> texts = {
        {{"Label4", wording.label4}, {"Label1", wording.label1}, {"Label3", wording.label3}}};
    for (const auto& [name, text] : texts) {
        QLabel* l = label(QLatin1String(name));
        l->setText(text);
        l->setAccessibleDescription(text);
        l->adjustSize();
    }
}

// Every card of a run keeps the run's wording; the window goes back to "PSE QSL" afterwards.
void QslWindow::resetLabel4() {
    QLabel* l = label(QStringLiteral("Label4"));
    l->setText(QStringLiteral("PSE QSL"));
    l->setAccessibleDescription(l->text());
    l->adjustSize();
}

void QslWindow::fillCard(const QslCard& card) {
    clearRows();
    for (size_t r = 0; r < card.rows.size() && r < m_rows.size(); ++r) {
        const QslEntry& e = card.rows[r];
        const std::array<QString, 7> texts = {e.date,   e.time, e.frequency, e.mode,
                                              e.report, e.qrb,  e.qtf};
        for (size_t c = 0; c < texts.size(); ++c)
            m_rows[r].boxes[c]->setText(texts[c]);
    }
    for (const auto& [name, text] :
         {std::pair{"Cal", card.callsign}, std::pair{"Label10", card.qslManager}}) {
        QLabel* l = label(QLatin1String(name));
        l->setText(text);
        l->setAccessibleDescription(text);
        l->adjustSize();
    }
}

void QslWindow::PrintCards(const QString& code) {
    if (m_run) {
        tell(tr("A print run is still waiting; finish or stop it first."));
        return;
    }
    if (!m_loaded)
        loadStation();
    applyWording(QslWordingFor(code));
    if (code == QLatin1String("X"))
        clearRows();

    auto run = std::make_unique<Run>();
    run->code = code;
    run->read = ReadQslRun(m_context.state.DbConnectionText, code, QLocale());
    if (!run->read.ok) {
        tell(QStringLiteral("No new Recorset available"));
        resetLabel4();
        return;
    }
    run->cards = GroupQslCards(run->read.entries);
    if (run->cards.empty()) {
        if (code != QLatin1String("X")) {
            tell(tr("No QSO has the QSL code \"%1\": there is no card to print.").arg(code));
            resetLabel4();
            return;
        }
        run->cards.push_back(QslCard());
    }
    m_run = std::move(run);

    if (m_chkPdf->isChecked()) {
        QPointer<QslWindow> self(this);
        m_choosePdf(this, [self](const QString& path) {
            if (!self || !self->m_run)
                return;
            if (path.isEmpty())
                self->finishRun(false);
            else
                self->printToPdf(path);
        });
    } else {
        openPreview();
    }
}

bool QslWindow::renderRun(QPrinter& printer) {
    if (!m_run)
        return false;
    QPainter painter;
    if (!painter.begin(&printer))
        return false;
    const double dpi = printer.resolution();
    const QRectF target(0, 0, CardWidthMm / 25.4 * dpi, CardHeightMm / 25.4 * dpi);
    bool ok = true;
    for (size_t i = 0; i < m_run->cards.size() && ok; ++i) {
        if (i > 0 && !printer.newPage()) {
            ok = false;
            break;
        }
        fillCard(m_run->cards[i]);
        PrintCardPage(painter, target);
    }
    return painter.end() && ok;
}

void QslWindow::PrintCardPage(QPainter& painter, const QRectF& target) {
    const double sx = target.width() / m_card->width();
    const double sy = target.height() / m_card->height();
    const double pointToDevice = painter.device()->logicalDpiY() / 72.0;
    auto scaled = [&](const QRect& r) {
        return QRectF(target.x() + r.x() * sx, target.y() + r.y() * sy, r.width() * sx,
                      r.height() * sy);
    };
    painter.save();
    painter.setPen(QPen(Qt::black, 0));
    for (QObject* child : m_card->children()) {
        if (auto* l = qobject_cast<QLabel*>(child)) {
            if (l == m_sign || l == m_clubSign) {
                const QImage picture(dataFile(l == m_sign ? QStringLiteral("Sign.bmp")
                                                          : QStringLiteral("ClubSign.bmp")));
                if (picture.isNull())
                    continue;
                const QRectF place = scaled(l->geometry());
                QSizeF size = picture.size();
                size.scale(place.size(), Qt::KeepAspectRatio);
                painter.drawImage(QRectF(place.topLeft(), size), picture);
                continue;
            }
            if (l->text().isEmpty())
                continue;
            painter.setFont(printFont(l->font()));
            const QRectF r = scaled(l->geometry());
            painter.drawText(QRectF(r.topLeft(), QSizeF(target.right() - r.x(), r.height() * 2)),
                             Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, l->text());
        } else if (auto* b = qobject_cast<QLineEdit*>(child)) {
            const QRectF r = scaled(b->geometry());
            // The text sits inside the box, a quarter of its font size in from the frame.
            const double inset = b->font().pointSizeF() / 4.0 * pointToDevice;
            painter.setFont(printFont(b->font()));
            painter.drawText(r.adjusted(inset, inset / 2, -inset / 2, 0),
                             Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, b->text());
            painter.drawRect(r);
        }
    }
    painter.restore();
}

void QslWindow::printToPdf(const QString& path) {
    QPrinter printer(QPrinter::HighResolution);
    printer.setOutputFormat(QPrinter::PdfFormat);
    printer.setOutputFileName(path);
    printer.setCreator(QStringLiteral("Farscan"));
    printer.setDocName(tr("QSL cards"));
    printer.setPageLayout(QPageLayout(
        QPageSize(QSizeF(CardWidthMm, CardHeightMm), QPageSize::Millimeter, tr("QSL card")),
        QPageLayout::Portrait, QMarginsF(0, 0, 0, 0)));
    printer.setFullPage(true);
    if (!renderRun(printer) || printer.printerState() == QPrinter::Error)
        finishRun(false, tr("The PDF file %1 could not be written.").arg(path));
    else
        finishRun(true);
}

void QslWindow::openPreview() {
    m_printer = std::make_unique<QPrinter>(QPrinter::HighResolution);
    m_printer->setDocName(tr("QSL cards"));
    m_printer->setCreator(QStringLiteral("Farscan"));
    m_preview = new QPrintPreviewDialog(m_printer.get(), this);
    m_preview->setObjectName(QStringLiteral("QslPreview"));
    m_preview->setAccessibleName(tr("QSL card preview"));
    m_preview->setAttribute(Qt::WA_DeleteOnClose);
    connect(m_preview, &QPrintPreviewDialog::paintRequested, this, [this](QPrinter* printer) {
        if (!m_run)
            return;
        const bool ok = renderRun(*printer);
        m_run->rendered = ok;
        m_run->renderFailed = !ok;
    });
    // The dialog accepts after the job went to the printer; any other ending prints nothing.
    connect(m_preview, &QDialog::finished, this, [this](int result) {
        if (!m_run)
            return;
        if (result == QDialog::Accepted && m_run->rendered && !m_run->renderFailed)
            finishRun(true);
        else if (result == QDialog::Accepted)
            finishRun(false, tr("The printer did not take the QSL cards."));
        else
            finishRun(false);
    });
    m_preview->open();
}

void QslWindow::stopRun() {
    if (!m_run)
        return;
    if (m_preview) {
        m_preview->reject(); // finished() ends the run
        return;
    }
    finishRun(false);
}

void QslWindow::finishRun(bool printed, const QString& failure) {
    if (!m_run)
        return;
    const std::unique_ptr<Run> run = std::move(m_run);
    int advanced = 0;
    if (printed) {
        std::vector<QslEntry> entries;
        for (const QslCard& card : run->cards)
            entries.insert(entries.end(), card.rows.begin(), card.rows.end());
        QString error;
        advanced = AdvanceQslCodes(m_context.state.DbConnectionText, entries, &error);
        if (advanced < 0) {
            tell(QStringLiteral("No new Recorset available"));
            advanced = 0;
        } else if (run->read.leftOver > 0) {
            tell(tr("%1 more QSOs with the QSL code \"%2\" wait for the next run.")
                     .arg(run->read.leftOver)
                     .arg(run->code));
        }
    } else if (!failure.isEmpty()) {
        tell(QStringLiteral("No new Recorset available") + QStringLiteral("\n") + failure);
    }
    resetLabel4();
    emit runFinished(printed, advanced);
}
