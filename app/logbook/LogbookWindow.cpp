#include "LogbookWindow.h"

#include "Database.h"
#include "Locator.h"
#include "LogGeoRefresh.h"
#include "LogbookLog.h"
#include "OptionGroup.h"
#include "ProgramState.h"
#include "Recordset.h"
#include "RecordsetModel.h"
#include "Settings.h"
#include "ValueLabel.h"
#include "WidgetHelpers.h"

#include "Clock.h"
#include <QAbstractButton>
#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QElapsedTimer>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPixmap>
#include <QProgressDialog>
#include <QPushButton>
#include <QTableView>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Grid column widths in twips, 15 twips to the pixel.
const int columnTwips[] = {10,   900, 450, 1000, 1100, 500,  500, 1300, 500,
                           1200, 700, 700, 500,  400,  1200, 500, 2500};

// The user's short date form, with the century: a two-digit year would read back as 19xx.
QString dateEntryFormat() {
    QString format = QLocale().dateFormat(QLocale::ShortFormat);
    if (!format.contains(QStringLiteral("yyyy")))
        format.replace(QStringLiteral("yy"), QStringLiteral("yyyy"));
    return format;
}

// The date in the DA box: the entry form, the locale's own short form, ISO or dd.MM.yyyy.
QDate parseEntryDate(const QString& text) {
    const QString t = text.trimmed();
    QDate date = QLocale().toDate(t, dateEntryFormat());
    if (!date.isValid())
        date = QLocale().toDate(t, QLocale::ShortFormat);
    if (!date.isValid())
        date = QDate::fromString(t, Qt::ISODate);
    if (!date.isValid())
        date = QDate::fromString(t, QStringLiteral("dd.MM.yyyy"));
    return date;
}

QTime parseEntryTime(const QString& text) {
    const QString t = text.trimmed();
    for (const char* format : {"HH:mm:ss", "HH:mm", "H:mm", "HHmm"}) {
        const QTime time = QTime::fromString(t, QString::fromLatin1(format));
        if (time.isValid())
            return time;
    }
    return {};
}

// Shows the stored ISO date and time of the log as the operator reads them.
class LogGridView : public QIdentityProxyModel {
public:
    using QIdentityProxyModel::QIdentityProxyModel;
    QVariant data(const QModelIndex& index, int role) const override {
        const QVariant value = QIdentityProxyModel::data(index, role);
        if (role != Qt::DisplayRole && role != Qt::AccessibleTextRole)
            return value;
        const QString column = headerData(index.column(), Qt::Horizontal).toString();
        if (column.compare(QLatin1String("Date"), Qt::CaseInsensitive) == 0)
            return ShownDate(value);
        if (column.compare(QLatin1String("GMT"), Qt::CaseInsensitive) == 0)
            return ShownTime(value);
        return value;
    }
};

QLineEdit* makeBox(QWidget* parent, const char* name, const QString& accessible, int width) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setAccessibleName(accessible);
    box->setMinimumWidth(width);
    return box;
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& tip) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAccessibleName(QString(caption).remove(QLatin1Char('&')));
    button->setToolTip(tip);
    return button;
}

} // namespace

LogbookWindow::LogbookWindow(StationContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window), m_context(context) {
    setObjectName(QStringLiteral("form5"));
    setWindowTitle(QStringLiteral("FarscanLog"));
    setAccessibleName(QStringLiteral("FarscanLog"));
    m_message = [this](const QString& text) {
        auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("FarscanLog"), text,
                                    QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    m_refresh = new LogGeoRefresh(this);
    connect(m_refresh, &LogGeoRefresh::finished, this, [this](const LogGeoRefresh::Result& r) {
        refreshEnded(r.ok, r.cancelled, r.recordCount, r.error);
    });
    buildControls();
    openSteps();
}

LogbookWindow::~LogbookWindow() {
    // The grid's rows go before the model that shows them.
    m_model->setRecordset(nullptr);
}

void LogbookWindow::setMessageSink(std::function<void(const QString&)> sink) {
    m_message = std::move(sink);
}

void LogbookWindow::tell(const QString& text) {
    if (m_message)
        m_message(text);
}

QString LogbookWindow::connectionText() const {
    return m_context.state.DbConnectionText;
}

void LogbookWindow::buildControls() {
    auto* top = new QVBoxLayout(this);

    // Station line: own callsign and locator, the band switch time, the export button.
    auto* station = new QHBoxLayout;
    m_Callsign = new ValueLabel(QStringLiteral("Callsign"), tr("Own callsign"), this);
    m_MyGrid = new ValueLabel(QStringLiteral("MyGrid"), tr("Own locator"), this);
    m_BandTime = new ValueLabel(QStringLiteral("BandTime"), tr("Band switch time"), this);
    m_GoogleEarth = makeButton(this, "GoogleEarth", tr("Google Earth"),
                               tr("Write the log of this band for Google Earth and open it"));
    station->addWidget(m_Callsign);
    station->addWidget(m_MyGrid);
    station->addStretch(1);
    station->addWidget(m_BandTime);
    station->addWidget(m_GoogleEarth);
    top->addLayout(station);

    // Entry row: caption above each box.
    auto* entry = new QGridLayout;
    struct BoxDef {
        QLineEdit** box;
        const char* name;
        QString caption;
        QString accessible;
        int width;
    };
    const BoxDef boxes[] = {
        {&m_DA, "DA", tr("Date"), tr("Date"), 80},
        {&m_GM, "GM", tr("UTC"), tr("Time (UTC)"), 50},
        {&m_Ca, "Ca", tr("Call"), tr("Callsign"), 80},
        {&m_Gr, "Gr", tr("Loc"), tr("Locator"), 70},
        {&m_Rss, "Rss", tr("RST s"), tr("Report sent"), 40},
        {&m_Rr, "Rr", tr("RST r"), tr("Report received"), 40},
        {&m_Ba, "Ba", tr("QRG"), tr("Band (kHz)"), 70},
        {&m_mo, "mo", tr("Mode"), tr("Mode"), 40},
        {&m_Na, "Na", tr("Name"), tr("Name"), 70},
        {&m_Co, "Co", tr("Comment"), tr("Comment"), 120},
        {&m_Qs, "Qs", tr("QSL"), tr("QSL"), 30},
        {&m_Pr, "Pr", tr("Prop"), tr("Propagation"), 30},
    };
    int column = 0;
    for (const BoxDef& def : boxes) {
        *def.box = makeBox(this, def.name, def.accessible, def.width);
        auto* caption = new QLabel(def.caption, this);
        caption->setBuddy(*def.box);
        entry->addWidget(caption, 0, column);
        entry->addWidget(*def.box, 1, column);
        (*def.box)->installEventFilter(this);
        ++column;
    }
    entry->setColumnStretch(9, 1);
    top->addLayout(entry);
    MakeUpperCase(m_Ca);
    MakeUpperCase(m_Gr);

    auto* buttons = new QHBoxLayout;
    m_addnew = makeButton(this, "addnew", tr("&New"), tr("Preset the boxes for a new QSO"));
    m_Save = makeButton(this, "Save", tr("&Save"), tr("Store the QSO in the log"));
    m_gridDEC = makeButton(this, "gridDEC", tr("Refresh GE"),
                           tr("Recompute the positions and descriptions of this band's QSOs"));
    m_cmdExit = makeButton(this, "cmdExit", tr("E&xit"), tr("Close the logbook"));
    m_AdifExport = makeButton(this, "AdifExport", tr("Export &ADIF..."),
                              tr("Write the QSOs of this band to an ADIF file for other "
                                 "logging programs"));
    m_Save->installEventFilter(this);
    buttons->addWidget(m_addnew);
    buttons->addWidget(m_Save);
    buttons->addWidget(m_gridDEC);
    buttons->addWidget(m_AdifExport);
    buttons->addStretch(1);
    buttons->addWidget(m_cmdExit);
    top->addLayout(buttons);

    auto* body = new QHBoxLayout;
    QStringList bands = {"1.8", "3.5", "7",   "10",  "14",   "18",   "21",   "24",
                         "28",  "50",  "144", "432", "1296", "2320", "3400", "5760",
                         "10G", "24G", "47G", "76G", "122G", "All"};
    m_OptBand = new OptionGroup(tr("Band"), bands, this);
    m_OptBand->setObjectName(QStringLiteral("OptBand"));
    m_OptBand->setAccessibleName(tr("Band"));
    body->addWidget(m_OptBand);

    auto* right = new QVBoxLayout;
    auto* searchRow = new QHBoxLayout;
    m_txtStr = makeBox(this, "txtStr", tr("Search text"), 100);
    m_search = new OptionGroup(tr("Search"), {tr("Call"), tr("Loc")}, this);
    m_search->setObjectName(QStringLiteral("uSc_MultiOption1"));
    m_search->setAccessibleName(tr("Search"));
    m_search->setOrientation(Qt::Horizontal);
    m_search->setSelected(1);
    m_Search = makeButton(this, "Search", tr("Searc&h"),
                          tr("List the QSOs whose callsign or locator begins with the text; "
                             "without a text, count worked and confirmed"));
    searchRow->addWidget(m_txtStr);
    searchRow->addWidget(m_search);
    searchRow->addWidget(m_Search);
    right->addLayout(searchRow);

    auto* counts = new QHBoxLayout;
    auto addCount = [this, counts](ValueLabel*& label, const char* name, const QString& caption) {
        label = new ValueLabel(QString::fromLatin1(name), caption, this);
        label->setMinimumWidth(40);
        auto* text = new QLabel(caption + QLatin1Char(':'), this);
        counts->addWidget(text);
        counts->addWidget(label);
    };
    addCount(m_cou, "cou", tr("Country"));
    addCount(m_Sqw, "Sqw", tr("Worked squares"));
    addCount(m_SQc, "SQc", tr("Confirmed squares"));
    addCount(m_dxw, "dxw", tr("Worked DXCC"));
    addCount(m_DXc, "DXc", tr("Confirmed DXCC"));
    counts->addStretch(1);
    right->addLayout(counts);

    m_GridCaption = new ValueLabel(QStringLiteral("DataGrid1Caption"), tr("QSOs shown"), this);
    right->addWidget(m_GridCaption);
    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("DataGrid1"));
    m_grid->setAccessibleName(tr("Log entries"));
    m_grid->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    m_grid->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_grid->setSelectionMode(QAbstractItemView::SingleSelection);
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->installEventFilter(this);
    m_model = new RecordsetModel(this);
    m_model->setDeleteConfirmation([this] { return m_deleteConfirmed; });
    m_view = new LogGridView(this);
    m_view->setSourceModel(m_model);
    m_grid->setModel(m_view);
    right->addWidget(m_grid, 1);
    body->addLayout(right, 1);
    top->addLayout(body, 1);

    connect(m_OptBand, &OptionGroup::selectionChanged, this, [this](int option) {
        if (option > 0)
            bandChosen(option - 1);
    });
    connect(m_search, &OptionGroup::selectionChanged, m_txtStr, &QLineEdit::clear);
    connect(m_addnew, &QPushButton::clicked, this, &LogbookWindow::newQso);
    connect(m_Save, &QPushButton::clicked, this, &LogbookWindow::saveQso);
    connect(m_Search, &QPushButton::clicked, this, &LogbookWindow::searchLog);
    connect(m_gridDEC, &QPushButton::clicked, this, &LogbookWindow::refreshGeo);
    connect(m_GoogleEarth, &QPushButton::clicked, this, &LogbookWindow::googleEarthRequested);
    connect(m_AdifExport, &QPushButton::clicked, this, [this] {
        if (m_adif)
            return;
        const auto chosen = [this](const QString& path) { exportAdif(path); };
        if (m_chooseFile)
            m_chooseFile(tr("Export this band as ADIF"), true, chosen);
        else
            OpenAdifFileDialog(this, tr("Export this band as ADIF"), true, chosen);
    });
    connect(m_cmdExit, &QPushButton::clicked, this, &QWidget::close);
    resize(1000, 600);
}

void LogbookWindow::showStationSettings() {
    // The program-wide values: the settings dialog and the GPS change them during the run.
    m_Callsign->setText(m_context.state.ownCallsign);
    m_MyGrid->setText(m_context.state.ownLocator);
}

void LogbookWindow::openSteps() {
    SettingsStore& settings = m_context.settings;
    const QPixmap picture(
        QDir(m_context.database.folder()).filePath(QStringLiteral("gearth.JPEG")));
    if (!picture.isNull()) {
        m_GoogleEarth->setIcon(QIcon(picture));
        m_GoogleEarth->setIconSize(QSize(48, 32));
    }
    showStationSettings();
    m_context.state.BandPattern = settings[Settings::LogBandFilter].toText();
    m_geTransparency = int(settings[Settings::GeTransparency].toInt(128));
    m_geBeaconLines = settings[Settings::GeBeaconLines].toBool();
    m_geSquareLines = settings[Settings::GeSquareLines].toBool();
    m_context.state.DbConnectionText = m_context.database.connectionText();

    QString error;
    if (NormaliseDxccPatterns(connectionText(), &error) < 0)
        qCWarning(lcLogbook, "Country patterns not rewritten: %s", qPrintable(error));
    int option = int(settings[Settings::LogBandOption].toInt(10));
    if (option < 0 || option >= LogBandCount)
        option = 10;
    // Choosing the option shows its band; the option already chosen is shown again.
    if (m_OptBand->selected() == option + 1)
        bandChosen(option);
    else
        m_OptBand->setSelected(option + 1);
    m_loaded = true;
}

void LogbookWindow::showEvent(QShowEvent* event) {
    if (!m_loaded)
        openSteps();
    QWidget::showEvent(event);
}

void LogbookWindow::closeEvent(QCloseEvent* event) {
    if (m_refresh->isRunning())
        m_refresh->cancel();
    if (m_loaded) {
        QString error;
        if (NormaliseDxccPatterns(connectionText(), &error) < 0)
            qCWarning(lcLogbook, "Country patterns not rewritten: %s", qPrintable(error));
        SettingsStore& settings = m_context.settings;
        // Captions shown since the window opened may be stale: write what holds now.
        showStationSettings();
        settings[Settings::MyCallsign] = SettingValue::text(m_Callsign->text());
        settings[Settings::MyGrid] = SettingValue::text(m_MyGrid->text());
        settings[Settings::LogBandOption] =
            SettingValue::number(qMax(0, m_OptBand->selected() - 1));
        settings[Settings::LogBandFilter] = SettingValue::text(m_context.state.BandPattern);
        if (!settings.SaveSettings())
            tell(tr("The settings could not be saved: %1").arg(settings.lastError()));
        m_model->setRecordset(nullptr);
        m_GridCaption->setText(QString());
        m_loaded = false;
    }
    QWidget::closeEvent(event);
}

void LogbookWindow::bandChosen(int option) {
    QElapsedTimer elapsed;
    elapsed.start();
    m_context.state.BandPattern = LogBandPattern(option);
    for (ValueLabel* label : {m_Sqw, m_SQc, m_DXc, m_dxw})
        label->clear();
    loadLogGrid();
    // The figure covers the rows the user sees: the grid's first screen is read before the
    // clock stops (the recordset reads its rows lazily, on first look).
    const QAbstractItemModel* model = m_grid->model();
    const int screen = qMin(model->rowCount(),
                            qMax(1, m_grid->viewport()->height() / qMax(1, m_grid->rowHeight(0))));
    for (int row = 0; row < screen; ++row)
        for (int column = 0; column < model->columnCount(); ++column)
            model->index(row, column).data();
    m_BandTime->setText(QString::number(elapsed.elapsed()) + QStringLiteral(" mS"));
    // The export may have coloured them; a band switch shows them plainly again.
    m_Callsign->setPalette(QPalette());
    m_MyGrid->setPalette(QPalette());
}

void LogbookWindow::loadLogGrid() {
    QString error;
    auto rows = LoadLogGrid(connectionText(), m_context.state.BandPattern, &error);
    if (!rows)
        qCWarning(lcLogbook, "The log cannot be shown: %s", qPrintable(error));
    bindGrid(std::move(rows));
}

void LogbookWindow::bindGrid(std::shared_ptr<Recordset> rows) {
    const int count = rows ? rows->recordCount() : 0;
    m_model->setRecordset(std::move(rows));
    m_GridCaption->setText(QString::number(count));
    for (int i = 0; i < int(std::size(columnTwips)) && i < m_model->columnCount(); ++i)
        m_grid->setColumnWidth(i, qMax(1, columnTwips[i] / 15));
}

void LogbookWindow::newQso() {
    const QString& band = m_context.state.BandPattern;
    if (band.isEmpty()) {
        tell(QStringLiteral("Please select Band"));
        for (QLineEdit* box : {m_GM, m_DA, m_Rss, m_Rr, m_mo, m_Qs, m_Pr})
            box->clear();
        return;
    }
    const QDateTime now = m_context.clock.utcNow();
    m_DA->setText(QLocale().toString(now.date(), dateEntryFormat()));
    m_GM->setText(now.time().toString(QStringLiteral("HH:mm")));
    m_Rss->setText(QStringLiteral("59"));
    m_Rr->setText(QStringLiteral("59"));
    m_Ba->setText(BandDigits(band));
    m_mo->setText(QStringLiteral("SSB"));
    m_Qs->setText(QStringLiteral("Y"));
    m_Pr->setText(QStringLiteral("Tr"));
    m_Ca->setFocus();
}

bool LogbookWindow::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        const bool enter = key == Qt::Key_Return || key == Qt::Key_Enter;
        if (watched == m_grid && key == Qt::Key_Delete) {
            askDelete();
            return true;
        }
        if (watched == m_Save && enter) {
            m_Save->click();
            return true;
        }
        if (enter) {
            if (watched == m_Rr)
                m_mo->setText(m_Rss->text().size() == 3 ? QStringLiteral("CW")
                                                        : QStringLiteral("SSB"));
            const std::pair<QObject*, QWidget*> chain[] = {
                {m_Ca, m_Gr}, {m_Gr, m_Rss}, {m_Rss, m_Rr}, {m_Rr, m_Ba}, {m_Ba, m_mo},
                {m_mo, m_Na}, {m_Na, m_Co},  {m_Co, m_Qs},  {m_Qs, m_Pr}, {m_Pr, m_Save}};
            for (const auto& [from, to] : chain) {
                if (watched == from) {
                    to->setFocus();
                    return true;
                }
            }
        }
        if (key == Qt::Key_Right && watched == m_Ca) {
            m_Gr->setFocus();
            return true;
        }
        if (key == Qt::Key_Right && watched == m_Gr) {
            m_Rss->setFocus();
            return true;
        }
        if (key == Qt::Key_Left && watched == m_Gr) {
            m_Ca->setFocus();
            return true;
        }
    } else if (event->type() == QEvent::FocusOut) {
        // A message box or menu taking the focus for a moment is not leaving the box.
        const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason) {
            if (watched == m_Ca)
                callsignLeft();
            else if (watched == m_Gr)
                locatorLeft();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void LogbookWindow::focusLater(QWidget* target) {
    // After the focus change in hand has settled: a click on a button (Save, New) or into
    // another window keeps its focus.
    QTimer::singleShot(0, this, [this, target] {
        QWidget* now = QApplication::focusWidget();
        if (now && (now->window() != this || qobject_cast<QAbstractButton*>(now) ||
                    now == m_txtStr || now == m_grid))
            return;
        target->setFocus();
    });
}

void LogbookWindow::callsignLeft() {
    if (m_Ca->text().isEmpty())
        return;
    const DxccLookup found = LookupDxcc(connectionText(), m_Ca->text());
    if (!found.ok)
        qCWarning(lcLogbook, "Country lookup failed: %s", qPrintable(found.error));
    // A callsign without an entry must not keep the country of the QSO before it.
    m_cou->setText(found.matched ? found.country : QString());
    focusLater(m_Gr);
}

void LogbookWindow::locatorLeft() {
    if (m_Gr->text().isEmpty()) {
        clearGeo();
        return;
    }
    if (measureLocatorBox())
        focusLater(m_Rss);
    else
        focusLater(m_Ca);
}

// Checks the Gr box and measures it; false (box cleared, message shown) when it is no locator.
bool LogbookWindow::measureLocatorBox() {
    m_Gr->setText(m_Gr->text().toUpper());
    if (!ValidateLocator(m_Gr->text())) {
        m_Gr->clear();
        clearGeo();
        tell(QStringLiteral("Locator input incorrect"));
        return false;
    }
    ComputeLogGeo();
    if (!m_geo.homeValid)
        tell(QStringLiteral("Locator input incorrect"));
    return true;
}

void LogbookWindow::clearGeo() {
    m_geo = LogGeo{};
    m_geoLocator.clear();
}

void LogbookWindow::ComputeLogGeo() {
    m_geo = ::ComputeLogGeo(m_MyGrid->text(), m_Gr->text());
    m_geoLocator = m_Gr->text();
    if (m_geo.homeValid)
        m_context.state.HomeLonLatText = m_geo.homeLonLat;
    m_context.state.LastLonLatText = m_geo.lastLonLat;
}

void LogbookWindow::saveQso() {
    // The QSO's position is measured from the locator it is saved with, even when the box was
    // changed without leaving it (a shortcut key presses Save without moving the focus).
    if (m_Gr->text().isEmpty())
        clearGeo();
    else if (m_Gr->text().toUpper() != m_geoLocator && !measureLocatorBox())
        return;

    QDate date;
    if (!m_DA->text().trimmed().isEmpty()) {
        date = parseEntryDate(m_DA->text());
        if (!date.isValid()) {
            tell(
                tr("Date input incorrect: %1 (expected like %2)")
                    .arg(m_DA->text(), QLocale().toString(QDate(2024, 12, 31), dateEntryFormat())));
            m_DA->setFocus();
            return;
        }
    }
    QTime time;
    if (!m_GM->text().trimmed().isEmpty()) {
        time = parseEntryTime(m_GM->text());
        if (!time.isValid()) {
            tell(tr("Time input incorrect: %1 (expected like 21:05)").arg(m_GM->text()));
            m_GM->setFocus();
            return;
        }
    }

    LogEntry entry;
    entry.date = date.isValid() ? QVariant(date) : QVariant();
    entry.gmt = time.isValid() ? QVariant(time) : QVariant();
    entry.callsign = m_Ca->text();
    entry.grid = m_Gr->text();
    entry.rsts = m_Rss->text();
    entry.rstr = m_Rr->text();
    entry.band = m_Ba->text();
    entry.mode = m_mo->text();
    entry.name = m_Na->text();
    entry.comment = m_Co->text();
    entry.qsl = m_Qs->text();
    entry.prop = m_Pr->text();
    entry.dxcc = m_cou->text();
    const LogRow row = NewLogRow(entry, m_MyGrid->text());

    DbConnection db;
    Recordset rs;
    bool ok = db.open(connectionText()) &&
              rs.open(QStringLiteral("SELECT * FROM logtab"), db, {}, {3, 1, 2, 1}) && rs.addNew();
    for (int i = 0; i < row.columns.size(); ++i)
        ok = ok && rs.setField(row.columns.at(i), row.values.at(i));
    ok = ok && rs.update();
    if (!ok) {
        qCWarning(lcLogbook, "The QSO was not saved: %s",
                  qPrintable(db.isOpen() ? rs.lastError() : db.lastError()));
        rs.cancelUpdate();
        // The boxes keep the QSO, so nothing typed is lost.
        tell(QString::fromLatin1(NoRecordsetMessage));
        return;
    }
    rs.close();
    db.close();

    for (QLineEdit* box : {m_DA, m_GM, m_Ca, m_Gr, m_Rss, m_Rr, m_Ba, m_mo, m_Na, m_Co, m_Qs, m_Pr})
        box->clear();
    m_cou->clear();
    clearGeo();
    m_context.state.LastLonLatText.clear();
    countSquares();
    loadLogGrid();
}

void LogbookWindow::countSquares() {
    QString error;
    const int worked =
        CountWorkedSquares(connectionText(), m_context.state.BandPattern, m_MyGrid->text(), &error);
    if (worked < 0)
        qCWarning(lcLogbook, "Worked squares not counted: %s", qPrintable(error));
    m_Sqw->setText(worked < 0 ? QString() : QString::number(worked));
}

void LogbookWindow::countDxcc() {
    QString error;
    const int worked = CountWorkedDxcc(connectionText(), m_context.state.BandPattern, &error);
    const int confirmed = CountConfirmedDxcc(connectionText(), m_context.state.BandPattern, &error);
    if (worked < 0 || confirmed < 0)
        qCWarning(lcLogbook, "Countries not counted: %s", qPrintable(error));
    m_dxw->setText(worked < 0 ? QString() : QString::number(worked));
    m_DXc->setText(confirmed < 0 ? QString() : QString::number(confirmed));
}

bool LogbookWindow::searchesLocator() const {
    return m_search->selected() == 2;
}

void LogbookWindow::searchLog() {
    const QString text = m_txtStr->text();
    const LogSearch search = LogSearchStatement(text, searchesLocator());
    DbConnection db;
    auto rows = std::make_shared<Recordset>();
    if (!db.open(connectionText()) || !rows->open(search.statement, db, search.params) ||
        !rows->setFilter(BandFilterText(m_context.state.BandPattern))) {
        qCWarning(lcLogbook, "Search failed: %s",
                  qPrintable(db.isOpen() ? rows->lastError() : db.lastError()));
        tell(QString::fromLatin1(NoRecordsetMessage));
        return;
    }
    bindGrid(std::move(rows));
    if (!text.isEmpty())
        return;
    if (searchesLocator()) {
        countSquares();
        countConfirmedSquares();
    } else {
        countDxcc();
    }
}

void LogbookWindow::refreshGeo() {
    if (m_refresh->isRunning())
        return;
    m_gridDEC->setEnabled(false);
    m_refresh->start(connectionText(), m_context.state.BandPattern, m_MyGrid->text());
    if (!m_refresh->isRunning())
        return;
    m_progress =
        new QProgressDialog(tr("Refreshing the positions of the log..."), tr("Cancel"), 0, 0, this);
    m_progress->setObjectName(QStringLiteral("RefreshProgress"));
    m_progress->setAccessibleName(tr("Refresh progress"));
    m_progress->setWindowModality(Qt::NonModal);
    m_progress->setAttribute(Qt::WA_DeleteOnClose);
    m_progress->setMinimumDuration(0);
    connect(m_refresh, &LogGeoRefresh::progress, m_progress, [this](int done, int total) {
        if (!m_progress)
            return;
        m_progress->setMaximum(qMax(1, total));
        m_progress->setValue(qMin(done, qMax(1, total) - 1));
    });
    connect(m_progress, &QProgressDialog::canceled, m_refresh, &LogGeoRefresh::cancel);
    m_progress->show();
}

void LogbookWindow::refreshEnded(bool ok, bool cancelled, int recordCount, const QString& error) {
    m_gridDEC->setEnabled(true);
    if (m_progress) {
        m_progress->disconnect(m_refresh);
        m_progress->close();
    }
    if (ok) {
        countSquares();
        tell(QStringLiteral(" ") + QString::number(recordCount) +
             QStringLiteral(" Dataset from Eurowinlog backup.mdB imported"));
    } else if (cancelled) {
        tell(tr("Refresh cancelled; the QSOs done so far keep their new positions"));
    } else {
        Q_UNUSED(error);
        tell(QString::fromLatin1(NoRecordsetMessage));
    }
    if (m_loaded)
        loadLogGrid();
    emit refreshFinished(ok);
}

void LogbookWindow::exportAdif(const QString& path) {
    if (m_adif)
        return;
    AdifExportOptions options;
    options.bandPattern = m_context.state.BandPattern;
    m_AdifExport->setEnabled(false);
    m_adif = AdifRunner::startExport(this, connectionText(), path, options);
    connect(m_adif, &AdifRunner::exportFinished, this, [this](const AdifExportResult& r) {
        m_adif = nullptr; // the runner goes later; a new run may start now
        m_AdifExport->setEnabled(true);
        tell(r.message);
        emit adifFinished(r.ok, r.message);
    });
}

void LogbookWindow::countConfirmedSquares() {
    QString error;
    const int confirmed =
        CountConfirmedSquares(connectionText(), m_context.state.BandPattern, &error);
    if (confirmed < 0)
        qCWarning(lcLogbook, "Confirmed squares not counted: %s", qPrintable(error));
    m_SQc->setText(confirmed < 0 ? QString() : QString::number(confirmed));
}

void LogbookWindow::logChanged() {
    countSquares();
    countConfirmedSquares();
    countDxcc();
    loadLogGrid();
}

void LogbookWindow::askDelete() {
    const QModelIndex current = m_grid->currentIndex();
    if (!current.isValid())
        return;
    const int row = m_view->mapToSource(current).row();
    std::shared_ptr<Recordset> rows = m_model->recordset();
    if (!rows)
        return;
    // The row as it was asked about: the grid may be reloaded while the question is open.
    QVariantList asked;
    for (int c = 0; c < rows->fieldCount(); ++c)
        asked << rows->valueAt(row, c);
    auto* box =
        new QMessageBox(QMessageBox::Question, QString(), QStringLiteral(" Delete Recordset ?"),
                        QMessageBox::Yes | QMessageBox::No, this);
    box->setObjectName(QStringLiteral("DeleteQuestion"));
    box->setAttribute(Qt::WA_DeleteOnClose);
    std::weak_ptr<Recordset> weak = rows;
    connect(box, &QMessageBox::finished, this, [this, box, row, asked, weak] {
        if (box->standardButton(box->clickedButton()) != QMessageBox::Yes)
            return;
        const std::shared_ptr<Recordset> now = weak.lock();
        bool same = now && now == m_model->recordset() && row < now->recordCount();
        for (int c = 0; same && c < asked.size(); ++c)
            same = now->valueAt(row, c) == asked.at(c);
        if (!same) {
            tell(tr("The QSO was not deleted: the log changed while the question was open"));
            return;
        }
        m_deleteConfirmed = true;
        const bool deleted = m_model->removeRows(row, 1);
        m_deleteConfirmed = false;
        if (!deleted) {
            qCWarning(lcLogbook, "The QSO was not deleted: %s", qPrintable(m_model->lastError()));
            tell(QString::fromLatin1(NoRecordsetMessage));
            return;
        }
        m_GridCaption->setText(QString::number(now->recordCount()));
    });
    box->open();
}
