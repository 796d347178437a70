#include "OptionGroup.h"
#include "TestSupport.h"

#include <QAbstractButton>
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
