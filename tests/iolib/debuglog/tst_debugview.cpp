// The debug viewer offscreen on a real log file: it follows the file, colours the lines by level,
// inserts markers, clears, and saves RTF through its non-modal dialog.
#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>

#include "DebugView.h"

using debugview::DebugView;

namespace {

void Append(const QString& file, const QByteArray& text) {
    QFile out(file);
    QVERIFY(out.open(QIODevice::Append));
    QCOMPARE(out.write(text), text.size());
}

QStringList Blocks(const QTextDocument& document) {
    QStringList lines;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        lines.append(block.text());
    }
    return lines;
}

QTextCharFormat FormatOf(const QTextDocument& document, const QString& text) {
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        if (block.text() == text) {
            return block.begin().fragment().charFormat();
        }
    }
    return {};
}

} // namespace

class DebugViewTest : public QObject {
    Q_OBJECT

private slots:
    void followsColoursMarksAndSaves() {
        QTemporaryDir dir;
        QVERIFY(dir.isValid());
        const QString file = dir.filePath(QStringLiteral("portivadll_dbg.txt"));
        const QByteArray earlier = "[INFO]  an earlier session\n";
        Append(file, earlier);
        Append(file, "[INFO]  function UsbInit\n"
                     "        [INFO]  PARAM DevNum = 0 = 0x00 (byte)\n"
                     "[DEV]   Device Opened\n"
                     "        [DETLD] detail\n"
                     "[ERROR] Device not present\r\n"
                     "        [INFO]  RESULT  = fa");

        DebugView view(file, earlier.size());
        view.show();
        QVERIFY(QTest::qWaitForWindowExposed(&view));
        QCOMPARE(view.windowTitle(), QStringLiteral("portivadll - debug window"));
        const QTextDocument& doc = *view.log()->document();
        const QStringList intro = {
            QStringLiteral("PortivaDll is in debug mode. This enables you to debug its"),
            QStringLiteral("functionality, see errors that are not handled"),
            QStringLiteral("by your application, ...")};
        QStringList expected = intro;
        expected << QStringLiteral("[INFO]  function UsbInit")
                 << QStringLiteral("        [INFO]  PARAM DevNum = 0 = 0x00 (byte)")
                 << QStringLiteral("[DEV]   Device Opened")
                 << QStringLiteral("        [DETLD] detail")
                 << QStringLiteral("[ERROR] Device not present");
        QCOMPARE(Blocks(doc), expected);

        // Colours and weight by level; the half-written line waits for its end.
        QCOMPARE(FormatOf(doc, expected[3]).foreground().color(), QColor(0, 0, 0));
        QCOMPARE(FormatOf(doc, expected[5]).foreground().color(), QColor(0, 0, 255));
        QCOMPARE(FormatOf(doc, expected[6]).foreground().color(), QColor(255, 255, 0));
        QCOMPARE(FormatOf(doc, expected[7]).foreground().color(), QColor(255, 0, 0));
        QCOMPARE(FormatOf(doc, expected[7]).fontWeight(), int(QFont::Bold));
        QCOMPARE(FormatOf(doc, expected[3]).fontWeight(), int(QFont::Normal));
        QCOMPARE(FormatOf(doc, intro[0]).foreground().color(), QColor(0, 0, 0));

        // The file grows: the watcher or the timer brings the rest in, the split line whole.
        Append(file, "lse (bool)\n[ERROR] Usb transfer failed\n");
        expected << QStringLiteral("        [INFO]  RESULT  = false (bool)")
                 << QStringLiteral("[ERROR] Usb transfer failed");
        QTRY_COMPARE_WITH_TIMEOUT(Blocks(doc), expected, 5000);

        // The marker: the date and time in brackets and 39 dashes, green and bold.
        QTest::mouseClick(view.markerButton(), Qt::LeftButton);
        const QString marker = Blocks(doc).last();
        QVERIFY2(QRegularExpression(QStringLiteral("^\\[.+\\]-{39}$")).match(marker).hasMatch(),
                 qPrintable(marker));
        QCOMPARE(FormatOf(doc, marker).foreground().color(), QColor(0, 128, 0));
        QCOMPARE(FormatOf(doc, marker).fontWeight(), int(QFont::Bold));

        // Scroll To End puts the caret after the last line and shows it.
        view.log()->moveCursor(QTextCursor::Start);
        QTest::mouseClick(view.scrollButton(), Qt::LeftButton);
        QVERIFY(view.log()->textCursor().atEnd());

        // Save through the dialog, which leaves the window usable while it is open.
        QTest::mouseClick(view.saveButton(), Qt::LeftButton);
        QFileDialog* dialog = view.saveDialog();
        QVERIFY(dialog);
        QVERIFY(!dialog->isModal() || dialog->windowModality() != Qt::ApplicationModal);
        QCOMPARE(dialog->defaultSuffix(), QStringLiteral("rtf"));
        QCOMPARE(dialog->nameFilters(), QStringList{QStringLiteral("*.rtf")});
        dialog->selectFile(dir.filePath(QStringLiteral("saved")));
        static_cast<QDialog*>(dialog)->accept(); // as the Save button does
        QFile saved(dir.filePath(QStringLiteral("saved.rtf")));
        QVERIFY(saved.open(QIODevice::ReadOnly));
        const QByteArray rtf = saved.readAll();
        QVERIFY(rtf.startsWith("{\\rtf1"));
        QVERIFY(rtf.contains("Courier New"));
        QVERIFY(rtf.contains("\\fs16"));
        QVERIFY(rtf.contains("\\red255\\green0\\blue0;"));
        QVERIFY(rtf.contains("\\red0\\green128\\blue0;"));
        QVERIFY(rtf.contains("\\b [ERROR] Device not present\\par"));
        QVERIFY(rtf.contains("\\b0         [INFO]  PARAM DevNum = 0 = 0x00 (byte)\\par"));
        QVERIFY(rtf.trimmed().endsWith("}"));

        // A file that cannot be written is reported, not passed over.
        QVERIFY(!view.saveTo(dir.filePath(QStringLiteral("missing/folder/log.rtf"))));
        QTRY_VERIFY(view.findChild<QMessageBox*>() && view.findChild<QMessageBox*>()->isVisible());
        view.findChild<QMessageBox*>()->close();

        // Clear empties the box; a file started again from nothing is read from its beginning.
        QTest::mouseClick(view.clearButton(), Qt::LeftButton);
        QVERIFY(doc.isEmpty());
        QFile restart(file);
        QVERIFY(restart.open(QIODevice::WriteOnly | QIODevice::Truncate));
        restart.write("[INFO]  Dll version: 1.7.9.0\n");
        restart.close();
        view.poll();
        QCOMPARE(Blocks(doc), QStringList{QStringLiteral("[INFO]  Dll version: 1.7.9.0")});

        // Every control has a name for assistive tools.
        for (QPushButton* button :
             {view.clearButton(), view.markerButton(), view.scrollButton(), view.saveButton()}) {
            QCOMPARE(button->accessibleName(), button->text());
        }
        QCOMPARE(view.log()->accessibleName(), QStringLiteral("Log"));
    }

    void rtfEscapesText() {
        QTextDocument doc;
        doc.setPlainText(QStringLiteral("a{b}\\c \u00e9"));
        const QByteArray rtf = debugview::DocumentToRtf(doc);
        QVERIFY2(rtf.contains("a\\{b\\}\\\\c \\u233?"), rtf.constData());
    }
};

QTEST_MAIN(DebugViewTest)
#include "tst_debugview.moc"
