// Capture from the window against the simulated hand controller, on Qt's
// offscreen platform and in virtual time: the context menu's actions, saved
// screenshots pixel for pixel, recordings that follow the refreshes and are
// finished however they end, the zoom window's enlargement and its keys, and
// the refresh readout. Save dialogs and warnings are answered through the
// capture's seams; nothing waits.
#include "panel/capture_menu.h"

#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QContextMenuEvent>
#include <QDir>
#include <QKeyEvent>
#include <QMenu>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "capture/png_file.h"
#include "capture/png_folder_recorder.h"
#include "panel/bitmap_rect.h"
#include "panel/dialog_template.h"
#include "panel/tessaro_app_dlg.h"
#include "panel/zoom_window.h"
#include "services/buttons.h"
#include "services/display_frame.h"
#include "services/program_state.h"
#include "sim/simulated_setup.h"
#include "tests/capture/video_probe.h"

namespace {

constexpr uint64_t kRefreshUs = kDisplayPeriodMs * 1000;

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
  char name_[20] = "capture_menu_test";
  char* argv_[2] = {name_, nullptr};
  std::unique_ptr<QApplication> app_;
};
const auto* const kQtEnvironment = ::testing::AddGlobalTestEnvironment(new QtEnvironment);

// Every RGB565 value somewhere, so a wrong widening of any channel shows.
std::vector<uint16_t> AllColours() {
  std::vector<uint16_t> pixels(kDisplayPixels);
  for (int i = 0; i < kDisplayPixels; ++i)
    pixels[static_cast<size_t>(i)] = static_cast<uint16_t>(i * 7);
  return pixels;
}

bool SameImage(const RgbImage& a, const RgbImage& b) {
  return a.width == b.width && a.height == b.height && a.rgb == b.rgb;
}

class CaptureTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.isValid());
    program.emplace(sim.bridge, sim.platform);
    dialog = std::make_unique<CTessaro_AppDlg>();
    capture = dialog->findChild<CCaptureMenu*>();
    ASSERT_NE(capture, nullptr);
    capture->askPath = [this](CaptureFile kind, const QString& suggested) {
      asked.push_back({kind, suggested});
      return answer;
    };
    capture->warn = [this](const QString& text) { warnings.push_back(text); };
    dialog->show();
    QApplication::processEvents();  // the view's first paint
  }
  void TearDown() override {
    dialog.reset();
    program.reset();
  }

  // Poll and Connect, as the window's timer and the button do; the window's
  // own timers are never given a chance to run after this.
  void Connect() {
    dialog->Controller().OnTimer(TIMER_POLL);
    dialog->Controller().OnConnect();
    ASSERT_EQ(dialog->Controller().PanelStateNow(), Connected);
  }
  void Refresh(int times = 1) {
    for (int i = 0; i < times; ++i) {
      sim.virtualClock.AdvanceUs(kRefreshUs);
      dialog->Controller().OnTimer(TIMER_DISPLAY);
    }
  }
  void Disconnect() {
    dialog->Controller().OnConnect();
    ASSERT_EQ(dialog->Controller().PanelStateNow(), NoDevice);
  }
  std::string Path(const char* name) const { return folder.filePath(name).toStdString(); }

  std::vector<int> ButtonEvents() const {
    std::vector<int> events;
    for (const ReceivedCommand& cmd : sim.controller.ReceivedCommands()) {
      if (cmd.command != kCmdButtonEvent || cmd.params.size() != 1) continue;
      const uint8_t id = cmd.params[0].first;
      events.push_back((id & 0x0F) + ((id & 0x10) != 0 ? kButtonRelease : 0));
    }
    return events;
  }

  struct Asked {
    CaptureFile kind;
    QString suggested;
  };

  QTemporaryDir folder;
  SimulatedSetup sim;
  std::optional<ProgramScope> program;
  std::unique_ptr<CTessaro_AppDlg> dialog;
  CCaptureMenu* capture = nullptr;
  QString answer;
  std::vector<Asked> asked;
  std::vector<QString> warnings;
};

TEST_F(CaptureTest, MenuOffersSaveAndRecordOnceAFrameIsShownAndSaveAfterADisconnect) {
  QStringList texts;
  for (QAction* action : capture->Menu().actions()) {
    if (!action->isSeparator()) texts << action->text();
  }
  EXPECT_EQ(texts, QStringList({QString::fromUtf8("Save screenshot\u2026"), "Copy screenshot",
                                QString::fromUtf8("Start recording\u2026"), "Zoom window",
                                "Show refresh rate"}));
  EXPECT_FALSE(capture->SaveAction()->isEnabled());
  EXPECT_FALSE(capture->RecordAction()->isEnabled());
  EXPECT_TRUE(capture->CopyAction()->isEnabled());

  Connect();
  EXPECT_FALSE(capture->SaveAction()->isEnabled()) << "no frame shown yet";
  Refresh();
  EXPECT_TRUE(capture->SaveAction()->isEnabled());
  EXPECT_TRUE(capture->RecordAction()->isEnabled());

  Disconnect();
  EXPECT_TRUE(capture->SaveAction()->isEnabled()) << "the last mirrored image stays";
  EXPECT_FALSE(capture->RecordAction()->isEnabled()) << "nothing refreshes to record";
}

TEST_F(CaptureTest, MenuOpensOverTheViewOnRightClickAndOnTheMenuKey) {
  CBitmapRect& view = dialog->Display();
  QContextMenuEvent mouse(QContextMenuEvent::Mouse, QPoint(10, 10),
                          view.mapToGlobal(QPoint(10, 10)));
  QApplication::sendEvent(&view, &mouse);
  EXPECT_TRUE(capture->Menu().isVisible());
  capture->Menu().hide();

  // The Menu key reaches the window from whichever control has the focus.
  QWidget* focused = dialog->Control(IDC_SCREENSHOT);
  QContextMenuEvent key(QContextMenuEvent::Keyboard, QPoint(0, 0), focused->mapToGlobal(QPoint()));
  QApplication::sendEvent(focused, &key);
  EXPECT_TRUE(capture->Menu().isVisible());
  capture->Menu().hide();
}

TEST_F(CaptureTest, SavedPngIsTheDeviceScreenPixelForPixelAsTheViewShowsIt) {
  const std::vector<uint16_t> colours = AllColours();
  sim.controller.HoldScreen(colours.data());
  Connect();
  Refresh();
  answer = QString::fromStdString(Path("first.png"));
  capture->SaveAction()->trigger();

  RgbImage saved;
  ASSERT_EQ(ReadPng(Path("first.png"), &saved), "");
  EXPECT_TRUE(SameImage(saved, ImageOfFrame(colours.data())));
  // The view widens the same way: its centred 240 x 320 are the same pixels.
  const QImage& view = dialog->Display().Image();
  const int left = (view.width() - kDisplayWidth) / 2;
  const int top = (view.height() - kDisplayHeight) / 2;
  int differing = 0;
  for (int y = 0; y < kDisplayHeight; ++y) {
    for (int x = 0; x < kDisplayWidth; ++x) {
      const QRgb p = view.pixel(left + x, top + y);
      const uint8_t* s = saved.At(x, y);
      if (qRed(p) != s[0] || qGreen(p) != s[1] || qBlue(p) != s[2]) ++differing;
    }
  }
  EXPECT_EQ(differing, 0);

  ASSERT_EQ(asked.size(), 1u);
  EXPECT_EQ(asked[0].kind, CaptureFile::Screenshot);
  const QString pictures = QStandardPaths::writableLocation(QStandardPaths::PicturesLocation);
  EXPECT_TRUE(asked[0].suggested.startsWith(pictures + "/")) << asked[0].suggested.toStdString();
  EXPECT_TRUE(
      QRegularExpression("/vesk3-\\d{8}-\\d{6}\\.png$").match(asked[0].suggested).hasMatch())
      << asked[0].suggested.toStdString();

  // After a disconnect the last mirrored image is saved, in the folder used last.
  Disconnect();
  sim.controller.ReleaseScreen();
  answer = QString::fromStdString(Path("second.png"));
  capture->SaveScreenshot();
  ASSERT_EQ(ReadPng(Path("second.png"), &saved), "");
  EXPECT_TRUE(SameImage(saved, ImageOfFrame(colours.data())));
  EXPECT_TRUE(asked.back().suggested.startsWith(folder.path() + "/"))
      << asked.back().suggested.toStdString();
  EXPECT_TRUE(warnings.empty());
}

TEST_F(CaptureTest, CtrlSAndCtrlRAskForAFileAndCancelWritesNothing) {
  ASSERT_TRUE(QTest::qWaitForWindowActive(dialog.get()));
  Connect();
  Refresh();
  answer.clear();  // cancelled
  QTest::keyClick(dialog.get(), Qt::Key_S, Qt::ControlModifier);
  QTest::keyClick(dialog.get(), Qt::Key_R, Qt::ControlModifier);
  ASSERT_EQ(asked.size(), 2u);
  EXPECT_EQ(asked[0].kind, CaptureFile::Screenshot);
  EXPECT_EQ(asked[1].kind, CaptureFile::Recording);
  EXPECT_TRUE(asked[1].suggested.endsWith(".mkv"));
  EXPECT_FALSE(capture->Recording());
  EXPECT_TRUE(
      QDir(folder.path()).entryList(QDir::Files | QDir::Dirs | QDir::NoDotAndDotDot).isEmpty());
  EXPECT_TRUE(ButtonEvents().empty()) << "no key went to the device";
}

TEST_F(CaptureTest, AFailedSaveWarnsWithThePathAndTheReasonAndLeavesTheOldFile) {
  Connect();
  Refresh();
  // A folder that is a file: the system refuses.
  std::ofstream(Path("plain")) << "x";
  const std::string bad = Path("plain") + "/shot.png";
  answer = QString::fromStdString(bad);
  capture->SaveScreenshot();
  ASSERT_EQ(warnings.size(), 1u);
  EXPECT_TRUE(warnings[0].contains(QString::fromStdString(bad))) << warnings[0].toStdString();
  EXPECT_TRUE(warnings[0].contains("Not a directory")) << warnings[0].toStdString();

  // Nothing is lost: the image is still there to save elsewhere.
  answer = QString::fromStdString(Path("good.png"));
  capture->SaveScreenshot();
  RgbImage saved;
  EXPECT_EQ(ReadPng(Path("good.png"), &saved), "");
  EXPECT_FALSE(std::filesystem::exists(Path("good.png.part")));
}

// frames.csv of a PNG folder recording, as (ms, bytes) rows.
std::vector<std::pair<uint64_t, uint64_t>> FramesTable(const std::string& folder) {
  std::ifstream in(folder + "/" + kFramesCsvName);
  std::string line;
  std::getline(in, line);
  std::vector<std::pair<uint64_t, uint64_t>> rows;
  while (std::getline(in, line)) {
    uint64_t index = 0, ms = 0, bytes = 0;
    if (std::sscanf(line.c_str(), "%lu,%lu,%lu", &index, &ms, &bytes) == 3)
      rows.push_back({ms, bytes});
  }
  return rows;
}

TEST_F(CaptureTest, RecordingHoldsEveryRefreshAtItsTimeAndEndsWithTheDisconnect) {
  Connect();
  Refresh();
  const std::string out = Path("frames");
  answer = QString::fromStdString(out);
  capture->RecordAction()->trigger();
  ASSERT_TRUE(capture->Recording());
  EXPECT_EQ(asked.back().kind, CaptureFile::Recording);
  EXPECT_TRUE(dialog->windowTitle().endsWith(QString::fromUtf8(" \u2014 recording")));
  EXPECT_EQ(capture->RecordAction()->text(), "Stop recording");

  Refresh(3);
  sim.virtualClock.AdvanceUs(40000);  // a late tick: its frame carries its real time
  Refresh(2);
  Disconnect();
  EXPECT_FALSE(capture->Recording());
  EXPECT_EQ(dialog->windowTitle(), kWindowTitle);
  Refresh();  // not connected: nothing more is recorded

  const auto rows = FramesTable(out);
  ASSERT_EQ(rows.size(), 5u);
  const uint64_t expected[] = {0, 76, 152, 268, 344};
  for (size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(rows[i].first, expected[i]) << "frame " << i;
    EXPECT_GT(rows[i].second, 0u) << "frame " << i;
  }
  RgbImage last;
  ASSERT_EQ(ReadPng(out + "/" + RecordedFrameName(4), &last), "");
  EXPECT_TRUE(SameImage(last, capture->LastImage()));
}

TEST_F(CaptureTest, RecordingIsAPlayableVideoAfterTheWindowCloses) {
  Connect();
  Refresh();
  const std::string out = Path("session.mkv");
  answer = QString::fromStdString(out);
  capture->RecordAction()->trigger();
  ASSERT_TRUE(capture->Recording());
  Refresh(4);
  capture->ShowZoomWindow();
  dialog->reject();  // Esc or the close button while not connected

  EXPECT_FALSE(capture->Recording());
  EXPECT_FALSE(capture->ZoomWindow()->isVisible()) << "the zoom window closes with the window";
  const ProbedVideo video = ProbeVideo(out);
  ASSERT_EQ(video.error, "");
  EXPECT_EQ(video.ptsMs, (std::vector<int64_t>{0, 76, 152, 228}));
}

TEST_F(CaptureTest, AFullDiskStopsTheRecordingWithABoxAndKeepsTheFile) {
  Connect();
  Refresh();
  const std::string out = Path("full.mkv");
  std::filesystem::create_symlink("/dev/full", out);
  answer = QString::fromStdString(out);
  capture->StartRecording();
  if (!capture->Recording()) {
    // Opening already wrote: the refusal is the box.
    ASSERT_EQ(warnings.size(), 1u);
  } else {
    for (int i = 0; i < 50 && capture->Recording(); ++i) Refresh();
    EXPECT_FALSE(capture->Recording());
    ASSERT_EQ(warnings.size(), 1u);
  }
  EXPECT_TRUE(warnings[0].contains("No space left on device")) << warnings[0].toStdString();
  EXPECT_EQ(dialog->windowTitle(), kWindowTitle);
  EXPECT_EQ(dialog->Controller().PanelStateNow(), Connected) << "the mirror goes on";
}

TEST(ZoomFactor, LargestWholeFactorThatFits) {
  struct Case {
    int width, height, factor;
  };
  const Case cases[] = {
      {240, 320, 1},   {100, 100, 1},   {479, 639, 1},   {480, 639, 1},  {480, 640, 2},
      {1920, 1080, 3}, {1080, 1920, 4}, {3840, 2160, 6}, {720, 5000, 3}, {0, 0, 1},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ZoomFactor(c.width, c.height), c.factor) << c.width << " x " << c.height;
  }
}

TEST_F(CaptureTest, ZoomWindowShowsEachRefreshEnlargedCentredOnBlack) {
  const std::vector<uint16_t> colours = AllColours();
  sim.controller.HoldScreen(colours.data());
  capture->ShowZoomWindow();
  CZoomWindow* zoom = capture->ZoomWindow();
  zoom->resize(700, 1000);  // factor 2 (3 needs 720 x 960), 110 + 180 of black
  Connect();
  Refresh();
  ASSERT_EQ(zoom->ImageRect(), QRect(110, 180, 480, 640));
  const QImage shown = zoom->grab().toImage();
  const RgbImage device = ImageOfFrame(colours.data());
  int differing = 0;
  for (int y = 0; y < 640; ++y) {
    for (int x = 0; x < 480; ++x) {
      const QRgb p = shown.pixel(110 + x, 180 + y);
      const uint8_t* d = device.At(x / 2, y / 2);
      if (qRed(p) != d[0] || qGreen(p) != d[1] || qBlue(p) != d[2]) ++differing;
    }
  }
  EXPECT_EQ(differing, 0) << "nearest neighbour, no smoothing";
  EXPECT_EQ(shown.pixel(109, 500), qRgb(0, 0, 0));
  EXPECT_EQ(shown.pixel(650, 500), qRgb(0, 0, 0));
}

void SendKey(QWidget* to, QEvent::Type type, int key, bool autoRepeat = false) {
  QKeyEvent event(type, key, Qt::NoModifier, QString(), autoRepeat);
  QApplication::sendEvent(to, &event);
}

TEST_F(CaptureTest, DeviceKeysTypedInTheZoomWindowReachTheDevice) {
  capture->ShowZoomWindow();
  CZoomWindow* zoom = capture->ZoomWindow();
  zoom->showFullScreen();
  Connect();
  SendKey(zoom, QEvent::KeyPress, Qt::Key_Down);
  SendKey(zoom, QEvent::KeyRelease, Qt::Key_Down, /*autoRepeat=*/true);  // X11 auto-repeat
  SendKey(zoom, QEvent::KeyPress, Qt::Key_Down, /*autoRepeat=*/true);
  SendKey(zoom, QEvent::KeyRelease, Qt::Key_Down);
  SendKey(zoom, QEvent::KeyPress, Qt::Key_Escape);
  SendKey(zoom, QEvent::KeyRelease, Qt::Key_Escape);
  const int down = DeviceKeyForVirtualKey(kVirtualKeyDown);
  const int esc = DeviceKeyForVirtualKey(kVirtualKeyEscape);
  EXPECT_EQ(ButtonEvents(),
            (std::vector<int>{down, down, down + kButtonRelease, esc, esc + kButtonRelease}));
  EXPECT_TRUE(zoom->isFullScreen()) << "Esc went to the device, not to the window";
  EXPECT_TRUE(dialog->isVisible());

  Disconnect();
  SendKey(zoom, QEvent::KeyPress, Qt::Key_Escape);
  EXPECT_FALSE(zoom->isFullScreen());
  SendKey(zoom, QEvent::KeyPress, Qt::Key_F11);
  EXPECT_TRUE(zoom->isFullScreen());
  EXPECT_TRUE(dialog->isVisible()) << "Esc in the zoom window never closes the main window";
}

// The number the readout starts with.
double ReadoutRate(const QString& title) {
  const QRegularExpressionMatch match =
      QRegularExpression(QString::fromUtf8("\u2014 ([0-9.]+) refreshes/s, ([0-9]+) bytes/refresh"))
          .match(title);
  return match.hasMatch() ? match.captured(1).toDouble() : -1;
}

TEST_F(CaptureTest, RefreshReadoutFollowsTheMeasuredPeriodWithoutDeviceTraffic) {
  capture->RefreshRateAction()->setChecked(true);
  capture->ShowZoomWindow();
  Connect();
  Refresh(3);
  const uint32_t framesBefore = sim.controller.FramesSent();
  Refresh(30);
  // Every command was a refresh: the readout asked the device for nothing.
  EXPECT_EQ(sim.controller.FramesSent() - framesBefore, 30u);
  const auto& received = sim.controller.ReceivedCommands();
  for (size_t i = received.size() - 30; i < received.size(); ++i) {
    EXPECT_EQ(received[i].command, kCmdDisplayFrame) << "command " << i;
  }

  // The period the refreshes really had, on the clock the platform reads.
  const double measured = 1e6 / static_cast<double>(kRefreshUs);
  const double shown = ReadoutRate(dialog->windowTitle());
  EXPECT_NEAR(shown, measured, measured * 0.10) << dialog->windowTitle().toStdString();
  EXPECT_NEAR(capture->Reading().refreshesPerSecond, measured, measured * 0.10);
  EXPECT_GT(capture->Reading().bytesPerRefresh, 0);

  capture->RefreshRateAction()->setChecked(false);
  EXPECT_EQ(dialog->windowTitle(), kWindowTitle);
}

}  // namespace
