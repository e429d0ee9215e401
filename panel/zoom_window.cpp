#include "panel/zoom_window.h"

#include <QKeyEvent>
#include <QPainter>

#include "services/display_frame.h"

namespace {
constexpr const char* kZoomWindowTitle = "Vesk-3 display";
constexpr int kReadoutMargin = 6;
}  // namespace

int ZoomFactor(int width, int height) {
  const int factor = std::min(width / kDisplayWidth, height / kDisplayHeight);
  return factor < 1 ? 1 : factor;
}

CZoomWindow::CZoomWindow(QWidget* keysTo) : QWidget(keysTo, Qt::Window), m_keysTo(keysTo) {
  setWindowTitle(QString::fromLatin1(kZoomWindowTitle));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::StrongFocus);
  setMinimumSize(kDisplayWidth, kDisplayHeight);
  resize(kDisplayWidth * 2, kDisplayHeight * 2);
  m_image = QImage(kDisplayWidth, kDisplayHeight, QImage::Format_RGB888);
  m_image.fill(Qt::black);
}

void CZoomWindow::ShowImage(const QImage& image) {
  m_image = image;
  update();
}

void CZoomWindow::SetReadout(const QString& text) {
  if (text == m_readout) return;
  m_readout = text;
  update();
}

void CZoomWindow::ToggleFullScreen() {
  if (isFullScreen()) {
    showNormal();
  } else {
    showFullScreen();
  }
}

QRect CZoomWindow::ImageRect() const {
  const int factor = ZoomFactor(width(), height());
  const QSize size(m_image.width() * factor, m_image.height() * factor);
  return QRect(QPoint((width() - size.width()) / 2, (height() - size.height()) / 2), size);
}

void CZoomWindow::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.setRenderHint(QPainter::SmoothPixmapTransform, false);
  painter.fillRect(rect(), Qt::black);
  painter.drawImage(ImageRect(), m_image);
  if (!m_readout.isEmpty()) {
    const QRect text = painter.fontMetrics().boundingRect(m_readout).adjusted(-3, -1, 3, 1);
    const QRect box(QPoint(kReadoutMargin, kReadoutMargin), text.size());
    painter.fillRect(box, QColor(0, 0, 0, 160));
    painter.setPen(Qt::white);
    painter.drawText(box, Qt::AlignCenter, m_readout);
  }
}

void CZoomWindow::mouseDoubleClickEvent(QMouseEvent* /*event*/) {
  ToggleFullScreen();
}

bool CZoomWindow::ForwardKey(QEvent* event) {
  // The main window's key filter decides, as if the key had been typed in
  // the main window: while connected the six device keys go to the device.
  return static_cast<QObject*>(m_keysTo)->eventFilter(m_keysTo, event);
}

bool CZoomWindow::HandleOwnKey(const QKeyEvent& key) {
  if (key.key() == Qt::Key_F11) {
    ToggleFullScreen();
    return true;
  }
  if (key.key() == Qt::Key_Escape && isFullScreen()) {
    showNormal();
    return true;
  }
  return false;
}

bool CZoomWindow::event(QEvent* event) {
  const QEvent::Type type = event->type();
  if (type == QEvent::KeyPress || type == QEvent::KeyRelease) {
    if (ForwardKey(event)) return true;
    if (type == QEvent::KeyPress && HandleOwnKey(*static_cast<QKeyEvent*>(event))) return true;
  }
  return QWidget::event(event);
}
