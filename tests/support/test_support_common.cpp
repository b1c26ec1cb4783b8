#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <thread>

#include "test_support.h"

namespace testing_support {

namespace fs = std::filesystem;

void RemoveTree(const std::string &folder) {
    std::error_code ignored;
    fs::remove_all(fs::path(folder), ignored);
}

bool FileExists(const std::string &path) {
    std::error_code ignored;
    return fs::exists(fs::path(path), ignored);
}

std::vector<std::uint8_t> ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const std::string &path, const std::string &content) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << content;
}

std::vector<std::string> ListFolder(const std::string &folder) {
    std::vector<std::string> names;
    std::error_code ignored;
    for (const auto &entry : fs::directory_iterator(fs::path(folder), ignored)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string WriteSettings(const std::string &path, const Settings &settings) {
    const std::string &n = settings.newline;
    WriteFile(path, "[SETUP]" + n + "OUT=" + settings.extension + n + "[OPTION]" + n + "COMMAND=" + settings.command +
                        n + "DELETE=" + std::to_string(settings.deleteWav) + n + "EXEPATH=" + settings.encoder + n +
                        "WIN_HIDE=" + std::to_string(settings.hideWindow) + n +
                        (settings.jobs.empty() ? "" : "JOBS=" + settings.jobs + n) + settings.extra);
    return path;
}

Bytes Audio(std::size_t bytes, unsigned seed) {
    Bytes audio(bytes);
    std::uint32_t state = 2463534242u + seed;
    for (std::uint8_t &byte : audio) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        byte = static_cast<std::uint8_t>(state);
    }
    return audio;
}

long ElapsedMs(std::chrono::steady_clock::time_point since) {
    return static_cast<long>(
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - since).count());
}

void SleepMs(int milliseconds) { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }

bool WaitUntil(const std::function<bool()> &done, long timeoutMs) {
    const std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
    while (!done()) {
        if (ElapsedMs(start) > timeoutMs) return false;
        SleepMs(20);
    }
    return true;
}

bool OpensForWriting(const std::string &path) {
    std::FILE *file = std::fopen(path.c_str(), "r+b");
    if (file == nullptr) return false;
    std::fclose(file);
    return true;
}

bool MakeFolder(const std::string &folder) {
    std::error_code error;
    return fs::create_directory(fs::path(folder), error) && !error;
}

namespace {
std::string fakeEncoderCopy;
}  // namespace

std::string FakeEncoderPath() {
    return fakeEncoderCopy.empty() ? ProgramFolder() + FAKE_ENCODER_NAME : fakeEncoderCopy;
}

void UseFakeEncoderAt(const std::string &path) { fakeEncoderCopy = path; }

bool RemoveFile(const std::string &path) {
    std::error_code error;
    return fs::remove(fs::path(path), error) && !error;
}

}  // namespace testing_support
