#include "OptionGroup.h"
#include "TestSupport.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QSignalSpy>
#include <QTest>

class OptionGroupTest : public QObject {
    Q_OBJECT
private slots:
    void userPicksAndProgramSelects() {
        OptionGroup group(QStringLiteral("Search"),
                          {QStringLiteral("Call"), QStringLiteral("Loc")});
        group.show();
        QCOMPARE(group.caption(), QStringLiteral("Search"));
        QCOMPARE(group.optionCount(), 2);
        QCOMPARE(group.selected(), 0);
        QSignalSpy picked(&group, &OptionGroup::optionPicked);
        QSignalSpy changed(&group, &OptionGroup::selectionChanged);

        group.setSelected(2);
        QCOMPARE(group.selected(), 2);
        QVERIFY(group.button(2)->isChecked());
        QCOMPARE(picked.count(), 0); // the program's choice is no pick of the user
        QCOMPARE(changed.count(), 1);

        QTest::mouseClick(group.button(1), Qt::LeftButton);
        QCOMPARE(group.selected(), 1);
        QVERIFY(!group.button(2)->isChecked());
        QCOMPARE(picked.count(), 1);
        QCOMPARE(picked.takeFirst().at(0).toInt(), 1);

        // Clicking the selected option again keeps it and reports nothing new.
        QTest::mouseClick(group.button(1), Qt::LeftButton);
        QVERIFY(group.button(1)->isChecked());
        QCOMPARE(picked.count(), 0);

        group.setSelected(7);
        QCOMPARE(group.selected(), 0);
        QVERIFY(!group.button(1)->isChecked() && !group.button(2)->isChecked());
    }

    // However an option is chosen (mouse, keyboard, an assistive tool's toggle action, which
    // toggles the button without a click), the group's selection follows and the choice is
    // reported once; choosing the selected option again keeps it selected.
    void everyWayOfChoosingAnOptionIsReportedOnce() {
        OptionGroup group(QStringLiteral("Band MHz"),
                          {QStringLiteral("1296"), QStringLiteral("2320"), QStringLiteral("3400")});
        group.setButtonStyle(OptionGroup::ButtonStyle::Graphical);
        group.show();
        QSignalSpy changed(&group, &OptionGroup::selectionChanged);
        QSignalSpy activated(&group, &OptionGroup::optionActivated);

        auto toggleAction = [&](int option) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(group.button(option));
            QVERIFY(a && a->actionInterface());
            QVERIFY(a->actionInterface()->actionNames().contains(
                QAccessibleActionInterface::toggleAction()));
            a->actionInterface()->doAction(QAccessibleActionInterface::toggleAction());
        };
        toggleAction(2);
        QCOMPARE(group.selected(), 2);
        QCOMPARE(changed.count(), 1);
        QCOMPARE(activated.count(), 1);
        toggleAction(2); // the selected one again: kept, and reported as chosen again
        QCOMPARE(group.selected(), 2);
        QVERIFY(group.button(2)->isChecked());
        QCOMPARE(changed.count(), 1);
        QCOMPARE(activated.count(), 2);

        QTest::mouseClick(group.button(3), Qt::LeftButton);
        QCOMPARE(group.selected(), 3);
        QVERIFY(!group.button(2)->isChecked());
        QCOMPARE(changed.count(), 2);
        QCOMPARE(activated.count(), 3);
        QTest::mouseClick(group.button(3), Qt::LeftButton);
        QVERIFY(group.button(3)->isChecked());
        QCOMPARE(activated.count(), 4);

        group.button(1)->setFocus();
        QTest::keyClick(group.button(1), Qt::Key_Space);
        QCOMPARE(group.selected(), 1);
        QCOMPARE(activated.count(), 5);

        group.setSelected(2); // the program: a change, no choice of the user
        QCOMPARE(changed.count(), 4);
        QCOMPARE(activated.count(), 5);
        QCOMPARE(activated.at(4).at(0).toInt(), 1);
    }

    void propertiesAndOptionCount() {
        OptionGroup group;
        group.setCaption(QStringLiteral("Prop"));
        group.setOptions({QStringLiteral("Tropo"), QStringLiteral("Rain"), QStringLiteral("Es")});
        group.setSelected(3);
        group.setOrientation(Qt::Horizontal);
        QCOMPARE(group.orientation(), Qt::Horizontal);
        group.setLook(OptionGroup::Look::Flat);
        QVERIFY(group.isFlat());
        group.setCaptionAlignment(Qt::AlignHCenter);
        QCOMPARE(group.captionAlignment(), Qt::Alignment(Qt::AlignHCenter));
        group.setButtonStyle(OptionGroup::ButtonStyle::Graphical);
        QCOMPARE(group.selected(), 3);
        QVERIFY(group.button(3)->isChecked());
        QCOMPARE(group.button(3)->text(), QStringLiteral("Es"));

        group.setOptionCount(2); // the selected option goes away
        QCOMPARE(group.optionCount(), 2);
        QCOMPARE(group.selected(), 0);
        group.setSelected(2);
        group.setOptionCount(4);
        QCOMPARE(group.selected(), 2);
        QCOMPARE(group.options().at(3), QStringLiteral("Option 4"));
        QVERIFY(!group.button(5));
    }
};

int main(int argc, char** argv) {
    EnsureApplication();
    OptionGroupTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_optiongroup.moc"
