// A stand-in for a command-line encoder, for the tests of the encoder worker.
//
//   fake_encoder [options] INPUT OUTPUT
//
// Reads INPUT and writes OUTPUT as "FAKE" followed by the bytes of INPUT.
// Options:
//   --log FILE     append a record of this run to FILE: its arguments and
//                  how it was started. While a run works it holds the first
//                  free one of FILE.busy1, FILE.busy2...; it records "slot K",
//                  and "overlap" when K > 1, so that the largest K of all
//                  runs is the most that ran at once
//   --exit N       write the output, then exit with code N
//   --no-output    exit 0 without writing anything
//   --empty-output exit 0 after creating OUTPUT without writing to it
//   --link-output  exit 0 after making OUTPUT another name of INPUT
//   --hard-link-output
//                  the same with a hard link, as `ln INPUT OUTPUT` makes
//   --sleep MS     wait MS milliseconds before writing
//   --hang         wait for ever without writing anything
//   --partial-then-hang
//                  write part of the output, keep it open and wait for ever
//   --crash        write part of the output, then end as a crash does
//   --tag TEXT     ignored; it is only recorded
//   --ignore-term  (Linux) ignore SIGTERM, as an encoder slow to stop does
//   --delete-input once the output is written, remove INPUT, as an encoder
//                  told to delete its input does, and record
//                  "input deleted" or "input not deleted"
//   --copy-mode    give the output the mode (Windows: the read-only
//                  attribute) of INPUT, as some encoders do
//   --overwrite-input
//                  first truncate INPUT, as an encoder given its operands
//                  the wrong way round does; exit 2 when it cannot
//   --read-stdin   read standard input to its end first, and record
//                  "stdin-bytes N"
//   --fail-input TEXT
//                  exit 3 after writing the output when INPUT holds TEXT
//   --flood MB     first write MB megabytes of lines to standard error
//   --say TEXT     then write TEXT and a line end to standard error
//   --leave-child  first start a copy of this program that hangs, holding
//                  the standard streams; records "child PID"
//   --print TEXT   then write TEXT to standard output
//   --repeat N     write the --print TEXT N times (1 without it)
//   --album        an album step: takes any number of files, records for
//                  each "fileN present" or "fileN missing" (N from 1),
//                  writes nothing, and exits with the --exit code
//   --drop-bytes N write the output without the input's last N bytes
//   --flip-byte N  write the output with the input's byte N flipped
//   --decode       a verify line: takes one file, an output this program
//                  wrote, and writes the input it was made of to standard
//                  output; then exits with the --exit code
//   --trail MB     a verify line that does not stop: after the input, write
//                  MB megabytes of silence
// An unreadable input or a bad option gives exit code 2 and no output.
#include "fake_encoder.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool ReadAll(const char *path, std::vector<char> &bytes) {
    std::FILE *file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    char chunk[65536];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + count);
    bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

// Writes what an output of this program was made of to standard output,
// then trailMegabytes of zero bytes, as audio: the WAV header's sizes say
// "to the end" then, as a decoder's that cannot seek do.
int Decode(const char *path, int exitCode, long trailMegabytes) {
    std::vector<char> bytes;
    if (!ReadAll(path, bytes) || bytes.size() < 4 || std::memcmp(bytes.data(), "FAKE", 4) != 0) return 2;
    if (trailMegabytes > 0 && bytes.size() >= 48) {
        for (std::size_t at : {std::size_t{8}, std::size_t{44}}) std::memset(&bytes[at], 0xFF, 4);
    }
    fake_encoder::BinaryStandardOutput();
    std::fwrite(bytes.data() + 4, 1, bytes.size() - 4, stdout);
    const std::vector<char> silence(1 << 20, '\0');
    for (long m = 0; m < trailMegabytes; ++m) std::fwrite(silence.data(), 1, silence.size(), stdout);
    return std::fflush(stdout) == 0 ? exitCode : 2;
}

void AppendRecord(const std::string &log, const std::string &record) { fake_encoder::AppendToFile(log, record); }

[[noreturn]] void HangForEver() {
    for (;;) fake_encoder::SleepMilliseconds(1000);
}

}  // namespace

int main(int argc, char **argv) {
    std::string record = "run\n";
    for (int i = 1; i < argc; ++i) record += std::string("arg ") + argv[i] + "\n";
    record += fake_encoder::DescribeStart();

    std::string log;
    int exitCode = 0;
    unsigned sleepMs = 0;
    bool noOutput = false, emptyOutput = false, linkOutput = false, hardLink = false, hang = false, partial = false,
         crash = false, badOption = false, overwriteInput = false, deleteInput = false, copyMode = false;
    bool readInput = false, album = false;
    std::string failInput, say, print;
    long floodMegabytes = 0, repeat = 1, trailMegabytes = 0;
    std::vector<const char *> files;
    bool decode = false;
    std::size_t dropBytes = 0, flipByte = SIZE_MAX;
    for (int i = 1; i < argc; ++i) {
        std::string option = argv[i];
        bool hasValue = i + 1 < argc;
        if (option == "--log" && hasValue) {
            log = argv[++i];
        } else if (option == "--exit" && hasValue) {
            exitCode = std::atoi(argv[++i]);
        } else if (option == "--sleep" && hasValue) {
            sleepMs = static_cast<unsigned>(std::atoi(argv[++i]));
        } else if (option == "--tag" && hasValue) {
            ++i;
        } else if (option == "--fail-input" && hasValue) {
            failInput = argv[++i];
        } else if (option == "--trail" && hasValue) {
            trailMegabytes = std::atol(argv[++i]);
        } else if (option == "--flood" && hasValue) {
            floodMegabytes = std::atol(argv[++i]);
        } else if (option == "--say" && hasValue) {
            say = argv[++i];
        } else if (option == "--leave-child") {
            record += "child " + std::to_string(fake_encoder::LeaveHangingChild(argv[0])) + "\n";
        } else if (option == "--repeat" && hasValue) {
            repeat = std::atol(argv[++i]);
        } else if (option == "--print" && hasValue) {
            print = argv[++i];
        } else if (option == "--album") {
            album = true;
        } else if (option == "--ignore-term") {
            fake_encoder::IgnoreTerm();
        } else if (option == "--delete-input") {
            deleteInput = true;
        } else if (option == "--copy-mode") {
            copyMode = true;
        } else if (option == "--overwrite-input") {
            overwriteInput = true;
        } else if (option == "--read-stdin") {
            readInput = true;
        } else if (option == "--no-output") {
            noOutput = true;
        } else if (option == "--empty-output") {
            emptyOutput = true;
        } else if (option == "--link-output" || option == "--hard-link-output") {
            linkOutput = true;
            hardLink = option == "--hard-link-output";
        } else if (option == "--hang") {
            hang = true;
        } else if (option == "--partial-then-hang") {
            partial = true;
        } else if (option == "--crash") {
            crash = true;
        } else if (option == "--decode") {
            decode = true;
        } else if (option == "--drop-bytes" && hasValue) {
            dropBytes = static_cast<std::size_t>(std::atol(argv[++i]));
        } else if (option == "--flip-byte" && hasValue) {
            flipByte = static_cast<std::size_t>(std::atol(argv[++i]));
        } else if (option.compare(0, 2, "--") == 0) {
            badOption = true;
        } else {
            files.push_back(argv[i]);
        }
    }

    std::string lines;
    for (int l = 0; l < 64; ++l) lines += std::string(1023, 'x') + "\n";
    for (long block = 0; block < floodMegabytes * 16; ++block) std::fwrite(lines.data(), 1, lines.size(), stderr);
    if (!say.empty()) std::fprintf(stderr, "%s\n", say.c_str());
    for (long r = 0; r < repeat; ++r) std::fwrite(print.data(), 1, print.size(), stdout);
    std::fflush(stdout);

    if (album) {
        for (std::size_t f = 0; f < files.size(); ++f) {
            std::FILE *file = std::fopen(files[f], "rb");
            record += "file" + std::to_string(f + 1) + (file != nullptr ? " present\n" : " missing\n");
            if (file != nullptr) std::fclose(file);
        }
        if (!log.empty()) AppendRecord(log, record);
        if (hang) HangForEver();
        return badOption ? 2 : exitCode;
    }
    if (!failInput.empty() && files.size() == 2 && std::strstr(files[0], failInput.c_str()) != nullptr) exitCode = 3;

    std::string busy;
    if (!log.empty()) {
        // Each run that works at the same time holds a slot of its own.
        for (int slot = 1; slot <= 64; ++slot) {
            busy = log + ".busy" + std::to_string(slot);
            if (!fake_encoder::CreateExclusive(busy)) continue;
            record += "slot " + std::to_string(slot) + "\n";
            if (slot > 1) record += "overlap\n";
            break;
        }
        AppendRecord(log, record);
    }
    if (readInput) {
        std::size_t total = 0;
        char chunk[256];
        std::size_t count;
        while ((count = std::fread(chunk, 1, sizeof chunk, stdin)) > 0) total += count;
        if (!log.empty()) AppendRecord(log, "stdin-bytes " + std::to_string(total) + "\n");
    }
    auto finish = [&](int code) {
        if (!log.empty()) std::remove(busy.c_str());
        return code;
    };
    if (hang) {
        if (!log.empty()) std::remove(busy.c_str());
        HangForEver();
    }
    if (decode) return finish(badOption || files.size() != 1 ? 2 : Decode(files[0], exitCode, trailMegabytes));
    if (badOption || files.size() != 2) return finish(2);
    if (noOutput) return finish(0);
    if (linkOutput) return finish(fake_encoder::LinkTo(files[0], files[1], hardLink) ? 0 : 2);

    if (overwriteInput) {
        std::FILE *wav = std::fopen(files[0], "wb");
        if (wav == nullptr) return finish(2);
        std::fclose(wav);
    }
    std::vector<char> input;
    if (!ReadAll(files[0], input)) return finish(2);
    if (sleepMs > 0) fake_encoder::SleepMilliseconds(sleepMs);
    std::FILE *output = std::fopen(files[1], "wb");
    if (output == nullptr) return finish(2);
    if (emptyOutput) return finish(std::fclose(output) == 0 ? 0 : 2);
    std::fwrite("FAKE", 1, 4, output);
    if (partial || crash) {
        std::fwrite(input.data(), 1, input.size() / 2, output);
        std::fflush(output);
        if (!log.empty()) std::remove(busy.c_str());
        if (crash) fake_encoder::Crash();
        HangForEver();
    }
    if (flipByte < input.size()) input[flipByte] = static_cast<char>(input[flipByte] ^ 0x01);
    std::fwrite(input.data(), 1, input.size() - std::min(dropBytes, input.size()), output);
    // As a careful encoder does: a write that failed on the way (a full
    // disk) fails the run, even when the stream had nothing left to flush.
    bool written = !std::ferror(output);
    written = std::fclose(output) == 0 && written;
    if (written && copyMode) written = fake_encoder::CopyMode(files[0], files[1]);
    if (deleteInput) {
        const bool deleted = std::remove(files[0]) == 0;
        if (!log.empty()) AppendRecord(log, deleted ? "input deleted\n" : "input not deleted\n");
    }
    return finish(written ? exitCode : 2);
}
