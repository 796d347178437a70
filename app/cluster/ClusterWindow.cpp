#include "ClusterWindow.h"

#include "ClusterLog.h"
#include "OptionGroup.h"
#include "ProgramState.h"
#include "Settings.h"
#include "ValueLabel.h"
#include "WidgetHelpers.h"

#include <QCloseEvent>
#include <QFontDatabase>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMenuBar>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSplitter>
#include <QTableView>
#include <QTcpSocket>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextDocument>
#include <QTimer>
#include <QVBoxLayout>

namespace {

// Bytes taken from the socket at a time: each is one block for the terminal, so a flood
// cannot make one block (and the terminal) large.
constexpr qint64 ReadBlock = 4096;

const QString Caption = QStringLiteral("FarscanPacket");

QLineEdit* MakeBox(QWidget* parent, const char* name, const QString& accessible) {
    auto* box = new QLineEdit(parent);
    box->setObjectName(QString::fromLatin1(name));
    box->setAccessibleName(accessible);
    return box;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const QString& caption) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QString::fromLatin1(name));
    button->setAccessibleName(caption);
    return button;
}

QLabel* MakeLabel(QWidget* parent, const QString& text, QWidget* buddy) {
    auto* label = new QLabel(text, parent);
    label->setBuddy(buddy);
    return label;
}

// "host:port", "[v6 address]:port"; false when there is no port.
bool SplitHostPort(const QString& text, QString* host, QString* port) {
    const qsizetype colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon < 0)
        return false;
    QString h = text.left(colon).trimmed();
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        h = h.mid(1, h.size() - 2);
    *host = h;
    *port = text.mid(colon + 1).trimmed();
    return true;
}

QString HostPortText(const QString& host, const QString& port) {
    return (host.contains(QLatin1Char(':')) ? QLatin1Char('[') + host + QLatin1Char(']') : host) +
           QLatin1Char(':') + port;
}

} // namespace

ClusterWindow::ClusterWindow(StationContext& context, QWidget* parent)
    : QWidget(parent, Qt::Window), m_context(context) {
    setObjectName(QStringLiteral("form3"));
    setWindowTitle(Caption);
    setAccessibleName(Caption);
    message = [this](const QString& text) {
        auto* box = new QMessageBox(QMessageBox::NoIcon, Caption, text, QMessageBox::Ok, this);
        box->setAttribute(Qt::WA_DeleteOnClose);
        box->open();
    };
    buildControls();
    m_flushTimer = new QTimer(this);
    m_flushTimer->setSingleShot(true);
    m_flushTimer->setInterval(FlushInterval);
    connect(m_flushTimer, &QTimer::timeout, this, &ClusterWindow::flushReceived);
    load();
}

ClusterWindow::~ClusterWindow() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
    }
}

void ClusterWindow::buildControls() {
    auto* top = new QVBoxLayout(this);
    m_menu = new QMenuBar(this);
    m_menu->setObjectName(QStringLiteral("menu"));
    m_menu->setAccessibleName(tr("Menu"));
    QAction* initial = m_menu->addAction(QStringLiteral("&Initial"));
    initial->setObjectName(QStringLiteral("mnuInitial"));
    connect(initial, &QAction::triggered, this, [this] {
        if (openSettings)
            openSettings();
    });
    top->setMenuBar(m_menu);

    auto* grid = new QGridLayout;
    m_QrgD = MakeBox(this, "QrgD", tr("QRG"));
    m_CallD = MakeBox(this, "CallD", tr("Callsign + Grid"));
    MakeUpperCase(m_CallD);
    m_txtmessageD = MakeBox(this, "txtmessageD", tr("DX spot line"));
    m_txtMessageB = MakeBox(this, "txtMessageB", tr("Beacon spot line"));
    m_txtMessageB->setToolTip(
        QStringLiteral("Mark a beacon and press STRG key for overtaking data for dx cluster spot"));
    m_Cmdrefresh = MakeButton(this, "Cmdrefresh", QStringLiteral("Refresh"));
    grid->addWidget(MakeLabel(this, QStringLiteral("QRG"), m_QrgD), 0, 0);
    grid->addWidget(m_QrgD, 0, 1);
    grid->addWidget(MakeLabel(this, QStringLiteral("Callsign + Grid"), m_CallD), 0, 2);
    grid->addWidget(m_CallD, 0, 3);
    grid->addWidget(m_Cmdrefresh, 0, 4);
    grid->addWidget(MakeLabel(this, QStringLiteral("DX"), m_txtmessageD), 1, 0);
    grid->addWidget(m_txtmessageD, 1, 1, 1, 4);
    grid->addWidget(MakeLabel(this, QStringLiteral("Beacon"), m_txtMessageB), 2, 0);
    grid->addWidget(m_txtMessageB, 2, 1, 1, 4);
    top->addLayout(grid);

    auto* options = new QHBoxLayout;
    m_option1 = new OptionGroup(tr("Spot kind"),
                                {QStringLiteral("DX"), QStringLiteral("Beacon"), tr("None")}, this);
    m_option1->setObjectName(QStringLiteral("uSc_MultiOption1"));
    m_option1->setOrientation(Qt::Horizontal);
    m_option2 = new OptionGroup(
        tr("Propagation"), {QStringLiteral("Tropo"), QStringLiteral("Rs"), QStringLiteral("Es")},
        this);
    m_option2->setObjectName(QStringLiteral("uSc_MultiOption2"));
    m_option2->setOrientation(Qt::Horizontal);
    // Every change of the propagation, by the user, an assistive tool or the load, retags.
    connect(m_option2, &OptionGroup::selectionChanged, this, [this] {
        readPropagationTag();
        ComposeSpotLines();
    });
    options->addWidget(m_option1);
    options->addWidget(m_option2);
    top->addLayout(options);

    auto* buttons = new QHBoxLayout;
    m_cmdConnect = MakeButton(this, "cmdConnect", QStringLiteral("LogIn"));
    m_cmdDisconnect = MakeButton(this, "cmdDisconnect", QStringLiteral("LogOut"));
    m_cmdTCP = MakeButton(this, "cmdTCP", QStringLiteral("TCP"));
    m_cmdSendmessage = MakeButton(this, "cmdSendmessage", QStringLiteral("SendMessage"));
    m_cmdExit = MakeButton(this, "cmdExit", QStringLiteral("Exit"));
    for (QPushButton* b :
         {m_cmdConnect, m_cmdDisconnect, m_cmdTCP, m_cmdSendmessage, m_Cmdrefresh, m_cmdExit})
        b->setAutoDefault(false);
    for (QPushButton* b : {m_cmdConnect, m_cmdDisconnect, m_cmdTCP, m_cmdSendmessage, m_cmdExit})
        buttons->addWidget(b);
    top->addLayout(buttons);
    connect(m_cmdConnect, &QPushButton::clicked, this, [this] {
        ClusterCommand = m_myCallsign;
        SendClusterLine();
    });
    connect(m_cmdDisconnect, &QPushButton::clicked, this, [this] {
        ClusterCommand = QStringLiteral("bye");
        SendClusterLine();
    });
    connect(m_cmdTCP, &QPushButton::clicked, this, &ClusterWindow::reconnect);
    connect(m_cmdSendmessage, &QPushButton::clicked, this, &ClusterWindow::sendMessage);
    connect(m_Cmdrefresh, &QPushButton::clicked, this, [this] {
        readPropagationTag();
        ComposeSpotLines();
    });
    connect(m_cmdExit, &QPushButton::clicked, this, &QWidget::close);

    auto* splitter = new QSplitter(Qt::Vertical, this);
    m_TXTterm = new QPlainTextEdit(splitter);
    m_TXTterm->setObjectName(QStringLiteral("TXTterm"));
    m_TXTterm->setAccessibleName(tr("Terminal"));
    m_TXTterm->setReadOnly(true);
    // A terminal keeps no undo history: it would grow with every line received.
    m_TXTterm->setUndoRedoEnabled(false);
    m_TXTterm->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
    m_TXTterm->setLineWrapMode(QPlainTextEdit::WidgetWidth);

    m_spots = new SpotTableModel(this);
    m_spotList = new QTableView(splitter);
    m_spotList->setObjectName(QStringLiteral("SpotList"));
    m_spotList->setAccessibleName(tr("Spots"));
    m_spotList->setModel(m_spots);
    m_spotList->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_spotList->setSelectionMode(QAbstractItemView::SingleSelection);
    m_spotList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_spotList->verticalHeader()->hide();
    m_spotList->horizontalHeader()->setStretchLastSection(true);
    m_spotList->setToolTip(tr("Double-click a spot (or press Enter) to tune to it"));
    m_spotList->installEventFilter(this);
    connect(m_spotList, &QTableView::doubleClicked, this, &ClusterWindow::spotChosen);
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    top->addWidget(splitter, 1);

    m_status = new ValueLabel(QStringLiteral("ClusterStatus"), tr("Connection status"), this);
    top->addWidget(m_status);
    resize(640, 560);
}

void ClusterWindow::load() {
    flushReceived(); // the spots still waiting are listed
    m_terminal.clear();
    m_TXTterm->clear();
    m_shownEdits.reset(0);
    reconnect();
    const SettingsStore& settings = m_context.settings;
    m_option1->setSelected(int(settings[Settings::ClusterOption1].toInt(1)));
    m_option2->setSelected(int(settings[Settings::ClusterOption2].toInt(1)));
    bandIntoQrg();
    ComposeSpotLines();
    m_loaded = true;
}

void ClusterWindow::reconnect() {
    if (m_socket) {
        m_socket->disconnect(this);
        m_socket->abort();
        m_socket->deleteLater();
        m_socket = nullptr;
        showReceived(m_decoder.flush());
    }
    m_decoder.reset();
    m_lines.reset();
    m_connected = false;

    const SettingsStore& settings = m_context.settings;
    const bool second = settings[Settings::ClusterSelect].toInt(1) == 2;
    QString host = settings[second ? Settings::ClusterHost2 : Settings::ClusterHost1].toText();
    QString port = settings[second ? Settings::ClusterPort2 : Settings::ClusterPort1].toText();
    const QString override = qEnvironmentVariable("FARSCAN_CLUSTER");
    if (!override.isEmpty() && !SplitHostPort(override, &host, &port)) {
        host = override;
        port.clear();
    }
    host = host.trimmed();
    port = port.trimmed();

    // The program-wide values hold the callsign and locator of this run (the GPS may have
    // moved the locator); the settings lines stand in until they are known.
    const ProgramState& state = m_context.state;
    m_myCallsign =
        !state.ownCallsign.isEmpty() ? state.ownCallsign : settings[Settings::MyCallsign].toText();
    m_myGrid = !state.ownLocator.isEmpty() ? state.ownLocator : settings[Settings::MyGrid].toText();

    m_socket = new QTcpSocket(this);
    connect(m_socket, &QTcpSocket::connected, this, [this] {
        m_connected = true;
        setStatus(tr("Connected to %1").arg(HostPortText(m_host, QString::number(m_port))));
    });
    connect(m_socket, &QTcpSocket::readyRead, this, &ClusterWindow::dataArrived);
    connect(m_socket, &QTcpSocket::errorOccurred, this, [this](QAbstractSocket::SocketError e) {
        if (!m_connected)
            setStatus(tr("Connection failed: %1").arg(m_socket->errorString()));
        else if (e == QAbstractSocket::RemoteHostClosedError)
            setStatus(tr("Disconnected by the server"));
        else
            setStatus(tr("Connection lost: %1").arg(m_socket->errorString()));
        m_connected = false;
    });
    connect(m_socket, &QTcpSocket::disconnected, this, [this] {
        if (m_connected)
            setStatus(tr("Disconnected by the server"));
        m_connected = false;
        dataArrived(); // what came with the close
        showReceived(m_decoder.flush());
        flushReceived(); // nothing more is coming: show it all now
    });

    bool ok = false;
    const uint number = port.toUInt(&ok);
    m_host = host;
    m_port = ok && number > 0 && number <= 65535 ? quint16(number) : 0;
    if (m_port == 0) {
        setStatus(tr("Connection failed: no valid port for %1 (\"%2\")")
                      .arg(host.isEmpty() ? tr("the cluster server") : host, port));
    } else if (host.isEmpty()) {
        setStatus(tr("Connection failed: no cluster server configured"));
    } else {
        setStatus(tr("Connecting to %1").arg(HostPortText(host, port)));
        qCInfo(lcCluster, "Connecting to %s:%u", qPrintable(host), unsigned(m_port));
        m_socket->connectToHost(host, m_port);
    }
    ClusterCommand.clear();
}

void ClusterWindow::bandIntoQrg() {
    m_QrgD->setText(
        m_context.state.BandPattern.chopped(m_context.state.BandPattern.isEmpty() ? 0 : 1));
}

void ClusterWindow::readPropagationTag() {
    switch (m_option2->selected()) {
    case 1:
        m_tag = QStringLiteral("<Tr>");
        break;
    case 2:
        m_tag = QStringLiteral("<Rs>");
        break;
    case 3:
        m_tag = QStringLiteral("<Es>");
        break;
    default:
        break;
    }
}

void ClusterWindow::ComposeSpotLines() {
    const QString grid6 = m_myGrid.left(6);
    const ProgramState& state = m_context.state;
    switch (m_option1->selected()) {
    case 1:
        m_txtmessageD->setText(QStringLiteral("dx ") + m_QrgD->text() + QLatin1Char(' ') +
                               m_CallD->text() + m_tag + grid6);
        break;
    case 2:
        m_txtMessageB->setText(QStringLiteral("dx ") + state.SpotFrequency + QLatin1Char(' ') +
                               state.SelectedBeacon + QLatin1Char(' ') + state.SpotLocator + m_tag +
                               grid6);
        break;
    default:
        break;
    }
}

void ClusterWindow::windowActivated() {
    readPropagationTag();
    bandIntoQrg();
    ComposeSpotLines();
}

void ClusterWindow::sendMessage() {
    switch (m_option1->selected()) {
    case 2:
        ClusterCommand = m_txtMessageB->text();
        break;
    case 1:
        ClusterCommand = m_txtmessageD->text();
        break;
    default:
        break;
    }
    SendClusterLine();
}

void ClusterWindow::SendClusterLine() {
    const QByteArray bytes = EncodeClusterLine(ClusterCommand + QStringLiteral("\r\n"));
    ClusterCommand.clear();
    if (!m_socket || m_socket->state() != QAbstractSocket::ConnectedState) {
        setStatus(tr("Not connected: the line was not sent"));
        return;
    }
    if (m_socket->write(bytes) != bytes.size())
        setStatus(tr("The line was not sent: %1").arg(m_socket->errorString()));
}

void ClusterWindow::dataArrived() {
    if (!m_socket)
        return;
    while (m_socket->bytesAvailable() > 0) {
        const QByteArray block = m_socket->read(ReadBlock);
        if (block.isEmpty())
            break;
        QByteArray reply;
        const QString text = m_decoder.decode(block, &reply);
        if (!reply.isEmpty() && m_socket->state() == QAbstractSocket::ConnectedState)
            m_socket->write(reply);
        showReceived(text);
    }
}

void ClusterWindow::showReceived(const QString& text) {
    if (text.isEmpty())
        return;
    // The terminal's text follows at once; the widgets follow with the next flush.
    m_shownEdits.add(AppendToTerminal(m_terminal, text));
    for (const QString& line : m_lines.add(text)) {
        ClusterSpot spot;
        if (ParseSpotLine(line, &spot))
            m_newSpots.append(std::move(spot));
    }
    // Only the newest rows can be listed; trimmed now and then, not per spot.
    if (m_newSpots.size() > 2 * SpotTableModel::MaxRows)
        m_newSpots.remove(0, m_newSpots.size() - SpotTableModel::MaxRows);
    if (!m_flushTimer->isActive())
        m_flushTimer->start();
}

void ClusterWindow::flushReceived() {
    m_flushTimer->stop();
    if (!m_shownEdits.isEmpty()) {
        // The document follows with the edits of all texts since the last flush.
        const ShownEdit edit = m_shownEdits.take();
        QTextDocument* doc = m_TXTterm->document();
        QTextCursor cursor(doc);
        cursor.beginEditBlock();
        if (edit.removeFront > 0) {
            cursor.setPosition(0);
            cursor.setPosition(int(qMin<qsizetype>(edit.removeFront, doc->characterCount() - 1)),
                               QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        if (edit.removeTail > 0) {
            const int end = doc->characterCount() - 1;
            cursor.setPosition(int(qMax<qsizetype>(0, end - edit.removeTail)));
            cursor.setPosition(end, QTextCursor::KeepAnchor);
            cursor.removeSelectedText();
        }
        cursor.movePosition(QTextCursor::End);
        cursor.insertText(edit.append);
        cursor.endEditBlock();
        m_TXTterm->moveCursor(QTextCursor::End);
    }
    if (!m_newSpots.isEmpty()) {
        const QList<ClusterSpot> spots = std::move(m_newSpots);
        m_newSpots.clear();
        m_spots->addSpots(spots);
    }
}

void ClusterWindow::spotChosen(const QModelIndex& index) {
    if (!index.isValid() || index.row() >= m_spots->rowCount())
        return;
    const ClusterSpot& spot = m_spots->spot(index.row());
    const QString digits = SpotFrequencyDigits(spot.frequency);
    if (!SpotOnStationBand(digits)) {
        setStatus(tr("The station has no band for %1 kHz (%2)").arg(spot.frequency, spot.dxCall));
        return;
    }
    setStatus(tr("Tuning to %1 kHz (%2)").arg(digits, spot.dxCall));
    if (tuneToSpot)
        tuneToSpot(digits);
}

void ClusterWindow::setStatus(const QString& text) {
    m_status->setText(text);
}

bool ClusterWindow::eventFilter(QObject* watched, QEvent* event) {
    if (watched == m_spotList && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            spotChosen(m_spotList->currentIndex());
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void ClusterWindow::showEvent(QShowEvent* event) {
    if (!m_loaded)
        load();
    QWidget::showEvent(event);
}

void ClusterWindow::changeEvent(QEvent* event) {
    if (event->type() == QEvent::ActivationChange && isActiveWindow() && m_loaded)
        windowActivated();
    QWidget::changeEvent(event);
}

void ClusterWindow::closeEvent(QCloseEvent* event) {
    if (m_loaded) {
        if (m_socket) {
            m_socket->disconnect(this);
            m_socket->abort();
            m_socket->deleteLater();
            m_socket = nullptr;
        }
        m_connected = false;
        ProgramState& state = m_context.state;
        state.SelectedBeacon.clear();
        state.SpotLocator.clear();
        SettingsStore& settings = m_context.settings;
        settings[Settings::ClusterOption2] = SettingValue::number(m_option2->selected());
        settings[Settings::ClusterOption1] = SettingValue::number(m_option1->selected());
        if (!settings.SaveSettings() && message)
            message(tr("The settings could not be saved: %1").arg(settings.lastError()));
        setStatus(QString());
        m_loaded = false;
    }
    QWidget::closeEvent(event);
}
