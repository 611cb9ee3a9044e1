// The toolkit started on a backend for as long as the object lives, with main window 0
// (660 x 610) when `withMainWindow`: tests hold one, and every test starts from fresh toolkit
// state. RunningToolkit runs the null backend, for the file, drawing and image procedures.
//
//     class MyTest : public ::testing::Test {
//         pmtest::RunningToolkit toolkit; // first member: it goes last
//     };
#pragma once

#include <string>

#include "toolkit/headless/null_backend.h"
#include "toolkit/runtime.h"
#include "toolkit/window.h"

namespace pmtest {

template <typename Backend, bool withMainWindow> struct StartedToolkit {
    StartedToolkit() {
        ok = tk::InitToolkit(&backend) != 0 &&
             (!withMainWindow || tk::CreateMainWindow(0, 0, 0, 660, 610, "main", 0xCA0001) != 0);
    }
    ~StartedToolkit() { tk::ReleaseToolkit(); }
    StartedToolkit(const StartedToolkit&) = delete;
    StartedToolkit& operator=(const StartedToolkit&) = delete;

    Backend backend;
    bool ok = false;
};

using RunningToolkit = StartedToolkit<tk::NullBackend, false>;

// What one ReadBytes call of up to `size` bytes gives from the file slot.
inline std::string ReadFromSlot(int slot, int64_t size) {
    std::string part(size_t(size), '\0');
    part.resize(size_t(tk::ReadBytes(slot, reinterpret_cast<uint8_t*>(part.data()), size)));
    return part;
}

} // namespace pmtest
