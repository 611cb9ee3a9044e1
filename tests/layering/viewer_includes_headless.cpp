// Must not build: the viewer may not include toolkit/headless/null_backend.h.
#include "toolkit/headless/null_backend.h"
