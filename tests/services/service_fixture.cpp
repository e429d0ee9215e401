#include "tests/services/service_fixture.h"

void RecordingPanel::ShowDeviceNotification(ResultCode code) {
  state = NoDevice;
  notifications.push_back(code);
}

void RecordingPanel::ShowCommandError(const char* label, ResultCode code) {
  state = NoDevice;
  commandErrors.push_back({label, code});
}

void RecordingPanel::ShowMessage(const std::string& text, const std::string& caption,
                                 BoxIcon icon) {
  boxes.push_back({text, caption, icon});
}

bool RecordingPanel::PickColor(uint8_t red, uint8_t green, uint8_t blue, uint8_t* chosenRed,
                               uint8_t* chosenGreen, uint8_t* chosenBlue) {
  ++pickerOpened;
  pickerStart[0] = red;
  pickerStart[1] = green;
  pickerStart[2] = blue;
  if (!pickerOk) return false;
  *chosenRed = pickerChoice[0];
  *chosenGreen = pickerChoice[1];
  *chosenBlue = pickerChoice[2];
  return true;
}
