// PlanRender: everything a render needs opened before the first block.
#include <fcntl.h>
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>

#include "DefaultMaterial.h"
#include "ParamSettings.h"
#include "RenderSteps.h"
#include "RiffInfo.h"
#include "WaveTags.h"

namespace render {
namespace {

// The input, or the embedded material, and its rate and channels.
bool OpenInput(const Job& job, RenderPlan& plan, Failure& failure) {
  std::string error;
  plan.embedded = job.input.empty();
  if (plan.embedded) {
    plan.material = MakeDefaultMaterial();
  } else if (!plan.reader.Open(job.input, error)) {
    failure = {kExitInput, "input '" + job.input + "' " + error};
    return false;
  }
  plan.sampleRate = plan.embedded ? kDefaultMaterialRate : plan.reader.Info().sampleRate;
  plan.channels = plan.embedded ? plan.material.ChannelCount() : plan.reader.Info().channels;
  plan.claimedFrames = plan.embedded ? static_cast<int64_t>(plan.material.FrameCount())
                                     : plan.reader.Info().claimedFrames;
  return true;
}

// A sidechain at another rate is resampled to the input's as it is read.
bool OpenSidechain(const Options& options, RenderPlan& plan, Failure& failure) {
  if (options.sidechain.empty()) return true;
  std::string error;
  if (!plan.sidechain.Open(options.sidechain, error)) {
    failure = {kExitInput, "sidechain '" + options.sidechain + "' " + error};
    return false;
  }
  plan.sidechainSource = std::make_unique<SidechainSource>(plan.sidechain, plan.sampleRate);
  const double sidechainRate = plan.sidechain.Info().sampleRate;
  if (sidechainRate != plan.sampleRate && !plan.sidechainSource->Resampling()) {
    failure = {kExitInput, "sidechain '" + options.sidechain + "' is at " + FormatValue(sidechainRate) +
                               " Hz and cannot be resampled to the input's " + FormatValue(plan.sampleRate) + " Hz"};
    return false;
  }
  if (plan.sidechainSource->Resampling() && !options.quiet) {
    Say(stderr, Format("%s: sidechain '%s' resampled from %s Hz to the input's %s Hz\n", kTool,
                       options.sidechain.c_str(), FormatValue(sidechainRate).c_str(),
                       FormatValue(plan.sampleRate).c_str()));
  }
  return true;
}

// The output's encoding: as asked, else the input's where the container
// holds it, else 24-bit; a WAV too large for RIFF becomes RF64.
OutputEncoding ChooseEncoding(const Options& options, const Job& job, const RenderPlan& plan) {
  OutputEncoding encoding;
  encoding.container = job.container;
  encoding.channels = plan.channels;
  encoding.sampleRate = plan.sampleRate;
  encoding.dither = options.dither;
  encoding.format = options.sampleFormat;
  if (!options.haveSampleFormat) {
    encoding.format = SampleFormat::Pcm24;
    // Keep the input's encoding when the output container can hold it.
    SampleFormat inputFormat;
    if (!plan.embedded && SampleFormatForSubtype(plan.reader.Info().subtype, inputFormat) &&
        ContainerHolds(job.container, inputFormat)) {
      encoding.format = inputFormat;
    }
  }
  if (encoding.container == SF_FORMAT_WAV) {
    const WavFlavour flavour = ChooseWavFlavour(plan.embedded ? SF_FORMAT_WAV : plan.reader.Info().majorFormat,
                                                plan.claimedFrames, plan.channels, encoding.format);
    if (flavour != WavFlavour::Riff) encoding.container = SF_FORMAT_RF64;
    encoding.rf64UnlessSmall = flavour == WavFlavour::Rf64UnlessSmall;
  }
  return encoding;
}

// The input's LIST/INFO tags, read from its file; a stream's are gone.
InfoRead ReadInputInfoTags(const Job& job, const RenderPlan& plan, std::vector<InfoTag>& tags) {
  if (plan.reader.IsStream()) return InfoRead::kNotWave;
  const int fd = open(job.input.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return InfoRead::kNotWave;
  const InfoRead read = ReadInfoTagsOf(fd, tags);
  close(fd);
  return read;
}

// The output file, with the input's metadata to carry over; what it has no
// room for is named in one line.
bool OpenOutput(const Job& job, RenderPlan& plan, Failure& failure) {
  std::string error;
  if (!plan.writer.Open(job.output, job.outputTarget, plan.encoding, error)) {
    failure = {error.rfind("cannot write", 0) == 0 ? kExitOutput : kExitUsage, error};
    return false;
  }
  if (plan.embedded) return true;
  const AudioFileInfo& info = plan.reader.Info();
  plan.writer.CopyMetadata(info);
  const bool wave = info.majorFormat == SF_FORMAT_WAV || info.majorFormat == SF_FORMAT_WAVEX ||
                    info.majorFormat == SF_FORMAT_RF64;
  const bool waveOutput = job.container == SF_FORMAT_WAV;
  std::vector<std::string> left;
  auto leaveOut = [&](const std::string& name) {
    if (std::find(left.begin(), left.end(), name) == left.end()) left.push_back(name);
  };
  // FLAC to FLAC keeps every tag and picture.
  if (info.majorFormat == SF_FORMAT_FLAC) {
    // A FLAC stream's came with it; a file redirected into standard input is read again.
    plan.flacTags = info.flacTags                                 ? info.flacTags
                    : plan.reader.IsStream() && job.input != "-" ? nullptr
                                                                  : ReadFlacTags(job.input == "-" ? "/dev/stdin"
                                                                                                   : job.input);
    const FlacTags* input = plan.flacTags.get();
    if (input && input->HasReplayGain()) {
      Warn("the input's REPLAYGAIN tags are left out: they give the loudness of the audio before processing");
    }
    // Into WAV or AIFF: what their text chunks have no room for.
    if (input && job.container != SF_FORMAT_FLAC) {
      for (const std::string& name : input->FieldsLibsndfileDrops(plan.writer.RefusedTextKinds())) leaveOut(name);
      if (!input->pictures.empty()) leaveOut(std::to_string(input->pictures.size()) + " picture(s)");
      plan.flacTags = nullptr;
    }
  } else if (wave) {
    std::vector<InfoTag> infoTags;
    if (ReadInputInfoTags(job, plan, infoTags) == InfoRead::kDamaged && !waveOutput) {
      leaveOut("LIST/INFO tags (a damaged chunk)");
    }
    for (const int kind : plan.writer.RefusedTextKinds()) {
      if (!VorbisFieldForKind(kind).empty()) leaveOut(VorbisFieldForKind(kind));
    }
    if (job.container == SF_FORMAT_FLAC) {
      // As Vorbis comments, under the names taggers use.
      plan.flacTags = FlacTagsFromWave(info, infoTags, left);
    } else if (!waveOutput || plan.writer.Direct()) {
      // Tags libsndfile has no string type for go into a WAV file only.
      for (const InfoTag& tag : infoTags) {
        if (!LibsndfileReadsInfoTag(tag.id)) leaveOut("INFO " + tag.id);
      }
    }
  }
  for (const std::string& name : plan.writer.ChunksLeftOut()) leaveOut(name);
  const std::string shown = job.output == "-" ? "standard output" : "'" + job.output + "'";
  if (!left.empty()) {
    std::string names;
    for (const std::string& name : left) names += (names.empty() ? "" : ", ") + name;
    // What keeps them: the input's own type, written to a file, read from one.
    const bool sameType = job.container == (wave ? SF_FORMAT_WAV : info.majorFormat);
    const char* inputType = wave ? "WAV" : info.majorFormat == SF_FORMAT_AIFF ? "AIFF" : "FLAC";
    const std::string keep = !sameType                ? std::string("write ") + inputType
                             : plan.writer.Direct() ? std::string("write to a file")
                                                     : std::string("give the input as a file");
    Warn(shown + " has no room for the input's " + names + "; left out (" + keep + " to keep them)");
  }
  // Streamed out, the FLAC header goes before the audio, written by
  // libsndfile with only the tags it has names for.
  const FlacTags* tags = plan.flacTags.get();
  if (plan.writer.Direct() && tags && (tags->TagsLibsndfileDrops() > 0 || !tags->pictures.empty())) {
    Warn(shown + " is a FLAC stream, which gets only the input's title, artist, album, date, genre, track number, "
                 "comment, copyright, license and software: " + std::to_string(tags->TagsLibsndfileDrops()) +
         " other tags and " + std::to_string(tags->pictures.size()) +
         " picture(s) are left out; write to a file to keep them");
  }
  return true;
}

}  // namespace

bool PlanRender(const Options& options, const Job& job, const std::vector<uint8_t>& presetBlob, RenderPlan& plan,
                Failure& failure) {
  if (!OpenInput(job, plan, failure) || !OpenSidechain(options, plan, failure)) return false;
  plan.host = LoadPlugin(options, presetBlob, plan.sampleRate, plan.embedded, failure);
  if (!plan.host) return false;
  plan.encoding = ChooseEncoding(options, job, plan);
  return OpenOutput(job, plan, failure);
}

}  // namespace render
