// Preloaded into the host: each read of an image waits 4 ms, so that a test
// can stop the host while it delivers the audio.
#include <dlfcn.h>
#include <sndfile.h>
#include <unistd.h>

extern "C" __attribute__((visibility("default"))) sf_count_t sf_readf_short(SNDFILE *file, short *samples,
                                                                            sf_count_t frames) {
    static const auto next =
        reinterpret_cast<sf_count_t (*)(SNDFILE *, short *, sf_count_t)>(dlsym(RTLD_NEXT, "sf_readf_short"));
    usleep(4000);
    return next(file, samples, frames);
}
