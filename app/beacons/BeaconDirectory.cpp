#include "BeaconDirectory.h"

#include "CoreLog.h"
#include "Database.h"
#include "Locator.h"
#include "PathPanel.h"
#include "ProgramState.h"
#include "Recordset.h"
#include "RecordsetModel.h"
#include "Schema.h"
#include "SerialPort.h"
#include "Settings.h"
#include "ValueLabel.h"
#include "WidgetHelpers.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFocusEvent>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTableView>

namespace {

const char* const kNoRecordset = "No new Recorset available";

// The grid's column widths in twips (beacon, Locator, qrg, Equipment); 15 twips a pixel.
constexpr int kColumnTwips[] = {2000, 2000, 2000, 6000};
constexpr int kTwipsPerPixel = 15;

QPushButton* Button(const QString& name, const QString& caption, QWidget* parent) {
    auto* b = new QPushButton(caption, parent);
    b->setObjectName(name);
    b->setAccessibleName(caption);
    return b;
}

QLineEdit* Box(const QString& name, const QString& accessible, QWidget* parent) {
    auto* e = new QLineEdit(parent);
    e->setObjectName(name);
    e->setAccessibleName(accessible);
    return e;
}

bool IsEnter(const QKeyEvent* key) {
    return key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
}

} // namespace

BeaconPanel::BeaconPanel(QWidget* parent) : QWidget(parent) {
    setObjectName(QStringLiteral("BeaconPanel"));
    auto* layout = new QGridLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    auto* top = new QHBoxLayout;
    m_caption = new ValueLabel(QStringLiteral("DataGrid1Caption"), tr("Beacons listed"), this);
    m_search = Box(QStringLiteral("BeSearch"), tr("Search beacon"), this);
    m_search->setToolTip(tr("Beginning of a beacon callsign; Enter lists the beacons"));
    m_search->setPlaceholderText(tr("Search"));
    m_banCoun = Button(QStringLiteral("BanCoun"), QStringLiteral("dxcc"), this);
    m_banCoun->setCheckable(true);
    m_banCoun->setToolTip(tr("Pressed: the list is sorted by frequency, else by callsign"));
    m_beMon = Button(QStringLiteral("BeMon"), QStringLiteral("MyMonList"), this);
    m_beMon->setToolTip(tr("List only the beacons whose callsign holds /b"));
    m_bcn = Button(QStringLiteral("Bcn"), tr("All"), this);
    m_bcn->setToolTip(tr("List every beacon"));
    top->addWidget(new QLabel(tr("Beacons:"), this));
    top->addWidget(m_caption);
    top->addWidget(m_search, 1);
    top->addWidget(m_banCoun);
    top->addWidget(m_beMon);
    top->addWidget(m_bcn);
    layout->addLayout(top, 0, 0, 1, 8);

    m_grid = new QTableView(this);
    m_grid->setObjectName(QStringLiteral("DataGrid1"));
    m_grid->setAccessibleName(tr("Beacon list"));
    m_grid->setToolTip(tr("Enter tunes to the selected beacon and turns the antenna; Ctrl "
                          "opens the cluster window for a spot; Delete removes the beacon"));
    m_grid->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_grid->setVerticalScrollMode(QAbstractItemView::ScrollPerItem);
    m_grid->verticalHeader()->setDefaultSectionSize(m_grid->fontMetrics().height() + 6);
    layout->addWidget(m_grid, 1, 0, 1, 8);

    m_txtBeacon = Box(QStringLiteral("txtBeacon"), tr("Beacon callsign"), this);
    m_txtQrgB = Box(QStringLiteral("txtQrgB"), tr("Beacon frequency in kHz"), this);
    m_txtLocB = Box(QStringLiteral("txtLocB"), tr("Beacon locator"), this);
    m_txtComment = Box(QStringLiteral("txtComment"), tr("Beacon comment"), this);
    m_addNew = Button(QStringLiteral("CMDaddnew"), QStringLiteral("New"), this);
    m_addNew->setToolTip(tr("Start a new beacon on the selected band"));
    m_save = Button(QStringLiteral("CmdSave"), QStringLiteral("Save"), this);
    m_save->setToolTip(tr("Store the new beacon"));
    m_gd = Button(QStringLiteral("GD"), QStringLiteral("GD"), this);
    m_gd->setToolTip(tr("Write the Google Earth position and description of every listed "
                        "beacon"));
    layout->addWidget(m_txtBeacon, 2, 0);
    layout->addWidget(m_txtQrgB, 2, 1);
    layout->addWidget(m_txtLocB, 2, 2);
    layout->addWidget(m_txtComment, 2, 3, 1, 2);
    layout->addWidget(m_addNew, 2, 5);
    layout->addWidget(m_save, 2, 6);
    m_geb = Button(QStringLiteral("GEB"), QStringLiteral("GEB"), this);
    m_geb->setToolTip(tr("Write the listed beacons into earth.kml and open it"));
    layout->addWidget(m_gd, 2, 7);
    top->addWidget(m_geb);
}

BeaconDirectory::BeaconDirectory(BeaconPanel* panel, ProgramState& state, SettingsStore& settings,
                                 PathController* path, SerialPort* com2, BeaconHooks hooks,
                                 QObject* parent)
    : QObject(parent), m_panel(panel), m_state(state), m_settings(settings), m_path(path),
      m_com2(com2), m_hooks(std::move(hooks)), m_model(new RecordsetModel(this)) {
    if (!m_hooks.message)
        m_hooks.message = [this](const QString& text) {
            auto* box = new QMessageBox(QMessageBox::NoIcon, QCoreApplication::applicationName(),
                                        text, QMessageBox::Ok, m_panel);
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->open();
        };
    if (!m_hooks.ask)
        m_hooks.ask = [this](const QString& text, std::function<void(bool)> answer) {
            auto* box = new QMessageBox(QMessageBox::Question, QString(), text,
                                        QMessageBox::Yes | QMessageBox::No, m_panel);
            box->setObjectName(QStringLiteral("DeleteQuestion"));
            box->setAttribute(Qt::WA_DeleteOnClose);
            connect(box, &QMessageBox::finished, this,
                    [answer](int result) { answer(result == QMessageBox::Yes); });
            box->open();
        };

    // The GD button measures to the editor's locator box.
    m_path->setBeaconLocatorSource([this] { return m_panel->txtLocB()->text(); });
    // Rows go only through the question below.
    m_model->setDeleteConfirmation([] { return true; });
    m_panel->DataGrid1()->setModel(m_model);
    m_panel->DataGrid1()->installEventFilter(this);
    for (QLineEdit* box :
         {m_panel->txtBeacon(), m_panel->txtQrgB(), m_panel->txtLocB(), m_panel->txtComment()})
        box->installEventFilter(this);

    connect(m_panel->BeSearch(), &QLineEdit::returnPressed, this, &BeaconDirectory::LoadBeaconGrid);
    connect(m_panel->BanCoun(), &QPushButton::clicked, this, &BeaconDirectory::LoadBeaconGrid);
    connect(m_panel->Bcn(), &QPushButton::clicked, this, [this] {
        BeaconFilter.clear();
        LoadBeaconGrid();
    });
    connect(m_panel->BeMon(), &QPushButton::clicked, this, [this] {
        BeaconFilter = QStringLiteral("%/b%");
        LoadBeaconGrid();
        m_panel->DataGrid1()->viewport()->update();
    });
    connect(m_panel->CMDaddnew(), &QPushButton::clicked, this, &BeaconDirectory::AddNew);
    connect(m_panel->CmdSave(), &QPushButton::clicked, this, &BeaconDirectory::Save);
    connect(m_panel->GD(), &QPushButton::clicked, this, &BeaconDirectory::GoogleEarthData);
    // A double click picks a beacon as Enter does.
    connect(m_panel->DataGrid1(), &QTableView::doubleClicked, this,
            [this] { SelectBeacon(KeyEnter); });
}

BeaconDirectory::~BeaconDirectory() = default;

std::shared_ptr<Recordset> BeaconDirectory::gridRecordset() const {
    return m_model->recordset();
}

void BeaconDirectory::tell(const QString& text) {
    if (m_hooks.message)
        m_hooks.message(text);
}

void BeaconDirectory::setColumnWidths() {
    QTableView* grid = m_panel->DataGrid1();
    for (int i = 0; i < 4 && i < m_model->columnCount(); ++i)
        grid->setColumnWidth(i, kColumnTwips[i] / kTwipsPerPixel);
}

void BeaconDirectory::LoadBeaconGrid() {
    // While the delete question is open the grid keeps the rows it asked about; the load
    // follows the answer.
    if (m_questionOpen) {
        m_reloadPending = true;
        return;
    }
    // 1. A station without callsign or locator is set up first.
    if (m_state.ownLocator.isEmpty() || m_state.ownCallsign.isEmpty()) {
        if (m_hooks.openSettings)
            m_hooks.openSettings();
    }
    const QString connectionText = m_state.DbConnectionText;
    const QString path = ConnectionTextToPath(connectionText);
    auto fail = [&](const QString& why) {
        m_lastError = why;
        m_panel->caption()->setText(tr("not available"));
        // Every activation reloads: the same failure is told once, not each time.
        if (why != m_reportedError) {
            m_reportedError = why;
            tell(IsJetDatabase(path) ? JetDatabaseMessage(path)
                                     : tr("The station database cannot be read: %1").arg(why));
        }
        emit gridLoaded(-1);
    };
    // 2, 3. The schema check migrates tables still in the old layout.
    const SchemaCheck schema =
        CheckSchema(connectionText, BuildMigrationConnectionText(QFileInfo(path).absolutePath()));
    if (schema.logMigrated || schema.beaconMigrated)
        qInfo("Database tables brought to the new layout (log %d, beacons %d)",
              int(schema.logMigrated), int(schema.beaconMigrated));

    DbConnection db;
    if (!db.open(connectionText))
        return fail(db.lastError());
    auto rs = std::make_shared<Recordset>();
    // 4. The search text is a bound value: whatever is typed is searched for as typed.
    const QString search = m_panel->BeSearch()->text();
    bool opened;
    if (!search.isEmpty())
        opened = rs->open(QStringLiteral("SELECT beacon, Locator, qrg, Equipment  FROM "
                                         "PNT_beacon where beacon like ?"),
                          db, {search + QStringLiteral("%")});
    else
        opened =
            rs->open(QStringLiteral("SELECT beacon, Locator, qrg, Equipment FROM PNT_beacon"), db);
    if (!opened)
        return fail(rs->lastError());
    // 5, 6.
    rs->setSort(m_panel->BanCoun()->isChecked() ? QStringLiteral("qrg  asc ")
                                                : QStringLiteral("beacon  asc "));
    if (!BeaconFilter.isEmpty() &&
        !rs->setFilter(QStringLiteral(" beacon like '") + BeaconFilter + QStringLiteral("'")))
        return fail(rs->lastError());
    // 7. The grid keeps its row across reloads where it can, for the keyboard's sake.
    const int row = m_panel->DataGrid1()->currentIndex().row();
    const int column = qMax(0, m_panel->DataGrid1()->currentIndex().column());
    m_model->setRecordset(rs);
    setColumnWidths();
    const int count = rs->recordCount();
    m_panel->caption()->setText(QString::number(count));
    if (count > 0)
        m_panel->DataGrid1()->setCurrentIndex(m_model->index(qBound(0, row, count - 1), column));
    m_lastError.clear();
    m_reportedError.clear();
    emit gridLoaded(count);
}

QString BeaconDirectory::currentBeaconName() const {
    // The beacon of the current row, whichever of its cells has the focus: the selection is
    // meant for the row the user is on.
    const QModelIndex current = m_panel->DataGrid1()->currentIndex();
    if (!current.isValid())
        return {};
    auto rs = m_model->recordset();
    const int column = rs ? rs->fieldIndex(QStringLiteral("beacon")) : -1;
    const QModelIndex cell = column >= 0 ? m_model->index(current.row(), column) : current;
    return m_model->data(cell, Qt::DisplayRole).toString();
}

void BeaconDirectory::SelectBeacon(int keyCode) {
    using namespace Settings;
    // Each step goes on after a failing one, as far as it can.
    // 1.
    m_state.SelectedBeacon = currentBeaconName();
    // 2, 3.
    DbConnection db;
    Recordset rs;
    if (db.open(m_state.DbConnectionText) &&
        rs.open(QStringLiteral("SELECT * FROM PNT_beacon where beacon like ?"), db,
                {m_state.SelectedBeacon}) &&
        !rs.eof()) {
        m_path->setTargetLocator(DbValueText(rs.field(QStringLiteral("Locator"))));
        m_state.RigFreqText = DbValueText(rs.field(QStringLiteral("qrg")));
        // What a cluster spot of this beacon carries.
        m_state.SpotLocator = m_path->targetLocator();
        m_state.SpotFrequency = QStringLiteral(" ") + m_state.RigFreqText;
    } else {
        qWarning("Beacon %s not read: %s", qPrintable(m_state.SelectedBeacon),
                 qPrintable(rs.isOpen() ? QStringLiteral("no such row")
                                        : rs.lastError() + db.lastError()));
    }
    setColumnWidths();

    // 4.
    chooseBand(keyCode);

    // 5. The name a cluster spot uses.
    QString& name = m_state.SelectedBeacon;
    if (name.size() >= 2 && name.at(name.size() - 2) == QLatin1Char('-'))
        name.chop(2);
    if (!name.endsWith(QLatin1String("/B")))
        name += QStringLiteral("/B");
    // 6. Saved at once, as the cluster window reads the file's spot kind; a failed save is
    // retried when the program closes.
    m_settings[ClusterOption1] = SettingValue::number(3);
    if (!m_settings.SaveSettings())
        qCWarning(lcSettings, "Settings not saved: %s", qPrintable(m_settings.lastError()));

    // 7.
    if (keyCode == KeyEnter) {
        if (m_hooks.tuneRig)
            m_hooks.tuneRig();
        if (m_path->PathToTarget() && m_hooks.turnRotor)
            m_hooks.turnRotor();
        // 8.
        rs.close();
        if (m_hooks.resetMaxHold)
            m_hooks.resetMaxHold();
    } else if (keyCode == KeyCtrl) {
        if (m_hooks.openCluster)
            m_hooks.openCluster();
    }
}

void BeaconDirectory::chooseBand(int keyCode) {
    // The band from the frequency's length and first digits.
    const QString freq = m_state.RigFreqText;
    if (freq.size() == 5 || freq.size() == 6) {
        int index = 0;
        if (freq.startsWith(QLatin1String("50")))
            index = 1;
        else if (freq.startsWith(QLatin1String("144")))
            index = 2;
        else if (freq.startsWith(QLatin1String("432")))
            index = 3;
        if (index != 0) {
            m_state.RigFrequency = freq.toLongLong() * 100;
            if (m_hooks.selectDirectBand)
                m_hooks.selectDirectBand(index);
        }
        return;
    }
    if (m_com2)
        m_com2->write(freq.toLatin1());
    if (const int index = TransverterBandOf(freq); index != 0 && m_hooks.selectTransverterBand)
        m_hooks.selectTransverterBand(index);
    // The transverter takes the beacon on 144 MHz plus its kHz below 1 MHz.
    if (keyCode != KeyCtrl) {
        m_state.RigFreqText = QStringLiteral("144") + freq.right(3);
        m_state.RigFrequency = m_state.RigFreqText.toLongLong() * 100;
    }
}

bool BeaconDirectory::TuneToFrequency(const QString& khz) {
    if (!StationHasBand(khz))
        return false;
    m_state.RigFreqText = khz;
    chooseBand(KeyEnter);
    if (m_hooks.tuneRig)
        m_hooks.tuneRig();
    return true;
}

int TransverterBandOf(const QString& khz) {
    static const struct {
        const char* prefix;
        int index;
    } bands[] = {{"1296", 1},  {"2320", 2},  {"3400", 3},  {"5760", 4},  {"10368", 5},
                 {"24048", 6}, {"47088", 7}, {"76032", 8}, {"122250", 9}};
    for (const auto& band : bands)
        if (khz.startsWith(QLatin1String(band.prefix)))
            return band.index;
    return 0;
}

bool StationHasBand(const QString& khz) {
    if (khz.size() == 5 || khz.size() == 6)
        return khz.startsWith(QLatin1String("50")) || khz.startsWith(QLatin1String("144")) ||
               khz.startsWith(QLatin1String("432"));
    return TransverterBandOf(khz) != 0;
}

void BeaconDirectory::AddNew() {
    if (m_state.BandPattern.isEmpty()) {
        tell(QStringLiteral("Please select Band"));
        return;
    }
    m_panel->txtBeacon()->setFocus();
    m_panel->txtQrgB()->setText(m_state.BandPattern.left(m_state.BandPattern.size() - 1));
}

void BeaconDirectory::locatorCheck() {
    QLineEdit* box = m_panel->txtLocB();
    // An empty box lets the focus go: the user may leave the editor without a beacon.
    if (box->text().isEmpty())
        return;
    box->setText(box->text().toUpper());
    if (ValidateLocator(box->text())) {
        m_panel->txtComment()->setFocus();
    } else {
        tell(QString::fromLatin1(InvalidLocatorMessage));
        box->setFocus();
    }
}

bool BeaconDirectory::Save() {
    DbConnection db;
    Recordset rs;
    const RecordsetOptions appending{3, 1, 2, 1};
    const bool stored =
        db.open(m_state.DbConnectionText) &&
        rs.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db, {}, appending) && rs.addNew() &&
        rs.setField(QStringLiteral("beacon"), m_panel->txtBeacon()->text()) &&
        rs.setField(QStringLiteral("QRG"), m_panel->txtQrgB()->text()) &&
        rs.setField(QStringLiteral("Locator"), m_panel->txtLocB()->text()) &&
        rs.setField(QStringLiteral("equipment"), m_panel->txtComment()->text()) && rs.update();
    if (!stored) {
        // The boxes keep what was typed, so nothing is lost when the file is not writable.
        qWarning("Beacon not saved: %s", qPrintable(rs.lastError() + db.lastError()));
        tell(QString::fromLatin1(kNoRecordset));
        return false;
    }
    for (QLineEdit* box :
         {m_panel->txtBeacon(), m_panel->txtQrgB(), m_panel->txtLocB(), m_panel->txtComment()})
        box->setText(QString());
    rs.close();
    LoadBeaconGrid();
    return true;
}

void BeaconDirectory::DeleteCurrent() {
    const QModelIndex current = m_panel->DataGrid1()->currentIndex();
    if (!current.isValid() || !m_hooks.ask)
        return;
    auto rs = m_model->recordset();
    QPointer<BeaconDirectory> self(this);
    m_questionOpen = true;
    m_hooks.ask(QStringLiteral(" Delete Recordset ?"), [self, rs, row = current.row()](bool yes) {
        if (!self)
            return;
        self->m_questionOpen = false;
        if (yes && self->m_model->recordset() == rs) {
            if (!self->m_model->removeRows(row, 1))
                self->tell(self->m_model->lastError());
            else
                self->m_panel->caption()->setText(QString::number(rs->recordCount()));
        }
        if (self->m_reloadPending) {
            self->m_reloadPending = false;
            self->LoadBeaconGrid();
        }
    });
}

void BeaconDirectory::GoogleEarthData() {
    DbConnection db;
    Recordset rs;
    QLineEdit* txtLocB = m_panel->txtLocB();
    bool ok = db.open(m_state.DbConnectionText) &&
              rs.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db) &&
              (BeaconFilter.isEmpty() ||
               rs.setFilter(QStringLiteral(" beacon like '") + BeaconFilter + QStringLiteral("'")));
    // One transaction: a long list is written in one go; rows done before a failure stay.
    const bool inTransaction = ok && db.beginTransaction();
    while (ok && !rs.eof()) {
        txtLocB->setText(DbValueText(rs.field(QStringLiteral("Locator"))));
        QString name = DbValueText(rs.field(QStringLiteral("beacon")));
        const QString qrg = DbValueText(rs.field(QStringLiteral("qrg")));
        const QString comment = DbValueText(rs.field(QStringLiteral("Equipment")));
        m_path->UseBeaconLocator = true;
        m_path->PathToTarget();
        if (name.size() >= 2 && name.at(name.size() - 2) == QLatin1Char('-'))
            name.chop(qMin<qsizetype>(4, name.size()));
        else if (name.size() >= 2 && name.at(name.size() - 2) == QLatin1Char('/'))
            name.chop(2);
        const QString description = QStringLiteral("Beacon:") + name + QStringLiteral(" QRG: ") +
                                    qrg + QStringLiteral(" kHz ") + QStringLiteral(" LOC:") +
                                    txtLocB->text() + QStringLiteral(" Comment:") + comment +
                                    QStringLiteral(" ");
        ok = rs.setField(QStringLiteral("GEdata"), description) &&
             rs.setField(QStringLiteral("GEgridXY"), m_state.LastLonLatText) && rs.update();
        txtLocB->setText(QString());
        m_state.LastLonLatText.clear();
        if (ok)
            ok = rs.moveNext();
    }
    if (inTransaction && !db.commit())
        ok = false;
    if (!ok) {
        qWarning("Google Earth data: %s", qPrintable(rs.lastError() + db.lastError()));
        tell(QString::fromLatin1(kNoRecordset));
        return;
    }
    tell(QStringLiteral(" ") + QString::number(rs.recordCount()) +
         QStringLiteral(" Dataset from Eurowinlog backup.mdB imported"));
    rs.close();
}

bool BeaconDirectory::eventFilter(QObject* watched, QEvent* event) {
    QTableView* grid = m_panel->DataGrid1();
    if (watched == grid && event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (IsEnter(key)) {
            SelectBeacon(KeyEnter);
            return true;
        }
        if (key->key() == Qt::Key_Control) {
            SelectBeacon(KeyCtrl);
            return true;
        }
        if (key->key() == Qt::Key_Delete) {
            DeleteCurrent();
            return true;
        }
    } else if (watched == grid && event->type() == QEvent::KeyRelease) {
        // Any other key selects the row it moved to, without tuning.
        auto* key = static_cast<QKeyEvent*>(event);
        if (!key->isAutoRepeat() && !IsEnter(key) && key->key() != Qt::Key_Control &&
            key->key() != Qt::Key_Delete && key->key() != Qt::Key_Tab &&
            key->key() != Qt::Key_Backtab && grid->currentIndex().isValid())
            SelectBeacon(key->key());
    } else if (event->type() == QEvent::KeyPress) {
        auto* key = static_cast<QKeyEvent*>(event);
        if (watched == m_panel->txtComment()) {
            if (m_panel->txtComment()->text().isEmpty())
                m_panel->txtComment()->setText(QStringLiteral(" "));
            if (IsEnter(key)) {
                m_panel->CmdSave()->setFocus();
                return true;
            }
        } else if (IsEnter(key)) {
            if (watched == m_panel->txtBeacon()) {
                m_panel->txtQrgB()->setFocus();
                return true;
            }
            if (watched == m_panel->txtQrgB()) {
                m_panel->txtLocB()->setFocus();
                return true;
            }
            if (watched == m_panel->txtLocB()) {
                m_panel->txtComment()->setFocus();
                return true;
            }
        }
    } else if (event->type() == QEvent::FocusOut && watched == m_panel->txtLocB()) {
        // Only a move inside the window is checked: switching to another program or a menu
        // must not pull the focus back.
        const auto reason = static_cast<QFocusEvent*>(event)->reason();
        if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason &&
            reason != Qt::MenuBarFocusReason)
            locatorCheck();
    }
    return QObject::eventFilter(watched, event);
}
