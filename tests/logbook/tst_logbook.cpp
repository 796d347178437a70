// The logbook against a real SQLite log on disk: a QSO's position, outline and description,
// the band filters, the country lookup, the four counts and the band refresh; then the real
// window offscreen: New, the key chain, Save (also into a vanished, locked and read-only log),
// search, delete after the question, refresh and the settings written at close.

#include "Clock.h"
#include "Database.h"
#include "FakeBoard.h"
#include "Locator.h"
#include "LogDatabase.h"
#include "LogGeoRefresh.h"
#include "LogbookWindow.h"
#include "OptionGroup.h"
#include "ProgramState.h"
#include "Recordset.h"
#include "Settings.h"
#include "TestStation.h"
#include "TestSupport.h"
#include "ValueLabel.h"

#include <QApplication>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTableView>
#include <QTest>

#include <unistd.h>

namespace {

const QString kJO62 =
    QStringLiteral("12.0,52.0,2000 14.0,52.0,2000 14.0,53.0,2000 12.0,53.0,2000 12.0,52.0,2000 ");
const QString kIO91 =
    QStringLiteral("-2.0,51.0,2000 0.0,51.0,2000 0.0,52.0,2000 -2.0,52.0,2000 -2.0,51.0,2000 ");
const QString kHome = QStringLiteral("13.3333333333333,52.5"); // JO62QM

// A log with QSOs on 10 GHz (squares JO62 twice, IO91, a null and an empty grid), 30 m (exactly
// 10140 and a 101400 that the exact pattern must not take), 2 m, and a country table.
void SeedLog(const QString& connectionText) {
    DbConnection db;
    QVERIFY(db.open(connectionText));
    QVERIFY(db.execute(QStringLiteral(
        "INSERT INTO logtab (Date, GMT, Callsign, Band, Grid, QSL, DXCC, rsts, rstr, mode, Prop, "
        "Comment, GEpoly) VALUES "
        "('2024-05-12','21:05:00','DL1AAA','10368100','JO62','N','Germany','59','57','SSB','Tr',"
        "'first','old'),"
        "('2024-05-13','10:00:00','DL2BBB','10368200','JO62QM','Q','Germany','59','59','SSB','Tr',"
        "'','old'),"
        "('2024-05-14','11:00:00','G4CCC','10368050','IO91WM','N','England','599','579','CW',"
        "'Rs','rain','old'),"
        "('2024-05-15','12:00:00','OK1DDD','10368300',NULL,'Q','Czech','59','59','SSB','Tr','',"
        "'old'),"
        "('2024-05-16','13:00:00','OK2EEE','10368400','','N','Czech','59','59','SSB','Tr','',"
        "'old'),"
        "('2024-05-17','14:00:00','Q1AA','10368000','JN79AA','N','Q land','59','59','SSB','Tr',"
        "'','old'),"
        "('2024-05-18','15:00:00','XQ1BB','10368000','JN69AA','N','X land','59','59','SSB','Tr',"
        "'','old'),"
        "('2024-05-19','16:00:00','F5FFF','10140','JN79','Q','France','599','599','CW','Tr','',"
        "'old'),"
        "('2024-05-20','17:00:00','F6GGG','101400','JN89','Q','France','599','599','CW','Tr','',"
        "'old'),"
        "('2024-05-21','18:00:00','Q1CC','144300','JO62','Q','Q land','59','59','SSB','Tr','',"
        "'old')")));
    QVERIFY(db.execute(QStringLiteral(
        "INSERT INTO dxccdata (dxcccode, Country) VALUES ('DL%','Germany'), "
        "('DL1%','Germany special'), ('G%','England'), ('Q0''%','Quote land'), ('F*','France')")));
}

QVariantList Column(const QString& connectionText, const QString& statement,
                    const QVariantList& params = {}) {
    DbConnection db;
    Recordset rs;
    QVariantList out;
    if (!db.open(connectionText) || !rs.open(statement, db, params))
        return {QStringLiteral("cannot read: ") + rs.lastError() + db.lastError()};
    for (rs.moveFirst(); !rs.eof(); rs.moveNext())
        out << rs.field(0);
    return out;
}

QString One(const QString& connectionText, const QString& column, const QString& callsign) {
    return DbValueText(
        Column(connectionText,
               QStringLiteral("SELECT %1 FROM logtab WHERE Callsign = ?").arg(column), {callsign})
            .value(0));
}

int Rows(const QString& connectionText) {
    return Column(connectionText, QStringLiteral("SELECT Callsign FROM logtab")).size();
}

// What main() builds, with the data folder in the scratch folder.
struct Station : TestStation {
    explicit Station(const QString& folder) : TestStation(folder) {}
};

} // namespace

class LogbookTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { EnsureApplication(); }

    void logOperationsOnASeededLog() {
        ScratchDir dir;
        StationDatabase database(dir.path());
        QVERIFY(database.ensure());
        const QString text = database.connectionText();
        SeedLog(text);

        // Position, outline, distance and heading of a QSO.
        LogGeo geo = ComputeLogGeo(QStringLiteral("JO62QM"), QStringLiteral("JO62"));
        QCOMPARE(geo.homeLonLat, kHome);
        QCOMPARE(geo.lastLonLat, QStringLiteral("12.5833333333333,52.2916666666667"));
        QCOMPARE(geo.polygon, kJO62);
        QCOMPARE(ComputeLogGeo(QStringLiteral("jo62"), QStringLiteral("jo62qm")).polygon, kJO62);
        geo = ComputeLogGeo(QStringLiteral("JO62QM"), QStringLiteral("JO31NF"));
        QCOMPARE(geo.qrb, 452);
        QCOMPARE(geo.qtf, 253);
        geo = ComputeLogGeo(QStringLiteral("JO62QM"), QStringLiteral("io91wm"));
        QCOMPARE(geo.polygon, kIO91);
        QCOMPARE(geo.qrb, 930);
        QCOMPARE(geo.qtf, 268);
        for (const QString& bad : {QStringLiteral("SO62"), QStringLiteral("JO62Q"), QString()}) {
            geo = ComputeLogGeo(QStringLiteral("JO62QM"), bad);
            QVERIFY(!geo.targetValid);
            QCOMPARE(geo.lastLonLat, kHome); // the home position stands
            QCOMPARE(geo.polygon, QString());
            QCOMPARE(geo.qrb, 0);
        }
        geo = ComputeLogGeo(QString(), QStringLiteral("JO62QM")); // no home: no distance
        QVERIFY(!geo.homeValid);
        QCOMPARE(geo.lastLonLat, kHome);
        QCOMPARE(geo.qrb, 0);

        QsoFields q;
        q.date = QStringLiteral("2024-05-12");
        q.gmt = QStringLiteral("21:05:00");
        q.callsign = QStringLiteral("DL1AAA");
        q.band = QStringLiteral("10368100");
        q.rsts = QStringLiteral("59");
        q.rstr = QStringLiteral("57");
        q.qrb = 17;
        q.qtf = 200;
        q.qsl = QStringLiteral("N");
        q.prop = QStringLiteral("Tr");
        q.comment = QStringLiteral("first");
        QCOMPARE(QsoDescription(q), QStringLiteral("Log: DL1AAA 10368100 kHz  12.05.2024 21:05 "
                                                   "rsts:59 rstr:57 QRB:17km  QTF:200 QSL: N "
                                                   "Prop:Tr first"));

        // Band patterns: 10 GHz by prefix, 30 m exactly, the last option every band.
        QCOMPARE(LogBandPattern(16), QStringLiteral("10368%"));
        QCOMPARE(LogBandPattern(3), QStringLiteral("10140"));
        QCOMPARE(LogBandPattern(21), QString());
        QCOMPARE(BandDigits(LogBandPattern(16)), QStringLiteral("10368"));
        QCOMPARE(BandDigits(LogBandPattern(3)), QStringLiteral("10140"));
        auto grid = LoadLogGrid(text, LogBandPattern(16));
        QVERIFY(grid);
        QCOMPARE(grid->recordCount(), 7);
        QCOMPARE(DbValueText(grid->valueAt(0, grid->fieldIndex(QStringLiteral("Callsign")))),
                 QStringLiteral("XQ1BB"));
        QCOMPARE(LoadLogGrid(text, LogBandPattern(3))->recordCount(), 1);
        QCOMPARE(LoadLogGrid(text, LogBandPattern(21))->recordCount(), 10);

        // Country lookup: bound callsign, the last matching row wins, "*" rewritten to "%".
        QCOMPARE(LookupDxcc(text, QStringLiteral("DL1AAA")).country,
                 QStringLiteral("Germany special"));
        QCOMPARE(LookupDxcc(text, QStringLiteral("DL2BBB")).country, QStringLiteral("Germany"));
        QCOMPARE(LookupDxcc(text, QStringLiteral("Q0'A")).country, QStringLiteral("Quote land"));
        DxccLookup none = LookupDxcc(text, QStringLiteral("' or 1=1 --"));
        QVERIFY(none.ok);
        QVERIFY(!none.matched);
        QVERIFY(!LookupDxcc(text, QStringLiteral("F5ABC")).matched);
        QCOMPARE(NormaliseDxccPatterns(text), 1);
        QCOMPARE(NormaliseDxccPatterns(text), 0);
        QCOMPARE(LookupDxcc(text, QStringLiteral("F5ABC")).country, QStringLiteral("France"));

        // Counts of 10 GHz: JO62 and JO62QM are one square; null and empty grids do not count.
        const QString band = LogBandPattern(16);
        QCOMPARE(CountConfirmedSquares(text, band), 1);
        QCOMPARE(CountWorkedDxcc(text, band), 5);
        QCOMPARE(CountConfirmedDxcc(text, band), 2);
        QCOMPARE(CountConfirmedDxcc(text, LogBandPattern(3)), 1);
        QCOMPARE(CountWorkedDxcc(text, QString()), 6);

        // The 10 GHz refresh in chunks of two: every QSO with a grid, then the squares.
        LogGeoRefresh refresh;
        refresh.setChunkSize(2);
        QSignalSpy done(&refresh, &LogGeoRefresh::finished);
        QSignalSpy progress(&refresh, &LogGeoRefresh::progress);
        QVERIFY(refresh.start(text, band, QStringLiteral("JO62QM")));
        QVERIFY(!refresh.start(text, band, QStringLiteral("JO62QM")));
        QVERIFY(WaitFor([&] { return done.count() == 1; }));
        auto result = done.takeFirst().at(0).value<LogGeoRefresh::Result>();
        QVERIFY(result.ok);
        QCOMPARE(result.recordCount, 7);
        QCOMPARE(result.updated, 6); // the null grid is skipped
        QCOMPARE(result.squares, 4); // IO91 JN69 JN79 JO62
        QVERIFY(progress.count() >= 4);
        QCOMPARE(One(text, QStringLiteral("GEdata"), QStringLiteral("G4CCC")),
                 QStringLiteral("Log: G4CCC 10368050 kHz  14.05.2024 11:00 rsts:599 rstr:579 "
                                "QRB:930km  QTF:268 QSL: N Prop:Rs rain"));
        QCOMPARE(One(text, QStringLiteral("GEgridXY"), QStringLiteral("G4CCC")),
                 QStringLiteral("-0.166666666666667,51.5"));
        QCOMPARE(One(text, QStringLiteral("GEgridXY"), QStringLiteral("OK2EEE")), kHome);
        QCOMPARE(One(text, QStringLiteral("GEdata"), QStringLiteral("OK1DDD")), QString());
        QCOMPARE(One(text, QStringLiteral("GEdata"), QStringLiteral("Q1CC")), QString());
        // Exactly the first QSO of each square in grid order has a fresh outline.
        QCOMPARE(One(text, QStringLiteral("GEpoly"), QStringLiteral("G4CCC")), kIO91);
        QCOMPARE(One(text, QStringLiteral("GEpoly"), QStringLiteral("DL1AAA")), kJO62);
        QCOMPARE(One(text, QStringLiteral("GEpoly"), QStringLiteral("DL2BBB")),
                 QStringLiteral("old"));
        QCOMPARE(One(text, QStringLiteral("GEpoly"), QStringLiteral("Q1CC")),
                 QStringLiteral("old"));
        QCOMPARE(
            Column(text, QStringLiteral("SELECT GEpoly FROM logtab WHERE GEpoly <> 'old'")).size(),
            4);

        // A refresh with an empty pattern rewrites no QSO.
        QVERIFY(refresh.start(text, QString(), QStringLiteral("JO62QM")));
        QVERIFY(WaitFor([&] { return done.count() == 1; }));
        result = done.takeFirst().at(0).value<LogGeoRefresh::Result>();
        QVERIFY(result.ok);
        QCOMPARE(result.recordCount, 0);
        QCOMPARE(result.updated, 0);
        QCOMPARE(One(text, QStringLiteral("GEdata"), QStringLiteral("F5FFF")), QString());

        // A log that has gone: the refresh fails and says so; nothing is made up.
        QVERIFY(QFile::rename(database.path(), database.path() + QStringLiteral(".away")));
        QVERIFY(refresh.start(text, band, QStringLiteral("JO62QM")));
        QVERIFY(WaitFor([&] { return done.count() == 1; }));
        result = done.takeFirst().at(0).value<LogGeoRefresh::Result>();
        QVERIFY(!result.ok);
        QVERIFY(!result.error.isEmpty());
        QVERIFY(!LoadLogGrid(text, band));
        QCOMPARE(CountWorkedSquares(text, band, QStringLiteral("JO62QM")), -1);
        QVERIFY(!LookupDxcc(text, QStringLiteral("DL1AAA")).ok);
    }

    void windowEntersSavesSearchesAndDeletes() {
        ScratchDir dir;
        QVERIFY(QFile::setPermissions(
            dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner |
                            QFileDevice::ReadOther | QFileDevice::ExeOther));
        Station station(dir.path());
        QVERIFY(station.database.ensure());
        const QString text = station.database.connectionText();
        SeedLog(text);
        station.settings.LoadSettings();
        station.settings[Settings::MyCallsign] = SettingValue::text(QStringLiteral("DL0TST"));
        station.settings[Settings::MyGrid] = SettingValue::text(QStringLiteral("JO62QM"));
        station.settings[Settings::LogBandOption] = SettingValue::number(16);
        station.state.ownCallsign = QStringLiteral("DL0TST"); // as the main window's load does
        station.state.ownLocator = QStringLiteral("JO62QM");

        QStringList messages;
        StationContext context = station.context();
        auto w = std::make_unique<LogbookWindow>(context);
        w->setMessageSink([&](const QString& m) { messages << m; });
        QCOMPARE(w->objectName(), QStringLiteral("form5"));
        QCOMPARE(w->windowTitle(), QStringLiteral("FarscanLog"));
        for (QWidget* c : w->findChildren<QWidget*>())
            if (qobject_cast<QLineEdit*>(c) || qobject_cast<QPushButton*>(c) ||
                qobject_cast<ValueLabel*>(c) || qobject_cast<OptionGroup*>(c))
                QVERIFY2(!c->accessibleName().isEmpty(), qPrintable(c->objectName()));
        QCOMPARE(w->findChild<QLineEdit*>(QStringLiteral("Rss")), w->Rss());
        QCOMPARE(w->findChild<QTableView*>(QStringLiteral("DataGrid1")), w->grid());
        w->show();
        QApplication::setActiveWindow(w.get());
        QVERIFY(QTest::qWaitForWindowActive(w.get()));

        // The saved band shows; the 30 m option is exact, the last option every band.
        QCOMPARE(station.state.BandPattern, QStringLiteral("10368%"));
        QCOMPARE(w->Callsign()->text(), QStringLiteral("DL0TST"));
        QCOMPARE(w->GridCaption()->text(), QStringLiteral("7"));
        QVERIFY(w->BandTime()->text().endsWith(QStringLiteral(" mS")));
        w->OptBand()->setSelected(4);
        QCOMPARE(station.state.BandPattern, QStringLiteral("10140"));
        QCOMPARE(w->GridCaption()->text(), QStringLiteral("1"));
        w->OptBand()->setSelected(22);
        QCOMPARE(w->GridCaption()->text(), QStringLiteral("10"));
        w->addnew()->click();
        QCOMPARE(messages.value(0), QStringLiteral("Please select Band"));
        QCOMPARE(w->Rss()->text(), QString());
        w->OptBand()->setSelected(17);
        QCOMPARE(w->grid()->model()->data(w->grid()->model()->index(0, 1)).toString(),
                 QStringLiteral(" 18.05.2024"));
        QCOMPARE(w->grid()->model()->data(w->grid()->model()->index(0, 2)).toString(),
                 QStringLiteral("15:00"));

        // New on 10 GHz, then the key chain.
        messages.clear();
        w->addnew()->click();
        QCOMPARE(w->Ba()->text(), QStringLiteral("10368"));
        QCOMPARE(w->Rss()->text(), QStringLiteral("59"));
        QCOMPARE(w->Rr()->text(), QStringLiteral("59"));
        QCOMPARE(w->mo()->text(), QStringLiteral("SSB"));
        QCOMPARE(w->Qs()->text(), QStringLiteral("Y"));
        QCOMPARE(w->Pr()->text(), QStringLiteral("Tr"));
        QVERIFY(!w->DA()->text().isEmpty());
        QVERIFY(WaitFor([&] { return w->Ca()->hasFocus(); }));
        QTest::keyClicks(w->Ca(), QStringLiteral("q0'a"));
        QCOMPARE(w->Ca()->text(), QStringLiteral("Q0'A"));
        QTest::keyClick(w->Ca(), Qt::Key_Return);
        QVERIFY(WaitFor([&] { return w->Gr()->hasFocus(); }));
        QCOMPARE(w->cou()->text(), QStringLiteral("Quote land"));
        QTest::keyClicks(w->Gr(), QStringLiteral("so62"));
        QTest::keyClick(w->Gr(), Qt::Key_Return);
        QVERIFY(WaitFor([&] { return w->Ca()->hasFocus(); }));
        QCOMPARE(messages, QStringList{QStringLiteral("Locator input incorrect")});
        QCOMPARE(w->Gr()->text(), QString());
        QTest::keyClick(w->Ca(), Qt::Key_Right);
        QVERIFY(WaitFor([&] { return w->Gr()->hasFocus(); }));
        QTest::keyClicks(w->Gr(), QStringLiteral("jo31nf"));
        QTest::keyClick(w->Gr(), Qt::Key_Return);
        QVERIFY(WaitFor([&] { return w->Rss()->hasFocus(); }));
        QCOMPARE(w->lastGeo().qrb, 452);
        QCOMPARE(station.state.HomeLonLatText, kHome);
        w->Rss()->selectAll();
        QTest::keyClicks(w->Rss(), QStringLiteral("599"));
        QTest::keyClick(w->Rss(), Qt::Key_Return);
        QVERIFY(w->Rr()->hasFocus());
        QTest::keyClick(w->Rr(), Qt::Key_Return);
        QCOMPARE(w->mo()->text(), QStringLiteral("CW"));
        QVERIFY(w->Ba()->hasFocus());
        const QString comment = QStringLiteral("50% _x; 'q' \"dq\" --");
        w->Co()->setText(comment);
        w->Co()->setFocus();
        QTest::keyClick(w->Co(), Qt::Key_Return);
        QVERIFY(w->Qs()->hasFocus());
        QTest::keyClick(w->Qs(), Qt::Key_Return);
        QTest::keyClick(w->Pr(), Qt::Key_Return);
        QVERIFY(w->Save()->hasFocus());
        messages.clear();

        // Saves that cannot be written keep the boxes.
        auto boxes = [&] {
            QStringList t;
            for (QLineEdit* b : {w->DA(), w->GM(), w->Ca(), w->Gr(), w->Rss(), w->Rr(), w->Ba(),
                                 w->mo(), w->Na(), w->Co(), w->Qs(), w->Pr()})
                t << b->text();
            return t;
        };
        const QStringList typed = boxes();
        const QString path = station.database.path();
        QVERIFY(QFile::rename(path, path + QStringLiteral(".away")));
        w->Save()->click();
        QCOMPARE(messages, QStringList{QStringLiteral("No new Recorset available")});
        QCOMPARE(boxes(), typed);
        QVERIFY(QFile::rename(path + QStringLiteral(".away"), path));
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::ReadOther));
        QVERIFY(RunUnprivileged([&] {
            QStringList seen;
            w->setMessageSink([&](const QString& m) { seen << m; });
            w->saveQso();
            return seen == QStringList{QStringLiteral("No new Recorset available")} &&
                   boxes() == typed;
        }));
        QVERIFY(QFile::setPermissions(path, QFileDevice::ReadOwner | QFileDevice::WriteOwner));
        {
            // A second instance holding the log's write lock past the busy wait.
            DbConnection other;
            QVERIFY(other.open(text));
            QVERIFY(other.execute(QStringLiteral("BEGIN EXCLUSIVE")));
            messages.clear();
            w->saveQso();
            QCOMPARE(messages, QStringList{QStringLiteral("No new Recorset available")});
            QCOMPARE(boxes(), typed);
            QVERIFY(other.execute(QStringLiteral("ROLLBACK")));
        }
        QCOMPARE(Rows(text), 10);
        const QString savedDate = w->DA()->text();
        w->DA()->setText(QStringLiteral("31.02.x"));
        messages.clear();
        w->saveQso();
        QVERIFY(messages.value(0).startsWith(QStringLiteral("Date input incorrect")));
        QCOMPARE(Rows(text), 10);
        w->DA()->setText(savedDate);

        // The real save: stored as typed, boxes cleared, counts and grid refreshed.
        messages.clear();
        w->Save()->click();
        QCOMPARE(messages, QStringList());
        QCOMPARE(Rows(text), 11);
        const QString call = QStringLiteral("Q0'A");
        QCOMPARE(One(text, QStringLiteral("Comment"), call), comment);
        QCOMPARE(One(text, QStringLiteral("Grid"), call), QStringLiteral("JO31NF"));
        QCOMPARE(One(text, QStringLiteral("mode"), call), QStringLiteral("CW"));
        QCOMPARE(One(text, QStringLiteral("rsts"), call), QStringLiteral("599"));
        QCOMPARE(One(text, QStringLiteral("Band"), call), QStringLiteral("10368"));
        QCOMPARE(One(text, QStringLiteral("DXCC"), call), QStringLiteral("Quote land"));
        QCOMPARE(One(text, QStringLiteral("QRB"), call), QStringLiteral("452"));
        QCOMPARE(One(text, QStringLiteral("QTF"), call), QStringLiteral("253"));
        QCOMPARE(One(text, QStringLiteral("GEgridXY"), call),
                 QStringLiteral("7.08333333333333,51.2083333333333"));
        const QDate stored =
            QDate::fromString(One(text, QStringLiteral("Date"), call), Qt::ISODate);
        QCOMPARE(stored, station.clock.utcNow().date());
        QVERIFY(One(text, QStringLiteral("GEdata"), call)
                    .startsWith(QStringLiteral("Log: Q0'A 10368 kHz ") +
                                stored.toString(QStringLiteral(" dd.MM.yyyy "))));
        QVERIFY(One(text, QStringLiteral("GEdata"), call)
                    .endsWith(QStringLiteral(" rsts:599 rstr:59 QRB:452km  QTF:253 QSL: Y "
                                             "Prop:Tr ") +
                              comment));
        QCOMPARE(boxes(), QStringList(12, QString()));
        QCOMPARE(w->cou()->text(), QString());
        QCOMPARE(w->Sqw()->text(), QStringLiteral("5"));
        QCOMPARE(w->GridCaption()->text(), QStringLiteral("8"));

        // Search by callsign prefix on the band, with the text bound as typed.
        w->txtStr()->setText(QStringLiteral("Q1"));
        w->Search()->click();
        QCOMPARE(w->GridCaption()->text(), QStringLiteral("1"));
        w->txtStr()->setText(call);
        w->Search()->click();
        QCOMPARE(w->GridCaption()->text(), QStringLiteral("1"));
        w->uSc_MultiOption1()->setSelected(2);
        QCOMPARE(w->txtStr()->text(), QString());
        w->txtStr()->setText(QStringLiteral("jo62"));
        w->Search()->click();
        QCOMPARE(w->GridCaption()->text(), QStringLiteral("2"));
        w->txtStr()->clear();
        w->Search()->click();
        QCOMPARE(w->GridCaption()->text(), QStringLiteral("6"));
        QCOMPARE(w->SQc()->text(), QStringLiteral("1"));
        w->uSc_MultiOption1()->setSelected(1);
        w->Search()->click();
        QCOMPARE(w->dxw()->text(), QStringLiteral("6"));
        QCOMPARE(w->DXc()->text(), QStringLiteral("2"));

        // Delete: No keeps the row, Yes deletes it.
        w->loadLogGrid();
        auto answer = [&](QMessageBox::StandardButton button) {
            w->grid()->setFocus();
            w->grid()->setCurrentIndex(w->grid()->model()->index(0, 3));
            QTest::keyClick(w->grid(), Qt::Key_Delete);
            auto* box = w->findChild<QMessageBox*>(QStringLiteral("DeleteQuestion"));
            QVERIFY(box);
            QCOMPARE(box->text(), QStringLiteral(" Delete Recordset ?"));
            box->button(button)->click();
        };
        const QString first = w->grid()->model()->data(w->grid()->model()->index(0, 3)).toString();
        answer(QMessageBox::No);
        QCOMPARE(Rows(text), 11);
        QCOMPARE(One(text, QStringLiteral("Callsign"), first), first);
        answer(QMessageBox::Yes);
        QCOMPARE(Rows(text), 10);
        QCOMPARE(One(text, QStringLiteral("Callsign"), first), QString());
        QCOMPARE(w->GridCaption()->text(), QStringLiteral("7"));

        // Refresh from the button, with its progress, ending in the count message.
        messages.clear();
        QSignalSpy refreshed(w.get(), &LogbookWindow::refreshFinished);
        w->gridDEC()->click();
        QVERIFY(!w->gridDEC()->isEnabled());
        QVERIFY(WaitFor([&] { return refreshed.count() == 1; }, 10000));
        QCOMPARE(refreshed.at(0).at(0).toBool(), true);
        QCOMPARE(messages, QStringList{QStringLiteral(" 7 Dataset from Eurowinlog backup.mdB "
                                                      "imported")});
        QVERIFY(w->gridDEC()->isEnabled());

        // Close writes the window's settings and saves them.
        w->OptBand()->setSelected(11);
        w->cmdExit()->click();
        QVERIFY(!w->isVisible());
        SettingsStore file;
        file.LoadSettings();
        QCOMPARE(file[Settings::LogBandOption].toInt(), 10);
        QCOMPARE(file[Settings::LogBandFilter].toText(), QStringLiteral("144%"));
        QCOMPARE(file[Settings::MyCallsign].toText(), QStringLiteral("DL0TST"));
        QCOMPARE(file[Settings::MyGrid].toText(), QStringLiteral("JO62QM"));
    }
};

QTEST_MAIN(LogbookTest)
#include "tst_logbook.moc"
