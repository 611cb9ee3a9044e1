// Keys that belong to the program's own menus and dialogs: the Escape that closes a message box
// must not also count for the event loop, while a key pressed afterwards still does.
#include <gtest/gtest.h>

#include <functional>

#include "tests/support/scripted_backend.h"
#include "toolkit/controls.h"
#include "toolkit/requesters.h"
#include "toolkit/window.h"

namespace tk {
namespace {

constexpr int32_t DownAndPressed = static_cast<int32_t>(0xFFFF8001u);
constexpr int32_t DownOnly = static_cast<int32_t>(0xFFFF8000u);

TEST(KeyStateTest, AKeyPressedWhileAMenuOrDialogHadTheInputCountsOnlyWhenPressedAgain) {
    pmtest::ScriptedBackend backend;
    ASSERT_NE(InitToolkit(&backend), 0);
    ASSERT_NE(CreateMainWindow(0, 0, 0, 200, 100, "keys", 0), 0);
    struct Case {
        const char* what;
        std::function<void()> closedByEscape;
    } cases[] = {
        {"message box", [] { ShowMessage("Information", "text"); }},
        {"text dialog", [] { AskText("Title", "size of the file", "0000"); }},
        {"file dialog", [] { AskOpenFile("Please choose file to load", "", "Any(*.*)", 0); }},
        {"menu",
         [] {
             notify::MenuTracking(0, true);
             EXPECT_EQ(AsyncKeyState(VkEscape), DownOnly) << "a press inside a menu is its own";
             notify::MenuTracking(0, false);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        AsyncKeyState(VkEscape); // the program polls this key
        backend.PressKey(VkEscape);
        c.closedByEscape();
        EXPECT_EQ(AsyncKeyState(VkEscape), DownOnly);
        backend.PressKey(VkEscape); // a repeat of the held key is no new press
        EXPECT_EQ(AsyncKeyState(VkEscape), DownOnly);
        backend.SetKeyDown(VkEscape, false);
        EXPECT_EQ(AsyncKeyState(VkEscape), 0);
        backend.PressKey(VkEscape);
        EXPECT_EQ(AsyncKeyState(VkEscape), DownAndPressed) << "released and pressed again";
        backend.SetKeyDown(VkEscape, false);
        AsyncKeyState(VkEscape);
    }
    // A key pressed before a dialog and released before it closed is forgotten as well.
    AsyncKeyState(VkLeft);
    backend.PressKey(VkLeft);
    backend.SetKeyDown(VkLeft, false);
    ShowMessage("Information", "text");
    backend.SetKeyDown(VkLeft, true);
    EXPECT_EQ(AsyncKeyState(VkLeft), DownOnly);
    ReleaseToolkit();
}

} // namespace
} // namespace tk
