#include "panel/tessaro_app_dlg.h"

#include <QApplication>
#include <QClipboard>
#include <QColorDialog>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <algorithm>

#include "panel/bitmap_rect.h"
#include "panel/capture_menu.h"
#include "panel/dialog_template.h"

// The icons live in this static library's resources.
static void InitPanelResources() {
  Q_INIT_RESOURCE(panel_resources);
}

namespace {

constexpr const char* kControlIdProperty = "controlId";
constexpr int kAppIconSizes[] = {16, 22, 24, 32, 48, 64, 128, 256};

QMessageBox::Icon MessageBoxIcon(BoxIcon icon) {
  switch (icon) {
    case BoxIcon::Error:
      return QMessageBox::Critical;
    case BoxIcon::Information:
      return QMessageBox::Information;
    case BoxIcon::Warning:
      return QMessageBox::Warning;
    case BoxIcon::None:
      break;
  }
  return QMessageBox::NoIcon;
}

// The PC virtual-key code of a Qt key, 0 for keys the device has no key for.
uint32_t VirtualKeyOf(int qtKey) {
  switch (qtKey) {
    case Qt::Key_Escape:
      return kVirtualKeyEscape;
    case Qt::Key_Return:
    case Qt::Key_Enter:
      return kVirtualKeyReturn;
    case Qt::Key_Left:
      return kVirtualKeyLeft;
    case Qt::Key_Up:
      return kVirtualKeyUp;
    case Qt::Key_Right:
      return kVirtualKeyRight;
    case Qt::Key_Down:
      return kVirtualKeyDown;
    default:
      return 0;
  }
}

QIcon AppIcon() {
  InitPanelResources();
  QIcon icon;
  for (int size : kAppIconSizes) {
    icon.addFile(QStringLiteral(":/icons/%1/tessaro_app.png").arg(size), QSize(size, size));
  }
  return icon;
}

}  // namespace

QString WindowText(const std::string& text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}

int CTessaro_AppDlg::LayoutDpi() {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return kReferenceDpi;
  const int dpi = qRound(screen->logicalDotsPerInchX());
  return dpi > 0 ? dpi : kReferenceDpi;
}

CTessaro_AppDlg::CTessaro_AppDlg(QWidget* parent)
    : QDialog(parent, Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                          Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint |
                          Qt::MSWindowsFixedSizeDialogHint),
      m_appIcon(AppIcon()) {
  setWindowTitle(kWindowTitle);
  const int dpi = LayoutDpi();
  QFont font(kWindowFontFamily);
  font.setPixelSize(WindowFontPixels(dpi));
  setFont(font);
  setFixedSize(DialogUnitsToPixelsX(kWindowWidthDu, dpi),
               DialogUnitsToPixelsY(kWindowHeightDu, dpi));
  setSizeGripEnabled(false);

  m_pollTimer = new QTimer(this);
  m_displayTimer = new QTimer(this);
  for (QTimer* timer : {m_pollTimer, m_displayTimer}) timer->setTimerType(Qt::PreciseTimer);
  connect(m_pollTimer, &QTimer::timeout, this, [this] { m_controller.OnTimer(TIMER_POLL); });
  connect(m_displayTimer, &QTimer::timeout, this, [this] { m_controller.OnTimer(TIMER_DISPLAY); });

  BuildControls();
  WireControls();
  // Capture, the zoom window and the refresh readout, beside the template's controls.
  new CCaptureMenu(*this);

  // The window's initialisation: icons, then the controller starts in NoDevice.
  setWindowIcon(m_appIcon);
  m_controller.Start();
  // The key forwarding looks at every key before any widget of this window does.
  qApp->installEventFilter(this);
}

CTessaro_AppDlg::~CTessaro_AppDlg() {
  qApp->removeEventFilter(this);
}

QWidget* CTessaro_AppDlg::MakeControl(const DialogControl& control) {
  QWidget* widget = nullptr;
  switch (control.kind) {
    case ControlKind::DefaultPushButton: {
      auto* button = new QPushButton(QString::fromLatin1(control.text), this);
      button->setDefault(true);
      widget = button;
      break;
    }
    case ControlKind::DisplayView:
      widget = m_display = new CBitmapRect(this);
      break;
    case ControlKind::PushButton:
      widget = new QPushButton(QString::fromLatin1(control.text), this);
      break;
    case ControlKind::ToggleButton: {
      auto* button = new QPushButton(QString::fromLatin1(control.text), this);
      button->setCheckable(true);
      // A toggle is no push button: in a dialog Qt would make it an auto-default
      // button, which Enter clicks while it has the focus. Space toggles it.
      button->setAutoDefault(false);
      widget = button;
      break;
    }
    case ControlKind::ComboBox:
      widget = m_colorsCombo = new QComboBox(this);
      break;
    case ControlKind::LeftText: {
      auto* label = new QLabel(QString::fromLatin1(control.text), this);
      label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
      label->setTextFormat(Qt::PlainText);
      widget = label;
      break;
    }
    case ControlKind::StatusText: {
      auto* label = new QLabel(QString::fromLatin1(control.text), this);
      label->setAlignment(Qt::AlignCenter);
      label->setFrameStyle(QFrame::Panel | QFrame::Sunken);
      label->setTextFormat(Qt::PlainText);
      widget = label;
      break;
    }
  }
  return widget;
}

void CTessaro_AppDlg::BuildControls() {
  const int dpi = LayoutDpi();
  QWidget* previous = nullptr;
  for (const DialogControl& control : kDialogControls) {
    QWidget* widget = MakeControl(control);
    widget->setProperty(kControlIdProperty, control.id);
    int width = DialogUnitsToPixelsX(control.width, dpi);
    int height = DialogUnitsToPixelsY(control.height, dpi);
    // A drop-down list's template height is its open list; closed it is one line.
    if (control.kind == ControlKind::ComboBox) height = widget->sizeHint().height();
    // The template's widths fit the original's font; a shown text is widened
    // to its own text in ours, which may be wider. It keeps its position.
    if (control.kind == ControlKind::LeftText && control.visible) {
      width = std::max(width, widget->sizeHint().width());
    }
    widget->setGeometry(DialogUnitsToPixelsX(control.x, dpi), DialogUnitsToPixelsY(control.y, dpi),
                        width, height);
    widget->setEnabled(control.enabled);
    if (!control.visible) widget->setVisible(false);
    // The template order is the tab order.
    if (widget->focusPolicy() != Qt::NoFocus) {
      if (previous != nullptr) setTabOrder(previous, widget);
      previous = widget;
    }
  }
  m_connectButton = qobject_cast<QPushButton*>(Control(IDC_CONNECT));
  m_pushEscButton = qobject_cast<QPushButton*>(Control(IDC_PUSH_ESC));
  m_deviceInfoButton = qobject_cast<QPushButton*>(Control(IDC_DEVICE_INFO));
  m_statusText = qobject_cast<QLabel*>(Control(IDC_STATUS));
  m_colorsLabel = qobject_cast<QLabel*>(Control(IDC_COLORS_LABEL));
  m_readDisplayButton = qobject_cast<QPushButton*>(Control(IDC_READ_DISPLAY));
  m_screenshotButton = qobject_cast<QPushButton*>(Control(IDC_SCREENSHOT));
  m_changeButton = qobject_cast<QPushButton*>(Control(IDC_CHANGE));
}

void CTessaro_AppDlg::WireControls() {
  FrontPanelController* controller = &m_controller;
  connect(m_readDisplayButton, &QPushButton::clicked, this,
          [controller] { controller->VK3cmd_UpdateDisplay(); });
  connect(m_screenshotButton, &QPushButton::clicked, this,
          [controller] { controller->OnScreenshot(); });
  connect(m_pushEscButton, &QPushButton::clicked, this, [controller] { controller->OnPushEsc(); });
  connect(m_changeButton, &QPushButton::clicked, this,
          [controller] { controller->OnChangeColor(); });
  connect(m_colorsCombo, &QComboBox::currentIndexChanged, this,
          [controller] { controller->OnColorSelectionChanged(); });
  connect(m_deviceInfoButton, &QPushButton::clicked, this,
          [controller] { controller->OnDeviceInfo(); });
  connect(m_connectButton, &QPushButton::clicked, this, [controller] { controller->OnConnect(); });
}

QWidget* CTessaro_AppDlg::Control(int id) const {
  if (id == kNoControlId) return nullptr;
  for (QObject* child : children()) {
    auto* widget = qobject_cast<QWidget*>(child);
    if (widget != nullptr && widget->property(kControlIdProperty).toInt() == id) return widget;
  }
  return nullptr;
}

QTimer* CTessaro_AppDlg::TimerFor(int id) const {
  if (id == TIMER_POLL) return m_pollTimer;
  if (id == TIMER_DISPLAY) return m_displayTimer;
  return nullptr;
}

bool CTessaro_AppDlg::TimerRunning(int id) const {
  const QTimer* timer = TimerFor(id);
  return timer != nullptr && timer->isActive();
}

int CTessaro_AppDlg::TimerPeriod(int id) const {
  const QTimer* timer = TimerFor(id);
  return timer != nullptr ? timer->interval() : -1;
}

bool CTessaro_AppDlg::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (type != QEvent::KeyPress && type != QEvent::KeyRelease) return false;
  // Only keys for this window's own widgets: an open box or the colour
  // picker keeps its keys.
  auto* widget = qobject_cast<QWidget*>(watched);
  if (widget == nullptr || widget->window() != this) return false;
  const QWidget* modal = QApplication::activeModalWidget();
  if (modal != nullptr && modal != this) return false;
  const auto* key = static_cast<QKeyEvent*>(event);
  KeyTransition transition = KeyTransition::Press;
  if (type == QEvent::KeyRelease) {
    transition = key->isAutoRepeat() ? KeyTransition::RepeatRelease : KeyTransition::Release;
  }
  // Ctrl and Shift do not change a key; with Alt it is the desktop's.
  const KeyChord chord =
      key->modifiers().testFlag(Qt::AltModifier) ? KeyChord::WithAlt : KeyChord::Plain;
  return m_controller.TranslateKey(transition, VirtualKeyOf(key->key()), chord);
}

void CTessaro_AppDlg::keyPressEvent(QKeyEvent* event) {
  // The dialog's keyboard: Up and Down move the focus like Tab and Shift+Tab
  // (the buttons themselves move it on Left and Right); Esc and Enter as QDialog.
  if (event->modifiers() == Qt::NoModifier &&
      (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down)) {
    focusNextPrevChild(event->key() == Qt::Key_Down);
    return;
  }
  QDialog::keyPressEvent(event);
}

void CTessaro_AppDlg::SetConnectPressed(bool pressed) {
  m_connectButton->setChecked(pressed);
}

void CTessaro_AppDlg::SetConnectCaption(const std::string& text) {
  m_connectButton->setText(WindowText(text));
}

void CTessaro_AppDlg::SetStatusText(const std::string& text) {
  m_statusText->setText(WindowText(text));
}

void CTessaro_AppDlg::SetButtonEnabled(PanelButton button, bool enabled) {
  QPushButton* widget = m_connectButton;
  if (button == PanelButton::PushEsc) widget = m_pushEscButton;
  if (button == PanelButton::DeviceInfo) widget = m_deviceInfoButton;
  widget->setEnabled(enabled);
  widget->update();
}

void CTessaro_AppDlg::StartTimer(int id, int periodMs) {
  if (QTimer* timer = TimerFor(id)) timer->start(periodMs);
}

void CTessaro_AppDlg::StopTimer(int id) {
  if (QTimer* timer = TimerFor(id)) timer->stop();
}

void CTessaro_AppDlg::ShowBox(const std::string& text, const std::string& caption, BoxIcon icon) {
  const QString title = caption.empty() ? QCoreApplication::applicationName() : WindowText(caption);
  QMessageBox box(MessageBoxIcon(icon), title, WindowText(text), QMessageBox::Ok, this);
  // Device texts are shown as they are, never read as markup.
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

void CTessaro_AppDlg::ShowFrame() {
  m_display->ShowFrame();
}

bool CTessaro_AppDlg::OpenClipboard() {
  return QGuiApplication::clipboard() != nullptr;
}

bool CTessaro_AppDlg::EmptyClipboard() {
  QGuiApplication::clipboard()->clear();
  return true;
}

bool CTessaro_AppDlg::SetClipboardImage(int* lastError) {
  QImage image = m_display->Image().copy();
  if (image.isNull()) {
    // Not painted yet: the view is black at its full size.
    image = QImage(m_display->size(), QImage::Format_RGB32);
    image.fill(0u);
  }
  auto* data = new QMimeData;
  data->setImageData(image);
  QClipboard* clipboard = QGuiApplication::clipboard();
  clipboard->setMimeData(data);
  if (clipboard->mimeData() != data) {
    *lastError = 0;
    return false;
  }
  return true;
}

void CTessaro_AppDlg::CloseClipboard() {}

int CTessaro_AppDlg::ColorSelection() const {
  return m_colorsCombo->currentIndex();
}

void CTessaro_AppDlg::SetColorLabel(const std::string& text) {
  m_colorsLabel->setText(WindowText(text));
}

bool CTessaro_AppDlg::PickColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t* chosenRed,
                                uint8_t* chosenGreen, uint8_t* chosenBlue) {
  QColorDialog picker(QColor(red, green, blue), this);
  if (picker.exec() != QDialog::Accepted) return false;
  const QColor chosen = picker.selectedColor();
  *chosenRed = static_cast<uint8_t>(chosen.red());
  *chosenGreen = static_cast<uint8_t>(chosen.green());
  *chosenBlue = static_cast<uint8_t>(chosen.blue());
  return true;
}
