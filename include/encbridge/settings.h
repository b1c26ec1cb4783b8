// One output's settings as the module reads them from the settings file:
// the record that the module rips with and that tools are given, and the one
// table of keys from which reading, comparing and writing them all come.
#pragma once

#include <cstdint>

#include "encbridge/limits.h"

namespace encbridge {

// VERIFY: how an output is proven before it is published and its WAV file
// may go. Unknown (a value that is neither, or a verify line without
// VERIFY) refuses the rip. Held in 32 bits, as a C int32_t.
enum class VerifyMode : std::int32_t { None, Exact, Decodes, Unknown };

// How a key's value is read and written. Extension: as it stands (the main
// output's in [SETUP]). Template: the same, but a value that fills its
// buffer may have been cut. Program: a path, resolved from the settings
// file's folder when relative, empty when it names none (written
// kEncoderNotConfigured). Number: an integer. Mode: a VerifyMode by its
// name. Jobs: JOBS, see EncoderJobs. Journal: a path, empty when it may
// have been cut; a settings copy names the journal that it is given.
enum class KeyKind : std::int32_t { Extension, Template, Program, Number, Mode, Jobs, Journal };

// Which keys are read together. Encoder: every output's. Window: the main
// output's only once it has an encoder. Album and Verify: read only when one
// of the group's keys is given (a VERIFY that is empty counts as none), and
// otherwise empty.
enum class KeyGroup : std::int32_t { Encoder, Window, Album, Verify };

}  // namespace encbridge

// X(field, key, kind, group, mainFallback, numberedFallback): the keys of
// one output, in the order that a settings copy writes them. The main output
// reads them in [OPTION], but OUT in [SETUP]; output n in [OUTPUTn]. A
// fallback is the value of a key that is missing (kEncoderNotConfigured: no
// program); a numbered output's null fallback is the main output's value.
#define ENCBRIDGE_OUTPUT_KEYS(X)                                                                                    \
    X(outputExtension, "OUT", Extension, Encoder, ".wav", "")                                                       \
    X(encoderPath, "EXEPATH", Program, Encoder, encbridge::kEncoderNotConfigured, encbridge::kEncoderNotConfigured) \
    X(commandTemplate, "COMMAND", Template, Encoder, "-V2 %i% %o%", "-V2 %i% %o%")                                  \
    X(hideWindow, "WIN_HIDE", Number, Window, 0, nullptr)                                                           \
    X(albumEncoderPath, "ALBUM_EXEPATH", Program, Album, encbridge::kEncoderNotConfigured,                          \
      encbridge::kEncoderNotConfigured)                                                                             \
    X(albumTemplate, "ALBUM_COMMAND", Template, Album, "%files%", "%files%")                                        \
    X(verify, "VERIFY", Mode, Verify, "", "")                                                                       \
    X(verifyPath, "VERIFY_EXEPATH", Program, Verify, encbridge::kEncoderNotConfigured,                              \
      encbridge::kEncoderNotConfigured)                                                                             \
    X(verifyTemplate, "VERIFY_COMMAND", Template, Verify, "", "")

// X(field, key, kind, fallback): the keys of the rip as a whole, all in
// [OPTION]. DELETE: non-zero deletes a WAV file once all its outputs are
// kept. JOBS: how many encoders may run at once. LOG: the journal's file,
// relative to the output folder (or absolute); empty: no journal.
#define ENCBRIDGE_RIP_KEYS(X)         \
    X(deleteWav, "DELETE", Number, 1) \
    X(jobs, "JOBS", Jobs, 1)          \
    X(journalName, "LOG", Journal, "")

extern "C" {

// One encoded format of every track: its encoder, how that is run, the step
// run once the whole album is in that format, and how it is proven. The
// main output first, then [OUTPUT2] to [OUTPUT9] as configured. Every field
// but number, albumStep and templateCut is a key of ENCBRIDGE_OUTPUT_KEYS.
// The layout is C's: 32-bit integers and character buffers, no padding.
struct EncbridgeOutput {
    std::int32_t number;                                  // 1 for the main output, n for [OUTPUTn]
    char outputExtension[encbridge::kExtensionCapacity];  // dot included, appended unchanged
    char commandTemplate[encbridge::kTemplateCapacity];   // encoder arguments with tags
    char encoderPath[encbridge::kPathCapacity];           // resolved; empty: no usable encoder
    std::int32_t hideWindow;                              // non-zero: run the encoder hidden
    // ALBUM_EXEPATH or ALBUM_COMMAND is set (non-zero). albumEncoderPath is
    // then empty when it names no program that could be resolved.
    std::int32_t albumStep;
    char albumEncoderPath[encbridge::kPathCapacity];
    char albumTemplate[encbridge::kTemplateCapacity];  // album tags, %dir and %files
    // Non-zero: COMMAND, ALBUM_COMMAND or VERIFY_COMMAND filled its buffer,
    // and may have been cut: a cut template could end in a bare tag or drop
    // an argument.
    std::int32_t templateCut;
    encbridge::VerifyMode verify;
    char verifyPath[encbridge::kPathCapacity];          // VERIFY_EXEPATH, resolved as EXEPATH
    char verifyTemplate[encbridge::kTemplateCapacity];  // VERIFY_COMMAND: the usual tags, %o% the output
};
}

// X(field, key, capacity): what a host knows of the album beyond its
// records, in [ALBUM], and of each track, in [TRACKnn] (nn its place in the
// album from 01, as the temporary names count). A host that knows nothing
// writes neither section, and every tag they fill is empty. COMPOSER and
// SONGWRITER of a track that gives none are the album's. Read at Create,
// never copied: the host that has them appends them to the settings copy
// it rips with. A value longer than its buffer is cut, but COVER is then
// empty: a cut path names another file.
#define ENCBRIDGE_ALBUM_TAG_KEYS(X)  \
    X(disc, "DISC", 16)              \
    X(discs, "DISCS", 16)            \
    X(genre, "GENRE", 256)           \
    X(catalog, "CATALOG", 64)        \
    X(composer, "COMPOSER", 256)     \
    X(songwriter, "SONGWRITER", 256) \
    X(cover, "COVER", encbridge::kPathCapacity)
#define ENCBRIDGE_TRACK_TAG_KEYS(X) \
    X(isrc, "ISRC", 16)             \
    X(composer, "COMPOSER", 256)    \
    X(songwriter, "SONGWRITER", 256)
