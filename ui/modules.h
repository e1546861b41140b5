// The serial port component and the exchange engine as the main window sees
// them. Until the serial module is in the tree the window compiles against a
// stand-in with the same declarations.
#pragma once

#if __has_include("serial/com_port.h")
#include "serial/com_port.h"
#else
#include "ui/interim_com_port.h"
#endif

#include "protocol/exchange_engine.h"
