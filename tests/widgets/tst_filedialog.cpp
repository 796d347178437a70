#include "TestSupport.h"
#include "WidgetHelpers.h"

#include <QFileDialog>
#include <QPointer>
#include <QTemporaryDir>
#include <QTest>

// The windows' file choosers hang their work on these callbacks: a save that runs on a cancel,
// or a cancel that never arrives, leaves a run waiting or writes where nobody asked.
class FileDialogTest : public QObject {
    Q_OBJECT
private slots:
    void chosenOnlyOnAPickAndCancelledOnlyOnACancel() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        QWidget parent;
        QStringList picked;
        int cancels = 0;
        const auto chosen = [&](const QString& file) { picked << file; };

        // Save: the suffix is added, and the dialog goes away when done.
        QPointer<QFileDialog> save =
            OpenFileDialog(&parent, QStringLiteral("Save"), QStringLiteral("PDF files (*.pdf)"),
                           QStringLiteral("pdf"), chosen, [&] { ++cancels; });
        QVERIFY(save->isVisible());
        QCOMPARE(save->acceptMode(), QFileDialog::AcceptSave);
        save->selectFile(dir.filePath(QStringLiteral("cards")));
        static_cast<QDialog*>(save.data())->accept(); // as the Save button does
        QCOMPARE(picked, QStringList{dir.filePath(QStringLiteral("cards.pdf"))});
        QCOMPARE(cancels, 0);
        QTRY_VERIFY(save.isNull());

        QPointer<QFileDialog> cancelled =
            OpenFileDialog(&parent, QStringLiteral("Save"), QString(), QStringLiteral("pdf"),
                           chosen, [&] { ++cancels; });
        cancelled->reject();
        QCOMPARE(cancels, 1);
        QCOMPARE(picked.size(), 1);
        QTRY_VERIFY(cancelled.isNull());

        // Open: only an existing file, and no cancel callback is needed.
        QPointer<QFileDialog> open =
            OpenFileDialog(&parent, QStringLiteral("Open"), QString(), QString(), chosen);
        QCOMPARE(open->acceptMode(), QFileDialog::AcceptOpen);
        QCOMPARE(open->fileMode(), QFileDialog::ExistingFile);
        open->reject();
        QCOMPARE(picked.size(), 1);
        QTRY_VERIFY(open.isNull());
    }
};

int main(int argc, char** argv) {
    EnsureApplication();
    FileDialogTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_filedialog.moc"
