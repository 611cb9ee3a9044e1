// One pass of the event loop: key polling, waiting, dispatch.
#pragma once

#include <cstdint>

namespace viewer {

// Polls the five keys, waits for one event or native message and handles it.
void RunLoopPass();

// The loop: passes until quitRequested is 1.
void RunEventLoop();

// Sets the sprite width as the Left and Right keys do: WidthScroller's state, and the fine
// offset's range -width..width with its text reset to "0" (its state keeps its value).
void SetSpriteWidth(int32_t width);

} // namespace viewer
