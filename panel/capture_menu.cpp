#include "panel/capture_menu.h"

#include <QAction>
#include <QContextMenuEvent>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QImage>
#include <QMenu>
#include <QMessageBox>
#include <QStandardPaths>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "capture/png_file.h"
#include "link/usb_device.h"
#include "panel/bitmap_rect.h"
#include "panel/dialog_template.h"
#include "panel/tessaro_app_dlg.h"
#include "panel/zoom_window.h"
#include "platform/platform.h"
#include "services/display_frame.h"

namespace {

constexpr uint64_t kUsPerMs = 1000;

const char* const kSaveText = "Save screenshot\u2026";
const char* const kCopyText = "Copy screenshot";
const char* const kStartRecordingText = "Start recording\u2026";
const char* const kStopRecordingText = "Stop recording";
const char* const kZoomText = "Zoom window";
const char* const kRefreshRateText = "Show refresh rate";
const char* const kTitleSeparator = " \u2014 ";
const char* const kRecordingTitleEnd = " \u2014 recording";

const char* const kSaveCaption = "Save screenshot";
const char* const kRecordCaption = "Record the display";
const char* const kPngFilter = "PNG image (*.png)";
const char* const kMkvFilter = "Matroska video, lossless (*.mkv)";
const char* const kMp4Filter = "MP4 video, H.264 (*.mp4)";
const char* const kFolderFilter = "Folder of PNG frames (*)";
const char* const kSaveFailed = "Cannot save the screenshot.";
const char* const kRecordFailed = "Cannot record.";
const char* const kRecordingStopped = "The recording stopped; what was recorded is kept.";
const char* const kPartSuffix = ".part";

QString Utf8(const std::string& text) {
  return QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
}

std::string FileName(const QString& path) {
  return QFile::encodeName(path).toStdString();
}

QString FolderOrHome(QStandardPaths::StandardLocation location) {
  const QString folder = QStandardPaths::writableLocation(location);
  return folder.isEmpty() ? QDir::homePath() : folder;
}

// Writes beside the target and renames, so a failed write never leaves a
// damaged file where a good one was. Errors name the target.
std::string WritePngReplacing(const std::string& path, const RgbImage& image) {
  const std::string part = path + kPartSuffix;
  std::string error = WritePng(part, image);
  if (error.empty()) {
    if (std::rename(part.c_str(), path.c_str()) == 0) return "";
    error = std::string("cannot write ") + path + ": " + std::strerror(errno);
    std::remove(part.c_str());
    return error;
  }
  std::remove(part.c_str());
  const std::string partPrefix = "cannot write " + part + ": ";
  if (error.compare(0, partPrefix.size(), partPrefix) == 0) {
    error = "cannot write " + path + ": " + error.substr(partPrefix.size());
  }
  return error;
}

}  // namespace

QString CaptureBaseName(qint64 secondsSinceEpoch) {
  return QDateTime::fromSecsSinceEpoch(secondsSinceEpoch)
      .toString(QStringLiteral("'vesk3-'yyyyMMdd-HHmmss"));
}

CCaptureMenu::CCaptureMenu(CTessaro_AppDlg& dialog) : QObject(&dialog), m_dialog(dialog) {
  askPath = [this](CaptureFile kind, const QString& suggested) {
    return AskPathWithDialog(kind, suggested);
  };
  warn = [this](const QString& text) { WarnWithBox(text); };
  m_screenshotFolder = FolderOrHome(QStandardPaths::PicturesLocation);
  m_recordingFolder = FolderOrHome(QStandardPaths::MoviesLocation);

  m_menu = new QMenu(&dialog);
  BuildActions();

  CBitmapRect* view = &dialog.Display();
  view->setContextMenuPolicy(Qt::CustomContextMenu);
  connect(view, &QWidget::customContextMenuRequested, this,
          [this, view](const QPoint& pos) { PopUpAtView(view->mapToGlobal(pos)); });
  dialog.installEventFilter(this);
  dialog.Controller().SetFollower(this);
  UpdateEnabled();
}

CCaptureMenu::~CCaptureMenu() {
  // The window is going: nothing of it may be touched, only the file finished.
  if (m_recorder != nullptr) {
    const std::string error = m_recorder->Finish();
    if (!error.empty()) std::fprintf(stderr, "%s\n", error.c_str());
  }
}

void CCaptureMenu::BuildActions() {
  m_save = m_menu->addAction(QString::fromUtf8(kSaveText), this, [this] { SaveScreenshot(); });
  m_save->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_S));
  m_copy = m_menu->addAction(QString::fromUtf8(kCopyText), this,
                             [this] { m_dialog.Controller().OnScreenshot(); });
  m_record = m_menu->addAction(QString::fromUtf8(kStartRecordingText), this,
                               [this] { ToggleRecording(); });
  m_record->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  m_menu->addSeparator();
  m_zoom = m_menu->addAction(QString::fromUtf8(kZoomText), this, [this] { ShowZoomWindow(); });
  m_refreshRate = m_menu->addAction(QString::fromUtf8(kRefreshRateText));
  m_refreshRate->setCheckable(true);
  connect(m_refreshRate, &QAction::toggled, this, [this](bool on) { SetRefreshRateShown(on); });
  for (QAction* action : {m_save, m_record}) {
    action->setShortcutContext(Qt::WindowShortcut);
    m_dialog.addAction(action);
  }
}

void CCaptureMenu::PopUpAtView(const QPoint& globalPos) {
  UpdateEnabled();
  m_menu->popup(globalPos);
}

bool CCaptureMenu::eventFilter(QObject* watched, QEvent* event) {
  if (watched != &m_dialog) return false;
  if (event->type() == QEvent::ContextMenu) {
    // The Menu key, wherever the focus is in the window (the view itself
    // takes no focus): the menu opens over the view.
    const auto* menuEvent = static_cast<QContextMenuEvent*>(event);
    if (menuEvent->reason() != QContextMenuEvent::Keyboard) return false;
    const CBitmapRect& view = m_dialog.Display();
    PopUpAtView(view.mapToGlobal(view.rect().center()));
    return true;
  }
  if (event->type() == QEvent::Hide && !event->spontaneous()) {
    // The window closes: the recording is finished and the zoom window goes with it.
    if (m_recorder != nullptr) {
      const QString error = FinishRecording();
      if (!error.isEmpty()) std::fprintf(stderr, "%s\n", error.toLocal8Bit().constData());
    }
    if (m_zoomWindow != nullptr) m_zoomWindow->close();
  }
  return false;
}

QString CCaptureMenu::AskPathWithDialog(CaptureFile kind, const QString& suggestedPath) {
  const bool screenshot = kind == CaptureFile::Screenshot;
  QFileDialog chooser(&m_dialog, QString::fromLatin1(screenshot ? kSaveCaption : kRecordCaption));
  // Qt's own dialog on every desktop: the same keys everywhere.
  chooser.setOption(QFileDialog::DontUseNativeDialog);
  chooser.setAcceptMode(QFileDialog::AcceptSave);
  chooser.setFileMode(QFileDialog::AnyFile);
  if (screenshot) {
    chooser.setNameFilter(QString::fromLatin1(kPngFilter));
    chooser.setDefaultSuffix(QStringLiteral("png"));
  } else {
    chooser.setNameFilters({QString::fromLatin1(kMkvFilter), QString::fromLatin1(kMp4Filter),
                            QString::fromLatin1(kFolderFilter)});
  }
  chooser.setDirectory(QFileInfo(suggestedPath).absolutePath());
  chooser.selectFile(QFileInfo(suggestedPath).fileName());
  if (chooser.exec() != QDialog::Accepted) return QString();
  const QStringList chosen = chooser.selectedFiles();
  return chosen.isEmpty() ? QString() : chosen.first();
}

void CCaptureMenu::WarnWithBox(const QString& text) {
  QMessageBox box(QMessageBox::Warning, QCoreApplication::applicationName(), text, QMessageBox::Ok,
                  &m_dialog);
  box.setTextFormat(Qt::PlainText);
  box.exec();
}

QImage CCaptureMenu::LastQImage() const {
  if (m_lastImage.rgb.empty()) {
    QImage black(kDisplayWidth, kDisplayHeight, QImage::Format_RGB888);
    black.fill(Qt::black);
    return black;
  }
  return QImage(m_lastImage.rgb.data(), m_lastImage.width, m_lastImage.height,
                m_lastImage.width * 3, QImage::Format_RGB888)
      .copy();
}

void CCaptureMenu::OnPanelStateChanged(PanelState state) {
  m_connected = state == Connected;
  // The first refresh's bytes start here: the connection's own are not a refresh's.
  m_bytesAtLastFrame = theUsbDevice.bytesMoved;
  m_meter.Clear();
  if (!m_connected && m_recorder != nullptr) StopRecording();
  UpdateEnabled();
  UpdateTitle();
}

void CCaptureMenu::OnFrameShown() {
  const uint64_t nowUs = ThePlatform().NowUs();
  const uint64_t bytes = theUsbDevice.bytesMoved - m_bytesAtLastFrame;
  m_bytesAtLastFrame = theUsbDevice.bytesMoved;
  m_lastImage = ImageOfFrame(FrameBuffer);
  m_meter.OnRefresh(nowUs, bytes);
  if (m_recorder != nullptr) {
    if (m_framesRecorded == 0) m_recordingStartUs = nowUs;
    RecordedFrame frame{&m_lastImage, (nowUs - m_recordingStartUs) / kUsPerMs, bytes};
    const std::string error = m_recorder->Add(frame);
    if (error.empty()) {
      ++m_framesRecorded;
    } else {
      // What was written stays: the file is finished as far as it got.
      const QString finishError = FinishRecording();
      QString text = QString::fromLatin1(kRecordingStopped) + "\n\n" + Utf8(error);
      if (!finishError.isEmpty()) text += "\n" + finishError;
      warn(text);
    }
  }
  if (m_zoomWindow != nullptr) m_zoomWindow->ShowImage(LastQImage());
  UpdateEnabled();
  if (m_refreshRate->isChecked()) UpdateTitle();
}

void CCaptureMenu::SaveScreenshot() {
  if (m_lastImage.rgb.empty()) return;
  // The screen as it was when asked: refreshes go on under the save dialog.
  const RgbImage image = m_lastImage;
  const QString suggested =
      QDir(m_screenshotFolder)
          .filePath(CaptureBaseName(QDateTime::currentSecsSinceEpoch()) + QStringLiteral(".png"));
  const QString path = askPath(CaptureFile::Screenshot, suggested);
  if (path.isEmpty()) return;
  m_screenshotFolder = QFileInfo(path).absolutePath();
  const std::string error = WritePngReplacing(FileName(path), image);
  if (!error.empty()) warn(QString::fromLatin1(kSaveFailed) + "\n\n" + Utf8(error));
}

void CCaptureMenu::ToggleRecording() {
  if (Recording()) {
    StopRecording();
  } else {
    StartRecording();
  }
}

void CCaptureMenu::StartRecording() {
  if (Recording() || !m_connected || m_lastImage.rgb.empty()) return;
  const QString suggested =
      QDir(m_recordingFolder)
          .filePath(CaptureBaseName(QDateTime::currentSecsSinceEpoch()) + QStringLiteral(".mkv"));
  const QString path = askPath(CaptureFile::Recording, suggested);
  // The mirror may have stopped while the dialog was open.
  if (path.isEmpty() || !m_connected || Recording()) return;
  std::string error;
  std::unique_ptr<FrameRecorder> recorder = OpenRecorder(FileName(path), &error);
  if (recorder == nullptr) {
    warn(QString::fromLatin1(kRecordFailed) + "\n\n" + Utf8(error));
    return;
  }
  m_recorder = std::move(recorder);
  m_recordingPath = path;
  m_recordingFolder = QFileInfo(path).absolutePath();
  m_framesRecorded = 0;
  m_recordingStartUs = 0;
  UpdateEnabled();
  UpdateTitle();
}

void CCaptureMenu::StopRecording() {
  if (m_recorder == nullptr) return;
  const QString error = FinishRecording();
  if (!error.isEmpty()) warn(QString::fromLatin1(kRecordFailed) + "\n\n" + error);
}

QString CCaptureMenu::FinishRecording() {
  std::unique_ptr<FrameRecorder> recorder = std::move(m_recorder);
  const std::string error = recorder != nullptr ? recorder->Finish() : std::string();
  recorder.reset();
  UpdateEnabled();
  UpdateTitle();
  return Utf8(error);
}

void CCaptureMenu::ShowZoomWindow() {
  if (m_zoomWindow == nullptr) {
    m_zoomWindow = new CZoomWindow(&m_dialog);
    m_zoomWindow->addAction(m_save);
    m_zoomWindow->addAction(m_record);
    m_zoomWindow->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_zoomWindow, &QWidget::customContextMenuRequested, this,
            [this](const QPoint& pos) { PopUpAtView(m_zoomWindow->mapToGlobal(pos)); });
    m_zoomWindow->ShowImage(LastQImage());
  }
  UpdateTitle();
  m_zoomWindow->show();
  m_zoomWindow->raise();
  m_zoomWindow->activateWindow();
}

void CCaptureMenu::SetRefreshRateShown(bool shown) {
  if (m_refreshRate->isChecked() != shown) m_refreshRate->setChecked(shown);
  UpdateTitle();
}

void CCaptureMenu::UpdateEnabled() {
  const bool hasFrame = !m_lastImage.rgb.empty();
  m_save->setEnabled(hasFrame);
  m_record->setEnabled(Recording() || (hasFrame && m_connected));
  m_record->setText(QString::fromUtf8(Recording() ? kStopRecordingText : kStartRecordingText));
}

void CCaptureMenu::UpdateTitle() {
  QString title = QString::fromLatin1(kWindowTitle);
  QString readout;
  if (m_refreshRate->isChecked()) readout = Utf8(RefreshReadoutText(m_meter.Reading()));
  if (!readout.isEmpty()) title += QString::fromUtf8(kTitleSeparator) + readout;
  if (Recording()) title += QString::fromUtf8(kRecordingTitleEnd);
  if (m_dialog.windowTitle() != title) m_dialog.setWindowTitle(title);
  if (m_zoomWindow != nullptr) m_zoomWindow->SetReadout(readout);
}
