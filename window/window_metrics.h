// The numbers both windows are drawn with: the client width, the heights of
// the stacked parts, the status bar's panels, the gauge's colours and the
// key dialogs' start delay. Designed pixels at 96 DPI. The Win32 resource
// script includes this file too: it sees only the macros.
#pragma once

#define VORSAL_CLIENT_WIDTH 338
#define VORSAL_TOOLS_HEIGHT 32
#define VORSAL_TOP_HEIGHT 116
#define VORSAL_MIDDLE_HEIGHT 116
#define VORSAL_BOTTOM_HEIGHT 97
#define VORSAL_GAUGE_HEIGHT 9
#define VORSAL_STATUS_BAR_HEIGHT 19

#ifndef RC_INVOKED

#include "protocol/exchange_view.h"
#include "window/production_model.h"
#include "window/window_surface.h"

#include <array>
#include <optional>

namespace vorsal {

inline constexpr int WindowClientWidth = VORSAL_CLIENT_WIDTH;

// The designed height of each stacked part.
constexpr int DesignedPanelHeight(WindowPanel panel) {
  switch (panel) {
    case WindowPanel::Tools: return VORSAL_TOOLS_HEIGHT;
    case WindowPanel::Top: return VORSAL_TOP_HEIGHT;
    case WindowPanel::Middle: return VORSAL_MIDDLE_HEIGHT;
    case WindowPanel::Bottom: return VORSAL_BOTTOM_HEIGHT;
    case WindowPanel::ProgressBar: return VORSAL_GAUGE_HEIGHT;
    case WindowPanel::StatusBar: return VORSAL_STATUS_BAR_HEIGHT;
  }
  return 0;
}

// The status bar's panels from the left: byte count, port, exchange.
inline constexpr std::array<int, 3> StatusPanelWidths = {130, 130, 50};

// The key dialogs begin their work this long after they are shown, so that
// they are drawn first.
inline constexpr int KeyDialogStartDelayMs = 100;

struct Rgb {
  int red, green, blue;
};

// A gauge colour as red, green and blue; none for the system's button face,
// which each window asks its system for.
constexpr std::optional<Rgb> GaugeRgb(GaugeColor color) {
  switch (color) {
    case GaugeColor::White: return Rgb{255, 255, 255};
    case GaugeColor::Black: return Rgb{0, 0, 0};
    case GaugeColor::Yellow: return Rgb{255, 255, 0};
    case GaugeColor::Green: return Rgb{0, 128, 0};
    case GaugeColor::Maroon: return Rgb{128, 0, 0};
    case GaugeColor::BtnFace: return std::nullopt;
  }
  return std::nullopt;
}

// A production tile's background by its colour.
constexpr Rgb TileRgb(TileColour colour) {
  switch (colour) {
    case TileColour::Busy: return {255, 240, 160};
    case TileColour::Done: return {182, 227, 182};
    case TileColour::Failed: return {242, 176, 176};
    case TileColour::Lost: return {184, 184, 184};
    case TileColour::Idle: break;
  }
  return {230, 230, 230};
}

}  // namespace vorsal

#endif  // RC_INVOKED
