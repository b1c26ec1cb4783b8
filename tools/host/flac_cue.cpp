#include "flac_cue.h"

#include <FLAC/metadata.h>

#include <cstring>
#include <istream>
#include <map>

namespace host {

namespace {

// libFLAC's metadata blocks, deleted when they go out of scope.
class Block {
public:
    Block() = default;
    ~Block() {
        if (block_) FLAC__metadata_object_delete(block_);
    }
    Block(const Block &) = delete;
    Block &operator=(const Block &) = delete;
    FLAC__StreamMetadata **out() { return &block_; }
    const FLAC__StreamMetadata *get() const { return block_; }

private:
    FLAC__StreamMetadata *block_ = nullptr;
};

// The first value of each tag, by its name in upper case.
std::map<std::string, std::string> ReadTags(const std::string &path) {
    std::map<std::string, std::string> tags;
    Block block;
    if (!FLAC__metadata_get_tags(path.c_str(), block.out()) || block.get() == nullptr) return tags;
    const FLAC__StreamMetadata_VorbisComment &comments = block.get()->data.vorbis_comment;
    for (FLAC__uint32 i = 0; i < comments.num_comments; ++i) {
        std::string entry(reinterpret_cast<const char *>(comments.comments[i].entry), comments.comments[i].length);
        std::size_t equals = entry.find('=');
        if (equals == std::string::npos) continue;
        std::string name = entry.substr(0, equals);
        for (char &c : name) c = static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        tags.emplace(name, entry.substr(equals + 1));
    }
    return tags;
}

std::string Tag(const std::map<std::string, std::string> &tags, const char *name) {
    auto found = tags.find(name);
    return found == tags.end() ? std::string() : found->second;
}

bool FromBlock(const FLAC__StreamMetadata_CueSheet &sheet, const std::string &path, CueAlbum &album,
               std::string &error) {
    // The last track of the block is the lead-out, which holds no audio.
    for (FLAC__uint32 t = 0; t + 1 < sheet.num_tracks; ++t) {
        const FLAC__StreamMetadata_CueSheet_Track &entry = sheet.tracks[t];
        ImageTrack track;
        track.number = entry.number;
        track.audio = entry.type == 0;
        for (FLAC__byte i = 0; i < entry.num_indices; ++i) {
            const FLAC__uint64 sample = entry.offset + entry.indices[i].offset;
            if (sample % kFramesPerSector != 0) {
                error = "the CUESHEET block of " + path + " does not describe a CD: track " +
                        std::to_string(track.number) + " has an index between two sectors";
                return false;
            }
            const long sector = static_cast<long>(sample / kFramesPerSector);
            track.indexes.push_back({entry.indices[i].number, 0, sector});
            if (entry.indices[i].number == 1) track.startSector = sector;
        }
        album.tracks.push_back(track);
    }
    if (album.tracks.empty()) {
        error = "the CUESHEET block of " + path + " lists no tracks";
        return false;
    }
    return CheckCueTracks(album, path, error);
}

// The image's own tags fill what its sheet leaves empty; each checked as a
// sheet's value is.
void TakeTags(const std::map<std::string, std::string> &tags, const std::string &path, CueAlbum &album) {
    const auto take = [&](const char *name, std::string &field) {
        const std::string value = Tag(tags, name);
        if (value.empty() || !field.empty()) return false;
        const std::string refused = RefusedTagValue("the " + std::string(name) + " tag of " + path, value);
        if (!refused.empty()) album.notes.push_back(refused);
        field = refused.empty() ? value : std::string();
        return refused.empty();
    };
    take("ALBUM", album.title);
    take("GENRE", album.genre);
    take("DATE", album.year);
    take("CATALOGNUMBER", album.catalog);
    std::string count = Tag(tags, "TOTALDISCS").empty() ? Tag(tags, "DISCTOTAL") : Tag(tags, "TOTALDISCS");
    std::string disc;
    if (take("DISCNUMBER", disc) && !ReadDiscNumber(disc, album.disc, count))
        album.notes.push_back("the DISCNUMBER tag of " + path + " is not a disc number such as 1 or 1/2; dropped");
    if (album.discs.empty() && !count.empty() && count.size() <= 3 &&
        count.find_first_not_of("0123456789") == std::string::npos)
        album.discs = count;
}

// The image's front picture (or, without one, its first picture of any
// kind), when it is a JPEG or PNG of a sane size.
void TakePicture(const std::string &path, CueAlbum &album) {
    Block block;
    // The front cover first, then each other type in turn: libFLAC's "any
    // type" is a value that its enumeration cannot hold.
    for (int type = -1; type < FLAC__STREAM_METADATA_PICTURE_TYPE_UNDEFINED; ++type) {
        const auto wanted = static_cast<FLAC__StreamMetadata_Picture_Type>(
            type < 0 ? FLAC__STREAM_METADATA_PICTURE_TYPE_FRONT_COVER : type);
        if (FLAC__metadata_get_picture(path.c_str(), block.out(), wanted, nullptr, nullptr, ~0u, ~0u, ~0u, ~0u) &&
            block.get() != nullptr)
            break;
    }
    if (block.get() == nullptr) return;
    const FLAC__StreamMetadata_Picture &picture = block.get()->data.picture;
    const std::string type = picture.mime_type == nullptr ? std::string() : picture.mime_type;
    if (type != "image/jpeg" && type != "image/png") {
        album.notes.push_back("the picture in " + path + " is not a JPEG or PNG picture; not used as the cover");
        return;
    }
    if (picture.data_length == 0 || picture.data_length > kMaxCoverBytes) {
        album.notes.push_back("the picture in " + path + " is empty or too large; not used as the cover");
        return;
    }
    album.picture.assign(reinterpret_cast<const char *>(picture.data), picture.data_length);
    album.pictureType = type;
}

}  // namespace

bool IsFlacFile(std::istream &in) {
    char head[10] = {};
    in.read(head, sizeof head);
    if (in.gcount() >= 4 && std::memcmp(head, "fLaC", 4) == 0) return true;
    if (in.gcount() < 10 || std::memcmp(head, "ID3", 3) != 0) return false;
    // An ID3v2 tag before the stream: its size is written seven bits a byte,
    // and a footer adds ten more bytes.
    std::streamoff size = 10 + (head[5] & 0x10 ? 10 : 0);
    for (int i = 6; i < 10; ++i) size += static_cast<std::streamoff>(head[i] & 0x7F) << (7 * (9 - i));
    char marker[4] = {};
    in.seekg(size);
    in.read(marker, sizeof marker);
    return in.gcount() == 4 && std::memcmp(marker, "fLaC", 4) == 0;
}

bool ReadEmbeddedCueSheet(const std::string &path, const std::string &charset, CueAlbum &album,
                          std::vector<std::string> &notes, std::string &error) {
    const std::map<std::string, std::string> tags = ReadTags(path);
    std::size_t slash = path.rfind('/');
    const std::string folder = slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::string text = Tag(tags, "CUESHEET");
    if (!text.empty()) {
        std::string decoded, note;
        const std::string where = "the CUESHEET tag of " + path;
        if (!DecodeCueText(text, charset, where, decoded, note, error)) return false;
        if (!note.empty()) notes.push_back(note);
        if (!ParseCueText(decoded, folder, where, album, error)) return false;
        if (album.files.size() > 1) {
            error = where + " names " + std::to_string(album.files.size()) +
                    " files; a cue sheet inside an image describes that image alone";
            return false;
        }
    } else {
        Block block;
        if (!FLAC__metadata_get_cuesheet(path.c_str(), block.out()) || block.get() == nullptr) {
            error = path + " is a FLAC file with no cue sheet inside (neither a CUESHEET block nor a CUESHEET tag); " +
                    kWhatTheHostTakes + ": name the sheet beside it";
            return false;
        }
        album = CueAlbum();
        album.folder = folder;
        if (!FromBlock(block.get()->data.cue_sheet, path, album, error)) return false;
        album.performer = Tag(tags, "ALBUMARTIST").empty() ? Tag(tags, "ARTIST") : Tag(tags, "ALBUMARTIST");
        for (ImageTrack &track : album.tracks) track.performer = album.performer;
    }
    TakeTags(tags, path, album);
    for (ImageTrack &track : album.tracks) {
        if (track.year.empty()) track.year = album.year;
    }
    TakePicture(path, album);
    album.files.assign(1, {name, path, std::string()});
    return true;
}

}  // namespace host
