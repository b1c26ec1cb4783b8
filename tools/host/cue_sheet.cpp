#include "cue_sheet.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "code_pages.h"

namespace host {

namespace {

// Windows code page 1252 from 0x80 to 0x9F; the five bytes it leaves free
// become the C1 controls of the same value, as Windows converts them.
const char16_t kCp1252High[32] = {0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                  0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
                                  0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                  0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

std::string Cp1252ToUtf8(const std::string &bytes) {
    std::string text;
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        AppendUtf8(text, byte >= 0x80 && byte < 0xA0 ? kCp1252High[byte - 0x80] : byte);
    }
    return text;
}

// bytes in charset, made UTF-8 by the C library; name is the sheet's, for
// the message when a byte does not belong to charset.
bool Iconv(const std::string &bytes, const std::string &charset, const std::string &name, std::string &text,
           std::string &error, bool utf8Around = false) {
    std::size_t badAt = 0;
    if (ReadInCodePage(bytes, charset.c_str(), utf8Around, text, badAt)) return true;
    if (badAt == std::string::npos) {
        error = "--cue-charset: \"" + charset + "\" is not a character set this system converts";
    } else {
        char offset[32];
        std::snprintf(offset, sizeof offset, "%zu", badAt + (utf8Around ? 3 : 0));
        error = name + " is not valid " + charset + " at byte " + offset;
    }
    return false;
}

// The byte order of a UTF-16 text written without its mark: a sheet's
// commands, numbers and times are ASCII, so most of its code units have a
// zero high byte, at odd offsets in little-endian and at even ones in
// big-endian. Empty when the bytes do not look like that.
const char *Utf16Order(const std::string &bytes) {
    if (bytes.empty() || bytes.size() % 2 != 0) return "";
    std::size_t zeros[2] = {0, 0};
    for (std::size_t at = 0; at < bytes.size(); ++at) {
        if (bytes[at] == '\0') ++zeros[at % 2];
    }
    const std::size_t units = bytes.size() / 2;
    if (zeros[1] * 2 >= units && zeros[0] * 4 < zeros[1]) return "UTF-16LE";
    if (zeros[0] * 2 >= units && zeros[1] * 4 < zeros[0]) return "UTF-16BE";
    return "";
}

std::string Upper(std::string text) {
    for (char &c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return text;
}

// The words of a line, and where each starts: blanks separate them; a
// double quote opens a word that runs to the next one. Cue sheets have no
// way to write a double quote inside a quoted text; some tools write it as
// \", which is read as a quote. Other backslashes stay, as Windows paths
// hold them.
std::vector<std::string> Words(const std::string &line, std::vector<std::size_t> &starts) {
    std::vector<std::string> words;
    std::size_t at = 0;
    while (at < line.size()) {
        if (line[at] == ' ' || line[at] == '\t') {
            ++at;
            continue;
        }
        starts.push_back(at);
        std::string word;
        if (line[at] == '"') {
            for (++at; at < line.size() && line[at] != '"'; ++at) {
                if (line[at] == '\\' && at + 1 < line.size() && line[at + 1] == '"' &&
                    line.find('"', at + 2) != std::string::npos) {
                    ++at;
                }
                word += line[at];
            }
            ++at;
        } else {
            while (at < line.size() && line[at] != ' ' && line[at] != '\t') word += line[at++];
        }
        words.push_back(word);
    }
    return words;
}

// The text from word first on: that word when it is quoted, else the rest of
// the line as it stands, for a text written without quotes.
std::string TextValue(const std::string &line, const std::vector<std::string> &words,
                      const std::vector<std::size_t> &starts, std::size_t first) {
    if (words.size() <= first) return std::string();
    if (line[starts[first]] == '"') return words[first];
    std::size_t end = line.find_last_not_of(" \t");
    return line.substr(starts[first], end + 1 - starts[first]);
}

bool AllOf(const std::string &text, bool (*allowed)(unsigned char)) {
    for (char c : text) {
        if (!allowed(static_cast<unsigned char>(c))) return false;
    }
    return !text.empty();
}

bool Digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool IsrcCharacter(unsigned char c) { return Digit(c) || (c >= 'A' && c <= 'Z'); }

bool ParseNumber(const std::string &text, int limit, int &value) {
    if (text.empty() || text.size() > 3) return false;
    value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
        value = value * 10 + (c - '0');
    }
    return value <= limit;
}

// "mm:ss:ff": minutes (any count), seconds below 60, frames below 75.
bool ParseTime(const std::string &text, long &sector) {
    int minutes = 0, seconds = 0, frames = 0;
    std::size_t first = text.find(':'), second = text.find(':', first + 1);
    if (first == std::string::npos || second == std::string::npos) return false;
    if (!ParseNumber(text.substr(0, first), 999, minutes) ||
        !ParseNumber(text.substr(first + 1, second - first - 1), 59, seconds) ||
        !ParseNumber(text.substr(second + 1), 74, frames)) {
        return false;
    }
    sector = (minutes * 60L + seconds) * 75 + frames;
    return true;
}

template <std::size_t N>
bool OneOf(const std::string &word, const char *const (&names)[N]) {
    for (const char *name : names) {
        if (word == name) return true;
    }
    return false;
}

// Commands that name nothing this host uses: read and let be.
bool Ignored(const std::string &command) {
    static const char *const kIgnored[] = {"CDTEXTFILE", "FLAGS",   "COMPOSER",  "ARRANGER",  "MESSAGE",   "DISC_ID",
                                           "GENRE",      "UPC_EAN", "TOC_INFO1", "TOC_INFO2", "SIZE_INFO", "DATAFILE"};
    return OneOf(command, kIgnored);
}

// The types a TRACK line may give: audio, and the data modes. A type not
// known could be either, and the tracks around it could not be laid out.
bool KnownTrackType(const std::string &type) {
    static const char *const kTypes[] = {"AUDIO",      "CDG",        "MODE1/2048", "MODE1/2352", "MODE2/2048",
                                         "MODE2/2324", "MODE2/2336", "MODE2/2352", "CDI/2336",   "CDI/2352"};
    return OneOf(type, kTypes);
}

// A relative FILE is looked for beside the sheet; a name written on Windows
// has backslashes for separators.
std::string PathBeside(const std::string &named, const std::string &cueFolder) {
    std::string path = named;
    for (char &c : path) {
        if (c == '\\') c = '/';
    }
    return !path.empty() && path[0] == '/' ? path : cueFolder + path;
}

}  // namespace

bool CheckCueTracks(const CueAlbum &album, const std::string &cueName, std::string &error) {
    const CueIndex *previousStart = nullptr;
    bool anyAudio = false;
    for (std::size_t t = 0; t < album.tracks.size(); ++t) {
        const ImageTrack &track = album.tracks[t];
        const std::string where = "track " + std::to_string(track.number) + " of " + cueName;
        const std::string line = track.line > 0 ? " (line " + std::to_string(track.line) + ")" : std::string();
        const CueIndex *start = nullptr;
        for (std::size_t i = 0; i < track.indexes.size(); ++i) {
            const CueIndex &index = track.indexes[i];
            if (index.number == 1) start = &index;
            if (i == 0) continue;
            const CueIndex &before = track.indexes[i - 1];
            // INDEX 00 at INDEX 01 is a gap of no length, as some rippers write it.
            const bool emptyGap = before.number == 0 && index.number == 1 && index.sector == before.sector;
            if (index.number <= before.number ||
                (index.file == before.file && index.sector <= before.sector && !emptyGap)) {
                char number[8];
                std::snprintf(number, sizeof number, "%02d", index.number);
                error = where + ": INDEX " + number + " at " + SectorTime(index.sector) +
                        " does not follow the index before it" + line;
                return false;
            }
        }
        // A data track is never ripped: its first index, whichever, is
        // where the audio before it ends.
        if (!track.audio && !track.indexes.empty()) start = &track.indexes.front();
        if (start == nullptr && track.audio) {
            error = where + " has no INDEX 01" + line;
            return false;
        }
        if (start == nullptr) {
            // A data track without any index: the audio track before it runs
            // to the end of its file, which must then hold no later track.
            const ImageTrack *before = t > 0 ? &album.tracks[t - 1] : nullptr;
            const int file =
                before != nullptr && before->audio && !before->indexes.empty() ? before->indexes.back().file : -1;
            for (std::size_t later = t + 1; later < album.tracks.size() && file >= 0; ++later) {
                for (const CueIndex &index : album.tracks[later].indexes) {
                    if (index.file != file) continue;
                    error = where + " has no INDEX 01" + line +
                            ", so where the audio track before it ends is not known: it would run over track " +
                            std::to_string(album.tracks[later].number);
                    return false;
                }
            }
            continue;
        }
        if (previousStart != nullptr && start->file == previousStart->file && start->sector <= previousStart->sector) {
            error = where + " starts at " + SectorTime(start->sector) + ", not after the track before it" + line;
            return false;
        }
        previousStart = start;
        anyAudio = anyAudio || track.audio;
    }
    if (!anyAudio) {
        error = "track " + std::to_string(album.tracks[0].number) + " of " + cueName +
                " is a data track, and no track of it holds CD audio";
        return false;
    }
    return true;
}

bool IsUtf8(const std::string &text) {
    static const unsigned kSmallest[] = {0, 0x80, 0x800, 0x10000};
    for (std::size_t at = 0; at < text.size();) {
        auto byte = static_cast<unsigned char>(text[at]);
        int more = byte < 0x80             ? 0
                   : (byte & 0xE0) == 0xC0 ? 1
                   : (byte & 0xF0) == 0xE0 ? 2
                   : (byte & 0xF8) == 0xF0 ? 3
                                           : -1;
        if (more < 0 || text.size() - at <= static_cast<std::size_t>(more)) return false;
        unsigned code = byte & (more == 0 ? 0x7Fu : 0x3Fu >> more);
        for (int i = 1; i <= more; ++i) {
            auto next = static_cast<unsigned char>(text[at + static_cast<std::size_t>(i)]);
            if ((next & 0xC0) != 0x80) return false;
            code = code << 6 | (next & 0x3Fu);
        }
        if (code < kSmallest[more] || code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) return false;
        at += static_cast<std::size_t>(more) + 1;
    }
    return true;
}

namespace {

// Why the code page of a sheet is not clear, and what to do.
std::string NotSureMessage(const std::string &name, bool marked, const CodePageGuess &guess) {
    std::string message = name + (marked ? " is UTF-8 with bytes that are not" : " is not UTF-8");
    if (guess.likely.empty()) return message + ", in no code page the host knows; name it with --cue-charset";
    message += marked ? ", and which code page those are in is not clear: they read as "
                      : ", and which code page it is in is not clear: it reads as ";
    for (std::size_t i = 0; i < guess.likely.size(); ++i) {
        message += (i == 0 ? "" : i + 1 == guess.likely.size() ? " or " : ", ") + guess.likely[i];
    }
    return message + "; not ripped: name the code page with --cue-charset, such as --cue-charset=" + guess.suggestion;
}

// How many characters beyond ASCII valid UTF-8 holds.
std::size_t Utf8Beyond(const std::string &text) {
    std::size_t count = 0;
    for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) == 0xC0 ? 1 : 0;
    return count;
}

}  // namespace

bool DecodeCueText(const std::string &bytes, const std::string &charset, const std::string &name, std::string &text,
                   std::string &note, std::string &error) {
    note.clear();
    // A UTF-8 byte order mark is taken off whatever the charset: the sheet
    // is UTF-8 (read in a code page, the mark would begin the first command
    // with letters such as "ï»¿"), and only the bytes in it that are not
    // UTF-8 are read in the code page named or found.
    const bool marked = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0;
    const std::string rest = marked ? bytes.substr(3) : bytes;
    if (!charset.empty()) {
        const std::string upper = Upper(charset);
        if (upper == "UTF-8" || upper == "UTF8") {
            text = rest;
            if (IsUtf8(text)) return true;
            error = name + " is not valid UTF-8";
            return false;
        }
        if (marked) {
            text = rest;
            if (IsUtf8(text)) {
                note = name + " is UTF-8 (it begins with the UTF-8 byte order mark); read as UTF-8, not " + charset;
                return true;
            }
            return Iconv(rest, charset, name, text, error, true);
        }
        if (upper == "CP1252" || upper == "WINDOWS-1252") {
            text = Cp1252ToUtf8(bytes);
            return true;
        }
        return Iconv(bytes, charset, name, text, error);
    }
    if (marked && IsUtf8(rest)) {
        text = rest;
        return true;
    }
    if (bytes.compare(0, 2, "\xFF\xFE") == 0 || bytes.compare(0, 2, "\xFE\xFF") == 0) {
        note = name + " is UTF-16; converted to UTF-8";
        return Iconv(bytes, "UTF-16", name, text, error);
    }
    const char *order = marked ? "" : Utf16Order(bytes);
    if (*order != '\0') {
        note = name + " is " + order + " without a byte order mark; converted to UTF-8";
        return Iconv(bytes, order, name, text, error);
    }
    // Valid UTF-8 is UTF-8, unless it is a character or two that no title
    // holds: two bytes of a code page can make one ("道" in EUC-JP is "ƻ").
    if (IsUtf8(bytes) && (Utf8Beyond(bytes) > 2 || Clean(WeighText(bytes)))) {
        text = bytes;
        return true;
    }
    const CodePageGuess guess = GuessCodePage(rest, marked);
    if (!guess.sure) {
        error = NotSureMessage(name, marked, guess);
        return false;
    }
    text = guess.text;
    if (guess.name == "UTF-8") return true;
    const std::string described = guess.name + " (" + guess.description + ")";
    if (guess.utf8Around) {
        note = name + " is UTF-8 but for some bytes, which are read as " + described + "; --cue-charset names another";
    } else if (guess.name == "cp1252") {
        note = name + " is not UTF-8; read as " + described + "; --cue-charset names another";
    } else {
        note =
            name + " is not UTF-8; read as " + described + ", the code page it looks like; --cue-charset names another";
    }
    return true;
}

std::string RefusedTagValue(const std::string &what, const std::string &value) {
    for (char c : value) {
        const auto byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F) return what + " holds a control character; dropped";
    }
    if (value.size() > kMaxTagValue) {
        return what + " is longer than " + std::to_string(kMaxTagValue) + " bytes; dropped";
    }
    return std::string();
}

bool ReadDiscNumber(const std::string &value, std::string &disc, std::string &discs) {
    const std::size_t slash = value.find('/');
    const std::string number = value.substr(0, slash);
    const std::string count = slash == std::string::npos ? std::string() : value.substr(slash + 1);
    if (number.size() > 3 || !AllOf(number, Digit) || count.size() > 3 ||
        (slash != std::string::npos && !AllOf(count, Digit))) {
        return false;
    }
    disc = number;
    if (discs.empty()) discs = count;
    return true;
}

std::string SectorTime(long sector) {
    char text[32];
    std::snprintf(text, sizeof text, "%02ld:%02ld:%02ld", sector / (75 * 60), sector / 75 % 60, sector % 75);
    return text;
}

bool ParseCueText(const std::string &original, const std::string &cueFolder, const std::string &cueName,
                  CueAlbum &album, std::string &error) {
    album = CueAlbum();
    album.folder = cueFolder;
    std::string text = original.compare(0, 3, "\xEF\xBB\xBF") == 0 ? original.substr(3) : original;
    const std::string invalid = cueName + " is not a valid cue sheet: ";
    ImageTrack *track = nullptr;
    int lineNumber = 0;
    std::size_t at = 0;
    while (at < text.size()) {
        // LF, CRLF and a lone CR all end a line.
        std::size_t end = text.find_first_of("\r\n", at);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(at, end - at);
        at = end + (text.compare(end, 2, "\r\n") == 0 ? 2 : 1);
        ++lineNumber;
        std::vector<std::size_t> starts;
        std::vector<std::string> words = Words(line, starts);
        if (words.empty()) continue;
        const std::string command = Upper(words[0]);
        const std::string where = "line " + std::to_string(lineNumber) + ": ";
        if (line.find('\0') != std::string::npos) {
            error = invalid + where + "it holds a NUL byte";
            return false;
        }
        // A value handed on to the encoder's tags: refused, with a notice,
        // when it could break a line or a tag, or is overlong.
        const auto accepted = [&](const std::string &what, const std::string &value) {
            const std::string refused =
                RefusedTagValue(cueName + " line " + std::to_string(lineNumber) + ": " + what, value);
            if (!refused.empty()) album.notes.push_back(refused);
            return refused.empty();
        };
        const auto malformed = [&](const std::string &what, const char *form) {
            album.notes.push_back(cueName + " line " + std::to_string(lineNumber) + ": " + what + " is not " + form +
                                  "; dropped");
        };
        if (command == "REM") {
            std::string key = words.size() > 1 ? Upper(words[1]) : std::string();
            std::string value = TextValue(line, words, starts, 2);
            if (key == "DATE") {
                if (accepted("REM DATE", value)) (track ? track->year : album.year) = value;
            } else if (key == "COMMENT") {
                if (accepted("REM COMMENT", value)) (track ? track->comment : album.comment) = value;
            } else if (key == "GENRE") {
                if (accepted("REM GENRE", value)) album.genre = value;
            } else if (key == "COMPOSER") {
                if (accepted("REM COMPOSER", value)) (track ? track->composer : album.composer) = value;
            } else if (key == "DISCNUMBER" || key == "DISC") {
                if (accepted("REM " + key, value) && !ReadDiscNumber(value, album.disc, album.discs))
                    malformed("REM " + key, "a disc number such as 1 or 1/2");
            } else if (key == "TOTALDISCS") {
                std::string ignored;
                if (accepted("REM TOTALDISCS", value) &&
                    (value.find('/') != std::string::npos || !ReadDiscNumber(value, album.discs, ignored)))
                    malformed("REM TOTALDISCS", "a count of discs");
            } else if (key == "HIDDEN_TITLE") {
                album.hiddenTitle = value;
            }
        } else if (command == "SONGWRITER") {
            std::string value = TextValue(line, words, starts, 1);
            if (accepted("SONGWRITER", value)) (track ? track->songwriter : album.songwriter) = value;
        } else if (command == "ISRC" || command == "CATALOG") {
            const bool isrc = command == "ISRC";
            const std::string value = words.size() > 1 ? words[1] : std::string();
            const bool wellFormed = isrc ? value.size() == 12 && AllOf(value, IsrcCharacter)
                                         : value.size() >= 12 && value.size() <= 13 && AllOf(value, Digit);
            if (isrc && track == nullptr) {
                malformed("ISRC", "within a track");
            } else if (accepted(command, value) && !wellFormed) {
                malformed(command, isrc ? "twelve capital letters and digits" : "12 or 13 digits");
            } else if (wellFormed) {
                (isrc ? track->isrc : album.catalog) = value;
            }
        } else if (command == "FLAGS" && track != nullptr) {
            for (std::size_t i = 1; i < words.size(); ++i) {
                const std::string flag = Upper(words[i]);
                track->preEmphasis |= flag == "PRE";
                track->copyPermitted |= flag == "DCP";
                track->fourChannels |= flag == "4CH";
            }
        } else if (command == "TITLE" || command == "PERFORMER") {
            std::string value = TextValue(line, words, starts, 1);
            if (command == "TITLE") {
                (track ? track->title : album.title) = value;
            } else {
                (track ? track->performer : album.performer) = value;
            }
        } else if (command == "FILE") {
            if (words.size() < 2 || words[1].empty()) {
                error = invalid + where + "FILE names no file";
                return false;
            }
            album.files.push_back({words[1], PathBeside(words[1], cueFolder), std::string()});
        } else if (command == "TRACK") {
            int number = 0;
            if (words.size() < 3 || !ParseNumber(words[1], 99, number)) {
                error = invalid + where + "TRACK needs a number up to 99 and a mode";
                return false;
            }
            album.tracks.emplace_back();
            track = &album.tracks.back();
            track->number = number;
            track->line = lineNumber;
            track->audio = Upper(words[2]) == "AUDIO";
            if (!KnownTrackType(Upper(words[2]))) {
                error = invalid + where + "TRACK " + words[1] + " has the type \"" + words[2] +
                        "\", which is neither AUDIO nor a data mode";
                return false;
            }
            if (album.files.empty()) {
                error = "track " + std::to_string(number) + " of " + cueName + " belongs to no FILE";
                return false;
            }
        } else if (command == "INDEX" || command == "PREGAP" || command == "POSTGAP") {
            const bool index = command == "INDEX";
            int number = 0;
            long sector = 0;
            if (track == nullptr) {
                error = invalid + where + command + " before the first TRACK";
                return false;
            }
            if (words.size() < (index ? 3u : 2u) || (index && !ParseNumber(words[1], 99, number)) ||
                !ParseTime(words[index ? 2 : 1], sector)) {
                error = invalid + where + command + (index ? " needs a number and" : " needs") + " a time mm:ss:ff";
                return false;
            }
            if (!index) {
                (command == "PREGAP" ? track->pregapSectors : track->postgapSectors) = sector;
            } else {
                track->indexes.push_back({number, static_cast<int>(album.files.size()) - 1, sector});
                if (number == 1) track->startSector = sector;
            }
        } else if (!Ignored(command)) {
            error = invalid + where + "unknown command \"" + words[0] + "\"";
            return false;
        }
    }
    if (album.tracks.empty()) {
        error = invalid + "it has no TRACK line";
        return false;
    }
    if (!CheckCueTracks(album, cueName, error)) return false;
    for (ImageTrack &entry : album.tracks) {
        if (entry.performer.empty()) entry.performer = album.performer;
        if (entry.year.empty()) entry.year = album.year;
        if (entry.comment.empty()) entry.comment = album.comment;
    }
    // A disc that counts itself past the set's count: the count is wrong.
    if (!album.disc.empty() && !album.discs.empty() && std::atoi(album.disc.c_str()) > std::atoi(album.discs.c_str())) {
        album.notes.push_back(cueName + ": disc " + album.disc + " of " + album.discs + " discs; the count is dropped");
        album.discs.clear();
    }
    return true;
}

}  // namespace host
