// The control records the core keeps, and what controls.cpp (the table, creation, reading and
// changing, focus) and control_input.cpp (what the backend reports) share. Not for the viewer or
// the backends.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "toolkit/backend.h"
#include "toolkit/controls.h"
#include "toolkit/drawing.h"
#include "toolkit/state.h"

namespace tk {

namespace ctl {

constexpr int kTableStep = 50;
// Control numbers travel as 16-bit identifiers on some platforms; larger numbers are refused so
// that a stray number cannot make the table grow without bound.
constexpr int kLargestNumber = 65535;
constexpr int32_t kDefaultTextLimit = 32767;
constexpr int32_t kCanvasFallbackWidth = 1;
constexpr int32_t kWheelStep = 120;

constexpr uint32_t kLeftBit = 1;
constexpr uint32_t kRightBit = 2;
constexpr uint32_t kMiddleBit = 4;

struct Control {
    int number = 0;
    uint64_t serial = 0; // creation order; also tells a re-created control from its predecessor
    int kind = 0;
    int window = -1;
    int x = 0, y = 0, width = 0, height = 0;
    int flags = 0;
    Text text;
    int32_t state = 0;
    int32_t minimum = 0, maximum = 0, pageLength = 0;
    int32_t caret = 0;
    int32_t textLimit = kDefaultTextLimit;
    bool enabled = true;
    std::unique_ptr<Picture> picture; // canvas backing picture
    bool pointerInside = false;       // canvas: the bit behind MouseEnter
    bool hasCapture = false;          // canvas: a press on it holds the pointer
    intptr_t handle = 0;
};

} // namespace ctl

struct state::Controls {
    std::vector<std::unique_ptr<ctl::Control>> table =
        std::vector<std::unique_ptr<ctl::Control>>(ctl::kTableStep);
    uint64_t nextSerial = 1;
    int focused = -1;
    int64_t wheelAccumulator = 0; // shared by all canvases
    int eventDataOut = 0;         // canvas event records posted and not yet released
};

namespace ctl {

state::Controls* Part(); // null outside InitToolkit .. ReleaseToolkit
Control* Find(int number);
Control* FindKind(int number, int kind);
// The control that still is the one a caller saw before posting (not destroyed, not replaced).
bool StillAlive(int number, uint64_t serial);

int32_t ClampToInt32(int64_t value);
bool IsTextKind(int kind);
// Scroll positions run from minimum to maximum - max(page - 1, 0), never below minimum.
int32_t ClampScroll(const Control& c, int64_t position);
// Spin positions run over the range whichever way round its bounds were given.
int32_t ClampSpin(const Control& c, int64_t position);

void Push(const Control& c, bool withCaret = false); // mirrors the record into the native control
void Post(int number, int window, int32_t subKind);  // a ControlEvent without data
CanvasEventData* TakeEventData();                    // a fresh record, counted until released
void GiveFocus(Control& c);
void MoveFocusIn(int window, bool backwards); // Tab order: creation order, wrapping at both ends

} // namespace ctl

} // namespace tk
