#pragma once

#include "gui/window_base.h"
#include "upnp/upnp.h"

// Runs the modal add-port dialog over `owner`. Opens with DefaultAddPortInput()
// afresh each time; on OK checks the fields with ValidateAddPortInput and, when
// they are invalid, shows the "入力値が不正です" message box and stays open
// with the user's input. True with `entry` filled when confirmed; false with
// `entry` untouched when cancelled, escaped or closed.
bool ShowAddPortDialog(gui::tHandle owner, cUPnP::cEntry& entry);
