// Must not build: the viewer may not include toolkit/headless/headless_backend.h.
#include "toolkit/headless/headless_backend.h"
