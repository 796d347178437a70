#pragma once

// The video preview with its overlay: the camera's picture (black when there is no camera), a
// red vertical marker line and the antenna's azimuth and elevation in Arial. Frames and overlay
// are painted together, so the overlay shows whether or not a camera is there.

#include <QImage>
#include <QString>
#include <QWidget>
#include <memory>

class QCamera;
class QMediaCaptureSession;
class QVideoSink;

class VideoView : public QWidget {
    Q_OBJECT
public:
    explicit VideoView(QWidget* parent = nullptr);
    ~VideoView() override;

    // Connects the first capture device and starts the preview; false when there is none.
    bool connectFirstCamera();
    void disconnectCamera();
    bool hasCamera() const { return m_camera != nullptr; }
    void pausePreview();
    void resumePreview();

    // The overlay picture is measured in twips (1/1440 inch), the picture's own units.
    void setMarkerX(int twips);
    int markerX() const { return m_markerX; }
    void setOverlayText(const QString& text);
    QString overlayText() const { return m_text; }

    // Pixels per twip at this widget's resolution.
    double pixelsPerTwip() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    std::unique_ptr<QMediaCaptureSession> m_session;
    std::unique_ptr<QCamera> m_camera;
    QVideoSink* m_sink = nullptr;
    QImage m_frame;
    int m_markerX = 0;
    QString m_text;
};
