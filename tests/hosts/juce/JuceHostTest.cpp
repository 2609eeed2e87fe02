// JUCE's own VST3 hosting (VST3PluginFormat, AudioPluginInstance and its
// parameter objects) driving the built module the way JUCE-based DAWs and
// plug-in checkers do: scanning, fresh values, saving without audio, state
// restoration in every order, stepped values, programs, the bypass, the
// editor window, and audio against the project's own offline renderer.
#include <gtest/gtest.h>
#include <juce_audio_processors/juce_audio_processors.h>

#include <execinfo.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "EditorPixels.h"
#include "PIX_Bitmap.h"
#include "PngCodec.h"

namespace {

constexpr double kRate = 48000.0;
constexpr int kBlock = 512;

using Instance = std::unique_ptr<juce::AudioPluginInstance>;

// Half a second of a loud, changing stereo signal that drives the compressor.
juce::AudioBuffer<float> Signal() {
  juce::AudioBuffer<float> buffer(2, 24000);
  juce::Random random(18);
  for (int i = 0; i < buffer.getNumSamples(); ++i) {
    const float burst = (i / 3000) % 2 ? 0.9f : 0.2f;
    const float tone = std::sin(static_cast<float>(i) * 0.0145f);
    buffer.setSample(0, i, burst * (0.7f * tone + 0.3f * (random.nextFloat() - 0.5f)));
    buffer.setSample(1, i, burst * (0.6f * tone - 0.4f * (random.nextFloat() - 0.5f)));
  }
  return buffer;
}

bool SameSamples(const juce::AudioBuffer<float>& a, const juce::AudioBuffer<float>& b) {
  if (a.getNumChannels() != b.getNumChannels() || a.getNumSamples() != b.getNumSamples())
    return false;
  for (int c = 0; c < a.getNumChannels(); ++c)
    if (std::memcmp(a.getReadPointer(c), b.getReadPointer(c),
                    sizeof(float) * static_cast<size_t>(a.getNumSamples())) != 0)
      return false;
  return true;
}

// 32-bit float WAV files, the renderer's input and output here.
bool WriteFloatWav(const juce::File& file, const juce::AudioBuffer<float>& buffer) {
  juce::MemoryOutputStream out;
  const int channels = buffer.getNumChannels(), frames = buffer.getNumSamples();
  const int dataBytes = channels * frames * 4;
  out.write("RIFF", 4);
  out.writeInt(36 + dataBytes);
  out.write("WAVEfmt ", 8);
  out.writeInt(16);
  out.writeShort(3);  // IEEE float
  out.writeShort(static_cast<short>(channels));
  out.writeInt(static_cast<int>(kRate));
  out.writeInt(static_cast<int>(kRate) * channels * 4);
  out.writeShort(static_cast<short>(channels * 4));
  out.writeShort(32);
  out.write("data", 4);
  out.writeInt(dataBytes);
  for (int i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c) out.writeFloat(buffer.getSample(c, i));
  return file.replaceWithData(out.getData(), out.getDataSize());
}

// Walks the chunks; empty unless the file holds 32-bit float samples.
juce::AudioBuffer<float> ReadFloatWav(const juce::File& file) {
  juce::MemoryBlock bytes;
  if (!file.loadFileAsData(bytes) || bytes.getSize() < 12) return {};
  juce::MemoryInputStream in(bytes, false);
  char id[5] = {};
  in.read(id, 4);
  in.readInt();
  char wave[5] = {};
  in.read(wave, 4);
  if (juce::String(id) != "RIFF" || juce::String(wave) != "WAVE") return {};
  int channels = 0, bits = 0, format = 0;
  while (in.getNumBytesRemaining() >= 8) {
    in.read(id, 4);
    const int size = in.readInt();
    const juce::int64 next = in.getPosition() + size + (size & 1);
    if (juce::String(id) == "fmt ") {
      format = static_cast<unsigned short>(in.readShort());
      channels = in.readShort();
      in.readInt();
      in.readInt();
      in.readShort();
      bits = in.readShort();
    } else if (juce::String(id) == "data") {
      if (channels <= 0 || bits != 32 || (format != 3 && format != 0xFFFE)) return {};
      const int frames = size / (4 * channels);
      juce::AudioBuffer<float> buffer(channels, frames);
      for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c) buffer.setSample(c, i, in.readFloat());
      return buffer;
    }
    in.setPosition(next);
  }
  return {};
}

// Runs the JUCE message loop (timers, the plug-in's run-loop handlers).
void Pump(int ms) { juce::MessageManager::getInstance()->runDispatchLoopUntil(ms); }

// Closes an editor the way a JUCE host can afford to. JUCE 7's
// XEmbedComponent answers every ConfigureNotify of the embedded window with
// a MessageManager::callAsync holding a raw pointer to itself, and it
// resizes that window itself whenever its component changes size: an
// editor destroyed before that call has run leaves it a dangling pointer
// (valgrind shows the read of the freed object; now and then it crashed
// this program). So the queue is first run past two markers: the first
// round of the loop handles every event already on JUCE's display
// connection, the second runs what that round queued.
void CloseEditor(std::unique_ptr<juce::AudioProcessorEditor>& editor) {
  for (int round = 0; round < 2; ++round) {
    auto done = std::make_shared<bool>(false);
    juce::MessageManager::callAsync([done] { *done = true; });
    for (int i = 0; i < 2000 && !*done; ++i) Pump(5);  // a bound that only catches a hang
  }
  editor.reset();
  Pump(50);
}

class JuceHost : public ::testing::Test {
 protected:
  // An instance as a JUCE host makes one from its scan: created, prepared,
  // no block processed yet. Offline matches the renderer's processing mode.
  Instance Load(bool offline = false) {
    static std::unique_ptr<juce::PluginDescription> description = [this] {
      juce::OwnedArray<juce::PluginDescription> found;
      format_.findAllTypesForFile(found, KESTRUNE_VST3_BUNDLE);
      return found.size() == 1 ? std::make_unique<juce::PluginDescription>(*found[0]) : nullptr;
    }();
    if (!description) {
      ADD_FAILURE() << "no single plug-in found in " << KESTRUNE_VST3_BUNDLE;
      return nullptr;
    }
    juce::String error;
    Instance instance = format_.createInstanceFromDescription(*description, kRate, kBlock, error);
    if (!instance) {
      ADD_FAILURE() << "JUCE could not create the plug-in: " << error;
      return nullptr;
    }
    instance->setNonRealtime(offline);
    instance->prepareToPlay(kRate, kBlock);
    return instance;
  }

  static juce::AudioProcessorParameter* Param(juce::AudioPluginInstance& plugin,
                                             const juce::String& name) {
    for (auto* p : plugin.getParameters())
      if (p->getName(64) == name) return p;
    ADD_FAILURE() << "no parameter named " << name;
    return nullptr;
  }

  // What the host shows: every parameter's name and text.
  static std::vector<std::string> Shown(juce::AudioPluginInstance& plugin) {
    std::vector<std::string> shown;
    for (auto* p : plugin.getParameters())
      shown.push_back((p->getName(64) + " = " + p->getText(p->getValue(), 64)).toStdString());
    return shown;
  }

  static juce::MemoryBlock Save(juce::AudioPluginInstance& plugin) {
    juce::MemoryBlock state;
    plugin.getStateInformation(state);
    return state;
  }
  static void Restore(juce::AudioPluginInstance& plugin, const juce::MemoryBlock& state) {
    plugin.setStateInformation(state.getData(), static_cast<int>(state.getSize()));
  }
  // The plug-in's own blob inside JUCE's saved state.
  static juce::MemoryBlock PluginBlob(const juce::MemoryBlock& state) {
    juce::MemoryBlock blob;
    auto xml = juce::AudioProcessor::getXmlFromBinary(state.getData(),
                                                      static_cast<int>(state.getSize()));
    if (auto* side = xml ? xml->getChildByName("IEditController") : nullptr)
      blob.fromBase64Encoding(side->getAllSubText());
    return blob;
  }

  // `input` through the plug-in in host blocks.
  static juce::AudioBuffer<float> Render(juce::AudioPluginInstance& plugin,
                                         juce::AudioBuffer<float> buffer, bool bypassed = false) {
    juce::MidiBuffer midi;
    for (int start = 0; start < buffer.getNumSamples(); start += kBlock) {
      juce::AudioBuffer<float> block(buffer.getArrayOfWritePointers(), buffer.getNumChannels(),
                                     start, std::min(kBlock, buffer.getNumSamples() - start));
      if (bypassed)
        plugin.processBlockBypassed(block, midi);
      else
        plugin.processBlock(block, midi);
    }
    return buffer;
  }

  // Opens the plug-in's editor in a JUCE window on the private display and
  // waits until it is drawn (more than a plain fill) and settled; returns
  // the window, or 0. The bound only catches a hang.
  static unsigned long ShowEditor(juce::AudioPluginInstance& plugin,
                                  std::unique_ptr<juce::AudioProcessorEditor>& editor,
                                  std::vector<uint32_t>* picture = nullptr) {
    if (!editorpixels::UseVirtualDisplay()) return 0;
    editor.reset(plugin.createEditorIfNeeded());
    if (!editor) return 0;
    editor->addToDesktop(0);
    editor->setVisible(true);
    const auto window = reinterpret_cast<unsigned long>(editor->getPeer()->getNativeHandle());
    std::vector<uint32_t> pixels, previous;
    for (int i = 0; i < 400; ++i) {
      Pump(25);
      pixels = editorpixels::Capture(window);
      if (Drawn(pixels) && pixels == previous) break;
      previous = pixels;
    }
    if (picture) *picture = pixels;
    return Drawn(pixels) ? window : 0;
  }
  static bool Drawn(std::vector<uint32_t> pixels) {
    std::sort(pixels.begin(), pixels.end());
    return std::unique(pixels.begin(), pixels.end()) - pixels.begin() > 16;
  }

  juce::VST3PluginFormat format_;
};

}  // namespace

TEST_F(JuceHost, ScanShowsKestruneByMarlowindWithStereoBusesAndASidechain) {
  juce::OwnedArray<juce::PluginDescription> found;
  format_.findAllTypesForFile(found, KESTRUNE_VST3_BUNDLE);
  ASSERT_EQ(found.size(), 1);
  EXPECT_EQ(found[0]->name, "Kestrune");
  EXPECT_EQ(found[0]->manufacturerName, "Marlowind");
  EXPECT_EQ(found[0]->category, "Fx|Dynamics");
  EXPECT_FALSE(found[0]->isInstrument);

  Instance plugin = Load();
  ASSERT_TRUE(plugin);
  ASSERT_EQ(plugin->getBusCount(true), 2);
  ASSERT_EQ(plugin->getBusCount(false), 1);
  EXPECT_EQ(plugin->getBus(true, 0)->getLastEnabledLayout(), juce::AudioChannelSet::stereo());
  EXPECT_EQ(plugin->getBus(false, 0)->getLastEnabledLayout(), juce::AudioChannelSet::stereo());
  EXPECT_EQ(plugin->getBus(true, 1)->getName(), "Aux Input");
  EXPECT_EQ(plugin->getTotalNumInputChannels(), 2) << "the sidechain starts switched off";
  // A user who routes a sidechain in: mono or stereo.
  auto layout = plugin->getBusesLayout();
  layout.inputBuses.getReference(1) = juce::AudioChannelSet::stereo();
  EXPECT_TRUE(plugin->setBusesLayout(layout));
  EXPECT_EQ(plugin->getTotalNumInputChannels(), 4);
  layout.inputBuses.getReference(1) = juce::AudioChannelSet::mono();
  EXPECT_TRUE(plugin->setBusesLayout(layout));
  EXPECT_EQ(plugin->getTotalNumInputChannels(), 3);
}

TEST_F(JuceHost, AFreshInstanceShowsThePluginsOwnValues) {
  Instance plugin = Load();
  ASSERT_TRUE(plugin);
  ASSERT_GE(plugin->getParameters().size(), 14);
  for (auto* p : plugin->getParameters())
    EXPECT_EQ(p->getText(p->getValue(), 64), p->getText(p->getDefaultValue(), 64))
        << p->getName(64);
}

TEST_F(JuceHost, AnEditSavedBeforeAnyAudioLoadsIntoAnotherInstance) {
  Instance edited = Load(), reloaded = Load();
  ASSERT_TRUE(edited && reloaded);
  for (const char* name : {"INPUT", "MIX", "RELEASE"}) {
    auto* p = Param(*edited, name);
    ASSERT_NE(p, nullptr) << name;
    p->setValueNotifyingHost(0.37f);
  }
  const std::vector<std::string> shown = Shown(*edited);
  ASSERT_NE(shown, Shown(*reloaded));
  Restore(*reloaded, Save(*edited));
  EXPECT_EQ(Shown(*reloaded), shown);
}

// pluginval's randomised test order: whatever ran before, a load gives back
// what the host saw at the last save. The editor stays open throughout, as
// in pluginval's GUI runs.
TEST_F(JuceHost, StateRestoresAfterEveryOrderOfFuzzAutomationProcessingSaveAndLoad) {
  Instance plugin = Load();
  ASSERT_TRUE(plugin);
  std::unique_ptr<juce::AudioProcessorEditor> editor;
  ASSERT_NE(ShowEditor(*plugin, editor), 0u);

  std::vector<juce::AudioProcessorParameter*> automatable;
  for (auto* p : plugin->getParameters())
    if (p->isAutomatable() && p != plugin->getBypassParameter()) automatable.push_back(p);
  ASSERT_GE(automatable.size(), 13u);

  const juce::AudioBuffer<float> block = [] {
    juce::AudioBuffer<float> s = Signal();
    s.setSize(2, kBlock, true);
    return s;
  }();
  juce::Random random(1);
  std::array<int, 5> order = {0, 1, 2, 3, 4};
  const char* names[5] = {"fuzz", "automation", "process", "save", "load"};
  int orders = 0;
  do {
    juce::MemoryBlock saved = Save(*plugin);
    std::vector<std::string> shownAtSave = Shown(*plugin);
    for (int step : order) {
      if (step == 0) {
        for (auto* p : automatable) p->setValue(random.nextFloat());
      } else if (step == 1) {
        for (int k = 0; k < 3; ++k) {
          auto* p = automatable[static_cast<size_t>(random.nextInt(static_cast<int>(automatable.size())))];
          p->beginChangeGesture();
          p->setValueNotifyingHost(random.nextFloat());
          p->endChangeGesture();
        }
        Pump(5);
      } else if (step == 2) {
        Render(*plugin, block);
      } else if (step == 3) {
        saved = Save(*plugin);
        shownAtSave = Shown(*plugin);
      } else {
        Restore(*plugin, saved);
        std::string sequence;
        for (int s : order) sequence += std::string(names[s]) + " ";
        ASSERT_EQ(Shown(*plugin), shownAtSave) << sequence;
      }
    }
    ++orders;
  } while (std::next_permutation(order.begin(), order.end()));
  EXPECT_EQ(orders, 120);
  CloseEditor(editor);
}

// A stepped parameter at a normalized value between its steps sounds like
// the step it shows: the same audio as the shown step set exactly, and
// different audio from the step next to it.
TEST_F(JuceHost, SteppedParametersBetweenStepsSoundLikeTheStepTheyShow) {
  const juce::AudioBuffer<float> input = Signal();
  auto render = [&](const juce::String& name, float value) {
    Instance plugin = Load();
    EXPECT_TRUE(plugin);
    if (!plugin) return juce::AudioBuffer<float>();
    Param(*plugin, "INPUT")->setValueNotifyingHost(0.8f);  // into the compressor
    Param(*plugin, name)->setValueNotifyingHost(value);
    return Render(*plugin, input);
  };
  const std::pair<const char*, float> cases[] = {
      {"RATIO", 0.6f}, {"RATIO", 0.2f}, {"BYPASS", 0.7f}, {"SLAM", 0.6f},
      {"OVERSAMPLING", 0.7f}, {"Sidechain", 0.55f}};
  Instance plugin = Load();
  ASSERT_TRUE(plugin);
  for (const auto& [name, value] : cases) {
    auto* p = Param(*plugin, name);
    ASSERT_NE(p, nullptr) << name;
    ASSERT_GT(p->getNumSteps(), 1) << name;
    const float last = static_cast<float>(p->getNumSteps() - 1);
    const float below = std::floor(value * last) / last, above = std::ceil(value * last) / last;
    const juce::String shown = p->getText(value, 64);
    const bool showsBelow = shown == p->getText(below, 64);
    ASSERT_TRUE(showsBelow || shown == p->getText(above, 64)) << name << " shows " << shown;
    const juce::AudioBuffer<float> heard = render(name, value);
    EXPECT_TRUE(SameSamples(heard, render(name, showsBelow ? below : above)))
        << name << " at " << value << " shows " << shown << " but sounds otherwise";
    EXPECT_FALSE(SameSamples(heard, render(name, showsBelow ? above : below)))
        << name << ": its neighbouring steps sound alike, the test cannot tell them apart";
  }
}

TEST_F(JuceHost, ProgramsListDefaultThenTheSixFactoryPresets) {
  Instance plugin = Load();
  ASSERT_TRUE(plugin);
  ASSERT_EQ(plugin->getNumPrograms(), 7);
  EXPECT_EQ(plugin->getProgramName(0), "Default");
  EXPECT_EQ(plugin->getProgramName(1), "Drum Bus Glue");
  EXPECT_EQ(plugin->getProgramName(6), "SLAM");
  EXPECT_EQ(plugin->getCurrentProgram(), 0);
}

// A JUCE host's preset path (ExtensionsVisitor::setPreset) loads a
// .vstpreset into the running instance while its own edits are still queued
// for the next block. Once a few blocks and the message loop have run, the
// host shows what the plug-in holds: the preset, not the older edits; with
// no editor open (nothing ticks on the plug-in's side) as with one.
TEST_F(JuceHost, APresetLoadedThroughJucesPresetPathShowsInTheHost) {
  juce::MemoryBlock preset;
  ASSERT_TRUE(juce::File(KESTRUNE_PRESET_DIR "/vst3/Vocal Levelling.vstpreset").loadFileAsData(preset));
  for (const bool withEditor : {false, true}) {
    SCOPED_TRACE(withEditor ? "editor open" : "no editor");
    Instance plugin = Load();
    ASSERT_TRUE(plugin);
    std::unique_ptr<juce::AudioProcessorEditor> editor;
    if (withEditor) ASSERT_NE(ShowEditor(*plugin, editor), 0u);
    for (auto* p : plugin->getParameters()) p->setValueNotifyingHost(0.9f);
    Render(*plugin, Signal());

    struct Loader : juce::ExtensionsVisitor {
      const juce::MemoryBlock* data = nullptr;
      bool loaded = false;
      void visitVST3Client(const VST3Client& client) override { loaded = client.setPreset(*data); }
    } loader;
    loader.data = &preset;
    Param(*plugin, "MIX")->setValueNotifyingHost(0.25f);  // queued for the next block
    plugin->getExtensions(loader);
    ASSERT_TRUE(loader.loaded);
    for (int i = 0; i < 4; ++i) Render(*plugin, Signal());
    Pump(500);

    EXPECT_EQ(Param(*plugin, "INPUT")->getCurrentValueAsText(), "14.00 dB");
    EXPECT_EQ(Param(*plugin, "MIX")->getCurrentValueAsText(), "100.00 %");
    const juce::MemoryBlock blob = PluginBlob(Save(*plugin));
    ASSERT_GE(blob.getSize(), 112u);
    double input = 0, mix = 0;
    memcpy(&input, static_cast<const char*>(blob.getData()), 8);
    memcpy(&mix, static_cast<const char*>(blob.getData()) + 8 * 6, 8);
    EXPECT_EQ(input, 14.0);
    EXPECT_EQ(mix, 100.0) << "the edit queued before the load was applied over it";
    if (editor) CloseEditor(editor);
  }
}

// JUCE's host bypass is the bypass: the one the editor's button drives,
// the one processBlockBypassed sets, the only one users see.
TEST_F(JuceHost, TheBypassJuceOffersIsTheOneTheEditorDrives) {
  const juce::AudioBuffer<float> input = Signal();
  Instance plugin = Load();
  ASSERT_TRUE(plugin);
  auto* bypass = plugin->getBypassParameter();
  ASSERT_NE(bypass, nullptr);
  ASSERT_FALSE(SameSamples(Render(*plugin, input), input)) << "the effect changes the signal";

  std::unique_ptr<juce::AudioProcessorEditor> editor;
  const unsigned long window = ShowEditor(*plugin, editor);
  ASSERT_NE(window, 0u);
  editorpixels::Click(window, 810, 125);  // the BYPASS button
  for (int i = 0; i < 400 && bypass->getValue() < 0.5f; ++i) Pump(25);
  EXPECT_EQ(bypass->getValue(), 1.0f) << "the editor's button is not JUCE's bypass";
  EXPECT_TRUE(SameSamples(Render(*plugin, input), input));
  int bypassControls = 0;
  for (auto* p : plugin->getParameters())
    if (p->getName(64).equalsIgnoreCase("bypass")) {
      ++bypassControls;
      EXPECT_EQ(p->getText(p->getValue(), 64), "On") << p->getName(64);
    }
  EXPECT_EQ(bypassControls, 1) << "one bypass as users see it";

  bypass->setValueNotifyingHost(0.0f);
  EXPECT_FALSE(SameSamples(Render(*plugin, input), input)) << "the host switched it off";
  EXPECT_TRUE(SameSamples(Render(*plugin, input, true), input)) << "processBlockBypassed is dry";
  CloseEditor(editor);
}

// The editor opens in JUCE's plug-in window, follows a change the host
// makes while no audio runs, and closes; its pixels tell what it shows.
TEST_F(JuceHost, TheEditorFollowsAHostChangeWithoutAudioAndCloses) {
  Instance plugin = Load();
  ASSERT_TRUE(plugin);
  std::unique_ptr<juce::AudioProcessorEditor> editor;
  std::vector<uint32_t> before;
  const unsigned long window = ShowEditor(*plugin, editor, &before);
  ASSERT_NE(window, 0u) << "the editor drew nothing";
  EXPECT_GT(editor->getWidth(), 100);
  auto pixels = [&] { return editorpixels::Capture(window); };

  Param(*plugin, "RATIO")->setValueNotifyingHost(1.0f);
  std::vector<uint32_t> after = before;
  for (int i = 0; i < 200 && after == before; ++i) {  // a bound that only catches a hang
    Pump(25);
    after = pixels();
  }
  EXPECT_NE(after, before) << "the editor still shows the old RATIO";
  EXPECT_TRUE(editorpixels::SavePicture(window, "juce-editor.png"));

  CloseEditor(editor);
  EXPECT_EQ(plugin->getActiveEditor(), nullptr);
}

// The editor picture kestrune-render draws at `scale` for the default
// settings (silence leaves the meter at rest): 0x00RRGGBB per pixel.
std::vector<uint32_t> RenderedEditor(const char* scale, int* width, int* height) {
  juce::TemporaryFile inFile(".wav"), outFile(".wav"), picture(".png"), plot(".png");
  juce::AudioBuffer<float> silence(2, 512);
  silence.clear();
  if (!WriteFloatWav(inFile.getFile(), silence)) return {};
  juce::ChildProcess render;
  if (!render.start(juce::StringArray{
          KESTRUNE_RENDER, "--module", KESTRUNE_VST3_BUNDLE, "--format", "vst3", "--editor-scale",
          scale, "--editor-png", picture.getFile().getFullPathName(), "--plot-png",
          plot.getFile().getFullPathName(), "-q", "-o", outFile.getFile().getFullPathName(),
          inFile.getFile().getFullPathName()}) ||
      !render.waitForProcessToFinish(120000) || render.getExitCode() != 0)
    return {};
  juce::MemoryBlock png;
  if (!picture.getFile().loadFileAsData(png)) return {};
  std::unique_ptr<PIX_MemBitmap> bitmap(
      LoadPngFromMemory(static_cast<const unsigned char*>(png.getData()), png.getSize()));
  if (!bitmap) return {};
  std::vector<uint32_t> pixels;
  for (int y = 0; y < bitmap->Height(); ++y)
    for (int x = 0; x < bitmap->Width(); ++x) pixels.push_back(bitmap->Row(y)[x] & 0xFFFFFFu);
  *width = bitmap->Width();
  *height = bitmap->Height();
  return pixels;
}

// JUCE's plug-in window resized to 1.5 times the editor and back: the editor
// fills it every time (no black band where a fixed-size editor left the
// window empty), pixel for pixel the picture kestrune-render draws at that
// scale.
TEST_F(JuceHost, TheEditorFillsJucesWindowAtEverySizeItIsGiven) {
  Instance plugin = Load();
  ASSERT_TRUE(plugin);
  std::unique_ptr<juce::AudioProcessorEditor> editor;
  const unsigned long window = ShowEditor(*plugin, editor);
  ASSERT_NE(window, 0u) << "the editor drew nothing";
  for (const char* scale : {"1.5", "1"}) {
    int width = 0, height = 0;
    const std::vector<uint32_t> expected = RenderedEditor(scale, &width, &height);
    ASSERT_FALSE(expected.empty()) << "kestrune-render drew no picture at " << scale;
    editor->setSize(width, height);
    std::vector<uint32_t> shown;
    for (int i = 0; i < 200 && shown != expected; ++i) {  // a bound that only catches a hang
      Pump(25);
      shown = editorpixels::Capture(window);
    }
    EXPECT_EQ(editor->getWidth(), width);
    EXPECT_EQ(editor->getHeight(), height);
    EXPECT_TRUE(shown == expected) << "the window is not the editor at " << scale;
    if (std::string(scale) != "1") {
      EXPECT_TRUE(editorpixels::SavePicture(window, "juce-editor-1.5.png"));
    }
  }
  CloseEditor(editor);
}

// The same state and input through JUCE and through kestrune-render give
// the same samples, bit for bit.
TEST_F(JuceHost, AudioIsBitIdenticalToKestruneRenderWithTheSameState) {
  Instance edited = Load(true);
  ASSERT_TRUE(edited);
  const std::pair<const char*, float> settings[] = {
      {"INPUT", 0.7f}, {"ATTACK", 0.3f}, {"RATIO", 2.0f / 3.0f}, {"MIX", 0.8f}, {"HF", 0.6f}};
  for (const auto& [name, value] : settings) Param(*edited, name)->setValueNotifyingHost(value);
  const juce::MemoryBlock state = Save(*edited);

  juce::TemporaryFile inFile(".wav"), outFile(".wav"), stateFile(".state");
  const juce::AudioBuffer<float> input = Signal();
  ASSERT_TRUE(WriteFloatWav(inFile.getFile(), input));
  ASSERT_TRUE(stateFile.getFile().replaceWithData(PluginBlob(state).getData(),
                                                  PluginBlob(state).getSize()));
  juce::ChildProcess render;
  ASSERT_TRUE(render.start(juce::StringArray{
      KESTRUNE_RENDER, "--module", KESTRUNE_VST3_BUNDLE, "--format", "vst3", "--preset",
      stateFile.getFile().getFullPathName(), "--block", juce::String(kBlock), "--precision", "32",
      "--sample-format", "float", "--no-pictures", "-q", "-o",
      outFile.getFile().getFullPathName(), inFile.getFile().getFullPathName()}));
  const juce::String log = render.readAllProcessOutput();
  ASSERT_TRUE(render.waitForProcessToFinish(120000));
  ASSERT_EQ(render.getExitCode(), 0u) << log;

  const juce::AudioBuffer<float> rendered = ReadFloatWav(outFile.getFile());
  ASSERT_EQ(rendered.getNumSamples(), input.getNumSamples());
  Instance restored = Load(true);
  ASSERT_TRUE(restored);
  Restore(*restored, state);
  const juce::AudioBuffer<float> heard = Render(*restored, input);
  ASSERT_FALSE(SameSamples(heard, input));
  EXPECT_TRUE(SameSamples(heard, rendered));
}

// A crash inside the host or the module prints the stack before the process
// ends, so a rare one can be read from the test log.
void PrintStackAndDie(int signal) {
  static const char kHeader[] = "juce_host_tests: crashed; stack:\n";
  (void)!write(STDERR_FILENO, kHeader, sizeof kHeader - 1);
  void* frames[64];
  backtrace_symbols_fd(frames, backtrace(frames, 64), STDERR_FILENO);
  ::signal(signal, SIG_DFL);
  raise(signal);
}

int main(int argc, char** argv) {
  void* first[1];
  backtrace(first, 1);  // loads the unwinder now, not inside the handler
  for (int crash : {SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT}) ::signal(crash, PrintStackAndDie);
  ::testing::InitGoogleTest(&argc, argv);
  // JUCE sets X up as in a DAW (thread support, its X error handlers) only
  // for an application; this program is one without an application object.
  juce::JUCEApplicationBase::createInstance = [] { return static_cast<juce::JUCEApplicationBase*>(nullptr); };
  juce::ScopedJuceInitialiser_GUI juce;
  return RUN_ALL_TESTS();
}
