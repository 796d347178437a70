#include "DebugView.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QSaveFile>
#include <QScrollBar>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTextEdit>
#include <QVBoxLayout>

namespace debugview {

namespace {

constexpr qint64 kChunkBytes = 256 * 1024;
constexpr int kPollMs = 1000;

const char* const kTags[] = {"[DETLD]", "[DEV]  ", "[INFO] ", "[ERROR]"};

QString RtfText(const QString& text) {
    QString out;
    for (const QChar c : text) {
        const ushort code = c.unicode();
        if (c == u'\\' || c == u'{' || c == u'}') {
            out += u'\\';
            out += c;
        } else if (c == u'\t') {
            out += QStringLiteral("\\tab ");
        } else if (code < 0x20) {
            continue;
        } else if (code < 0x80) {
            out += c;
        } else {
            // RTF wants the UTF-16 unit as a signed 16-bit number, then a fallback character.
            out += QStringLiteral("\\u%1?").arg(static_cast<short>(code));
        }
    }
    return out;
}

} // namespace

int LevelOfLine(const QString& line) {
    QStringView text(line);
    if (text.startsWith(QLatin1String("        "))) {
        text = text.mid(8);
    }
    for (int level = 0; level < 4; ++level) {
        if (text.startsWith(QLatin1String(kTags[level]))) {
            return level;
        }
    }
    return -1;
}

QTextCharFormat FormatOfLevel(int level) {
    QTextCharFormat format;
    format.setFontWeight(QFont::Normal);
    switch (level) {
    case 0:
        format.setForeground(QColor(255, 255, 0));
        break;
    case 1:
        format.setForeground(QColor(0, 0, 255));
        break;
    case 3:
        format.setForeground(QColor(255, 0, 0));
        format.setFontWeight(QFont::Bold);
        break;
    default:
        format.setForeground(QColor(0, 0, 0));
        break;
    }
    return format;
}

QByteArray DocumentToRtf(const QTextDocument& document) {
    QList<QRgb> colours{qRgb(0, 0, 0)};
    QString body;
    for (QTextBlock block = document.begin(); block.isValid(); block = block.next()) {
        for (auto it = block.begin(); !it.atEnd(); ++it) {
            const QTextFragment fragment = it.fragment();
            if (!fragment.isValid()) {
                continue;
            }
            const QTextCharFormat format = fragment.charFormat();
            const QRgb colour = format.foreground().color().rgb();
            qsizetype index = colours.indexOf(colour);
            if (index < 0) {
                colours.append(colour);
                index = colours.size() - 1;
            }
            body += QStringLiteral("\\cf%1\\b%2 ")
                        .arg(index + 1)
                        .arg(format.fontWeight() >= QFont::Bold ? QString() : QStringLiteral("0"));
            // A fragment holds no paragraph break; soft line breaks come as U+2028.
            const QStringList parts = fragment.text().split(QChar::LineSeparator);
            for (qsizetype i = 0; i < parts.size(); ++i) {
                if (i > 0) {
                    body += QStringLiteral("\\line ");
                }
                body += RtfText(parts[i]);
            }
        }
        if (block.next().isValid()) {
            body += QStringLiteral("\\par\n");
        }
    }
    QString rtf = QStringLiteral("{\\rtf1\\ansi\\deff0{\\fonttbl{\\f0\\fmodern Courier New;}}\n"
                                 "{\\colortbl;");
    for (const QRgb colour : colours) {
        rtf += QStringLiteral("\\red%1\\green%2\\blue%3;")
                   .arg(qRed(colour))
                   .arg(qGreen(colour))
                   .arg(qBlue(colour));
    }
    rtf += QStringLiteral("}\n\\f0\\fs16 ") + body + QStringLiteral("\\par\n}\n");
    return rtf.toLatin1();
}

QStringList LogFollower::readLines(qint64 maxBytes, bool* more) {
    *more = false;
    QFile file(m_file);
    if (!file.open(QIODevice::ReadOnly)) {
        return {};
    }
    const qint64 size = file.size();
    if (size < m_offset) {
        // Replaced or emptied: whatever it holds now is new.
        m_offset = 0;
        m_partial.clear();
    }
    if (!file.seek(m_offset)) {
        return {};
    }
    const QByteArray data = file.read(maxBytes);
    m_offset += data.size();
    *more = m_offset < size;
    m_partial += data;
    const qsizetype end = m_partial.lastIndexOf('\n');
    if (end < 0) {
        return {};
    }
    QStringList lines;
    for (QByteArray line : m_partial.left(end).split('\n')) {
        if (line.endsWith('\r')) {
            line.chop(1);
        }
        lines.append(QString::fromUtf8(line));
    }
    m_partial.remove(0, end + 1);
    return lines;
}

DebugView::DebugView(const QString& file, qint64 offset, QWidget* parent)
    : QWidget(parent), m_follower(file, offset) {
    setWindowTitle(QStringLiteral("portivadll - debug window"));
    resize(557, 485);

    auto* commands = new QGroupBox(QStringLiteral("Commands"), this);
    commands->setAccessibleName(commands->title());
    commands->setFixedHeight(49);
    auto* buttons = new QHBoxLayout(commands);
    buttons->setContentsMargins(8, 4, 8, 4);
    auto button = [&](const char* caption) {
        auto* b = new QPushButton(QString::fromLatin1(caption), commands);
        b->setAccessibleName(b->text());
        b->setMinimumSize(75, 25);
        b->setSizePolicy(QSizePolicy::Fixed, QSizePolicy::Fixed);
        buttons->addWidget(b);
        return b;
    };
    m_clear = button("Clear log");
    m_marker = button("Insert marker");
    m_scroll = button("Scroll To End");
    m_save = button("Save to File");
    buttons->addStretch(1);

    auto* logGroup = new QGroupBox(QStringLiteral("Logfile"), this);
    logGroup->setAccessibleName(logGroup->title());
    auto* logLayout = new QVBoxLayout(logGroup);
    m_log = new QTextEdit(logGroup);
    m_log->setAccessibleName(QStringLiteral("Log"));
    m_log->setAccessibleDescription(m_follower.file());
    m_log->setReadOnly(true);
    m_log->setLineWrapMode(QTextEdit::NoWrap);
    m_log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    m_log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    QFont courier(QStringLiteral("Courier New"), 8);
    courier.setStyleHint(QFont::TypeWriter);
    m_log->document()->setDefaultFont(courier);
    logLayout->addWidget(m_log);

    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(commands);
    layout->addWidget(logGroup, 1);

    connect(m_clear, &QPushButton::clicked, m_log, &QTextEdit::clear);
    connect(m_marker, &QPushButton::clicked, this, [this] { insertMarker(); });
    connect(m_scroll, &QPushButton::clicked, this, [this] { scrollToEnd(); });
    connect(m_save, &QPushButton::clicked, this, [this] { openSaveDialog(); });

    const QTextCharFormat black = FormatOfLevel(2);
    appendLine(QStringLiteral("PortivaDll is in debug mode. This enables you to debug its"), black);
    appendLine(QStringLiteral("functionality, see errors that are not handled"), black);
    appendLine(QStringLiteral("by your application, ..."), black);

    connect(&m_watcher, &QFileSystemWatcher::fileChanged, this, [this] { poll(); });
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, this, [this] { poll(); });
    // The watcher loses a file that is replaced, and some file systems tell it nothing.
    connect(&m_timer, &QTimer::timeout, this, [this] { poll(); });
    m_timer.start(kPollMs);
    watch();
    poll();
}

void DebugView::watch() {
    const QFileInfo info(m_follower.file());
    if (info.exists() && !m_watcher.files().contains(info.filePath())) {
        m_watcher.addPath(info.filePath());
    }
    if (info.dir().exists() && m_watcher.directories().isEmpty()) {
        m_watcher.addPath(info.dir().path());
    }
}

void DebugView::poll() {
    m_pollQueued = false;
    watch();
    bool more = false;
    const QStringList lines = m_follower.readLines(kChunkBytes, &more);
    if (!lines.isEmpty()) {
        QScrollBar* bar = m_log->verticalScrollBar();
        const bool atEnd = bar->value() == bar->maximum();
        for (const QString& line : lines) {
            appendLine(line, FormatOfLevel(LevelOfLine(line)));
        }
        if (atEnd) {
            bar->setValue(bar->maximum());
        }
    }
    if (more && !m_pollQueued) {
        // A long file comes in chunks, so that the window stays responsive.
        m_pollQueued = true;
        QTimer::singleShot(0, this, [this] { poll(); });
    }
}

void DebugView::appendLine(const QString& text, const QTextCharFormat& format) {
    QTextCursor cursor(m_log->document());
    cursor.movePosition(QTextCursor::End);
    if (!m_log->document()->isEmpty()) {
        cursor.insertBlock();
    }
    cursor.insertText(text, format);
}

void DebugView::insertMarker() {
    QTextCharFormat green;
    green.setForeground(QColor(0, 128, 0));
    green.setFontWeight(QFont::Bold);
    const QString now = QLocale().toString(QDateTime::currentDateTime(), QLocale::ShortFormat);
    appendLine(QLatin1Char('[') + now + QLatin1Char(']') + QString(39, QLatin1Char('-')), green);
}

void DebugView::scrollToEnd() {
    m_log->moveCursor(QTextCursor::End);
    m_log->ensureCursorVisible();
    m_log->setFocus();
}

void DebugView::openSaveDialog() {
    if (m_dialog) {
        m_dialog->raise();
        return;
    }
    m_dialog =
        new QFileDialog(this, QStringLiteral("Save to File"), QString(), QStringLiteral("*.rtf"));
    m_dialog->setAttribute(Qt::WA_DeleteOnClose);
    m_dialog->setAcceptMode(QFileDialog::AcceptSave);
    m_dialog->setFileMode(QFileDialog::AnyFile);
    m_dialog->setDefaultSuffix(QStringLiteral("rtf"));
    connect(m_dialog, &QFileDialog::fileSelected, this,
            [this](const QString& file) { saveTo(file); });
    m_dialog->open();
}

bool DebugView::saveTo(const QString& file) {
    QSaveFile out(file);
    const bool saved = out.open(QIODevice::WriteOnly) &&
                       out.write(DocumentToRtf(*m_log->document())) >= 0 && out.commit();
    if (!saved) {
        auto* box = new QMessageBox(
            QMessageBox::Warning, windowTitle(),
            QStringLiteral("The log could not be saved to %1: %2").arg(file, out.errorString()),
            QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    }
    return saved;
}

} // namespace debugview
