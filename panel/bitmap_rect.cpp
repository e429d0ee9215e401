#include "panel/bitmap_rect.h"

#include <QPainter>

#include "services/display_frame.h"
#include "services/frame_view.h"

CBitmapRect::CBitmapRect(QWidget* parent) : QWidget(parent) {
  // The view paints every pixel itself; nothing is erased behind it.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setFocusPolicy(Qt::NoFocus);
}

void CBitmapRect::paintEvent(QPaintEvent* /*event*/) {
  m_width = width();
  m_height = height();
  if (!m_initialised) {
    m_pixels = QImage(m_width, m_height, QImage::Format_RGB32);
    if (m_pixels.isNull()) return;  // no memory: the next paint tries again
    m_pixels.fill(0u);
    m_initialised = true;
  }
  QPainter painter(this);
  painter.drawImage(0, 0, m_pixels);
}

void CBitmapRect::ShowFrame() {
  if (m_initialised) {
    // 32-bit rows are never padded, so the image is width x height words.
    RenderFrame(FrameBuffer, reinterpret_cast<uint32_t*>(m_pixels.bits()), m_pixels.width(),
                m_pixels.height());
  }
  repaint();
}
