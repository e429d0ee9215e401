// Capture from the window: the display view's context menu and what it does
// (saving the mirror as a PNG, recording the refreshes, the zoom window, the
// refresh readout).
//
// Owns: the menu and its actions (also Ctrl+S and Ctrl+R in the main and the
// zoom window), the last mirrored image at the device's size, the recorder
// while one runs, the zoom window, the refresh meter, the main window's title
// suffixes, and the folders last used. It follows the controller: each
// refreshed frame is saved, recorded, shown enlarged and counted right after
// the view shows it, on the window's thread; leaving Connected finishes the
// recording; hiding the main window finishes it and closes the zoom window.
// Does not own: the refresh itself (the controller), the view's own image
// (CBitmapRect), the PNG and video writers (capture/).
#pragma once

#include <QObject>
#include <QString>
#include <functional>
#include <memory>

#include "capture/frame_image.h"
#include "capture/recorder.h"
#include "panel/front_panel_controller.h"
#include "panel/refresh_meter.h"

class CTessaro_AppDlg;
class CZoomWindow;
class QAction;
class QImage;
class QMenu;
class QWidget;

// What a save dialog is asked for.
enum class CaptureFile { Screenshot, Recording };

// "vesk3-YYYYMMDD-HHMMSS" of a local time given as seconds since the epoch.
QString CaptureBaseName(qint64 secondsSinceEpoch);

class CCaptureMenu : public QObject, private PanelFollower {
  Q_OBJECT

 public:
  explicit CCaptureMenu(CTessaro_AppDlg& dialog);
  ~CCaptureMenu() override;

  QMenu& Menu() { return *m_menu; }
  QAction* SaveAction() const { return m_save; }
  QAction* CopyAction() const { return m_copy; }
  QAction* RecordAction() const { return m_record; }
  QAction* ZoomAction() const { return m_zoom; }
  QAction* RefreshRateAction() const { return m_refreshRate; }

  bool Recording() const { return m_recorder != nullptr; }
  uint64_t FramesRecorded() const { return m_framesRecorded; }
  // The zoom window, made at its first use; null before.
  CZoomWindow* ZoomWindow() const { return m_zoomWindow; }
  RefreshReading Reading() const { return m_meter.Reading(); }
  // The last mirrored image, device-sized; empty before the first frame.
  const RgbImage& LastImage() const { return m_lastImage; }

  // The folder last used for screenshots, then for recordings.
  QString ScreenshotFolder() const { return m_screenshotFolder; }

  // Asks where to write; "" when the user cancelled. The default is Qt's own
  // save dialog; tests put their answer here.
  std::function<QString(CaptureFile kind, const QString& suggestedPath)> askPath;
  // Shows a warning box; tests note the text here.
  std::function<void(const QString& text)> warn;

  void SaveScreenshot();
  void ToggleRecording();
  void StartRecording();
  void StopRecording();
  void ShowZoomWindow();
  void SetRefreshRateShown(bool shown);

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  // PanelFollower
  void OnPanelStateChanged(PanelState state) override;
  void OnFrameShown() override;

  void BuildActions();
  void PopUpAtView(const QPoint& globalPos);
  QString AskPathWithDialog(CaptureFile kind, const QString& suggestedPath);
  void WarnWithBox(const QString& text);
  void RecordFrame();
  QString FinishRecording();
  void UpdateEnabled();
  void UpdateTitle();
  QImage LastQImage() const;

  CTessaro_AppDlg& m_dialog;
  QMenu* m_menu = nullptr;
  QAction* m_save = nullptr;
  QAction* m_copy = nullptr;
  QAction* m_record = nullptr;
  QAction* m_zoom = nullptr;
  QAction* m_refreshRate = nullptr;
  CZoomWindow* m_zoomWindow = nullptr;

  RgbImage m_lastImage;
  bool m_connected = false;
  uint64_t m_bytesAtLastFrame = 0;
  RefreshMeter m_meter;

  std::unique_ptr<FrameRecorder> m_recorder;
  QString m_recordingPath;
  uint64_t m_recordingStartUs = 0;
  uint64_t m_framesRecorded = 0;

  QString m_screenshotFolder;
  QString m_recordingFolder;
};
