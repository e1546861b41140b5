// The serial port component and the exchange engine as the main window sees
// them. Until their modules are in the tree the window compiles against
// stand-ins with the same declarations.
#pragma once

#if __has_include("serial/com_port.h")
#include "serial/com_port.h"
#else
#include "ui/interim_com_port.h"
#endif

#if __has_include("protocol/exchange_engine.h")
#include "protocol/exchange_engine.h"
#else
#include "ui/interim_engine.h"
#endif
