// The main window: the dialog built from the window template.
//
// Owns: the widgets of the template (made hidden or disabled as the template
// says, in its tab order), the two window timers, the message boxes, the
// clipboard steps, the colour picker, and the routing of clicks, timer ticks
// and keys to the controller. Keys pass the controller's key forwarding first;
// what it does not consume gets the dialog's own keyboard handling.
// Does not own: any decision (FrontPanelController) or the mirrored pixels
// (CBitmapRect).
#pragma once

#include <QDialog>
#include <QIcon>
#include <QString>
#include <string>

#include "panel/front_panel_controller.h"

class CBitmapRect;
class QComboBox;
class QLabel;
class QPushButton;
class QTimer;

// 8-bit texts of the core shown as window text (the ANSI code page of a
// Western system, taken as Latin-1).
QString WindowText(const std::string& text);

class CTessaro_AppDlg : public QDialog, private PanelView {
  Q_OBJECT

 public:
  explicit CTessaro_AppDlg(QWidget* parent = nullptr);
  ~CTessaro_AppDlg() override;

  FrontPanelController& Controller() { return m_controller; }
  CBitmapRect& Display() { return *m_display; }
  // The control of the template with this id, or null.
  QWidget* Control(int id) const;
  bool TimerRunning(int id) const;
  int TimerPeriod(int id) const;

  // The screen's DPI the window is laid out at.
  static int LayoutDpi();

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void BuildControls();
  QWidget* MakeControl(const struct DialogControl& control);
  void WireControls();

  // PanelView
  void SetConnectPressed(bool pressed) override;
  void SetConnectCaption(const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void SetButtonEnabled(PanelButton button, bool enabled) override;
  void StartTimer(int id, int periodMs) override;
  void StopTimer(int id) override;
  void ShowBox(const std::string& text, const std::string& caption, BoxIcon icon) override;
  void ShowFrame() override;
  bool OpenClipboard() override;
  bool EmptyClipboard() override;
  bool SetClipboardImage(int* lastError) override;
  void CloseClipboard() override;
  int ColorSelection() const override;
  void SetColorLabel(const std::string& text) override;
  bool PickColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t* chosenRed, uint8_t* chosenGreen,
                 uint8_t* chosenBlue) override;

  QTimer* TimerFor(int id) const;

  QIcon m_appIcon;
  FrontPanelController m_controller{*this};
  CBitmapRect* m_display = nullptr;
  QComboBox* m_colorsCombo = nullptr;
  QLabel* m_colorsLabel = nullptr;
  QPushButton* m_connectButton = nullptr;
  QPushButton* m_pushEscButton = nullptr;
  QPushButton* m_deviceInfoButton = nullptr;
  QLabel* m_statusText = nullptr;
  QPushButton* m_readDisplayButton = nullptr;
  QPushButton* m_screenshotButton = nullptr;
  QPushButton* m_changeButton = nullptr;
  QTimer* m_pollTimer = nullptr;
  QTimer* m_displayTimer = nullptr;
};
