// A library that looks like the module but lacks Kill: the host must refuse
// it by name.
#include <cstdint>

extern "C" {
__attribute__((visibility("default"))) std::int32_t GetDllViersion(void) { return 4; }
__attribute__((visibility("default"))) std::int32_t Create(void *, const char *, const std::uint8_t *, std::int32_t) {
    return 0;
}
__attribute__((visibility("default"))) std::int32_t SetData(const std::uint8_t *, std::int32_t, std::int32_t *) {
    return 0;
}
}
