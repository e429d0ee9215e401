// The Qt window on the offscreen platform: the template's geometry and start
// states, the timers, real modal boxes answered the way a person would, keys
// with X11 auto-repeat, the display view's centring and colours, and
// Screenshot. The bridge is the scripted fake driver; nothing waits.
#include "panel/tessaro_app_dlg.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <functional>
#include <memory>
#include <vector>

#include "panel/bitmap_rect.h"
#include "panel/dialog_template.h"
#include "panel/tessaro_app_app.h"
#include "protocol/command_channel.h"
#include "services/display_frame.h"
#include "services/frame_view.h"
#include "tests/support/core_fixture.h"

namespace {

constexpr uint8_t kButtons = 0xAE;  // command 174
constexpr uint8_t kInformation = 0xF8;
constexpr uint32_t kBlack = 0xFF000000;  // QImage::pixel of a 0x00000000 word

// One QApplication for the whole program, on the offscreen platform.
class QtEnvironment : public ::testing::Environment {
 public:
  void SetUp() override {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    app_ = std::make_unique<QApplication>(argc_, argv_);
    QApplication::setApplicationName("Tessaro_App");
  }
  void TearDown() override { app_.reset(); }

 private:
  int argc_ = 1;
  char name_[16] = "panel_dlg_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};
const auto* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

struct SeenBox {
  QString text;
  QString title;
  QMessageBox::Icon icon;
  QString connectCaption;  // the Connect button while the box is open
  Qt::TextFormat format;
};

// Answers every modal box as soon as its own event loop runs, noting what it
// showed; `inBox` runs first, while the box is open.
class BoxAnswerer {
 public:
  explicit BoxAnswerer(CTessaro_AppDlg& dialog) : dialog_(dialog) {
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, [this] { Answer(); });
    timer_.start();
  }

  std::vector<SeenBox> seen;
  std::function<void(QMessageBox&)> inBox;

 private:
  void Answer() {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    if (box == nullptr) return;
    auto* connect = qobject_cast<QPushButton*>(dialog_.Control(IDC_CONNECT));
    seen.push_back(
        {box->text(), box->windowTitle(), box->icon(), connect->text(), box->textFormat()});
    if (inBox) std::exchange(inBox, nullptr)(*box);
    if (box->isVisible()) box->button(QMessageBox::Ok)->click();
  }

  CTessaro_AppDlg& dialog_;
  QTimer timer_;
};

// Holds back the ticks of the window's timers: the tests call the controller
// themselves, so nothing depends on how long a box takes to show.
class TimerGate : public QObject {
 public:
  explicit TimerGate(QObject* window) : window_(window) { qApp->installEventFilter(this); }
  ~TimerGate() override { qApp->removeEventFilter(this); }

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    return event->type() == QEvent::Timer && qobject_cast<QTimer*>(watched) != nullptr &&
           watched->parent() == window_;
  }

 private:
  QObject* window_;
};

void SendKey(QWidget* to, QEvent::Type type, int key, bool autoRepeat = false,
             Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QKeyEvent event(type, key, modifiers, QString(), autoRepeat);
  QApplication::sendEvent(to, &event);
}

// A press and its release, to whatever has the keyboard focus.
void Type(int key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* focus = QApplication::focusWidget();
  ASSERT_NE(focus, nullptr);
  SendKey(focus, QEvent::KeyPress, key, false, modifiers);
  SendKey(focus, QEvent::KeyRelease, key, false, modifiers);
}

class DialogTest : public CoreTest {
 protected:
  void SetUp() override {
    CoreTest::SetUp();
    dialog = std::make_unique<CTessaro_AppDlg>();
    gate = std::make_unique<TimerGate>(dialog.get());
  }
  void TearDown() override {
    gate.reset();
    dialog.reset();
    CoreTest::TearDown();
  }

  QPushButton* Button(int id) const { return qobject_cast<QPushButton*>(dialog->Control(id)); }
  // The window shown and active, the keyboard focus on that control.
  void FocusOn(int id) {
    dialog->show();
    QApplication::setActiveWindow(dialog.get());
    dialog->Control(id)->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(dialog->Control(id)->hasFocus()) << id;
  }
  FrontPanelController& Controller() { return dialog->Controller(); }

  // The panel connected to a device that has done its start-up.
  void Connect() {
    StartLink();
    Controller().SetPanelState(Connected);
  }
  // A button event the device acknowledges.
  void ExpectButtonEvent(uint8_t paramId) {
    const uint8_t counter = next_++;
    // 174, counter, the key's parameter; the answer has no parameters
    driver.Expect({kButtons, counter, paramId, 0xFF}, Answer(kButtons, counter, 0));
  }
  void StartCountingFrom(uint8_t counter) { next_ = counter; }

  std::unique_ptr<CTessaro_AppDlg> dialog;
  std::unique_ptr<TimerGate> gate;

 private:
  uint8_t next_ = 0;
};

TEST_F(DialogTest, WindowHasTheTemplateTitleAndFixedSize) {
  EXPECT_EQ(dialog->windowTitle(), "Tessaro_App for Vesk-3 (proto / final) v0.10");
  EXPECT_EQ(dialog->minimumSize(), QSize(487, 486));
  EXPECT_EQ(dialog->maximumSize(), QSize(487, 486));
  EXPECT_FALSE(dialog->windowFlags() & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(dialog->windowFlags() & Qt::WindowMinimizeButtonHint);
  EXPECT_EQ(dialog->font().family(), "Arial");
  EXPECT_EQ(dialog->font().pixelSize(), 13);  // 10 points at 96 DPI
  EXPECT_FALSE(dialog->windowIcon().isNull());
  // the 240 x 320 image sits at (6, 46) of a 253 x 412 view
  EXPECT_EQ(dialog->Display().size(), QSize(253, 412));
}

TEST_F(DialogTest, ControlsStartWhereAndAsTheTemplateSays) {
  for (const DialogControl& c : kDialogControls) {
    if (c.id == kNoControlId) continue;
    SCOPED_TRACE(c.id);
    const QWidget* w = dialog->Control(c.id);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->pos(), QPoint(c.x * 6 / 4, c.y * 16 / 8));
    EXPECT_EQ(w->width(), c.width * 6 / 4);
    if (c.kind != ControlKind::ComboBox) {
      EXPECT_EQ(w->height(), c.height * 16 / 8);
    }
    EXPECT_EQ(w->isVisibleTo(dialog.get()), c.visible);
  }
  // After the controller's start: the NoDevice look; Screenshot stays enabled.
  EXPECT_EQ(Button(IDC_CONNECT)->text(), "<unavailable>");
  EXPECT_TRUE(Button(IDC_CONNECT)->isCheckable());
  EXPECT_FALSE(Button(IDC_CONNECT)->isChecked());
  EXPECT_EQ(qobject_cast<QLabel*>(dialog->Control(IDC_STATUS))->text(), "");
  for (int id : {IDC_CONNECT, IDC_PUSH_ESC, IDC_DEVICE_INFO, IDC_NO_DEFAULT, IDC_READ_DISPLAY,
                 IDC_CHANGE, IDC_COLORS, IDC_COLORS_LABEL}) {
    EXPECT_FALSE(dialog->Control(id)->isEnabled()) << id;
  }
  EXPECT_TRUE(dialog->Control(IDC_SCREENSHOT)->isEnabled());
  EXPECT_TRUE(Button(IDC_NO_DEFAULT)->isDefault());
}

// The note under Screenshot was sized for the original's font; in the window
// font it must still show its whole text, where the template puts it.
TEST_F(DialogTest, ClipboardNoteShowsItsWholeTextAtItsTemplatePosition) {
  const QString text = "(taken to the clipboard)";
  QLabel* note = nullptr;
  for (QLabel* label : dialog->findChildren<QLabel*>()) {
    if (label->text() == text) note = label;
  }
  ASSERT_NE(note, nullptr);
  EXPECT_EQ(note->font(), dialog->font());
  EXPECT_GE(note->width(), QFontMetrics(dialog->font()).horizontalAdvance(text));
  EXPECT_GE(note->width(), 84 * 6 / 4);  // never narrower than the template
  EXPECT_EQ(note->pos(), QPoint(185 * 6 / 4, 135 * 16 / 8));
  EXPECT_EQ(note->height(), 10 * 16 / 8);
  EXPECT_LE(note->geometry().right(), dialog->width() - 1);  // inside the window
}

TEST_F(DialogTest, TabOrderFollowsTheTemplate) {
  const std::vector<int> order = {IDC_SCREENSHOT, IDC_PUSH_ESC,    IDC_CHANGE,
                                  IDC_COLORS,     IDC_DEVICE_INFO, IDC_CONNECT};
  for (size_t i = 0; i + 1 < order.size(); ++i) {
    const QWidget* next = dialog->Control(order[i])->nextInFocusChain();
    // skip widgets that never take the focus (labels, the view)
    while (next->focusPolicy() == Qt::NoFocus) next = next->nextInFocusChain();
    EXPECT_EQ(next, dialog->Control(order[i + 1])) << order[i];
  }
}

TEST_F(DialogTest, TimersFollowThePanelState) {
  EXPECT_TRUE(dialog->TimerRunning(TIMER_POLL));
  EXPECT_EQ(dialog->TimerPeriod(TIMER_POLL), 250);
  EXPECT_FALSE(dialog->TimerRunning(TIMER_DISPLAY));

  Connect();

  EXPECT_FALSE(dialog->TimerRunning(TIMER_POLL));
  EXPECT_TRUE(dialog->TimerRunning(TIMER_DISPLAY));
  EXPECT_EQ(dialog->TimerPeriod(TIMER_DISPLAY), 76);
  EXPECT_EQ(Button(IDC_CONNECT)->text(), "Disconnect");
  EXPECT_TRUE(Button(IDC_CONNECT)->isChecked());
  EXPECT_TRUE(Button(IDC_PUSH_ESC)->isEnabled());
}

TEST_F(DialogTest, BoxesShowTheirTextCaptionAndIconInOrderWithTheStateChange) {
  BoxAnswerer boxes(*dialog);
  Connect();
  // "device busy" is not an error; 13 opens the notification box after NoDevice
  Controller().ShowDeviceNotification(kResultPoweredOff);
  Controller().SetPanelState(Connected);
  Controller().ShowCommandError("VK3cmd_UpdateDisplay()", kResultInvalidAnswer);

  ASSERT_EQ(boxes.seen.size(), 2u);
  EXPECT_EQ(boxes.seen[0].text, "Vesk-3 has been powered off");
  EXPECT_EQ(boxes.seen[0].title, "Notification");
  EXPECT_EQ(boxes.seen[0].icon, QMessageBox::Information);
  EXPECT_EQ(boxes.seen[0].connectCaption, "<unavailable>");
  EXPECT_EQ(boxes.seen[1].text,
            "VK3cmd_UpdateDisplay() returned (30):\n\nInvalid answer got for VK3 command");
  EXPECT_EQ(boxes.seen[1].title, "Tessaro_App");  // the application title
  EXPECT_EQ(boxes.seen[1].icon, QMessageBox::NoIcon);
  EXPECT_EQ(boxes.seen[1].connectCaption, "<unavailable>");
}

TEST_F(DialogTest, FailedConnectBoxShowsWhileTheButtonStillReadsConnect) {
  BoxAnswerer boxes(*dialog);
  Controller().SetPanelState(DeviceAvailable);
  ExpectStartUp();
  // the probe's answer has neither parameter 3 nor parameter 1
  driver.Expect({kInformation, 0x01, 0x01, 0xFF}, Answer(kInformation, 0x01, 0));

  Button(IDC_CONNECT)->click();

  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(boxes.seen[0].text,
            "Can't connect to Vesk-3...\n\nError (57): No answer parameter got");
  EXPECT_EQ(boxes.seen[0].title, "ERROR");
  EXPECT_EQ(boxes.seen[0].icon, QMessageBox::Critical);
  EXPECT_EQ(boxes.seen[0].connectCaption, "Connect");
  EXPECT_EQ(Button(IDC_CONNECT)->text(), "<unavailable>");
  EXPECT_FALSE(Button(IDC_CONNECT)->isChecked());  // the toggle's flip is undone
}

TEST_F(DialogTest, DeviceTextInABoxIsNeverMarkup) {
  BoxAnswerer boxes(*dialog);
  Controller().ShowMessage("  Unique ID: '<b>x</b>&amp;\xE9'\n", "Vesk-3 device info",
                           BoxIcon::None);
  ASSERT_EQ(boxes.seen.size(), 1u);
  EXPECT_EQ(boxes.seen[0].format, Qt::PlainText);
  EXPECT_EQ(boxes.seen[0].text, QString::fromUtf8("  Unique ID: '<b>x</b>&amp;\u00E9'\n"));
}

TEST_F(DialogTest, KeysGoToTheDeviceWhileConnectedWithAutoRepeat) {
  Connect();
  StartCountingFrom(theChannel.FrameCounter);
  ExpectButtonEvent(0x24);  // Up pressed
  ExpectButtonEvent(0x24);  // repeated
  ExpectButtonEvent(0x24);  // repeated
  ExpectButtonEvent(0x34);  // released once
  ExpectButtonEvent(0x20);  // Esc pressed
  ExpectButtonEvent(0x30);  // Esc released
  QWidget* focus = dialog->Control(IDC_SCREENSHOT);

  SendKey(focus, QEvent::KeyPress, Qt::Key_Up);
  SendKey(focus, QEvent::KeyRelease, Qt::Key_Up, true);
  SendKey(focus, QEvent::KeyPress, Qt::Key_Up, true);
  SendKey(focus, QEvent::KeyRelease, Qt::Key_Up, true);
  SendKey(focus, QEvent::KeyPress, Qt::Key_Up, true);
  SendKey(focus, QEvent::KeyRelease, Qt::Key_Up);
  dialog->show();
  SendKey(focus, QEvent::KeyPress, Qt::Key_Escape);
  SendKey(focus, QEvent::KeyRelease, Qt::Key_Escape);

  EXPECT_EQ(driver.Mismatches(), "");
  EXPECT_TRUE(dialog->isVisible());  // Esc went to the device, not to the dialog
  EXPECT_EQ(dialog->result(), 0);
  dialog->hide();
}

TEST_F(DialogTest, EscClosesTheWindowWhenNotConnected) {
  Controller().SetPanelState(DeviceAvailable);
  dialog->show();
  SendKey(dialog->Control(IDC_SCREENSHOT), QEvent::KeyPress, Qt::Key_Escape);
  EXPECT_FALSE(dialog->isVisible());
  EXPECT_EQ(dialog->result(), QDialog::Rejected);
  EXPECT_TRUE(driver.writes.empty());
}

// Enter presses the focused push button, and nothing else: the Connect
// toggle is no push button (and the default button is the hidden 1000).
TEST_F(DialogTest, EnterPressesOnlyAFocusedPushButton) {
  struct Row {
    int id;
    int clicks;
  };
  const std::vector<Row> focusable = {
      {IDC_SCREENSHOT, 1}, {IDC_PUSH_ESC, 1}, {IDC_DEVICE_INFO, 1}, {IDC_CONNECT, 0}};
  BoxAnswerer boxes(*dialog);  // a Connect that was pressed would fail with a box
  Controller().SetPanelState(DeviceAvailable);
  std::vector<int> clicked;
  std::vector<int> canFocus;
  for (const DialogControl& c : kDialogControls) {
    QWidget* w = dialog->Control(c.id);
    if (w == nullptr) continue;
    if (auto* button = qobject_cast<QPushButton*>(w)) {
      QObject::connect(button, &QPushButton::clicked,
                       [&clicked, id = c.id] { clicked.push_back(id); });
    }
    if (w->isVisibleTo(dialog.get()) && w->isEnabled() && (w->focusPolicy() & Qt::TabFocus)) {
      canFocus.push_back(c.id);
    }
  }
  std::vector<int> rowIds;
  for (const Row& row : focusable) rowIds.push_back(row.id);
  std::sort(canFocus.begin(), canFocus.end());
  std::sort(rowIds.begin(), rowIds.end());
  ASSERT_EQ(canFocus, rowIds);  // the table covers every control that takes the focus

  for (const Row& row : focusable) {
    // the main keyboard's Return and the keypad's Enter
    for (auto [key, modifiers] :
         {std::pair{Qt::Key_Return, Qt::KeyboardModifiers()},
          std::pair{Qt::Key_Enter, Qt::KeyboardModifiers(Qt::KeypadModifier)}}) {
      SCOPED_TRACE(testing::Message() << row.id << " key " << key);
      clicked.clear();
      FocusOn(row.id);

      Type(key, modifiers);

      EXPECT_EQ(std::count(clicked.begin(), clicked.end(), row.id), row.clicks);
      EXPECT_EQ(clicked.size(), static_cast<size_t>(row.clicks));  // no other button
      EXPECT_EQ(Controller().PanelStateNow(), DeviceAvailable);
      EXPECT_FALSE(Button(IDC_CONNECT)->isChecked());
      EXPECT_TRUE(dialog->isVisible());
    }
  }
  EXPECT_TRUE(driver.writes.empty());  // nothing went to the device
  EXPECT_TRUE(boxes.seen.empty());
  dialog->hide();
}

TEST_F(DialogTest, SpaceTogglesConnectAndEnterOnItGoesToTheDeviceWhileConnected) {
  Controller().SetPanelState(DeviceAvailable);
  ExpectStartUp();
  driver.Expect({kInformation, 0x01, 0x01, 0xFF}, ModeAnswer());  // the probe succeeds
  FocusOn(IDC_CONNECT);

  Type(Qt::Key_Space);
  ASSERT_EQ(Controller().PanelStateNow(), Connected);
  EXPECT_TRUE(Button(IDC_CONNECT)->isChecked());

  StartCountingFrom(theChannel.FrameCounter);
  ExpectButtonEvent(0x21);  // Enter pressed
  ExpectButtonEvent(0x31);  // and released
  Type(Qt::Key_Return);
  EXPECT_EQ(Controller().PanelStateNow(), Connected);
  EXPECT_TRUE(Button(IDC_CONNECT)->isChecked());
  EXPECT_EQ(driver.Mismatches(), "");

  Type(Qt::Key_Space);  // Disconnect
  EXPECT_EQ(Controller().PanelStateNow(), NoDevice);
  EXPECT_FALSE(driver.IsOpen());
  dialog->hide();
}

// With Alt held a device key is the window's; Ctrl and Shift do not change a key.
TEST_F(DialogTest, AltWithADeviceKeyStaysWithTheWindowCtrlAndShiftDoNot) {
  Connect();
  FocusOn(IDC_CONNECT);
  driver.ForgetHistory();
  for (int key :
       {Qt::Key_Escape, Qt::Key_Return, Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down}) {
    SCOPED_TRACE(key);
    FocusOn(IDC_CONNECT);
    Type(key, Qt::AltModifier);
    Type(key, Qt::AltModifier | Qt::ShiftModifier);
  }
  EXPECT_TRUE(driver.writes.empty());
  EXPECT_TRUE(dialog->isVisible());  // Alt+Esc is not the dialog's Cancel
  EXPECT_EQ(Controller().PanelStateNow(), Connected);
  EXPECT_TRUE(Button(IDC_CONNECT)->isChecked());

  StartCountingFrom(theChannel.FrameCounter);
  ExpectButtonEvent(0x24);  // Ctrl+Up
  ExpectButtonEvent(0x34);
  ExpectButtonEvent(0x21);  // Shift+Enter
  ExpectButtonEvent(0x31);
  ExpectButtonEvent(0x20);  // Ctrl+Shift+Esc
  ExpectButtonEvent(0x30);
  Type(Qt::Key_Up, Qt::ControlModifier);
  Type(Qt::Key_Return, Qt::ShiftModifier);
  Type(Qt::Key_Escape, Qt::ControlModifier | Qt::ShiftModifier);
  EXPECT_EQ(driver.Mismatches(), "");
  EXPECT_TRUE(dialog->isVisible());
  dialog->hide();
}

TEST_F(DialogTest, KeysForAnOpenBoxAreNotForwarded) {
  BoxAnswerer boxes(*dialog);
  Connect();
  driver.ForgetHistory();
  // Esc in the box closes the box; Up goes nowhere
  boxes.inBox = [](QMessageBox& box) {
    SendKey(&box, QEvent::KeyPress, Qt::Key_Up);
    SendKey(&box, QEvent::KeyPress, Qt::Key_Escape);
  };
  Controller().ShowMessage("report", "Vesk-3 device info", BoxIcon::None);

  EXPECT_EQ(boxes.seen.size(), 1u);
  EXPECT_TRUE(driver.writes.empty());
  EXPECT_EQ(Controller().PanelStateNow(), Connected);
}

TEST_F(DialogTest, DeviceInfoClickDoesNothingUnlessConnected) {
  BoxAnswerer boxes(*dialog);
  Controller().SetPanelState(DeviceAvailable);
  Button(IDC_DEVICE_INFO)->click();
  EXPECT_TRUE(boxes.seen.empty());
  EXPECT_TRUE(driver.writes.empty());
}

TEST_F(DialogTest, PushEscPulsesTheEscLine) {
  Controller().SetPanelState(DeviceAvailable);

  Button(IDC_PUSH_ESC)->click();

  // the link is opened for the pulse: CBUS1 high for 200 ms, then low
  EXPECT_TRUE(driver.IsOpen());
  EXPECT_EQ(driver.CountOf("SetBitMode"), 2);
  EXPECT_EQ(platform.sleeps, std::vector<uint32_t>{200});
}

// The colour controls are created hidden and disabled and stay so: no click
// reaches ChangeColorEntry; without a selection it resets the label.
TEST_F(DialogTest, ColourControlsCannotBeUsedAndHaveNoSelection) {
  auto* label = qobject_cast<QLabel*>(dialog->Control(IDC_COLORS_LABEL));
  label->setText("stale");
  Button(IDC_CHANGE)->click();
  EXPECT_EQ(label->text(), "stale");

  Controller().OnChangeColor();
  EXPECT_EQ(label->text(), "Colors:");
  EXPECT_TRUE(driver.writes.empty());
}

TEST_F(DialogTest, ScreenshotPutsTheWholeViewOnTheClipboard) {
  dialog->show();
  (void)dialog->Display().grab();  // the first paint creates the black buffer
  QGuiApplication::clipboard()->clear();

  Button(IDC_SCREENSHOT)->click();
  const QImage black = QGuiApplication::clipboard()->image();
  ASSERT_EQ(black.size(), QSize(253, 412));
  EXPECT_EQ(black.pixel(0, 0), kBlack);
  EXPECT_EQ(black.pixel(126, 206), kBlack);

  FrameBuffer[0] = 0xF800;
  dialog->Display().ShowFrame();
  Button(IDC_SCREENSHOT)->click();
  const QImage mirrored = QGuiApplication::clipboard()->image();
  EXPECT_EQ(mirrored.pixel(6, 46) & 0xFFFFFF, 0xF80000u);
  EXPECT_EQ(mirrored.pixel(5, 46), kBlack);
  dialog->hide();
}

TEST(ApplicationTitle, IsTheExecutableNameWithoutItsExtension) {
  EXPECT_EQ(ApplicationTitle("C:/bin/Tessaro_App.exe"), "Tessaro_App");
  EXPECT_EQ(ApplicationTitle("/usr/bin/Tessaro_App_sim"), "Tessaro_App_sim");
  EXPECT_EQ(ApplicationTitle("./renamed.v2.bin"), "renamed.v2");
}

// --- the display view ------------------------------------------------------

// A view that counts its paints.
class CountingView : public CBitmapRect {
 public:
  int paints = 0;

 protected:
  void paintEvent(QPaintEvent* event) override {
    ++paints;
    CBitmapRect::paintEvent(event);
  }
};

class DisplayViewTest : public ::testing::Test {
 protected:
  void SetUp() override { ResetDisplayState(); }
  // A shown view of that size, painted once.
  std::unique_ptr<CountingView> View(int width, int height) {
    auto view = std::make_unique<CountingView>();
    view->setFixedSize(width, height);
    view->show();
    QApplication::processEvents();  // the offscreen platform exposes it: the first paint
    EXPECT_TRUE(view->windowHandle() != nullptr && view->windowHandle()->isExposed());
    return view;
  }
};

TEST_F(DisplayViewTest, BeforeTheFirstPaintShowFrameWritesNothing) {
  CBitmapRect view;
  view.resize(253, 412);
  view.ShowFrame();
  EXPECT_TRUE(view.Image().isNull());
}

TEST_F(DisplayViewTest, ImageIsCentredColourExpandedAndRepaintedAtOnce) {
  FrameBuffer[0] = 0xFFFF;                // white
  FrameBuffer[239] = 0xF800;              // red, row 0, last column
  FrameBuffer[240 * 319] = 0x07E0;        // green, last row, column 0
  FrameBuffer[240 * 319 + 239] = 0x001F;  // blue
  FrameBuffer[240 * 100 + 100] = 0x0841;  // the lowest bit of each field
  auto view = View(253, 412);
  ASSERT_TRUE(view->IsInitialised());
  const int paintsBefore = view->paints;

  view->ShowFrame();

  EXPECT_EQ(view->paints, paintsBefore + 1);
  const QImage& image = view->Image();
  ASSERT_EQ(image.size(), QSize(253, 412));
  EXPECT_EQ(image.pixel(6, 46) & 0xFFFFFF, 0xF8FCF8u);
  EXPECT_EQ(image.pixel(245, 46) & 0xFFFFFF, 0xF80000u);
  EXPECT_EQ(image.pixel(6, 365) & 0xFFFFFF, 0x00FC00u);
  EXPECT_EQ(image.pixel(245, 365) & 0xFFFFFF, 0x0000F8u);
  EXPECT_EQ(image.pixel(106, 146) & 0xFFFFFF, 0x080808u);
  // margins: 6 columns left, 7 right, 46 rows above and below
  for (QPoint p : {QPoint(5, 46), QPoint(246, 46), QPoint(252, 200), QPoint(6, 45), QPoint(6, 366),
                   QPoint(0, 411)}) {
    EXPECT_EQ(image.pixel(p), kBlack) << p.x() << "," << p.y();
  }
}

TEST_F(DisplayViewTest, NarrowViewsCentreWithTruncatingDivision) {
  struct Case {
    int width;
    int firstColumnShown;  // device column at view column 0
  };
  for (const Case& c : {Case{239, 0}, Case{200, 20}}) {
    SCOPED_TRACE(c.width);
    for (int x = 0; x < 240; ++x) FrameBuffer[x] = static_cast<uint16_t>(x + 1);  // all distinct
    auto view = View(c.width, 320);
    view->ShowFrame();
    const QImage& image = view->Image();
    EXPECT_EQ(image.pixel(0, 0), kBlack | Rgb565ToPixel(FrameBuffer[c.firstColumnShown]));
    EXPECT_EQ(image.pixel(c.width - 1, 0),
              kBlack | Rgb565ToPixel(FrameBuffer[c.firstColumnShown + c.width - 1]));
  }
}

}  // namespace
