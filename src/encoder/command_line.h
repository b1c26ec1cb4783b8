// The encoder's command line: the command template with its tags replaced by
// the track's number, texts and paths, behind the quoted encoder path.
#pragma once

#include <cstddef>
#include <cstdint>

#include "encoder/argument_quoting.h"
#include "platform/format.h"
#include "records/host_records.h"
#include "settings/plugin_settings.h"
#include "settings/rip_tags.h"

namespace encbridge {

// Command texts are held in buffers of kCommandCapacity bytes.
using CommandBuffer = char[kCommandCapacity];

// A command text while its tags are replaced. Every character that a value
// brought in is marked, and tags are looked for among the others only: a
// value is text, whatever it holds, and never brings in another tag.
struct CommandText {
    CommandBuffer text;
    bool fromValue[kCommandCapacity];
};

// Fills command with text (up to its NUL or kCommandCapacity - 1 characters), no character
// of it from a value. False when text had to be cut.
bool StartCommandText(CommandText &command, const char *text, std::size_t width);

// Replaces every occurrence of tag that lies wholly in the template's own
// characters by value (read up to its NUL or valueWidth bytes). Two template
// characters that an empty value brought side by side count as adjacent.
// Each step is cut to its buffer; false when anything had to be cut.
bool ReplaceTag(CommandText &command, const char *tag, const char *value, std::size_t valueWidth);

enum class CommandStatus {
    Complete,
    // The line, a quoted value or the encoder path did not fit (a quoted
    // value that does not fit stands there as "(null)"), or the encoder path
    // cannot be the line's first item (it holds a double quote).
    Cut,
    // A value could not be written so that it stays one argument and is not
    // acted on: see QuoteResult::Unsafe and SafeUnquotedInBatchFile.
    Unsafe,
};

// Turns text, which the caller has filled with the command template, into the
// complete command line for track index of album: the encoder path in double
// quotes, a space, and the template with every tag replaced, those of the
// settings file from tags. The values are
// written for the reader that style names; quoted tags carry their value as
// exactly one argument.
//
// Only a Complete line may be run: any other one does not hold the
// arguments the template asked for, or would have its values acted on.
CommandStatus BuildCommandLine(const PathBuffer &encoderPath, CommandStyle style, CommandBuffer &text,
                               const PathBuffer &wavPath, const PathBuffer &encoderOutputPath, const AlbumInfo &album,
                               const RipTags &tags, std::int32_t index);

// The command line of an album step into line (at most lineCapacity bytes,
// and never longer than Windows would run): the program in double quotes, a
// space, and albumTemplate with the album tags, "%dir%" (the output folder)
// and "%files%" replaced. "%files%" and "%files" alike stand for the final
// file of every processed track, in track order, folder + file name +
// extension, each as one argument. Track tags stay as written. As for a
// track's line, only a Complete line may be run.
CommandStatus BuildAlbumCommandLine(const PathBuffer &programPath, CommandStyle style, const char *albumTemplate,
                                    std::size_t templateWidth, const AlbumInfo &album, const RipTags &tags,
                                    const char *extension, std::size_t extensionWidth, char *line,
                                    std::size_t lineCapacity);

// The words of text (up to its NUL or width) that look like a tag, letters,
// digits or '_' between two '%', but are none that a track's line (or with
// albumStep an album step's) replaces: the module passes them on as they
// stand. Written into out (capacity bytes) separated by blanks; their count,
// or -1 when they do not fit.
std::int32_t ListUnknownTags(const char *text, std::size_t width, bool albumStep, char *out, std::size_t capacity);
// The tags that such a line replaces, each in its form with the closing '%',
// separated by blanks; false when they do not fit.
bool ListKnownTags(bool albumStep, char *out, std::size_t capacity);

}  // namespace encbridge
