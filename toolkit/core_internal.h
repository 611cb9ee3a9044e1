// What the parts of the toolkit core (window.cpp, controls.cpp, requesters.cpp) need from each
// other. Not for the viewer or the backends.
#pragma once

#include <cstdint>

#include "toolkit/backend.h"
#include "toolkit/window.h"

namespace tk::core {

// window.cpp
Backend* backend();                        // null before InitToolkit
void SetBackend(Backend* backend);         // InitToolkit's, once the parts are made
intptr_t NativeWindow(int window);         // the backend's handle, 0 when none
int ControlParentWindow();                 // window that receives new controls, -1 when none
int WindowNumberOfHandle(intptr_t handle); // -1 when no window has it
// status_bar.cpp
void LayOutStatusBarsOf(int window);
void RemoveStatusBarsOf(int window);
// events.cpp
// The backend WakeEventLoop wakes, null while no toolkit runs. A thread that may call
// WakeEventLoop must have ended before ReleaseToolkit clears it.
void SetWakeTarget(Backend* backend);
void RemoveQueuedControlEvents(int control);
void RemoveQueuedWindowEvents(int window);
void RemoveBindingsOfWindow(int window);
bool CurrentEventIsControlEvent(int control); // CurrentEvent is a ControlEvent of control
void* CurrentEventData();
ReleaseProc CurrentEventRelease(); // how the current event's data is freed

// controls.cpp
void DestroyControlsOfWindow(int window);
int ControlWindow(int control);          // window number holding the control, -1 when none
void ReleaseCanvasEventData(void* data); // frees a CanvasEventData record
int CanvasEventDataInUse();              // records posted and not yet released

// key_state.cpp: a modal dialog has the input between these two calls.
void ModalDialogBegins();
void ModalDialogEnds();

} // namespace tk::core
