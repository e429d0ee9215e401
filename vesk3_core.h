// Everything of the toolkit-free core in one include. The simulated device is
// not part of it: sim/vesk3_sim.h includes that.
#pragma once

#include "link/ft_driver.h"
#include "link/usb_device.h"
#include "platform/platform.h"
#include "protocol/answer_frame.h"
#include "protocol/command_channel.h"
#include "protocol/command_frame.h"
#include "protocol/link_startup.h"
#include "protocol/result_codes.h"
#include "protocol/wire.h"
#include "services/buttons.h"
#include "services/colors.h"
#include "services/device_info.h"
#include "services/display_frame.h"
#include "services/frame_view.h"
#include "services/panel_ui.h"
#include "services/program_state.h"
