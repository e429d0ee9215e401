// What the device services need of the window: its panel state, its failure
// boxes, and the colour controls. The Qt window implements it; tests implement
// it with a recorder. Services never include Qt.
#pragma once

#include <cstdint>
#include <string>

#include "protocol/result_codes.h"

enum PanelState : int32_t {
  NoDevice = 0,
  DeviceAvailable = 1,
  Connected = 2,
};

enum class BoxIcon { None, Error, Information, Warning };

class PanelUi {
 public:
  virtual ~PanelUi() = default;

  virtual PanelState CurrentPanelState() const = 0;

  // Panel to NoDevice, then the "Notification" box for 13 or 14.
  virtual void ShowDeviceNotification(ResultCode code) = 0;
  // Panel to NoDevice, then "%s returned (%d):\n\n%s" with the application title.
  virtual void ShowCommandError(const char* label, ResultCode code) = 0;
  // A modal box with one OK button. An empty caption means the application title.
  virtual void ShowMessage(const std::string& text, const std::string& caption, BoxIcon icon) = 0;

  // The colour-index combo box's selection, negative when there is none.
  virtual int ColorSelection() const = 0;
  virtual void SetColorLabel(const std::string& text) = 0;
  // The colour picker, starting from red, green, blue; false when not closed with OK.
  virtual bool PickColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t* chosenRed,
                         uint8_t* chosenGreen, uint8_t* chosenBlue) = 0;
};
