// A toolkit started on the null backend for as long as the object lives: tests of the file,
// drawing and image procedures hold one, and every test starts from fresh toolkit state.
//
//     class MyTest : public ::testing::Test {
//         pmtest::RunningToolkit toolkit; // first member: it goes last
//     };
#pragma once

#include "toolkit/headless/null_backend.h"
#include "toolkit/window.h"

namespace pmtest {

struct RunningToolkit {
    RunningToolkit() { ok = tk::InitToolkit(&backend) != 0; }
    ~RunningToolkit() { tk::ReleaseToolkit(); }
    RunningToolkit(const RunningToolkit&) = delete;
    RunningToolkit& operator=(const RunningToolkit&) = delete;

    tk::NullBackend backend;
    bool ok = false;
};

} // namespace pmtest
