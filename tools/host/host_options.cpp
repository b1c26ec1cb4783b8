#include "host_options.h"

#include <cerrno>
#include <climits>
#include <cstdlib>

namespace host {

namespace {

// A decimal number of at most nine digits, nothing else.
bool ParseCount(const std::string &text, long &value) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text) {
        if (c < '0' || c > '9') return false;
    }
    value = std::strtol(text.c_str(), nullptr, 10);
    return true;
}

}  // namespace

bool ParseTrackList(const std::string &text, std::vector<TrackSpan> &spans, std::string &error) {
    spans.clear();
    std::size_t start = 0;
    while (true) {
        std::size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        std::size_t dash = item.find('-');
        long first = 0, last = 0;
        bool ok = dash == std::string::npos
                      ? ParseCount(item, first) && ParseCount(item, last)
                      : ParseCount(item.substr(0, dash), first) && ParseCount(item.substr(dash + 1), last);
        if (!ok || first < 1 || last < 1) {
            error = "--tracks: \"" + item + "\" is not a track number or a range such as 3-5";
            return false;
        }
        if (first > last) {
            error = "--tracks: the range \"" + item + "\" runs backwards";
            return false;
        }
        spans.push_back({static_cast<int>(first), static_cast<int>(last)});
        if (comma == std::string::npos) return true;
        start = comma + 1;
    }
}

bool TrackSelected(const std::vector<TrackSpan> &spans, int number) {
    if (spans.empty()) return true;
    for (const TrackSpan &span : spans) {
        if (number >= span.first && number <= span.last) return true;
    }
    return false;
}

bool ParsePieceSize(const std::string &text, int &pieceSize, std::string &error) {
    long value = 0;
    if (!ParseCount(text, value) || value == 0 || value % kSectorBytes != 0 || value > INT_MAX / 2) {
        error = "--piece-size: \"" + text + "\" is not a positive multiple of 2352 (one CD sector)";
        return false;
    }
    pieceSize = static_cast<int>(value);
    return true;
}

bool ParseOptions(const std::vector<std::string> &arguments, HostOptions &options, std::string &error) {
    for (std::size_t i = 0; i < arguments.size(); ++i) {
        std::string name = arguments[i];
        std::string value;
        bool inlineValue = false;
        if (name.compare(0, 2, "--") == 0) {
            std::size_t equals = name.find('=');
            if (equals != std::string::npos) {
                value = name.substr(equals + 1);
                name.resize(equals);
                inlineValue = true;
            }
        }
        auto takeValue = [&]() {
            if (inlineValue) return true;
            if (i + 1 >= arguments.size()) {
                error = name + " needs a value";
                return false;
            }
            value = arguments[++i];
            return true;
        };
        auto noValue = [&]() {
            if (inlineValue) error = name + " takes no value";
            return !inlineValue;
        };

        if (name == "--help" || name == "-h") {
            if (!noValue()) return false;
            options.help = true;
        } else if (name == "--dry-run") {
            if (!noValue()) return false;
            options.dryRun = true;
        } else if (name == "--overwrite") {
            if (!noValue()) return false;
            options.overwrite = true;
        } else if (name == "--plugin") {
            if (!takeValue()) return false;
            options.pluginPath = value;
        } else if (name == "--settings") {
            if (!takeValue()) return false;
            options.settingsPath = value;
        } else if (name == "--out") {
            if (!takeValue()) return false;
            options.outFolder = value;
        } else if (name == "--name") {
            if (!takeValue()) return false;
            options.namePattern = value;
        } else if (name == "--tracks") {
            if (!takeValue() || !ParseTrackList(value, options.tracks, error)) return false;
        } else if (name == "--piece-size") {
            if (!takeValue() || !ParsePieceSize(value, options.pieceSize, error)) return false;
        } else if (name == "--end-by") {
            if (!takeValue()) return false;
            if (value == "zero") {
                options.endBy = EndBy::Zero;
            } else if (value == "boundary") {
                options.endBy = EndBy::Boundary;
            } else {
                error = "--end-by: \"" + value + "\" is neither zero nor boundary";
                return false;
            }
        } else if (name == "--cue-charset") {
            if (!takeValue()) return false;
            if (value.empty()) {
                error = "--cue-charset: the name is empty";
                return false;
            }
            options.cueCharset = value;
        } else if (name == "--first-pregap") {
            if (!takeValue()) return false;
            if (value == "track") {
                options.firstPregap = FirstPregap::Track;
            } else if (value == "drop") {
                options.firstPregap = FirstPregap::Drop;
            } else if (value == "join") {
                options.firstPregap = FirstPregap::Join;
            } else {
                error = "--first-pregap: \"" + value + "\" is none of track, drop and join";
                return false;
            }
        } else if (name.size() > 1 && name[0] == '-') {
            error = "unknown option " + name;
            return false;
        } else if (options.cuePath.empty()) {
            options.cuePath = name;
        } else {
            error = "only one cue sheet at a time (got \"" + options.cuePath + "\" and \"" + name + "\")";
            return false;
        }
    }
    if (options.namePattern.empty()) {
        error = "--name: the pattern is empty";
        return false;
    }
    return true;
}

const char *UsageText() {
    return "Usage: encbridge-host [ALBUM.cue | IMAGE.flac] [options]\n"
           "\n"
           "Rips a CD image (audio files with their cue sheet) through the encbridge\n"
           "module, the way a CD-ripping host does: Create, the audio of every track in\n"
           "pieces through SetData, then Kill. The module writes each track to a\n"
           "temporary WAV file and runs the encoder named in the settings file on it.\n"
           "\n"
           "Without a cue sheet it makes a short demo album, writes a settings file for\n"
           "the flac encoder (/usr/bin/flac), and encodes the album into ./encbridge-demo/\n"
           "(or the folder given with --out).\n"
           "\n"
           "Options:\n"
           "  --plugin PATH       the module to load (default: libencbridge.so beside\n"
           "                      this program)\n"
           "  --settings PATH     the settings file handed to Create (default:\n"
           "                      encbridge.ini beside the module)\n"
           "  --out FOLDER        where the encoded tracks go (default: the current\n"
           "                      folder; created when missing)\n"
           "  --name PATTERN      final file name of each track, without extension\n"
           "                      (default \"{number} {title}\"); fields: {number} (two\n"
           "                      digits), {title}, {performer}, {album}. Characters that\n"
           "                      file systems refuse become \"_\".\n"
           "  --tracks LIST       tracks to encode, such as 1,3-5; the others are still\n"
           "                      delivered, marked as skipped\n"
           "  --end-by MODE       how a track ends: zero (a call with length 0, the\n"
           "                      default) or boundary (the last piece says where the\n"
           "                      track ends within it)\n"
           "  --piece-size BYTES  bytes per SetData call, a multiple of 2352 (default\n"
           "                      58800)\n"
           "  --first-pregap WHAT what becomes of audio before track 1's INDEX 01:\n"
           "                      track (written as track 0, \"00 Hidden track\"),\n"
           "                      drop, or join (track 1 starts with it); by default\n"
           "                      it is written as track 0 unless it is digital\n"
           "                      silence, which is dropped\n"
           "  --cue-charset NAME  the cue sheet's character set (utf-8, cp1252, or any\n"
           "                      name iconv knows, such as cp1251); by default UTF-8\n"
           "                      when the sheet is valid UTF-8, else cp1252\n"
           "  --overwrite         remove final files of this rip that already exist\n"
           "                      (the module never replaces a file)\n"
           "  --dry-run           print the encoder's command line for each track, split\n"
           "                      into its arguments, and rip nothing\n"
           "  --help              this text\n"
           "\n"
           "ALBUM.cue may also be a FLAC image with a cue sheet inside (a CUESHEET\n"
           "block or tag). The sheet names one image or one file per track (FILE\n"
           "lines); each must be CD audio (44,100 Hz, 2 channels, 16 bits) in a WAV,\n"
           "FLAC or AIFF file. A track runs from its INDEX 01 to the next track's\n"
           "INDEX 01, across files where need be, so the pregap (INDEX 00) of a track\n"
           "belongs to the track before it, as rippers deliver it. Data tracks are\n"
           "skipped.\n"
           "\n"
           "Exit status: 0 when every selected track was encoded, 1 on an error or when\n"
           "a track produced no file, 2 for a wrong command line.\n";
}

}  // namespace host
