// The encoder behind the rip sequence fuzz target. Its command line is built
// from arbitrary templates and texts, so it touches nothing but files inside
// the folder named by ENCBRIDGE_FUZZ_OUTPUT: of its arguments, it takes those
// that lie there (and hold no "/.." that could lead out) as paths. The first
// of them that names an existing file is the input, the last one the output,
// which becomes "ENC" followed by the input's bytes. It follows no link and
// writes no file that has another name, which the folder may hold.
//
// Words among the arguments change what it does, so that the fuzzer reaches
// the worker's failure paths: FAIL writes the output and exits with 1, NOOUT
// exits 0 without writing, KILL ends the process by a signal before writing.
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

bool InsideOutputFolder(const std::string &folder, const std::string &path) {
    return !folder.empty() && path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           path.find("/..", folder.size() - 1) == std::string::npos;
}

bool RegularFile(const std::string &path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode);
}

bool ReadAll(const std::string &path, std::vector<char> &bytes) {
    std::FILE *file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) return false;
    char chunk[65536];
    std::size_t count;
    while ((count = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.insert(bytes.end(), chunk, chunk + count);
    const bool ok = !std::ferror(file);
    std::fclose(file);
    return ok;
}

}  // namespace

int main(int argc, char **argv) {
    const char *folderValue = std::getenv("ENCBRIDGE_FUZZ_OUTPUT");
    const std::string folder = folderValue != nullptr ? folderValue : "";
    std::string input, output;
    bool fail = false, noOutput = false, killed = false;
    for (int i = 1; i < argc; ++i) {
        const std::string argument = argv[i];
        if (argument.find("FAIL") != std::string::npos) fail = true;
        if (argument.find("NOOUT") != std::string::npos) noOutput = true;
        if (argument.find("KILL") != std::string::npos) killed = true;
        if (!InsideOutputFolder(folder, argument)) continue;
        if (input.empty() && RegularFile(argument)) input = argument;
        output = argument;
    }
    if (killed) raise(SIGKILL);
    if (noOutput) return 0;
    std::vector<char> bytes;
    if (input.empty() || !ReadAll(input, bytes)) return 2;
    // The folder may hold links to files outside it, or other names of
    // them: an output that is anything but a plain file of one name is not
    // written, and no link is followed.
    struct stat info;
    if (lstat(output.c_str(), &info) == 0 && (!S_ISREG(info.st_mode) || info.st_nlink != 1)) return 2;
    const int fd = open(output.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
    std::FILE *file = fd < 0 ? nullptr : fdopen(fd, "wb");
    if (file == nullptr) return 2;
    std::fwrite("ENC", 1, 3, file);
    std::fwrite(bytes.data(), 1, bytes.size(), file);
    if (std::fclose(file) != 0) return 2;
    return fail ? 1 : 0;
}
