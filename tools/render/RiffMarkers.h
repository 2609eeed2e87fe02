// The markers of a WAV file: the points of its 'cue ' chunk and the
// LIST/adtl chunk that names them (labl), annotates them (note) and makes
// regions of them (ltxt); and the markers of an AIFF file: its MARK chunk,
// each marker with its name and nothing more. libsndfile reads and writes
// the points of both (and an AIFF marker's name); a WAV file's adtl chunk
// is carried as it came, or made from the names of an AIFF file's markers.
// An output may end before a marker of its input (a damaged input ends
// early): a marker past the output's end is dropped with its texts, and a
// region is cut at the end.
//
// The adtl bytes come from a file a user hands over: every size is
// checked against the room there is.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace render {

struct MarkerName {
  uint32_t id = 0;
  std::string name;
};

// A LIST/adtl payload ("adtl" first) with one labl text for each marker
// that has a name.
std::vector<uint8_t> AdtlOfNames(const std::vector<MarkerName>& names);

// Whether `adtl` holds anything but the markers' names (notes, regions),
// which an AIFF file has no room for.
bool AdtlHoldsMoreThanNames(const std::vector<uint8_t>& adtl);

// Whether `adtl` (a LIST chunk's payload, "adtl" first) holds whole
// sub-chunks, each within the payload.
bool IsWholeAdtl(const std::vector<uint8_t>& adtl);

// Keeps in `cue` (a 'cue ' chunk's payload) the points at or before frame
// `frames`, and in `adtl` the texts of the points kept, regions cut to end
// by `frames`. An empty `adtl` is left empty. False, with both unchanged,
// when either is damaged.
bool KeepMarkersWithin(uint64_t frames, std::vector<uint8_t>& cue, std::vector<uint8_t>& adtl);

// Applies KeepMarkersWithin to the 'cue ' and LIST/adtl chunks before the
// audio of the RIFF WAVE file open in `fd` (read and write), in place: a
// chunk that shrinks leaves a JUNK chunk in the room it gave up, so nothing
// after it moves. A file without a cue chunk is left alone. False with
// errno set when reading or writing fails, errno 0 when a chunk is damaged.
bool KeepFileMarkersWithin(int fd, uint64_t frames);

// Keeps in `mark` (an AIFF MARK chunk's payload, big-endian) the markers
// at or before frame `frames`. False, with `mark` unchanged, when it is
// damaged.
bool KeepMarkMarkersWithin(uint64_t frames, std::vector<uint8_t>& mark);

// Applies KeepMarkMarkersWithin to the MARK chunk before the audio of the
// AIFF file open in `fd` (read and write), in place: the room given up
// becomes a filler chunk (id four spaces), so nothing after it moves. The
// same results as KeepFileMarkersWithin.
bool KeepAiffFileMarkersWithin(int fd, uint64_t frames);

}  // namespace render
