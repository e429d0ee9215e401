// Display colours: reading and writing one colour entry (command 253) of the
// device's table, addressed by the colour combo's selection.
//
// Owns: ReadColorEntry and ChangeColorEntry. currentColor is the window's field
// (bytes blue, green, red, 0 in the device's order); the label and the picker
// are reached through PanelUi.
#pragma once

#include <cstdint>

#include "protocol/wire.h"
#include "services/panel_ui.h"

void ReadColorEntry(PanelUi& ui, uint32_t& currentColor);
void ChangeColorEntry(PanelUi& ui, uint32_t& currentColor);
