#include "interface/rip_state.h"

// Unloading does what Kill does, which includes stopping the encoder worker
// and waiting for it to end. The library is linked with -z nodelete, so this
// runs when the process exits, never while its code could still be in use.
__attribute__((destructor)) static void UnloadModule() { encbridge::OnModuleUnload(); }
