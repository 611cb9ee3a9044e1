// One pass of the event loop: key polling, waiting, dispatch.
#pragma once

namespace viewer {

// Polls the five keys, waits for one event or native message and handles it.
void RunLoopPass();

// The loop: passes until quitRequested is 1.
void RunEventLoop();

} // namespace viewer
