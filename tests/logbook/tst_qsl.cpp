// QSL cards printed through the real window into PDF files, read back with poppler's tools, and
// the QSL codes in the database file before and after.

#include "Database.h"
#include "QslCards.h"
#include "QslWindow.h"
#include "TestStation.h"
#include "TestSupport.h"

#include <QCheckBox>
#include <QDir>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QPrinter>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTest>

namespace {

// Text of a PDF (one page, or all with page 0), or the tool's failure.
QString PdfText(const QString& path, int page = 0) {
    QStringList args = {QStringLiteral("-layout")};
    if (page > 0)
        args << QStringLiteral("-f") << QString::number(page) << QStringLiteral("-l")
             << QString::number(page);
    args << path << QStringLiteral("-");
    QProcess p;
    p.start(QStringLiteral("pdftotext"), args);
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        return QStringLiteral("pdftotext failed: ") +
               QString::fromLocal8Bit(p.readAllStandardError());
    return QString::fromUtf8(p.readAllStandardOutput());
}

QString PdfInfo(const QString& path, const QString& key) {
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {path});
    if (!p.waitForFinished(20000))
        return {};
    for (const QString& line : QString::fromUtf8(p.readAllStandardOutput()).split('\n')) {
        if (line.startsWith(key + QLatin1Char(':')))
            return line.mid(key.size() + 1).trimmed();
    }
    return {};
}

int PdfImages(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("pdfimages"), {QStringLiteral("-list"), path});
    if (!p.waitForFinished(20000))
        return -1;
    // Two heading lines, then one line per image.
    return int(QString::fromUtf8(p.readAllStandardOutput()).trimmed().split('\n').size()) - 2;
}

void Insert(DbConnection& db, const QString& call, const QString& date, const QString& time,
            const QString& band, const QString& qsl, const QString& qslMan = QString()) {
    QVERIFY(db.execute(QStringLiteral("INSERT INTO logtab (Date, GMT, Callsign, Band, mode, rsts, "
                                      "QRB, QTF, QSL, QSLvia) VALUES ('%1','%2','%3','%4','SSB',"
                                      "'59',812,245,'%5','%6')")
                           .arg(date, time, call, band, qsl, qslMan)));
}

QStringList Codes(const QString& connectionText) {
    QStringList out;
    for (const QStringList& row : StoredRows(
             connectionText, QStringLiteral("SELECT Callsign, QSL FROM logtab ORDER BY rowid")))
        out << row.join(QLatin1Char(':'));
    return out;
}

struct Qso {
    const char* call;
    const char* date;
    const char* time;
    const char* band;
    const char* qsl;
    const char* manager = "";
};

// A station in a scratch folder with a log of these QSOs, and its QSL window with the messages
// and the PDF file dialog caught.
struct QslStation {
    explicit QslStation(std::initializer_list<Qso> qsos)
        : station(dir.path(), dir.file(QStringLiteral("Farscan.txt"))) {
        QVERIFY(station.database.ensure());
        text = station.database.connectionText();
        DbConnection db;
        QVERIFY(db.open(text));
        for (const Qso& q : qsos)
            Insert(db, q.call, q.date, q.time, q.band, q.qsl, q.manager);
        station.state.DbConnectionText = text;
    }
    // Made once the settings and station values are in place.
    QslWindow& open() {
        window = std::make_unique<QslWindow>(context);
        window->setMessageSink([this](const QString& m) { messages << m; });
        window->setPdfPathChooser(
            [this](QWidget*, std::function<void(QString)> done) { done(nextPdf); });
        window->show();
        return *window;
    }
    ScratchDir dir;
    TestStation station;
    QString text;
    StationContext context = station.context();
    std::unique_ptr<QslWindow> window;
    QStringList messages;
    QString nextPdf;
};

} // namespace

class QslTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        EnsureApplication();
        QLocale::setDefault(QLocale::c());
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("poppler-utils (pdftotext, pdfinfo) are not installed");
    }

    void cardsPrintToPdfAndCodesMoveOn() {
        // Three QSOs with Q1AAA and one with Q2BBB to confirm, five with Q3CCC, two stations
        // thanked, a beacon, and QSOs no button takes.
        QslStation s({{"Q1AAA", "2024-05-12", "21:05:00", "10368100", "Y", "DL9MGR"},
                      {"Q2BBB", "2024-05-13", "06:30:00", "144300", "Y"},
                      {"Q1AAA", "2024-05-14", "07:00:00", "24048200", "Y", "DL9MGR"},
                      {"Q1AAA", "2024-05-15", "08:00:00", "5760100", "Y", "DL9MGR"},
                      {"Q3CCC", "2024-06-01", "12:00:00", "1296200", "S"},
                      {"Q3CCC", "2024-06-02", "12:00:00", "1296200", "S"},
                      {"Q3CCC", "2024-06-03", "12:00:00", "1296200", "S"},
                      {"Q3CCC", "2024-06-04", "12:00:00", "1296200", "S"},
                      {"Q3CCC", "2024-06-05", "12:00:00", "1296200", "S"},
                      {"Q4DDD", "2024-07-01", "10:00:00", "47088100", "T"},
                      {"Q5EEE", "2024-07-02", "10:00:00", "47088100", "t"},
                      {"Q0BCN", "2024-07-03", "10:00:00", "10368900", "B"},
                      {"Q6FFF", "2024-07-04", "10:00:00", "144300", "N"},
                      {"Q7GGG", "2024-07-05", "10:00:00", "144300", ""}});
        const QString text = s.text;
        const ScratchDir& dir = s.dir;
        TestStation& station = s.station;
        station.settings[Settings::MyCallsign] = SettingValue::text(QStringLiteral("DL0XYZ"));
        station.settings[Settings::MyGrid] = SettingValue::text(QStringLiteral("JO62QM"));
        station.state.ownLocator = QStringLiteral("JO61AA"); // a GPS fix elsewhere
        station.settings[Settings::QslInfo] = SettingValue::text(QStringLiteral("DOK: P25"));
        station.settings[Settings::QslLine2] = SettingValue::text(QStringLiteral("Rig: IC-9700"));
        station.settings[Settings::QslAddress] =
            SettingValue::text(QStringLiteral("Op. Erika Muster, Dorfstr. 1"));
        station.settings[Settings::QslFoot] =
            SettingValue::text(QStringLiteral("dl0xyz@example.org"));
        QImage sign(120, 40, QImage::Format_RGB32);
        sign.fill(Qt::blue);
        QVERIFY(sign.save(QDir(dir.path()).filePath(QStringLiteral("Sign.bmp"))));
        QImage club(80, 80, QImage::Format_RGB32);
        club.fill(Qt::red);
        QVERIFY(club.save(QDir(dir.path()).filePath(QStringLiteral("ClubSign.bmp"))));

        QslWindow& window = s.open();
        QStringList& messages = s.messages;
        QString& nextPdf = s.nextPdf;
        QCOMPARE(window.objectName(), QStringLiteral("Form6"));
        QCOMPARE(window.windowTitle(), QStringLiteral("FarscanQSL"));
        QCOMPARE(window.label("CallL")->text(), QStringLiteral("DL0XYZ"));
        QCOMPARE(window.label("Label6")->text(), QStringLiteral("DOK: P25"));
        // A screen reader hears the caption and what the label shows.
        QCOMPARE(window.label("CallL")->accessibleName(), QStringLiteral("Own callsign"));
        QCOMPARE(window.label("CallL")->accessibleDescription(), QStringLiteral("DL0XYZ"));
        QCOMPARE(window.box("qrg", 1)->accessibleName(), QStringLiteral("Frequency kHz, row 2"));
        window.chkPdf()->setChecked(true);

        auto print = [&](const char* button, const QString& file) {
            nextPdf = dir.file(file);
            window.button(QLatin1String(button))->click();
            return nextPdf;
        };

        // Y: two cards, three rows for Q1AAA and one for Q2BBB; all four become N.
        const QString y = print("Command1", "y.pdf");
        QCOMPARE(PdfInfo(y, "Pages"), QStringLiteral("2"));
        QVERIFY(PdfInfo(y, "Page size").startsWith(QStringLiteral("397 x 255")));
        const QString first = PdfText(y, 1);
        for (const char* expected : {"DL0XYZ",
                                     "JO62",
                                     "QM",
                                     "DOK: P25",
                                     "Rig: IC-9700",
                                     "Op. Erika Muster, Dorfstr. 1",
                                     "dl0xyz@example.org",
                                     "Confirming 2-way QSO with:",
                                     "Q1AAA",
                                     "DL9MGR",
                                     "PSE QSL",
                                     "tnx fer QSO Best 73 de",
                                     "12.05.2024",
                                     "21:05",
                                     "10,368,100",
                                     "24,048,200",
                                     "5,760,100",
                                     "SSB",
                                     "59",
                                     "812",
                                     "245"})
            QVERIFY2(first.contains(QLatin1String(expected)), expected);
        QVERIFY(!first.contains(QLatin1String("Q2BBB")));
        QVERIFY(PdfText(y, 2).contains(QLatin1String("Q2BBB")));
        QVERIFY(PdfText(y, 2).contains(QLatin1String("144,300")));
        QVERIFY(!PdfText(y, 2).contains(QLatin1String("Q1AAA")));
        QCOMPARE(PdfImages(y), 4); // signature and emblem on both cards
        QCOMPARE(Codes(text).mid(0, 4), QStringList({"Q1AAA:N", "Q2BBB:N", "Q1AAA:N", "Q1AAA:N"}));
        // The last card stays on the window.
        QCOMPARE(window.label("Cal")->text(), QStringLiteral("Q2BBB"));
        QCOMPARE(window.label("Cal")->accessibleDescription(), QStringLiteral("Q2BBB"));
        QCOMPARE(window.box("datem", 0)->text(), QStringLiteral(" 13.05.2024"));
        QCOMPARE(window.box("utc", 0)->text(), QStringLiteral("  06:30 "));
        QCOMPARE(window.box("qrg", 0)->text(), QStringLiteral("    144,300"));
        QVERIFY(window.box("datem", 1)->text().isEmpty());
        const auto dates = window.findChildren<QLineEdit*>(QStringLiteral("datem"));
        QCOMPARE(dates.size(), 4);
        QCOMPARE(dates.first(), window.box("datem", 0));
        QCOMPARE(dates.last()->property("Index").toInt(), 3);

        // S: five QSOs of one station make a card of four rows and one of one; all become D.
        const QString sPdf = print("Command3", "s.pdf");
        QCOMPARE(PdfInfo(sPdf, "Pages"), QStringLiteral("2"));
        QCOMPARE(PdfText(sPdf, 1).count(QLatin1String("Q3CCC")), 1);
        QCOMPARE(PdfText(sPdf, 1).count(QLatin1String("1,296,200")), 4);
        QCOMPARE(PdfText(sPdf, 2).count(QLatin1String("1,296,200")), 1);
        QCOMPARE(Codes(text).mid(4, 5), QStringList(5, QStringLiteral("Q3CCC:D")));

        // T: every card of the run thanks for the QSL, and the QSOs are confirmed.
        const QString t = print("Command4", "t.pdf");
        QCOMPARE(PdfInfo(t, "Pages"), QStringLiteral("2"));
        QVERIFY(PdfText(t, 1).contains(QLatin1String("TNX QSL")));
        QVERIFY(PdfText(t, 2).contains(QLatin1String("TNX QSL")));
        QCOMPARE(Codes(text).mid(9, 2), QStringList({"Q4DDD:Q", "Q5EEE:Q"}));
        QCOMPARE(window.label("Label4")->text(), QStringLiteral("PSE QSL"));

        // B: the beacon wording.
        const QString b = print("BeaconPrint", "b.pdf");
        const QString beacon = PdfText(b);
        QVERIFY(beacon.contains(QLatin1String("Confirming heard Beacon:")));
        QVERIFY(beacon.contains(QLatin1String("Best 73 de")));
        QVERIFY(!beacon.contains(QLatin1String("tnx fer QSO")));
        QCOMPARE(Codes(text).at(11), QStringLiteral("Q0BCN:N"));

        // X: one card without QSOs; nothing changes.
        const QStringList before = Codes(text);
        const QString x = print("Empty", "x.pdf");
        QCOMPARE(PdfInfo(x, "Pages"), QStringLiteral("1"));
        QVERIFY(PdfText(x).contains(QLatin1String("DL0XYZ")));
        QVERIFY(!PdfText(x).contains(QLatin1String("SSB")));
        QCOMPARE(Codes(text), before);

        // A code nobody has prints nothing and says so.
        messages.clear();
        QVERIFY(!QFile::exists(print("Command1", "none.pdf")));
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages.first().contains(QLatin1String("\"Y\"")));
        QVERIFY(messages.isEmpty() == false && !window.runPending());
    }

    void failedOrAbandonedJobsKeepTheCodes() {
        QslStation s({{"Q1AAA", "2024-05-12", "21:05:00", "10368100", "Y"},
                      {"Q2BBB", "2024-05-13", "06:30:00", "144300", "T"}});
        const QString text = s.text;
        const ScratchDir& dir = s.dir;
        QslWindow& window = s.open();
        QStringList& messages = s.messages;
        QString& nextPdf = s.nextPdf;
        bool mainShown = false;
        window.showMainWindow = [&] { mainShown = true; };
        const QStringList before = Codes(text);

        // A PDF file that cannot be written.
        window.chkPdf()->setChecked(true);
        nextPdf = dir.file(QStringLiteral("missing/folder/cards.pdf"));
        window.button(QStringLiteral("Command1"))->click();
        QCOMPARE(messages.size(), 1);
        QVERIFY(messages.first().startsWith(QLatin1String("No new Recorset available")));
        QCOMPARE(Codes(text), before);

        // The file dialog cancelled.
        messages.clear();
        nextPdf.clear();
        window.button(QStringLiteral("Command1"))->click();
        QVERIFY(messages.isEmpty());
        QVERIFY(!window.runPending());
        QCOMPARE(Codes(text), before);

        // The preview: stopped, then closed without printing, keep the codes; accepted after
        // the job went out, the codes move on.
        window.chkPdf()->setChecked(false);
        window.button(QStringLiteral("Command4"))->click();
        QVERIFY(window.preview());
        QVERIFY(WaitFor([&] { return window.preview() && window.preview()->isVisible(); }));
        QCOMPARE(window.label("Label4")->text(), QStringLiteral("TNX QSL"));
        window.button(QStringLiteral("StopPrint"))->click();
        QVERIFY(WaitFor([&] { return !window.runPending(); }));
        QCOMPARE(Codes(text), before);
        QCOMPARE(window.label("Label4")->text(), QStringLiteral("PSE QSL"));

        window.button(QStringLiteral("Command4"))->click();
        QVERIFY(WaitFor([&] { return window.preview() != nullptr; }));
        window.preview()->reject();
        QVERIFY(WaitFor([&] { return !window.runPending(); }));
        QCOMPARE(Codes(text), before);

        window.button(QStringLiteral("Command4"))->click();
        QVERIFY(WaitFor([&] { return window.preview() != nullptr; }));
        // What the dialog does once the printer has the pages: render them, then accept.
        QPrinter printer(QPrinter::HighResolution);
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(dir.file(QStringLiteral("printed.pdf")));
        emit window.preview()->paintRequested(&printer);
        window.preview()->accept();
        QVERIFY(WaitFor([&] { return !window.runPending(); }));
        QCOMPARE(Codes(text), QStringList({"Q1AAA:Y", "Q2BBB:Q"}));
        QVERIFY(PdfText(dir.file(QStringLiteral("printed.pdf"))).contains(QLatin1String("Q2BBB")));

        // Exit hides the window and brings the main window back.
        window.button(QStringLiteral("Exit"))->click();
        QVERIFY(!window.isVisible());
        QVERIFY(mainShown);
    }

    void longRunsEndWithAWholeStation() {
        ScratchDir dir;
        StationDatabase database(dir.path());
        QVERIFY(database.ensure());
        const QString text = database.connectionText();
        {
            DbConnection db;
            QVERIFY(db.open(text));
            QVERIFY(db.beginTransaction());
            // 998 stations with one QSO, then one with three that straddles the limit, then one.
            for (int i = 0; i < 998; ++i)
                Insert(db, QStringLiteral("Q%1").arg(i, 4, 10, QLatin1Char('0')), "2024-01-01",
                       "10:00:00", "144300", "Y");
            for (int i = 0; i < 3; ++i)
                Insert(db, "Q9998", "2024-01-02", "10:00:00", "144300", "Y");
            Insert(db, "Q9999", "2024-01-03", "10:00:00", "144300", "Y");
            QVERIFY(db.commit());
        }
        const QslRun run = ReadQslRun(text, QStringLiteral("Y"), QLocale::c());
        QVERIFY(run.ok);
        QCOMPARE(int(run.entries.size()), 998);
        QCOMPARE(run.leftOver, 4);
        QCOMPARE(int(GroupQslCards(run.entries).size()), 998);
        QCOMPARE(AdvanceQslCodes(text, run.entries, nullptr), 998);
        const QslRun rest = ReadQslRun(text, QStringLiteral("y"), QLocale::c());
        QCOMPARE(int(rest.entries.size()), 4);
        QCOMPARE(rest.leftOver, 0);
        const auto cards = GroupQslCards(rest.entries);
        QCOMPARE(int(cards.size()), 2);
        QCOMPARE(int(cards[0].rows.size()), 3);

        // A code changed elsewhere since the run read it keeps the newer code.
        {
            DbConnection db;
            QVERIFY(db.open(text));
            QVERIFY(db.execute(QStringLiteral("UPDATE logtab SET QSL='Q' WHERE Callsign='Q9999'")));
        }
        QCOMPARE(AdvanceQslCodes(text, rest.entries, nullptr), 3);
        QCOMPARE(StoredRows(text, QStringLiteral("SELECT QSL FROM logtab WHERE Callsign='Q9999'"))
                     .value(0)
                     .value(0),
                 QStringLiteral("Q"));
    }
};

QTEST_MAIN(QslTest)
#include "tst_qsl.moc"
