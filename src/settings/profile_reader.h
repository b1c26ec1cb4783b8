// Reads the values of one settings file.
#pragma once

#include <cstdint>

namespace encbridge {

class ProfileReader {
public:
    // A path longer than 259 characters is cut.
    explicit ProfileReader(const char *path);
    virtual ~ProfileReader();
    ProfileReader(const ProfileReader &) = delete;
    ProfileReader &operator=(const ProfileReader &) = delete;

    // Stores at most outSize - 2 characters: the size handed to the profile
    // function is one less than the buffer. Returns the count stored; a null
    // section or key stores nothing and returns 0.
    std::uint32_t GetString(const char *section, const char *key, const char *fallback, char *out,
                            std::uint32_t outSize) const;
    // A null section or key gives the default.
    std::int32_t GetInt(const char *section, const char *key, std::int32_t fallback) const;

private:
    char path_[260];
};

}  // namespace encbridge
