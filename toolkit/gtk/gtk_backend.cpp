// The GTK 3 backend's start-up and shut-down, the hook that counts native messages, the native
// wait, and the text conversion the other files share. Windows, controls and the rest live in
// the files gtk_backend_impl.h lists.
#include "toolkit/gtk/gtk_backend.h"

#include <atomic>

#include "toolkit/gtk/gtk_backend_impl.h"
#include "toolkit/window.h"

namespace tk::gtk {

namespace {

// A GDK event's number is its type after the base; a wake-up without one (a raw key event seen
// by the X filter) has a number of its own.
constexpr int32_t kWakeUpMessage = NativeMessageBase + 0xFFFF;

// Every GDK event passes here: it is counted as one native message, then GTK dispatches it.
void OnGdkEvent(GdkEvent* event, gpointer data) {
    auto* s = static_cast<BackendState*>(data);
    s->handled++;
    s->lastEventType = event->type;
    GtkWidget* widget = gtk_get_event_widget(event);
    if (event->type == GDK_BUTTON_PRESS && widget != nullptr) NoteScrollPress(s, widget);
    gtk_main_do_event(event);
    if (event->type == GDK_BUTTON_RELEASE && widget != nullptr) ReportScrollRelease(s, widget);
}

// Set by Wake on any thread, taken by WaitNative. A flag of its own rather than the backend's
// state: an idle source added by Wake may outlive the backend that added it.
std::atomic<bool> wakeRequested{false};

gboolean OnWakeIdle(gpointer) {
    return G_SOURCE_REMOVE; // running it was the point: the main context iteration returns
}

// GTK's own handler, put back at shut-down.
void GtkDefaultEvent(GdkEvent* event, gpointer) {
    gtk_main_do_event(event);
}

} // namespace

std::string Utf8(const Text& text) {
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr)) return text;
    gsize written = 0;
    gchar* converted = g_convert(text.data(), static_cast<gssize>(text.size()), "UTF-8",
                                 "ISO-8859-1", nullptr, &written, nullptr);
    if (converted == nullptr) return std::string();
    std::string result(converted, written);
    g_free(converted);
    return result;
}

GtkBackend::GtkBackend() : state_(std::make_unique<BackendState>()) {}

GtkBackend::~GtkBackend() {
    Shutdown();
}

bool GtkBackend::Init() {
    BackendState& s = *state_;
    if (s.started) return true;
    if (!gtk_init_check(nullptr, nullptr)) return false;
    GdkScreen* screen = gdk_screen_get_default();
    if (screen == nullptr) return false;

    // A click in a scroll bar's trough pages, as the arrows step; the thumb is dragged, not
    // warped to the pointer. Fades would only delay what a person sees.
    GtkSettings* settings = gtk_settings_get_default();
    g_object_set(settings, "gtk-primary-button-warps-slider", FALSE, "gtk-enable-animations", FALSE,
                 nullptr);

    LoadStyle(s, screen);
    gdk_event_handler_set(&OnGdkEvent, &s, nullptr);
    s.started = true;
    wakeUp = false;
    InitInput();
    return true;
}

void GtkBackend::Shutdown() {
    BackendState& s = *state_;
    if (!s.started) return;
    ShutdownInput();
    std::vector<GtkWidget*> left;
    for (auto& entry : s.windows) left.push_back(entry.first);
    for (GtkWidget* window : left) DestroyWindow(H(window));
    s.controls.clear();
    s.byWidget.clear();
    s.statusBars.clear();
    gdk_event_handler_set(&GtkDefaultEvent, nullptr, nullptr);
    UnloadStyle(s);
    // Let GTK finish the destruction it queued, so nothing of ours is touched later.
    while (g_main_context_iteration(nullptr, FALSE)) {
    }
    s.started = false;
}

int32_t GtkBackend::WaitNative() {
    BackendState& s = *state_;
    const uint64_t start = s.handled;
    KeymapMayHaveChanged();
    while (s.handled == start && !wakeUp && !wakeRequested.load() && QueuedEventCount() == 0) {
        g_main_context_iteration(nullptr, TRUE);
    }
    wakeUp = false;
    wakeRequested.store(false);
    if (s.handled != start) return NativeMessageBase + (s.lastEventType & 0xFFFF);
    return kWakeUpMessage;
}

void GtkBackend::Wake() {
    // g_idle_add is safe from any thread and wakes the default main context.
    if (!wakeRequested.exchange(true)) g_idle_add(OnWakeIdle, nullptr);
}

} // namespace tk::gtk

namespace tk {

std::unique_ptr<Backend> MakeGtkBackend() {
    return std::make_unique<gtk::GtkBackend>();
}

} // namespace tk
