#include "settings/profile_reader.h"

#include "platform/format.h"
#include "platform/platform.h"

namespace encbridge {

ProfileReader::ProfileReader(const char *path) {
    FormatText(path_, sizeof path_, "%s", {FormatArg(path ? path : "", 260)});
}

ProfileReader::~ProfileReader() = default;

std::uint32_t ProfileReader::GetString(const char *section, const char *key, const char *fallback, char *out,
                                       std::uint32_t outSize) const {
    if (section == nullptr || key == nullptr || out == nullptr || outSize == 0) return 0;
    return platform::ProfileString(section, key, fallback, out, outSize - 1, path_);
}

std::int32_t ProfileReader::GetInt(const char *section, const char *key, std::int32_t fallback) const {
    if (section == nullptr || key == nullptr) return fallback;
    return platform::ProfileInt(section, key, fallback, path_);
}

}  // namespace encbridge
