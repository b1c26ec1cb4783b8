/* A host written in C: the hosts' header compiles as C, and its loader finds
 * the built module's exports, or names the one that is missing. */
#include <stdio.h>
#include <string.h>

#include "encbridge/plugin.h"

#ifdef _WIN32
#include <windows.h>
static void *Open(const char *path) { return (void *)LoadLibraryA(path); }
static EncbridgeFunction Find(void *module, const char *name) {
    return (EncbridgeFunction)GetProcAddress((HMODULE)module, name);
}
#else
#include <dlfcn.h>
static void *Open(const char *path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }
static EncbridgeFunction Find(void *module, const char *name) { return (EncbridgeFunction)dlsym(module, name); }
#endif

/* A module that lacks the export named hidden. */
static const char *hidden = "";
static EncbridgeFunction Hiding(void *module, const char *name) {
    return strcmp(name, hidden) == 0 ? 0 : Find(module, name);
}

int main(int argc, char **argv) {
    static const char *const lacked[] = {"GetDllViersion", "Create", "SetData", "Kill", "EncbridgeTools"};
    EncbridgeExports exports;
    void *module = argc == 2 ? Open(argv[1]) : 0;
    int failures = 0;
    size_t i;
    if (module == 0) {
        fprintf(stderr, "cannot load the module\n");
        return 1;
    }
    if (EncbridgeLoadExports(module, Find, &exports) != 0 || exports.getDllViersion() != 4 || exports.tools == 0 ||
        exports.tools() == 0) {
        fprintf(stderr, "the module's exports were not all found\n");
        ++failures;
    }
    for (i = 0; i < 5; ++i) {
        const char *missing;
        hidden = lacked[i];
        missing = EncbridgeLoadExports(module, Hiding, &exports);
        if (i < 4 && (missing == 0 || strcmp(missing, hidden) != 0 || exports.create != 0 || exports.kill != 0)) {
            fprintf(stderr, "a module without %s was taken\n", hidden);
            ++failures;
        }
        /* The tools' table is for tools: a ripping host needs none. */
        if (i == 4 && (missing != 0 || exports.tools != 0 || exports.setData == 0)) {
            fprintf(stderr, "a module without EncbridgeTools was refused\n");
            ++failures;
        }
    }
    return failures != 0;
}
