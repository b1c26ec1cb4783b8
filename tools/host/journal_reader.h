// The module's journal as the host reads it: the records of its own rips,
// the settings copy that points the module at a journal, and what each
// record says about a track.
#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "records/outcome.h"

namespace host {

// One record: the fields after the time, unescaped. fields[0] is the rip,
// fields[1] the kind.
struct JournalRecord {
    std::string line;  // the record as written, without its line break
    std::vector<std::string> fields;
    const std::string &kind() const { return fields[1]; }
};

// A journal text field with its escapes undone.
std::string UnescapeField(const std::string &field);
// Splits a record's line into its fields; empty when it is no record.
std::vector<std::string> SplitRecord(const std::string &line);

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
};
void NoteRecord(const JournalRecord &record, RipOutcome &outcome);

// A record in words for --verbose.
std::string DescribeRecord(const JournalRecord &record);

// Writes at copyPath the settings of settingsPath as the module reads them,
// with LOG set to journalPath: every value the module uses, its encoders'
// paths already resolved. False, with nothing to use, when the copy would
// not read back exactly as the original does.
bool WriteSettingsWithJournal(const std::string &settingsPath, const std::string &copyPath,
                              const std::string &journalPath);

// The journal that the settings at settingsPath name for outputFolder;
// empty when they name none that the module would write.
std::string ConfiguredJournal(const std::string &settingsPath, const std::string &outputFolder);

}  // namespace host
