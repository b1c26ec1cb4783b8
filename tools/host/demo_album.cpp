#include "demo_album.h"

#include <sndfile.h>

#include <cmath>
#include <cstdint>
#include <fstream>
#include <vector>

#include "cue_image.h"

namespace host {

namespace {

constexpr double kPi = 3.14159265358979323846;

struct DemoTrack {
    const char *title;
    double frequencies[2];  // a second tone of 0 Hz is none
    long pregapSectors;     // silence before the track's INDEX 01, as INDEX 00
    long sectors;
};

// Titles with blanks, double quotes and UTF-8 bytes: the texts a host hands
// the module as they are, and that the encoder's command line must carry.
const DemoTrack kTracks[] = {
    {"Morning Tone", {440.0, 0.0}, 0, 3 * 75},
    {"The \\\"Quoted\\\" Tone", {554.37, 0.0}, 75, 3 * 75},
    {"Caf\xC3\xA9 \xC3\x9Cnic\xC3\xB8"
     "de Tone",
     {659.25, 0.0},
     0,
     3 * 75},
    {"Two Tones at Once", {440.0, 880.0}, 38, 4 * 75},
};

void AppendTone(std::vector<short> &samples, const DemoTrack &track) {
    const long frames = track.sectors * kFramesPerSector;
    const long fade = 44100 / 50;  // 20 ms, so that no track starts or ends with a click
    for (long i = 0; i < frames; ++i) {
        double t = static_cast<double>(i) / 44100.0;
        double value = std::sin(2 * kPi * track.frequencies[0] * t);
        if (track.frequencies[1] > 0) value = 0.5 * (value + std::sin(2 * kPi * track.frequencies[1] * t));
        double envelope = std::fmin(1.0, std::fmin(i, frames - 1 - i) / static_cast<double>(fade));
        short sample = static_cast<short>(std::lround(value * envelope * 0.3 * 32767));
        samples.push_back(sample);
        samples.push_back(sample);
    }
}

}  // namespace

bool WriteDemoAlbum(const std::string &folder, DemoFiles &files, std::string &error) {
    std::vector<short> samples;
    std::string cue =
        "REM DATE 2024\n"
        "REM COMMENT \"Made by encbridge-host\"\n"
        "PERFORMER \"The Demo Ensemble\"\n"
        "TITLE \"encbridge Demo Album\"\n"
        "FILE \"album.wav\" WAVE\n";
    long sector = 0;
    int number = 0;
    for (const DemoTrack &track : kTracks) {
        char line[64];
        std::snprintf(line, sizeof line, "  TRACK %02d AUDIO\n", ++number);
        cue += line;
        cue += std::string("    TITLE \"") + track.title + "\"\n";
        if (track.pregapSectors > 0) {
            cue += "    INDEX 00 " + SectorTime(sector) + "\n";
            samples.resize(samples.size() + track.pregapSectors * kFramesPerSector * 2, 0);
            sector += track.pregapSectors;
        }
        cue += "    INDEX 01 " + SectorTime(sector) + "\n";
        AppendTone(samples, track);
        sector += track.sectors;
    }

    std::string audioPath = folder + "album.wav";
    SF_INFO info = {};
    info.samplerate = 44100;
    info.channels = 2;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE *audio = sf_open(audioPath.c_str(), SFM_WRITE, &info);
    if (audio == nullptr) {
        error = "cannot write the demo image " + audioPath + ": " + sf_strerror(nullptr);
        return false;
    }
    sf_count_t frames = static_cast<sf_count_t>(samples.size() / 2);
    bool written = sf_writef_short(audio, samples.data(), frames) == frames;
    sf_close(audio);

    files.cuePath = folder + "album.cue";
    files.settingsPath = folder + "encbridge.ini";
    std::ofstream cueFile(files.cuePath, std::ios::binary);
    cueFile << cue;
    cueFile.close();
    std::ofstream settings(files.settingsPath, std::ios::binary);
    settings << "; Settings of the encbridge module, written by encbridge-host for its demo.\n"
                "[SETUP]\n"
                "OUT=.flac\n"
                "[OPTION]\n"
                "EXEPATH=/usr/bin/flac\n"
                "COMMAND=-s -f -T TITLE=%ttit% -T ARTIST=%tart% -T ALBUM=%atit% -T DATE=%tyer% "
                "-T TRACKNUMBER=%no -T TRACKTOTAL=%trk2 -T COMMENT=%tcom% -o %o% %i%\n"
                "DELETE=1\n"
                "WIN_HIDE=1\n"
                "JOBS=0\n";
    settings.close();
    if (!written || !cueFile || !settings) {
        error = "cannot write the demo album into " + folder;
        return false;
    }
    return true;
}

}  // namespace host
