// The module's whole boundary with a ripping host: the four exported
// functions and the two records through which the host describes an album,
// with the thread that may call each function, are declared in the hosts'
// own header, encbridge/plugin.h.
#pragma once

#include "encbridge/plugin.h"
