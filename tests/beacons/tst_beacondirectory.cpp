#include "BeaconDirectory.h"
#include "Database.h"
#include "PathPanel.h"
#include "ProgramState.h"
#include "Recordset.h"
#include "Settings.h"
#include "TestSupport.h"
#include "ValueLabel.h"

#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTableView>
#include <QTest>

namespace {

// The station around the directory: what the hooks were asked to do.
struct Station {
    ProgramState state;
    SettingsStore settings;
    PathPanel pathPanel;
    QLineEdit heading;
    PathController path{&pathPanel, state, &heading};
    BeaconPanel panel;
    FakeSerialPort com2;
    QStringList calls;
    QStringList messages;
    bool answer = false;
    std::function<void(bool)> pending; // a question left open, when deferring
    bool defer = false;
    std::unique_ptr<BeaconDirectory> directory;

    explicit Station(const QString& folder) {
        state.ownCallsign = QStringLiteral("DL1TST");
        state.ownLocator = QStringLiteral("JO62QM");
        state.DbConnectionText = BuildConnectionText(folder);
        com2.setPort(QStringLiteral("/dev/fake"));
        com2.open();
        path.setMessageSink([this](const QString& m) { messages << m; });
        BeaconHooks hooks;
        hooks.openSettings = [this] { calls << QStringLiteral("settings"); };
        hooks.selectDirectBand = [this](int i) { calls << QStringLiteral("V%1").arg(i); };
        hooks.selectTransverterBand = [this](int i) { calls << QStringLiteral("R%1").arg(i); };
        hooks.tuneRig = [this] { calls << QStringLiteral("tune ") + state.RigFreqText; };
        hooks.turnRotor = [this] { calls << QStringLiteral("rotor ") + heading.text(); };
        hooks.openCluster = [this] { calls << QStringLiteral("cluster ") + state.SelectedBeacon; };
        hooks.resetMaxHold = [this] { calls << QStringLiteral("maxhold"); };
        hooks.message = [this](const QString& m) { messages << m; };
        hooks.ask = [this](const QString& q, std::function<void(bool)> a) {
            messages << q;
            if (defer)
                pending = a;
            else
                a(answer);
        };
        directory = std::make_unique<BeaconDirectory>(&panel, state, settings, &path, &com2,
                                                      std::move(hooks));
    }
    QStringList names() const {
        QStringList out;
        auto* model = panel.DataGrid1()->model();
        for (int r = 0; r < model->rowCount(); ++r)
            out << model->index(r, 0).data().toString();
        return out;
    }
    void selectRow(const QString& name) {
        auto* model = panel.DataGrid1()->model();
        for (int r = 0; r < model->rowCount(); ++r)
            if (model->index(r, 0).data().toString() == name)
                panel.DataGrid1()->setCurrentIndex(model->index(r, 2)); // any cell of the row
    }
};

void Exec(const QString& folder, const QString& statement) {
    DbConnection db;
    QVERIFY(db.open(BuildConnectionText(folder)));
    QVERIFY2(db.execute(statement), qPrintable(db.lastError()));
}

void AddBeacon(const QString& folder, const QString& name, const QString& locator, double qrg,
               const QString& comment = QString()) {
    DbConnection db;
    Recordset rs;
    QVERIFY(db.open(BuildConnectionText(folder)));
    QVERIFY(rs.open(QStringLiteral("SELECT * FROM PNT_Beacon"), db));
    QVERIFY(rs.addNew());
    rs.setField(QStringLiteral("beacon"), name);
    rs.setField(QStringLiteral("Locator"), locator);
    rs.setField(QStringLiteral("qrg"), qrg);
    rs.setField(QStringLiteral("Equipment"), comment);
    QVERIFY2(rs.update(), qPrintable(rs.lastError()));
}

int FieldCount(const QString& folder, const QString& table) {
    DbConnection db;
    Recordset rs;
    if (!db.open(BuildConnectionText(folder)) ||
        !rs.open(QStringLiteral("SELECT * FROM ") + table, db))
        return -1;
    return rs.fieldCount();
}

} // namespace

class BeaconDirectoryTest : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { EnsureApplication(); }

    // Search, sort, monitor filter, record count, the editor and deleting.
    void gridListsSearchesSortsAndEdits() {
        ScratchDir dir;
        QVERIFY(EnsureDatabase(dir.file(QStringLiteral("backup.mdb"))));
        AddBeacon(dir.path(), QStringLiteral("Q0'A/B"), QStringLiteral("JO31NF"), 10368850);
        AddBeacon(dir.path(), QStringLiteral("DB0ABC/b"), QStringLiteral("JO50VJ"), 1296900);
        AddBeacon(dir.path(), QStringLiteral("OK0EA"), QStringLiteral("JO60JJ"), 144410);
        AddBeacon(dir.path(), QStringLiteral("XQ0B/B"), QStringLiteral("JO62QM"), 432920);
        Station s(dir.path());
        s.directory->LoadBeaconGrid();
        QVERIFY(s.calls.isEmpty());
        QCOMPARE(s.panel.caption()->text(), QStringLiteral("4"));
        QCOMPARE(s.names(), (QStringList{"DB0ABC/b", "OK0EA", "Q0'A/B", "XQ0B/B"}));
        QCOMPARE(s.panel.DataGrid1()->columnWidth(3), 400);

        // The search text begins the name: Q0 finds Q0'A/B, not XQ0B/B; a quote is just a quote.
        for (const char* search : {"Q0", "q0'", "Q0'A"}) {
            s.panel.BeSearch()->setText(QString::fromLatin1(search));
            QTest::keyClick(s.panel.BeSearch(), Qt::Key_Return);
            QCOMPARE(s.names(), QStringList{"Q0'A/B"});
        }
        s.panel.BeSearch()->setText(QStringLiteral("%' OR 1=1 --"));
        s.directory->LoadBeaconGrid();
        QCOMPARE(s.panel.caption()->text(), QStringLiteral("0"));
        s.panel.BeSearch()->clear();

        s.panel.BanCoun()->click(); // pressed: by frequency
        QCOMPARE(s.names(), (QStringList{"OK0EA", "XQ0B/B", "DB0ABC/b", "Q0'A/B"}));
        s.panel.BeMon()->click();
        QCOMPARE(s.directory->BeaconFilter, QStringLiteral("%/b%"));
        QCOMPARE(s.names(), (QStringList{"XQ0B/B", "DB0ABC/b", "Q0'A/B"}));
        s.panel.Bcn()->click();
        QCOMPARE(s.panel.caption()->text(), QStringLiteral("4"));

        // New needs a band; with one the frequency starts with its MHz digits.
        s.directory->AddNew();
        QCOMPARE(s.messages.takeLast(), QStringLiteral("Please select Band"));
        s.state.BandPattern = QStringLiteral("10368%");
        s.directory->AddNew();
        QCOMPARE(s.panel.txtQrgB()->text(), QStringLiteral("10368"));
        s.panel.txtBeacon()->setText(QStringLiteral("DB0NEW/B"));
        s.panel.txtQrgB()->setText(QStringLiteral("10368123"));
        s.panel.txtLocB()->setText(QStringLiteral("JO62PL"));
        QTest::keyClick(s.panel.txtComment(), Qt::Key_Return); // a key in the empty box
        QCOMPARE(s.panel.txtComment()->text(), QStringLiteral(" "));

        // A save that cannot be stored says so and keeps what was typed.
        const QString file = dir.file(QStringLiteral("backup.mdb"));
        QVERIFY(QFile::rename(file, file + QStringLiteral(".away")));
        QVERIFY(!s.directory->Save());
        QCOMPARE(s.messages.takeLast(), QStringLiteral("No new Recorset available"));
        QCOMPARE(s.panel.txtBeacon()->text(), QStringLiteral("DB0NEW/B"));
        QVERIFY(QFile::rename(file + QStringLiteral(".away"), file));
        QVERIFY(s.directory->Save());
        QVERIFY(s.panel.txtBeacon()->text().isEmpty() && s.panel.txtComment()->text().isEmpty());
        QCOMPARE(s.panel.caption()->text(), QStringLiteral("5"));
        {
            DbConnection db;
            Recordset rs;
            QVERIFY(db.open(s.state.DbConnectionText));
            QVERIFY(rs.open(QStringLiteral("SELECT * FROM PNT_Beacon WHERE beacon = ?"), db,
                            {QStringLiteral("DB0NEW/B")}));
            QCOMPARE(rs.field(QStringLiteral("Equipment")).toString(), QStringLiteral(" "));
            QCOMPARE(DbValueText(rs.field(QStringLiteral("qrg"))), QStringLiteral("10368123"));
        }

        // Delete asks; No keeps the row, Yes removes it.
        s.selectRow(QStringLiteral("OK0EA"));
        QTest::keyClick(s.panel.DataGrid1(), Qt::Key_Delete);
        QCOMPARE(s.messages.takeLast(), QStringLiteral(" Delete Recordset ?"));
        QCOMPARE(s.panel.caption()->text(), QStringLiteral("5"));
        s.answer = true;
        QTest::keyClick(s.panel.DataGrid1(), Qt::Key_Delete);
        QCOMPARE(s.panel.caption()->text(), QStringLiteral("4"));
        s.directory->LoadBeaconGrid();
        QVERIFY(!s.names().contains(QStringLiteral("OK0EA")));
        // A reload while the question is open (the window is activated again) waits for it.
        s.defer = true;
        s.selectRow(QStringLiteral("XQ0B/B"));
        QTest::keyClick(s.panel.DataGrid1(), Qt::Key_Delete);
        s.directory->LoadBeaconGrid();
        QVERIFY(s.pending);
        s.pending(true);
        QVERIFY(!s.names().contains(QStringLiteral("XQ0B/B")));
        QCOMPARE(s.panel.caption()->text(), QStringLiteral("3"));
        s.defer = false;

        // A locator left invalid is refused with the check's message; an empty one lets go.
        s.panel.show();
        s.panel.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&s.panel));
        s.panel.txtLocB()->setFocus();
        s.panel.txtLocB()->setText(QStringLiteral("jo62"));
        s.panel.txtBeacon()->setFocus();
        QCOMPARE(s.panel.txtLocB()->text(), QStringLiteral("JO62"));
        s.panel.txtLocB()->setText(QStringLiteral("XX"));
        s.panel.txtLocB()->setFocus();
        s.panel.txtBeacon()->setFocus();
        QCOMPARE(s.messages.takeLast(), QStringLiteral("Invalid Gridlocator:"));

        // A station without callsign is sent to the settings first.
        s.state.ownCallsign.clear();
        s.directory->LoadBeaconGrid();
        QCOMPARE(s.calls, QStringList{"settings"});
    }

    // The grid's keys: the band from the frequency, Com2 for microwave beacons, the name for a
    // spot, and Enter tunes, computes the path and turns the antenna.
    void selectionChoosesBandTunesAndTurns() {
        ScratchDir dir;
        QVERIFY(EnsureDatabase(dir.file(QStringLiteral("backup.mdb"))));
        AddBeacon(dir.path(), QStringLiteral("DB0AAA/B-1"), QStringLiteral("JO31NF"), 10368850);
        AddBeacon(dir.path(), QStringLiteral("OK0EA"), QStringLiteral("JO60JJ"), 144410);
        AddBeacon(dir.path(), QStringLiteral("DB0BBB/B"), QStringLiteral("JO50VJ"), 1296900);
        AddBeacon(dir.path(), QStringLiteral("DB0CCC/B"), QStringLiteral("JO50VJ"), 12345);
        Station s(dir.path());
        s.directory->LoadBeaconGrid();

        s.selectRow(QStringLiteral("DB0AAA/B-1"));
        QTest::keyClick(s.panel.DataGrid1(), Qt::Key_Return);
        QCOMPARE(s.com2.written, QByteArray("10368850"));
        QCOMPARE(s.pathPanel.Locator()->text(), QStringLiteral("JO31NF"));
        QCOMPARE(s.state.RigFreqText, QStringLiteral("144850"));
        QCOMPARE(s.state.RigFrequency, 14485000);
        QCOMPARE(s.state.SelectedBeacon, QStringLiteral("DB0AAA/B"));
        QCOMPARE(s.state.SpotLocator, QStringLiteral("JO31NF"));
        QCOMPARE(s.state.SpotFrequency, QStringLiteral(" 10368850"));
        QCOMPARE(s.settings[Settings::ClusterOption1].toInt(0), 3);
        {
            SettingsStore file(s.settings.path());
            QCOMPARE(file.LoadSettings(), SettingsLoad::Read);
            QCOMPARE(file[Settings::ClusterOption1].toInt(0), 3);
        }
        QCOMPARE(s.calls, (QStringList{"R5", "tune 144850", "rotor 253", "maxhold"}));
        QVERIFY(s.pathPanel.Richtung()->text().contains(QStringLiteral("JO31NF")));

        // Ctrl keeps the beacon's own frequency and opens the cluster for a spot.
        s.calls.clear();
        s.com2.written.clear();
        s.selectRow(QStringLiteral("DB0BBB/B"));
        QTest::keyClick(s.panel.DataGrid1(), Qt::Key_Control);
        QCOMPARE(s.com2.written, QByteArray("1296900"));
        QCOMPARE(s.state.RigFreqText, QStringLiteral("1296900"));
        QCOMPARE(s.calls, (QStringList{"R1", "cluster DB0BBB/B"}));

        // A 144 MHz beacon takes the direct band with its own frequency; nothing on Com2.
        s.calls.clear();
        s.com2.written.clear();
        s.selectRow(QStringLiteral("OK0EA"));
        QTest::keyClick(s.panel.DataGrid1(), Qt::Key_Return);
        QCOMPARE(s.state.RigFrequency, 14441000);
        QCOMPARE(s.state.SelectedBeacon, QStringLiteral("OK0EA/B"));
        QCOMPARE(s.calls.value(0), QStringLiteral("V2"));
        QCOMPARE(s.calls.value(1), QStringLiteral("tune 144410"));
        QVERIFY(s.com2.written.isEmpty());

        // Another key selects without tuning; five digits of no band choose none.
        s.calls.clear();
        s.selectRow(QStringLiteral("DB0CCC/B"));
        QTest::keyClick(s.panel.DataGrid1(), Qt::Key_Up);
        QTest::keyClick(s.panel.DataGrid1(), Qt::Key_Down);
        QCOMPARE(s.state.SelectedBeacon, QStringLiteral("DB0CCC/B"));
        QCOMPARE(s.state.RigFreqText, QStringLiteral("12345"));
        QCOMPARE(s.calls, QStringList{"R1"}); // only the key up onto DB0BBB/B chose a band

        // A cluster spot tunes as Enter on a beacon would, on the station's bands only.
        s.calls.clear();
        s.com2.written.clear();
        QVERIFY(s.directory->TuneToFrequency(QStringLiteral("10368100")));
        QCOMPARE(s.com2.written, QByteArray("10368100"));
        QCOMPARE(s.calls, (QStringList{"R5", "tune 144100"}));
        QVERIFY(s.directory->TuneToFrequency(QStringLiteral("432200")));
        QCOMPARE(s.calls.mid(2), (QStringList{"V3", "tune 432200"}));
        for (const char* other : {"14074", "7050", "28400", "1000000"})
            QVERIFY2(!s.directory->TuneToFrequency(QString::fromLatin1(other)), other);
        QCOMPARE(s.calls.size(), 4);
    }

    // Old-layout tables with rows get the new columns at the next grid load, empty ones keep
    // theirs; the GD button writes each listed beacon's description and position.
    void gridLoadMigratesAndGoogleEarthDataIsWritten() {
        ScratchDir dir;
        QVERIFY(EnsureDatabase(dir.file(QStringLiteral("backup.mdb"))));
        QStringList oldLog = DbLogColumns().mid(0, 31);
        Exec(dir.path(), QStringLiteral("DROP TABLE logtab"));
        Exec(dir.path(), QStringLiteral("CREATE TABLE logtab (\"%1\")").arg(oldLog.join("\", \"")));
        Exec(dir.path(), QStringLiteral("DROP TABLE PNT_Beacon"));
        Exec(dir.path(), QStringLiteral("CREATE TABLE PNT_Beacon (ID INTEGER PRIMARY KEY, beacon "
                                        "text(30), qrg DOUBLE, Locator text(10), Equipment "
                                        "text(250), Status text(20), XCoord DOUBLE, YCoord "
                                        "DOUBLE)"));
        Station s(dir.path());
        s.directory->LoadBeaconGrid();
        QCOMPARE(FieldCount(dir.path(), QStringLiteral("logtab")), 31);
        QCOMPARE(FieldCount(dir.path(), QStringLiteral("PNT_Beacon")), 8);

        Exec(dir.path(), QStringLiteral("INSERT INTO logtab (Callsign) VALUES ('OK1AA')"));
        Exec(dir.path(), QStringLiteral("INSERT INTO PNT_Beacon (beacon, qrg, Locator, Equipment)"
                                        " VALUES ('DB0GE/B-1', 10368850, 'JO31NF', 'dish')"));
        Exec(dir.path(), QStringLiteral("INSERT INTO PNT_Beacon (beacon, qrg, Locator, Equipment)"
                                        " VALUES ('OK0BAD/B', 1296900, 'ZZ99', 'x')"));
        s.directory->LoadBeaconGrid();
        QCOMPARE(FieldCount(dir.path(), QStringLiteral("logtab")), 34);
        QCOMPARE(FieldCount(dir.path(), QStringLiteral("PNT_Beacon")), 9);
        QCOMPARE(s.panel.caption()->text(), QStringLiteral("2"));

        s.directory->GoogleEarthData();
        QCOMPARE(s.messages.takeLast(),
                 QStringLiteral(" 2 Dataset from Eurowinlog backup.mdB imported"));
        QCOMPARE(s.messages.takeLast(), QStringLiteral("Invalid Gridlocator:"));
        DbConnection db;
        Recordset rs;
        QVERIFY(db.open(s.state.DbConnectionText));
        QVERIFY(rs.open(QStringLiteral("SELECT beacon, GEdata, GEgridXY FROM PNT_Beacon"), db));
        rs.setSort(QStringLiteral("beacon"));
        QCOMPARE(rs.field(1).toString(),
                 QStringLiteral("Beacon:DB0GE QRG: 10368850 kHz  LOC:JO31NF Comment:dish "));
        QCOMPARE(rs.field(2).toString(), QStringLiteral("7.08333333333333,51.2083333333333"));
        rs.moveNext();
        // The invalid locator's row gets the home position, the last one measured.
        QCOMPARE(rs.field(1).toString(),
                 QStringLiteral("Beacon:OK0BAD QRG: 1296900 kHz  LOC:ZZ99 Comment:x "));
        QCOMPARE(rs.field(2).toString(), QStringLiteral("13.3333333333333,52.5"));
        QVERIFY(s.state.LastLonLatText.isEmpty());
    }
};

QTEST_MAIN(BeaconDirectoryTest)
#include "tst_beacondirectory.moc"
