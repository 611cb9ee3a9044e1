// Controls: canvas, scroll bar, check box, label, spin box, text field, push button.
//
// The core keeps every control's logical state (ranges, positions, texts, checks); the backend
// only mirrors it on screen and reports what the person did. Every control posts ControlEvent
// with source = its number and a sub-kind that depends on its kind.
#pragma once

#include <cstdint>

#include "toolkit/drawing.h"
#include "toolkit/runtime.h"

namespace tk {

// ---- Kind codes -----------------------------------------------------------------------------
constexpr int KindButton = 1;
constexpr int KindTextField = 2;
constexpr int KindLabel = 3;
constexpr int KindCheckBox = 4;
constexpr int KindScrollBar = 15;
constexpr int KindSpinBox = 26;
constexpr int KindCanvas = 33;

// ---- Sub-kinds ------------------------------------------------------------------------------
constexpr int32_t LeftClick = 0;
constexpr int32_t RightClick = 1;
constexpr int32_t LeftDoubleClick = 2;
constexpr int32_t RightDoubleClick = 3;
constexpr int32_t MouseEnter = 0x10001;
constexpr int32_t MouseLeave = 0x10002;
constexpr int32_t MouseMove = 0x10003;
constexpr int32_t LeftButtonDown = 0x10004;
constexpr int32_t LeftButtonUp = 0x10005;
constexpr int32_t RightButtonDown = 0x10006;
constexpr int32_t RightButtonUp = 0x10007;
constexpr int32_t MiddleButtonDown = 0x10008;
constexpr int32_t MiddleButtonUp = 0x10009;
constexpr int32_t MouseWheel = 0x1000A;
constexpr int32_t KeyDown = 0x1000B;
constexpr int32_t KeyUp = 0x1000C;
constexpr int32_t TextInput = 0x1000D;
constexpr int32_t FocusGained = 14000;
constexpr int32_t FocusLost = 14001;

constexpr int32_t ChangeEvent = 0x300; // spin box text changed
constexpr int32_t SpinUp = 4;
constexpr int32_t SpinDown = 5;
constexpr int32_t EditUpdate = 0x400; // text field: before the change shows
constexpr int32_t EditChange = 0x300; // text field: after it
constexpr int32_t EditSetFocus = 0x100;
constexpr int32_t EditKillFocus = 0x200;

// ---- Attributes -----------------------------------------------------------------------------
constexpr int CanvasImage = 1;
constexpr int MouseX = 2;
constexpr int MouseY = 3;
constexpr int Buttons = 4;
constexpr int KeyCode = 5;
constexpr int Modifiers = 6;
constexpr int WheelDelta = 8;
constexpr int InputCharacter = 9;
constexpr int Minimum = 1;
constexpr int Maximum = 2;
constexpr int PageLength = 3;
constexpr int MaximumLength = 1;

// ---- Creation flags -------------------------------------------------------------------------
constexpr int ScrollVertical = 1;
constexpr int LabelCentred = 1;
constexpr int LabelRight = 2;
constexpr int LabelSunken = 0x20000;
constexpr int SpinReadOnly = 1;
constexpr int SpinNumeric = 2;
constexpr int TextDigitsOnly = 0x2000; // ES_NUMBER
constexpr int TextNoBorder = 0x20000;
constexpr int CanvasSunken = 1;
constexpr int CanvasClipPointer = 2;
constexpr int CanvasKeyboard = 4;
constexpr int CanvasFocusRect = 8;
// While a keyboard canvas has the focus, Tab and Shift+Tab in its window are its own keys
// (KeyDown of VkTab, Modifiers with Shift for Shift+Tab) instead of moving the focus.
constexpr int CanvasWantsTab = 16;

// Key codes the toolkit and the viewer use (the values of the virtual-key codes).
constexpr int VkTab = 0x09;
constexpr int VkReturn = 0x0D;
constexpr int VkEscape = 0x1B;
constexpr int VkEnd = 0x23;
constexpr int VkLeft = 0x25;
constexpr int VkUp = 0x26;
constexpr int VkRight = 0x27;
constexpr int VkDown = 0x28;
constexpr int VkF3 = 0x72;
constexpr int VkF4 = 0x73;
constexpr int VkF5 = 0x74;

// Bits of a canvas event's Modifiers attribute.
constexpr int64_t ModifierShift = 1;
constexpr int64_t ModifierAlt = 2;
constexpr int64_t ModifierCtrl = 4;

// Attached to every canvas event; valid until the next WaitForEvent.
struct CanvasEventData {
    int32_t x = 0;
    int32_t y = 0;
    uint32_t buttons = 0; // bit 0 left, bit 1 right, bit 2 middle
    uint32_t keyCode = 0;
    uint32_t modifiers = 0; // bit 0 Shift, bit 1 Alt, bit 2 Ctrl
    int32_t wheelSteps = 0;
    uint32_t character = 0;
};

// ---- Creation (number first; positions in the parent window's inner pixels) ----------------
intptr_t AddCanvas(int number, int x, int y, int width, int height, int flags = 0);
intptr_t AddScrollBar(int number, int x, int y, int width, int height, int32_t minimum,
                      int32_t maximum, int32_t pageLength, int flags);
intptr_t AddCheckBox(int number, int x, int y, int width, int height, const Text& text);
intptr_t AddLabel(int number, int x, int y, int width, int height, const Text& text, int flags);
intptr_t AddSpinBox(int number, int x, int y, int width, int height, int32_t minimum,
                    int32_t maximum, int flags);
intptr_t AddTextField(int number, int x, int y, int width, int height, const Text& text, int flags);
intptr_t AddButton(int number, int x, int y, int width, int height, const Text& text);
void DestroyControl(int number);
// Gives the control a new place and size in its window. A canvas gets a new picture of the new
// size, white, with the old picture copied into its top-left corner. Posts nothing.
int MoveControl(int number, int x, int y, int width, int height);

// ---- Reading and changing -------------------------------------------------------------------
int32_t GetControlState(int number);
int SetControlState(int number, int32_t value); // posts nothing
Text GetControlText(int number);
int SetControlText(int number, const Text& text); // posts nothing
int64_t GetControlAttribute(int number, int attribute);
int SetControlAttribute(int number, int attribute, int64_t value);
intptr_t ControlHandle(int number);
int ControlKind(int number); // 0 when there is no control

// A key sent to a control's handle from the program, as the platform would deliver it to that
// control; VkEnd moves a text caret behind the last character.
void SendKeyToControl(intptr_t handle, int keyCode);
int32_t ControlCaret(int number); // caret position of a text or spin box (characters)

// Keyboard focus: Tab and Shift+Tab move it over the controls that take it, in creation order.
int FocusedControl(); // -1 when none
void MoveFocus(bool backwards);
// Gives the keyboard focus to a control that takes it (0 for one that does not).
int GiveControlFocus(int number);

// ---- System-wide key state ------------------------------------------------------------------
// As the viewer polls it: bit 15 (sign-extended, 0xFFFF8000) while the key is down now, bit 0
// when it was pressed since the previous query of that key, whichever window has the focus.
// A press made while one of the program's menus or modal dialogs had the input does not count
// (key_state.cpp).
constexpr uint32_t KeyDownState = 0xFFFF8000u;
constexpr int32_t KeyPressedBit = 1;
constexpr int32_t KeyDownAndPressed = static_cast<int32_t>(KeyDownState | KeyPressedBit);
int32_t AsyncKeyState(int keyCode);

} // namespace tk
