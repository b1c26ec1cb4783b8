// The module's journal as the host reads it: the records of its own rips,
// the settings copy that points the module at a journal, and what each
// record says about a track.
#pragma once

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "encbridge/journal_format.h"
#include "encbridge/reasons.h"
#include "journal_fields.h"
#include "settings_check.h"

namespace host {

// One record: its fields, unescaped, at the places that
// encbridge/journal_format.h gives them.
struct JournalRecord {
    std::string line;  // the record as written, without its line break
    std::vector<std::string> fields;
    const std::string &kind() const { return fields[encbridge::journal::kKind]; }
};

// A journal text field with its escapes undone, and a record's line split
// into its fields (empty when it is no record), as every tool reads them.
using encbridge_tools::SplitRecord;
using encbridge_tools::UnescapeField;

// Reads the whole records that the journal at path holds from offset on,
// and moves offset past them; a record still being written stays for the
// next read. Only records of rips of process pid are returned.
std::vector<JournalRecord> ReadNewRecords(const std::string &path, long long &offset, unsigned pid);

// The size of the file at path now; 0 when it is missing.
long long FileSize(const std::string &path);

// What the journal says of a rip: why Create refused it, what became of
// each track's outputs, by (track number from 1, output number), and of each
// output's album step, by output number. journaled: the rip's own record
// was read, so the journal tells what was produced.
struct RipOutcome {
    bool refused = false;
    bool journaled = false;
    encbridge::Reason refusal = encbridge::Reason::Done;
    std::map<std::pair<int, int>, encbridge::Reason> outputs;
    std::map<int, encbridge::Reason> albumSteps;
    // The system's words for a failure, where the module kept them: the
    // refusal's, and each output's by (track, output).
    std::string refusalError;
    std::map<std::pair<int, int>, std::string> errors;
    // What a failed run's program said: each output's by (track, output),
    // each album step's by output number.
    std::map<std::pair<int, int>, std::string> messages;
    std::map<int, std::string> albumMessages;
    // The outputs, by (track, output), whose encoder has started and whose
    // run has not yet ended: the encoders at work.
    std::set<std::pair<int, int>> running;
};
void NoteRecord(const JournalRecord &record, RipOutcome &outcome);

// The last line of a program's words that holds more than blanks, as it
// may be printed; empty when there is none.
std::string LastLine(const std::string &messages);

// A record in words for --verbose, with its texts as they may be printed
// (control characters shown as "?"); lines apart are the record's own.
std::string DescribeRecord(const JournalRecord &record);

// The journal that settings name for outputFolder, as the module that read
// them finds it; empty when they name none that the module would write.
std::string ConfiguredJournal(const ModuleSettings &settings, const std::string &outputFolder);

}  // namespace host
