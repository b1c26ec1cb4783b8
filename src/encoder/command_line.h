// The encoder's command line: the command template with its tags replaced by
// the track's number, texts and paths, behind the quoted encoder path.
#pragma once

#include <cstddef>
#include <cstdint>

#include "interface/rip_state.h"

namespace encbridge {

// Command texts are held in buffers of this size: at most 1,023 characters.
constexpr std::size_t kCommandCapacity = 1024;
using CommandBuffer = char[kCommandCapacity];

// Replaces every occurrence of tag in text by value (read up to its NUL or
// valueWidth bytes), searching from the start of the text, so that text
// inserted for an earlier tag is open to later ones. A value that holds its
// own tag is inserted once where the tag stood and not expanded again. Each
// step is cut at 1,023 characters; false when anything had to be cut.
bool ReplaceTag(CommandBuffer &text, const char *tag, const char *value, std::size_t valueWidth);

// Turns text, which the caller has filled with the command template, into the
// complete command line for track index of the rip's album (rip.info): the
// encoder path in double quotes, a space, and the template with every tag
// replaced. Quoted tags carry their value as exactly one argument.
//
// True when the command line is complete. False when it had to be cut at
// 1,023 characters (or at any step on the way), when a quoted value did not
// fit and stands there as "(null)", or when the encoder path cannot be the
// command line's first item (it holds a double quote, or is so long that it
// lost its closing quote). A command line that is not complete must not be
// run: its arguments are not the ones the template asked for.
bool BuildCommandLine(const PathBuffer &encoderPath, CommandBuffer &text, const PathBuffer &wavPath,
                      const PathBuffer &encoderOutputPath, std::int32_t index);

}  // namespace encbridge
