// The module's life as the system reports it: unloading and forks.
// Part of the thin layer over the operating system (see platform.h).
#pragma once

namespace encbridge {

// What the module does when the system tells its entry point (DllMain on
// Windows, the library's constructor, destructor and fork handler on Linux)
// that it is being unloaded, or that the host forked a child. The rip
// provides them; the platform's entry points only call them.
//
// Unloaded (on Linux at the process's exit): the same as Kill. forGood (a
// Windows FreeLibrary; never on Linux, where the code stays mapped): what
// the module keeps for its whole life goes too, since no call can come
// any more.
void OnModuleUnload(bool forGood);
// In a child that the host forked: forgets the parent's rip, its worker and
// its files without touching any of them, so that nothing the child does (a
// Kill, its exit) reaches the parent's rip.
void OnForkedChild();

}  // namespace encbridge
