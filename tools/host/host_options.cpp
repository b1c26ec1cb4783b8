#include "host_options.h"

#include <getopt.h>

#include <cerrno>
#include <climits>
#include <cstdlib>

#include "host_paths.h"

// The project's version, from CMake.
#ifndef ENCBRIDGE_VERSION
#define ENCBRIDGE_VERSION "unknown"
#endif

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

// The place of value among the three words an option takes; -1 with a
// message in error when it is none of them.
int Choice(const char *option, const std::string &value, const char *const (&words)[3], std::string &error) {
    for (int i = 0; i < 3; ++i) {
        if (value == words[i]) return i;
    }
    error = std::string(option) + ": \"" + value + "\" is none of " + words[0] + ", " + words[1] + " and " + words[2];
    return -1;
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
    // Long options without a short form take codes above any character.
    enum : int {
        kVersion = 256,
        kDryRun,
        kOverwrite,
        kPlugin,
        kSettings,
        kOut,
        kName,
        kTracks,
        kPieceSize,
        kEndBy,
        kCueCharset,
        kFirstPregap,
        kGaps,
        kWriteCue,
        kVerbose,
        kResume,
        kRecursive,
        kSkipColliding,
        kKeepGoing,
    };
    static const option kLongOptions[] = {
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, kVersion},
        {"dry-run", no_argument, nullptr, kDryRun},
        {"overwrite", no_argument, nullptr, kOverwrite},
        {"plugin", required_argument, nullptr, kPlugin},
        {"settings", required_argument, nullptr, kSettings},
        {"out", required_argument, nullptr, kOut},
        {"name", required_argument, nullptr, kName},
        {"tracks", required_argument, nullptr, kTracks},
        {"piece-size", required_argument, nullptr, kPieceSize},
        {"end-by", required_argument, nullptr, kEndBy},
        {"cue-charset", required_argument, nullptr, kCueCharset},
        {"first-pregap", required_argument, nullptr, kFirstPregap},
        {"gaps", required_argument, nullptr, kGaps},
        {"write-cue", no_argument, nullptr, kWriteCue},
        {"verbose", no_argument, nullptr, kVerbose},
        {"resume", no_argument, nullptr, kResume},
        {"recursive", no_argument, nullptr, kRecursive},
        {"skip-colliding", no_argument, nullptr, kSkipColliding},
        {"keep-going", no_argument, nullptr, kKeepGoing},
        {nullptr, 0, nullptr, 0},
    };

    // getopt_long reorders the vector it is given, so it gets copies; the
    // program name is the one its messages start with.
    std::vector<std::string> words;
    words.reserve(arguments.size() + 1);
    words.push_back(kProgramName);
    words.insert(words.end(), arguments.begin(), arguments.end());
    std::vector<char *> argv;
    for (std::string &word : words) argv.push_back(word.data());
    argv.push_back(nullptr);
    const int argc = static_cast<int>(words.size());

    // 0, not 1: glibc starts over completely, forgetting a half-read group of
    // short options and the order of an earlier call.
    optind = 0;
    opterr = 1;
    error.clear();
    int code;
    while ((code = getopt_long(argc, argv.data(), "h", kLongOptions, nullptr)) != -1) {
        const std::string value = optarg == nullptr ? std::string() : std::string(optarg);
        switch (code) {
            case 'h':
                options.help = true;
                break;
            case kVersion:
                options.version = true;
                break;
            case kDryRun:
                options.dryRun = true;
                break;
            case kOverwrite:
                options.overwrite = true;
                break;
            case kVerbose:
                options.verbose = true;
                break;
            case kWriteCue:
                options.writeCue = true;
                break;
            case kResume:
                options.resume = true;
                break;
            case kRecursive:
                options.recursive = true;
                break;
            case kSkipColliding:
                options.skipColliding = true;
                break;
            case kKeepGoing:
                options.keepGoing = true;
                break;
            case kPlugin:
                options.pluginPath = value;
                break;
            case kSettings:
                options.settingsPath = value;
                break;
            case kOut:
                options.outFolder = value;
                break;
            case kName:
                options.namePattern = value;
                break;
            case kTracks:
                if (!ParseTrackList(value, options.tracks, error)) return false;
                break;
            case kPieceSize:
                if (!ParsePieceSize(value, options.pieceSize, error)) return false;
                break;
            case kEndBy:
                if (value == "zero") {
                    options.endBy = EndBy::Zero;
                } else if (value == "boundary") {
                    options.endBy = EndBy::Boundary;
                } else {
                    error = "--end-by: \"" + value + "\" is neither zero nor boundary";
                    return false;
                }
                break;
            case kCueCharset:
                if (value.empty()) {
                    error = "--cue-charset: the name is empty";
                    return false;
                }
                options.cueCharset = value;
                break;
            case kFirstPregap: {
                static const char *const kWhat[] = {"track", "drop", "join"};
                static const FirstPregap kMode[] = {FirstPregap::Track, FirstPregap::Drop, FirstPregap::Join};
                const int at = Choice("--first-pregap", value, kWhat, error);
                if (at < 0) return false;
                options.firstPregap = kMode[at];
                break;
            }
            case kGaps: {
                static const char *const kWhere[] = {"append", "prepend", "drop"};
                static const GapMode kMode[] = {GapMode::Append, GapMode::Prepend, GapMode::Drop};
                const int at = Choice("--gaps", value, kWhere, error);
                if (at < 0) return false;
                options.gaps = kMode[at];
                break;
            }
            default:
                // getopt_long has said what is wrong, in its usual words.
                return false;
        }
    }
    for (int i = optind; i < argc; ++i) options.inputs.push_back(argv[i]);
    if (!options.inputs.empty()) options.cuePath = options.inputs.front();
    // --out names the folder of each album, so only the album's fields.
    for (const char *field : {"{number}", "{title}", "{performer}"}) {
        if (options.outFolder.find(field) != std::string::npos) {
            error =
                std::string("--out: ") + field + " is a track's; use {album}, {albumartist}, {date}, {genre} or {disc}";
            return false;
        }
    }
    if (options.namePattern.empty()) {
        error = "--name: the pattern is empty";
        return false;
    }
    if (options.resume && options.overwrite) {
        error = "--resume keeps the files that are there, --overwrite removes them: choose one";
        return false;
    }
    return true;
}

const char *UsageText() {
    return "Usage: encbridge-host [options] [--] [ALBUM.cue | IMAGE.flac | FOLDER]...\n"
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
           "Several cue sheets, FLAC images and folders rip a shelf of albums, one\n"
           "after another; a folder is searched for cue sheets and FLAC images with a\n"
           "sheet inside, each image once. One summary ends the run, and the exit\n"
           "status is the worst over the albums:\n"
           "  encbridge-host --recursive --out '~/Music/{albumartist}/{album}' ~/rips\n"
           "\n"
           "ALBUM.cue may also be a FLAC image with a cue sheet inside (a CUESHEET\n"
           "block or tag). The sheet names one image or one file per track (FILE\n"
           "lines); each must be CD audio (44,100 Hz, 2 channels, 16 bits) in a WAV,\n"
           "FLAC or AIFF file. A track runs from its INDEX 01 to the next track's\n"
           "INDEX 01, across files where need be, so the pregap (INDEX 00) of a track\n"
           "belongs to the track before it, as rippers deliver it. Data tracks (any\n"
           "TRACK type but AUDIO) are never ripped: the first index of one, or the\n"
           "end of its file when it has none, ends the audio track before it.\n"
           "\n"
           "Exit status:\n"
           "  0    every selected track was encoded into every output\n"
           "  1    an error: the module refused the rip, a file is missing, or a\n"
           "       shelf stopped because an album's every track failed alike\n"
           "  2    a wrong command line\n"
           "  3    the rip ended, but some tracks were not produced (the summary\n"
           "       says why, and where each one's WAV file is)\n"
           "  130  stopped by SIGINT (143: SIGTERM, 129: SIGHUP): the rip ends in\n"
           "       order, shows the summary and ends by that signal; a second one\n"
           "       ends it at once. A shelf stops after the album being ripped;\n"
           "       --resume picks it up again.\n"
           "\n"
           "Options:\n"
           "  --plugin PATH       the module to load (default: libencbridge.so beside\n"
           "                      this program, else the installed one,\n"
           "                      " ENCBRIDGE_MODULE_FROM_PROGRAM
           "/libencbridge.so\n"
           "                      from this program's folder)\n"
           "  --settings PATH     the settings file handed to Create (default: see\n"
           "                      Settings below)\n"
           "  --out FOLDER        where the encoded tracks go (default: the current\n"
           "                      folder; created when missing); may hold the album's\n"
           "                      fields of --name, {album}, {albumartist}, {date},\n"
           "                      {genre}, {disc}, each filled as one folder name\n"
           "  --recursive         search the subfolders of a folder named too\n"
           "  --name PATTERN      final file name of each track, without extension\n"
           "                      (default \"{number} {title}\"); fields: {number} (two\n"
           "                      digits), {title}, {performer}, {album},\n"
           "                      {albumartist}, and from the sheet's REM lines {date},\n"
           "                      {genre}, {disc}. A \"/\" in the pattern makes folders\n"
           "                      below --out (\"{albumartist}/{album}/{number} {title}\");\n"
           "                      in a field's value, \"/\" and other characters that\n"
           "                      file systems refuse become \"_\".\n"
           "  --tracks LIST       tracks to encode, such as 1,3-5; the others are still\n"
           "                      delivered, marked as skipped\n"

           "  --first-pregap WHAT\n"
           "                      what becomes of audio before track 1's INDEX 01:\n"
           "                      track (written as track 0, \"00 Hidden track\"; the\n"
           "                      module's %no then counts it, one ahead of the sheet),\n"
           "                      drop, or join (track 1 starts with it); by default\n"
           "                      it is joined, so that every number is the sheet's,\n"
           "                      and digital silence is dropped\n"
           "  --gaps WHERE        where the audio between a track's INDEX 00 and its\n"
           "                      INDEX 01 (and its PREGAP silence) goes: append (at\n"
           "                      the end of the track before, the default), prepend\n"
           "                      (at the start of its own track) or drop\n"
           "  --cue-charset NAME  the cue sheet's character set (utf-8, cp1252, or any\n"
           "                      name iconv knows, such as cp1251 or shift_jis). By\n"
           "                      default: UTF-8 when the sheet is valid UTF-8 (with or\n"
           "                      without a byte order mark); UTF-16 after its byte\n"
           "                      order mark, or without one when its zero bytes show\n"
           "                      the order; else the common code page whose reading\n"
           "                      of it stands out (cp1250-1254, KOI8-R, KOI8-U,\n"
           "                      ISO-8859-2/5/7, CP932, EUC-JP, CP949, GB18030,\n"
           "                      CP950). A notice says which was used; where none\n"
           "                      stands out, the album is not ripped and the message\n"
           "                      names the likely ones. A UTF-8 byte order mark is\n"
           "                      always taken off; the bytes after it that are not\n"
           "                      UTF-8 are read in NAME\n"
           "  --write-cue         after a rip in which every track was produced, write\n"
           "                      ALBUM.cue (the album's title) beside the tracks: one\n"
           "                      FILE per track's file of the first output, the sheet's\n"
           "                      texts, and INDEX 00/01 (or PREGAP for a gap no file\n"
           "                      holds) so that the files burn back to the disc's\n"
           "                      layout\n"
           "  --overwrite         remove final files of this rip that already exist\n"
           "                      (the module never replaces a file)\n"
           "  --skip-colliding    rip the other albums of a shelf when two of them would\n"
           "                      write the same file (names compared without regard\n"
           "                      to case); without it such a run rips nothing\n"
           "  --resume            pick up a rip that was stopped: tracks whose every\n"
           "                      output is there, and is the track's (proven by its\n"
           "                      verify line, else a WAV, FLAC or AIFF file of the\n"
           "                      track's length), are delivered as skipped; the rest\n"
           "                      are ripped, files in their way moved aside; files\n"
           "                      the stopped rip left that are copies of this rip's\n"
           "                      are removed, others listed\n"
           "  --keep-going        on a shelf, rip every album even after one whose\n"
           "                      every track failed for the same reason (by default\n"
           "                      the shelf stops there: the settings are likely wrong)\n"
           "  --dry-run           print the encoder's command line for each track, split\n"
           "                      into its arguments, and rip nothing\n"
           "  --verbose           print each record of the module's journal as it comes:\n"
           "                      every encoder run, with its command line, exit status\n"
           "                      and outcome, and every album step\n"
           "  --help              this text, then the settings file this run would use\n"
           "                      (on standard error)\n"
           "  --version           the version\n"
           "  --                  ends the options: the arguments after it are inputs\n"
           "\n"
           "Options for testing how a host delivers audio (a rip needs neither):\n"
           "  --end-by MODE       how a track ends: zero (a call with length 0, the\n"
           "                      default) or boundary (the last piece says where the\n"
           "                      track ends within it)\n"
           "  --piece-size BYTES  bytes per SetData call, a multiple of 2352 (default\n"
           "                      58800)\n"
           "\n"
           "Files:\n"
           "Settings: the file named by --settings; else the user's,\n"
           "$XDG_CONFIG_HOME/encbridge/encbridge.ini (~/.config/encbridge/encbridge.ini\n"
           "when XDG_CONFIG_HOME is unset, empty or not an absolute path); else the\n"
           "system's, /etc/encbridge/encbridge.ini; else, with a notice, the installed\n"
           "example for flac, " ENCBRIDGE_EXAMPLES_FROM_PROGRAM
           "/flac.ini from this\n"
           "program's folder; else encbridge.ini beside the module (as in the build\n"
           "folder). The demo album writes and uses its own unless --settings names\n"
           "one.\n";
}

std::string VersionText() { return std::string(kProgramName) + " (encbridge) " + ENCBRIDGE_VERSION + "\n"; }

}  // namespace host
