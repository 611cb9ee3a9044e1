// One pass of the event loop: key polling, waiting, dispatch.
#pragma once

#include <cstdint>

#include "viewer/layout.h"

namespace viewer {

// Polls the five keys, waits for one event or native message and handles it.
void RunLoopPass();

// The loop: passes until quitRequested is 1.
void RunEventLoop();

// Sets the sprite width as the Left and Right keys do: WidthScroller's state, and the fine
// offset's range -width..width with its text reset to "0" (its state keeps its value).
void SetSpriteWidth(int32_t width);

// Sets the pixel layout (K kept within 1..4) and shows it in the "Layout" drop-down. The row and
// the fine offset stay, and with them the first byte on display.
void SetViewLayout(PixelLayout layout);

} // namespace viewer
