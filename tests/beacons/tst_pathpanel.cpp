#include "Locator.h"
#include "PathPanel.h"
#include "ProgramState.h"
#include "TestSupport.h"

#include <QApplication>
#include <QLayout>
#include <QLineEdit>
#include <QTest>

class PathPanelTest : public QObject {
    Q_OBJECT

private:
    PathPanel* panel = nullptr;
    PathController* controller = nullptr;
    QStringList messages;
    QString home;
    QString beacon;
    int turns = 0;
    ProgramState state;
    QLineEdit* heading = nullptr; // stands in for the rotor's heading box

    // Types a target and presses Enter in the box, as the operator does.
    void enterTarget(const QString& text) {
        panel->Locator()->setFocus();
        panel->Locator()->clear();
        QTest::keyClicks(panel->Locator(), text);
        QTest::keyClick(panel->Locator(), Qt::Key_Return);
    }

private slots:
    void initTestCase() { EnsureApplication(); }

    void init() {
        messages.clear();
        home = QStringLiteral("JO62QM");
        beacon.clear();
        turns = 0;
        state = ProgramState{};
        panel = new PathPanel;
        heading = new QLineEdit(panel);
        heading->setObjectName(QStringLiteral("Text160"));
        panel->layout()->addWidget(heading);
        // Enter in the heading box is the rotor's: it turns and hands the focus back.
        connect(heading, &QLineEdit::returnPressed, panel, [this] {
            ++turns;
            panel->Locator()->setFocus();
        });
        controller = new PathController(panel, state, heading, panel);
        controller->setHomeLocatorSource([this] { return home; });
        controller->setBeaconLocatorSource([this] { return beacon; });
        controller->setMessageSink([this](const QString& m) { messages << m; });
        controller->setLocale(QLocale::c());
        panel->show();
        QApplication::setActiveWindow(panel);
        QVERIFY(QTest::qWaitForWindowActive(panel));
    }
    void cleanup() { delete panel; }

    void controlsHaveNamesForTheScreenReader() {
        for (QLineEdit* box : {panel->Locator(), panel->Richtung()}) {
            QVERIFY(!box->objectName().isEmpty());
            QVERIFY(!box->accessibleName().isEmpty());
        }
        QCOMPARE(panel->findChild<QLineEdit*>(QStringLiteral("Locator")), panel->Locator());
        QCOMPARE(panel->findChild<QLineEdit*>(QStringLiteral("Richtung")), panel->Richtung());
    }

    void referencePathsFromHome() {
        enterTarget(QStringLiteral("JO31NF"));
        QCOMPARE(panel->Richtung()->text(),
                 QString::fromUtf8(" -> JO31NF QTF: 254.0° / 74.0° QRB: 452.93 km"));
        QCOMPARE(heading->text(), QStringLiteral("253"));
        enterTarget(QStringLiteral("IO91WM"));
        QCOMPARE(panel->Richtung()->text(),
                 QString::fromUtf8(" -> IO91WM QTF: 268.5° / 88.5° QRB: 930.44 km"));
        QCOMPARE(heading->text(), QStringLiteral("268"));
        enterTarget(QStringLiteral("JO62QN"));
        QCOMPARE(panel->Richtung()->text(),
                 QString::fromUtf8(" -> JO62QN QTF: 0.0° / 180.0° QRB: 4.64 km"));
        QCOMPARE(heading->text(), QStringLiteral("0"));
        QVERIFY(messages.isEmpty());
        // The degree sign is one character, code 176.
        QCOMPARE(panel->Richtung()->text().count(QChar(176)), 2);
    }

    // Every computation writes its heading over whatever the box held, and the focus goes to
    // it, so the next Enter turns the antenna to the bearing just computed.
    void enterMovesTheFocusAndEnterInHeadingTurnsTheRotor() {
        heading->setText(QStringLiteral("abc"));
        enterTarget(QStringLiteral("JO31NF"));
        QCOMPARE(heading->text(), QStringLiteral("253"));
        QVERIFY(heading->hasFocus());
        QCOMPARE(turns, 0);
        QTest::keyClick(heading, Qt::Key_Return);
        QCOMPARE(turns, 1);
        QVERIFY(panel->Locator()->hasFocus());
    }

    void lowerCaseTargetIsUpperCasedBeforeTheCheck() {
        enterTarget(QStringLiteral("jo62qm"));
        QVERIFY(messages.isEmpty());
        QCOMPARE(panel->Richtung()->text(),
                 QString::fromUtf8(" -> JO62QM QTF: 0.0° / 180.0° QRB: 0.00 km"));
        QCOMPARE(panel->Locator()->text(), QStringLiteral("jo62qm"));
    }

    void coincidentPointsInTheUsersNumbers() {
        controller->setLocale(QLocale(QLocale::German, QLocale::Germany));
        enterTarget(QStringLiteral("JO62QM"));
        QCOMPARE(panel->Richtung()->text(),
                 QString::fromUtf8(" -> JO62QM QTF: 0,0° / 180,0° QRB: 0,00 km"));
        // The position text keeps its dots in any locale.
        QCOMPARE(state.LastLonLatText, QStringLiteral("13.3333333333333,52.5"));
        enterTarget(QStringLiteral("IO91WM"));
        QCOMPARE(panel->Richtung()->text(),
                 QString::fromUtf8(" -> IO91WM QTF: 268,5° / 88,5° QRB: 930,44 km"));
    }

    void fourCharacterTargetGetsHH() {
        enterTarget(QStringLiteral("JO62"));
        QCOMPARE(panel->Locator()->text(), QStringLiteral("JO62HH"));
        QVERIFY(panel->Richtung()->text().startsWith(QStringLiteral(" -> JO62HH QTF: ")));
        // The target's position is the south-west corner of JO62HH.
        QCOMPARE(state.LastLonLatText, QStringLiteral("12.5833333333333,52.2916666666667"));
        // Lower case is completed the same way.
        enterTarget(QStringLiteral("jo31"));
        QCOMPARE(panel->Locator()->text(), QStringLiteral("jo31HH"));
        QVERIFY(panel->Richtung()->text().startsWith(QStringLiteral(" -> JO31HH QTF: ")));
    }

    void invalidTargetShowsTheMessageAndKeepsTheResult() {
        enterTarget(QStringLiteral("JO31NF"));
        const QString before = panel->Richtung()->text();
        for (const QString& bad :
             {QStringLiteral("SO62QM"), QStringLiteral("JO6"), QStringLiteral("JO62Q"),
              QStringLiteral("JO62QM1"), QStringLiteral("")}) {
            messages.clear();
            state.LastLonLatText.clear();
            enterTarget(bad);
            QCOMPARE(messages, QStringList{QStringLiteral("Invalid Gridlocator:")});
            QCOMPARE(panel->Richtung()->text(), before);
            QCOMPARE(heading->text(), QStringLiteral("253"));
            QVERIFY(panel->Locator()->hasFocus());
            // Only the home position was written.
            QCOMPARE(state.LastLonLatText, QStringLiteral("13.3333333333333,52.5"));
        }
    }

    void longPathShowsHeadingZero() {
        // AD67QM is the antipode of JO62QM's corner.
        enterTarget(QStringLiteral("AD67QM"));
        QVERIFY(messages.isEmpty());
        QVERIFY(panel->Richtung()->text().contains(QString::fromUtf8(" QTF: 0.0° / 180.0° ")));
        QCOMPARE(heading->text(), QStringLiteral("0"));
    }

    void beaconLocatorIsUsedOnceWhenAsked() {
        panel->Locator()->setText(QStringLiteral("JO62QN"));
        beacon = QStringLiteral("io91wm");
        controller->UseBeaconLocator = true;
        QVERIFY(controller->PathToTarget());
        QVERIFY(!controller->UseBeaconLocator);
        QCOMPARE(panel->Richtung()->text(),
                 QString::fromUtf8(" -> IO91WM QTF: 268.5° / 88.5° QRB: 930.44 km"));
        QCOMPARE(panel->Locator()->text(), QStringLiteral("JO62QN"));
        // The next call measures to the box again.
        QVERIFY(controller->PathToTarget());
        QVERIFY(panel->Richtung()->text().startsWith(QStringLiteral(" -> JO62QN ")));
    }

    void shortBeaconLocatorIsCompleted() {
        beacon = QStringLiteral("JO31");
        controller->UseBeaconLocator = true;
        QVERIFY(controller->PathToTarget());
        QVERIFY(panel->Richtung()->text().startsWith(QStringLiteral(" -> JO31HH QTF: ")));
        beacon = QStringLiteral("JO3");
        controller->UseBeaconLocator = true;
        messages.clear();
        QVERIFY(!controller->PathToTarget());
        QCOMPARE(messages, QStringList{QStringLiteral("Invalid Gridlocator:")});
        QVERIFY(!controller->UseBeaconLocator);
    }

    void shortOrBrokenHomeLocator() {
        // Four characters: completed with HH, as the target box is.
        home = QStringLiteral("jo62");
        panel->Locator()->setText(QStringLiteral("JO62HH"));
        QVERIFY(controller->PathToTarget());
        QVERIFY(messages.isEmpty());
        QCOMPARE(panel->Richtung()->text(),
                 QString::fromUtf8(" -> JO62HH QTF: 0.0° / 180.0° QRB: 0.00 km"));
        // Anything else that is no locator is refused, and nothing is computed or written.
        panel->Richtung()->setText(QStringLiteral("kept"));
        for (const QString& bad : {QString(), QStringLiteral("J"), QStringLiteral("JO6"),
                                   QStringLiteral("JO62Q"), QStringLiteral("ZZ99ZZ")}) {
            home = bad;
            messages.clear();
            state.LastLonLatText = QStringLiteral("untouched");
            controller->UseBeaconLocator = true; // a beacon chosen meanwhile
            QVERIFY(!controller->PathToTarget());
            QCOMPARE(messages, QStringList{QStringLiteral("Invalid Gridlocator:")});
            QCOMPARE(panel->Richtung()->text(), QStringLiteral("kept"));
            QCOMPARE(state.LastLonLatText, QStringLiteral("untouched"));
            QVERIFY(!controller->UseBeaconLocator); // the next measure is to the box again
        }
    }

    void homeComesFromTheProgramsOwnLocatorByDefault() {
        PathController plain(panel, state, heading);
        state.ownLocator = QStringLiteral("IO91WM");
        panel->Locator()->setText(QStringLiteral("IO91WM"));
        QVERIFY(plain.PathToTarget());
        QVERIFY(panel->Richtung()->text().contains(QStringLiteral("QRB: 0")));
        state.ownLocator.clear();
    }
};

QTEST_APPLESS_MAIN(PathPanelTest)
#include "tst_pathpanel.moc"
