// The display view: the area of the main window that mirrors the device display.
//
// Owns: its 32-bit pixel buffer (a QImage of the view's own size, black when
// created at the first paint and kept for the view's lifetime) and its
// painting. ShowFrame converts the whole FrameBuffer into the buffer, centred,
// and repaints before it returns. Does not own: the FrameBuffer (services/),
// when to refresh (the controller) or the clipboard (the main window).
#pragma once

#include <QImage>
#include <QWidget>

class CBitmapRect : public QWidget {
  Q_OBJECT

 public:
  explicit CBitmapRect(QWidget* parent = nullptr);

  void ShowFrame();

  // The view's current image; a null image before the first paint.
  const QImage& Image() const { return m_pixels; }
  bool IsInitialised() const { return m_initialised; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  bool m_initialised = false;
  int m_width = 0;
  int m_height = 0;
  QImage m_pixels;
};
