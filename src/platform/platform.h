// The thin layer over the operating system. Everything above it is shared by
// both builds; src/platform/win and src/platform/posix implement it, and the
// build picks one of them.
// Each concern has its header, named as the files that implement it.
#pragma once

#include "platform/files.h"
#include "platform/journal.h"
#include "platform/module.h"
#include "platform/process.h"
#include "platform/profile.h"
#include "platform/system.h"
#include "platform/threads.h"
