// Why a rip was refused, or a track's output not produced: the one table of
// reasons lives with the public limits, so that the steps that decide, the
// journal and the tools read the same enum, names and texts.
#pragma once

#include "encbridge/reasons.h"
