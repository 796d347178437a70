#include "VideoView.h"

#include <QCamera>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QPainter>
#include <QVideoFrame>
#include <QVideoSink>

VideoView::VideoView(QWidget* parent) : QWidget(parent) {
    setAccessibleName(QStringLiteral("Video preview"));
    setMinimumSize(240, 180);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

VideoView::~VideoView() {
    disconnectCamera();
}

bool VideoView::connectFirstCamera() {
    disconnectCamera();
    const auto inputs = QMediaDevices::videoInputs();
    if (inputs.isEmpty())
        return false;
    m_session = std::make_unique<QMediaCaptureSession>();
    m_camera = std::make_unique<QCamera>(inputs.first());
    m_sink = new QVideoSink(this);
    connect(m_sink, &QVideoSink::videoFrameChanged, this, [this](const QVideoFrame& frame) {
        m_frame = frame.toImage();
        update();
    });
    m_session->setCamera(m_camera.get());
    m_session->setVideoSink(m_sink);
    m_camera->start();
    return true;
}

void VideoView::disconnectCamera() {
    if (m_camera)
        m_camera->stop();
    if (m_session) {
        m_session->setVideoSink(nullptr);
        m_session->setCamera(nullptr);
    }
    m_camera.reset();
    m_session.reset();
    delete m_sink;
    m_sink = nullptr;
    m_frame = QImage();
    update();
}

void VideoView::pausePreview() {
    if (m_camera)
        m_camera->stop();
}

void VideoView::resumePreview() {
    if (m_camera)
        m_camera->start();
}

void VideoView::setMarkerX(int twips) {
    m_markerX = twips;
    update();
}

void VideoView::setOverlayText(const QString& text) {
    m_text = text;
    update();
}

double VideoView::pixelsPerTwip() const {
    return logicalDpiX() / 1440.0;
}

void VideoView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), Qt::black);
    if (!m_frame.isNull())
        p.drawImage(rect(), m_frame);

    // The marker runs from y = -1 to y = 10000 in the picture's units, i.e. top to bottom.
    const double scale = pixelsPerTwip();
    const int x = qRound(m_markerX * scale);
    p.setPen(QPen(QColor(255, 0, 0), 1));
    p.drawLine(x, qRound(-1 * scale), x, qRound(10000 * scale));

    QFont font(QStringLiteral("Arial"));
    font.setPointSize(10);
    p.setFont(font);
    p.setPen(Qt::white);
    p.drawText(rect().adjusted(6, 4, -6, -4), Qt::AlignLeft | Qt::AlignTop, m_text);
}
