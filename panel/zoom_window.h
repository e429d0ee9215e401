// The zoom window: a second, resizable top-level window that shows the
// mirror enlarged by the largest whole factor that fits, nearest neighbour,
// centred on black.
//
// Owns: its copy of the last mirrored image, the enlargement, full screen
// (F11 or a double click; Esc leaves it while the keys are not the
// device's), the readout in its corner. Keys go first through the main
// window's key forwarding, exactly as if typed there.
// Does not own: when the image changes (it is handed each refreshed frame),
// the key forwarding itself (the main window's), or its lifetime (a child of
// the main window, it closes with it).
#pragma once

#include <QImage>
#include <QString>
#include <QWidget>

// The largest whole factor at which a device screen fits in width x height;
// 1 when even the device's own size does not fit.
int ZoomFactor(int width, int height);

class CZoomWindow : public QWidget {
  Q_OBJECT

 public:
  // keysTo: the main window, whose key forwarding sees every key typed here.
  explicit CZoomWindow(QWidget* keysTo);

  // The device-sized image to show from now on.
  void ShowImage(const QImage& image);
  // The corner readout; empty: none.
  void SetReadout(const QString& text);

  void ToggleFullScreen();

  const QImage& Image() const { return m_image; }
  // Where the enlarged image lies in the window.
  QRect ImageRect() const;

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;

 private:
  bool ForwardKey(QEvent* event);
  bool HandleOwnKey(const QKeyEvent& key);

  QWidget* m_keysTo;
  QImage m_image;
  QString m_readout;
};
