// Must not build: the viewer may not include toolkit/gtk/gtk_backend.h.
#include "toolkit/gtk/gtk_backend.h"
