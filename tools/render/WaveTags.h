// A WAV file's tags as a FLAC file's Vorbis comments: the texts libsndfile
// reads (title, artist...), the LIST/INFO tags it has no string type for
// under the names taggers give them (ISRC, ITCH as ENCODED-BY, IENG as
// ENGINEER, ICMS as COMMISSIONED...), and the broadcast-wave chunk's texts
// under the names ffmpeg gives them (DESCRIPTION, ORIGINATOR...).
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "AudioFile.h"
#include "RiffInfo.h"

namespace render {

// The LIST/INFO ids libsndfile reads as its string types (and writes).
bool LibsndfileReadsInfoTag(const std::string& id);

// The Vorbis comment field libsndfile writes a SF_STR_* kind as, in
// capitals ("TITLE"); empty for a kind it writes none for.
std::string VorbisFieldForKind(int kind);

// The Vorbis comment field a LIST/INFO id is carried as; empty when it has
// no customary one.
std::string VorbisFieldForInfoTag(const std::string& id);

// The tags of a WAV input described by `info`, with `infoTags` read from
// its LIST/INFO chunks, as FLAC metadata. `leftOut` gets what has no
// Vorbis comment name ("INFO IARL").
std::shared_ptr<const FlacTags> FlacTagsFromWave(const AudioFileInfo& info, const std::vector<InfoTag>& infoTags,
                                                 std::vector<std::string>& leftOut);

}  // namespace render
