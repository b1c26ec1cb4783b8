// A host that loads and unloads the DLL again and again, as some ripping
// programs do for every album: each cycle must give back every TLS slot and
// handle that the load took. A DLL with a thread runtime linked in ran out of
// TLS slots after about a thousand loads and aborted its host.
#include <gtest/gtest.h>
#include <windows.h>

#include "test_support.h"

namespace {

// TLS slots still free: taken one by one until none is left, then given back.
int FreeTlsSlots() {
    static DWORD taken[4096];
    int count = 0;
    while (count < 4096) {
        DWORD slot = TlsAlloc();
        if (slot == TLS_OUT_OF_INDEXES) break;
        taken[count++] = slot;
    }
    for (int i = 0; i < count; ++i) TlsFree(taken[i]);
    return count;
}

// Open handles of the process, found by asking about every handle value in
// turn (wine's GetProcessHandleCount answers 0). A leak of one per load
// would add thousands.
DWORD HandleCount() {
    DWORD count = 0;
    for (ULONG_PTR value = 4; value < 0x40000; value += 4) {
        DWORD flags = 0;
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    }
    return count;
}

bool LoadCallUnload(const std::string &path) {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) return false;
    auto version = reinterpret_cast<int (*)()>(GetProcAddress(module, "GetDllViersion"));
    bool called = version != nullptr && version() == 4;
    return FreeLibrary(module) != FALSE && called;
}

TEST(LoadCycles, TwoThousandLoadsLeaveNoTlsSlotAndAtMostAFewHandles) {
    const std::string path = testing_support::ProgramFolder() + testing_support::ModuleFileName();
    // The first load may set up what the process keeps anyway.
    ASSERT_TRUE(LoadCallUnload(path));
    const int slotsBefore = FreeTlsSlots();
    const DWORD handlesBefore = HandleCount();
    ASSERT_GT(slotsBefore, 0);
    ASSERT_GT(handlesBefore, 0u);
    for (int cycle = 0; cycle < 2000; ++cycle) ASSERT_TRUE(LoadCallUnload(path)) << "cycle " << cycle;
    const int slotsAfter = FreeTlsSlots();
    const DWORD handlesAfter = HandleCount();
    std::printf("free TLS slots %d -> %d, handles %lu -> %lu\n", slotsBefore, slotsAfter,
                static_cast<unsigned long>(handlesBefore), static_cast<unsigned long>(handlesAfter));
    EXPECT_EQ(slotsAfter, slotsBefore);
    EXPECT_LE(handlesAfter, handlesBefore + 4);
}

}  // namespace
