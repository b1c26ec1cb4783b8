#include "interface/rip_state.h"

// Unloading does what Kill does. The library is linked with -z nodelete, so
// this runs when the process exits, never while its code could still be in use.
__attribute__((destructor)) static void UnloadModule() { encbridge::OnModuleUnload(); }
