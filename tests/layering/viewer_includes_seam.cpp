// Must not build: the viewer may not include toolkit/backend.h.
#include "toolkit/backend.h"
