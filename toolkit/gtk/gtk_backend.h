// The GTK 3 backend (X11): what users run.
#pragma once

#include <memory>

#include "toolkit/backend.h"

namespace tk {

// A backend over GTK 3; Init fails when no display can be opened.
std::unique_ptr<Backend> MakeGtkBackend();

} // namespace tk
