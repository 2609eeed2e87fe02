// The real-time thread contract under ThreadSanitizer: each built module is
// loaded as a host loads it, its editor open at 2x on a private Xvfb and
// redrawing on this (the user-interface) thread, while one thread runs audio
// blocks, one automates parameters and one saves and restores the state.
// Every thread runs a fixed number of rounds; the sanitizer (halt_on_error)
// ends the program at the first data race, so a case passes only when the
// threads share nothing but what the contract allows.
#include <dlfcn.h>

#include <algorithm>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include <lv2/atom/atom.h>
#include <lv2/core/lv2.h>
#include <lv2/options/options.h>
#include <lv2/state/state.h>
#include <lv2/ui/ui.h>
#include <lv2/urid/urid.h>
#include <X11/Xatom.h>

#include "InlineDisplayExtension.h"
#include "Lv2Ports.h"
#include "Lv2UridMap.h"
#include "ScriptedHost.h"
#include "Vst3EditorHost.h"
#include "XTestSupport.h"
#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"

using namespace xtest;

namespace {

constexpr int kBlocks = 240;       // audio blocks
constexpr int kBlockFrames = 128;
constexpr int kAutomations = 240;  // parameter changes
constexpr int kStateRounds = 12;   // save and restore
constexpr int kTicks = 30;         // editor redraw turns
constexpr int kAutomated[] = {0, 1, 3, 5, 9};  // knobs and switches the editor shows

double AutomatedValue(int round) { return (round % 17) / 16.0; }

// Runs the three host threads for their rounds while `tick` drives the editor
// on this thread, then waits for them.
void RunBesideTheEditor(const std::function<void(int)>& audio,
                        const std::function<void(int)>& automate,
                        const std::function<void(int)>& state, const std::function<void()>& tick) {
  std::thread audioThread([&] {
    for (int i = 0; i < kBlocks; ++i) audio(i);
  });
  std::thread automationThread([&] {
    for (int i = 0; i < kAutomations; ++i) automate(i);
  });
  std::thread stateThread([&] {
    for (int i = 0; i < kStateRounds; ++i) state(i);
  });
  for (int i = 0; i < kTicks; ++i) {
    tick();
    SleepMs(20);  // the editors redraw at their frame rate
  }
  audioThread.join();
  automationThread.join();
  stateThread.join();
  tick();
}

// Four inputs (main and sidechain) of a decaying tone, two outputs.
struct Buffers {
  std::vector<float> in[4], out[2];
  float* inputs[4];
  float* outputs[2];
  Buffers() {
    for (int c = 0; c < 4; ++c) {
      in[c].resize(kBlockFrames);
      for (int n = 0; n < kBlockFrames; ++n) in[c][n] = 0.8f * ((n / 8 + c) % 2 ? 1.0f : -1.0f);
      inputs[c] = in[c].data();
    }
    for (int c = 0; c < 2; ++c) {
      out[c].resize(kBlockFrames);
      outputs[c] = out[c].data();
    }
  }
};

class ThreadContract : public ::testing::Test {
 protected:
  // Desktops at 192 dpi: the VST2 editor opens at 2x.
  void SetDesktopScale2x() {
    const Atom resources = XInternAtom(x_.Get(), "RESOURCE_MANAGER", False);
    const std::string text = "Xft.dpi:\t192\n";
    XChangeProperty(x_.Get(), DefaultRootWindow(x_.Get()), resources, XA_STRING, 8,
                    PropModeReplace, reinterpret_cast<const unsigned char*>(text.data()),
                    static_cast<int>(text.size()));
    XSync(x_.Get(), False);
  }
  // The editor embedded in `parent` has its 2x size.
  void ExpectEditorAt2x(Window parent) {
    int width = 0, height = 0;
    EXPECT_TRUE(x_.Geometry(x_.EditorOf(parent), &width, &height));
    EXPECT_EQ(width, 1824);
    EXPECT_EQ(height, 574);
  }
  HostDisplay x_;
};

TEST_F(ThreadContract, Vst2EditorAutomationStateAndAudioTogether) {
  SetDesktopScale2x();
  ScriptedHost host;
  PluginInstance plug(host);
  plug.Start(44100.0f, kBlockFrames);
  Window parent = x_.MakeHostWindow(0, 0, 1824, 574);
  ASSERT_NE(plug.Dispatch(vst2::effEditOpen, 0, 0,
                          reinterpret_cast<void*>(static_cast<uintptr_t>(parent))), 0);
  Buffers buffers;
  RunBesideTheEditor(
      [&](int) {
        plug.effect->processReplacing(plug.effect, buffers.inputs, buffers.outputs, kBlockFrames);
      },
      [&](int i) { plug.Set(kAutomated[i % 5], static_cast<float>(AutomatedValue(i))); },
      [&](int) {
        const std::vector<uint8_t> bank = plug.Chunk(0);
        ASSERT_FALSE(bank.empty());
        plug.SetChunk(0, bank);
      },
      [&] { plug.Dispatch(vst2::effEditIdle); });
  ExpectEditorAt2x(parent);
  plug.Dispatch(vst2::effEditClose);
  plug.Close();
  x_.Destroy(parent);
}

TEST_F(ThreadContract, Vst3EditorAutomationStateAndAudioTogether) {
  static host::Module module;
  ASSERT_NE(module.Factory(), nullptr);
  host::HostApplication application("Bitwig Studio");
  host::RunLoop runLoop;
  host::PlugFrame frame;
  frame.runLoop = &runLoop;
  host::Plugin plug(module.Factory());
  plug.Start(&application, 44100.0, kBlockFrames);
  plug.processor->setProcessing(true);  // optional for a plug-in
  host::IPlugView* view = plug.controller->createView(host::ViewType::kEditor);
  ASSERT_NE(view, nullptr);
  view->setFrame(&frame);
  host::IPlugViewContentScaleSupport* scaling = nullptr;
  view->queryInterface(host::IPlugViewContentScaleSupport_iid, reinterpret_cast<void**>(&scaling));
  ASSERT_NE(scaling, nullptr);
  scaling->setContentScaleFactor(2.0f);
  Window parent = x_.MakeHostWindow(0, 0, 1824, 574);
  ASSERT_EQ(view->attached(reinterpret_cast<void*>(static_cast<uintptr_t>(parent)),
                           host::kPlatformTypeX11EmbedWindowID),
            host::kResultOk);

  Buffers buffers;
  host::BusBuffers<float> inputs, output;
  inputs.Shape({2, 2}, kBlockFrames);
  output.Shape({2}, kBlockFrames);
  for (int c = 0; c < 4; ++c)
    std::copy(buffers.in[c].begin(), buffers.in[c].end(), inputs.pointers[c / 2][c % 2]);
  RunBesideTheEditor(
      [&](int i) {
        // The host's automation lane reaches the processor with the block.
        host::ParamChanges changes;
        changes.Add(static_cast<host::ParamID>(kAutomated[(i + 2) % 5]), {AutomatedValue(i + 5)});
        host::ProcessData data = host::BlockData(host::kRealtime, kBlockFrames, inputs, output, &changes);
        plug.processor->process(data);
      },
      [&](int i) {
        plug.controller->setParamNormalized(static_cast<host::ParamID>(kAutomated[i % 5]),
                                            AutomatedValue(i));
      },
      [&](int) {
        host::Stream saved;
        ASSERT_EQ(plug.component->getState(&saved), host::kResultOk);
        host::Stream restore;
        restore.bytes = saved.bytes;
        ASSERT_EQ(plug.component->setState(&restore), host::kResultOk);
        restore.position = 0;
        plug.controller->setComponentState(&restore);
      },
      [&] { runLoop.Run(0); });
  ExpectEditorAt2x(parent);
  view->removed();
  scaling->release();
  view->release();
  plug.processor->setProcessing(false);
  plug.component->setActive(false);
  plug.component->terminate();
}

template <typename Function>
Function Symbol(void* module, const char* name) {
  return reinterpret_cast<Function>(dlsym(module, name));
}

// LV2: the plug-in runs audio, saves its state beside it and restores it
// between blocks (restore is in the instantiation class), draws its inline
// display on the host's thread; the UI, a separate instance fed with the
// port values the host copies out of the audio thread, redraws at 2x.
TEST_F(ThreadContract, Lv2UiInlineDisplayAutomationStateAndAudioTogether) {
  void* module = dlopen(KESTRUNE_LV2_MODULE, RTLD_NOW | RTLD_LOCAL);
  void* uiModule = dlopen(KESTRUNE_LV2_UI_MODULE, RTLD_NOW | RTLD_LOCAL);
  ASSERT_NE(module, nullptr) << dlerror();
  ASSERT_NE(uiModule, nullptr) << dlerror();
  const LV2_Descriptor* dsp = Symbol<const LV2_Descriptor* (*)(uint32_t)>(module, "lv2_descriptor")(0);
  const LV2UI_Descriptor* ui =
      Symbol<const LV2UI_Descriptor* (*)(uint32_t)>(uiModule, "lv2ui_descriptor")(0);
  ASSERT_TRUE(dsp && ui);

  // The URIDs the host maps, shared by the plug-in and its UI.
  host::Lv2UridMap urids;
  const LV2_Feature* features[] = {&urids.mapFeature, nullptr};
  LV2_Handle instance = dsp->instantiate(dsp, 44100.0, KESTRUNE_LV2_BUNDLE, features);
  ASSERT_NE(instance, nullptr);
  Buffers buffers;
  float ports[lv2ports::kPortCount] = {};
  for (uint32_t p = 0; p <= lv2ports::kSideInRight; ++p) dsp->connect_port(instance, p, buffers.inputs[p]);
  dsp->connect_port(instance, lv2ports::kOutLeft, buffers.outputs[0]);
  dsp->connect_port(instance, lv2ports::kOutRight, buffers.outputs[1]);
  for (uint32_t p = lv2ports::kFirstParamPort; p < lv2ports::kPortCount; ++p)
    dsp->connect_port(instance, p, &ports[p]);
  auto state = static_cast<const LV2_State_Interface*>(dsp->extension_data(LV2_STATE__interface));
  auto inlineDisplay = static_cast<const InlineDisplayInterface*>(
      dsp->extension_data(KESTRUNE_INLINEDISPLAY__interface));
  ASSERT_TRUE(state && inlineDisplay);
  dsp->activate(instance);

  Window parent = x_.MakeHostWindow(0, 0, 1824, 574);
  LV2_Feature parentFeature = {LV2_UI__parent, reinterpret_cast<void*>(static_cast<uintptr_t>(parent))};
  const float scale = 2.0f;
  const LV2_Options_Option options[] = {
      {LV2_OPTIONS_INSTANCE, 0, urids.Map(LV2_UI__scaleFactor), sizeof(float),
       urids.Map(LV2_ATOM__Float), &scale},
      {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
  LV2_Feature optionsFeature = {LV2_OPTIONS__options, const_cast<LV2_Options_Option*>(options)};
  const LV2_Feature* uiFeatures[] = {&parentFeature, &urids.mapFeature, &optionsFeature, nullptr};
  LV2UI_Widget widget = nullptr;
  auto write = [](LV2UI_Controller, uint32_t, uint32_t, uint32_t, const void*) {};
  LV2UI_Handle uiHandle = ui->instantiate(ui, lv2ports::kPluginUri, KESTRUNE_LV2_BUNDLE, write,
                                          nullptr, &widget, uiFeatures);
  ASSERT_NE(uiHandle, nullptr);
  auto idle = static_cast<const LV2UI_Idle_Interface*>(ui->extension_data(LV2_UI__idleInterface));
  ASSERT_NE(idle, nullptr);

  // The host's side: automation lands in its own copy of the control ports,
  // which the audio thread writes into the plug-in's before each block; the
  // audio thread's port values go to the UI thread. Restoring the state
  // waits for the block in progress.
  std::mutex hostLock;
  float automated[lv2ports::kPortCount] = {};
  float shown[lv2ports::kPortCount] = {};
  std::mutex runLock;
  RunBesideTheEditor(
      [&](int) {
        std::lock_guard<std::mutex> running(runLock);
        {
          std::lock_guard<std::mutex> guard(hostLock);
          for (int p : kAutomated) ports[lv2ports::kFirstParamPort + p] = automated[lv2ports::kFirstParamPort + p];
        }
        dsp->run(instance, kBlockFrames);
        std::lock_guard<std::mutex> guard(hostLock);
        std::copy(ports, ports + lv2ports::kPortCount, shown);
      },
      [&](int i) {
        std::lock_guard<std::mutex> guard(hostLock);
        automated[lv2ports::kFirstParamPort + kAutomated[i % 5]] = static_cast<float>(i % 9);
      },
      [&](int) {
        std::vector<uint8_t> blob;
        auto store = [](LV2_State_Handle handle, uint32_t, const void* value, size_t size, uint32_t,
                        uint32_t) -> LV2_State_Status {
          auto* bytes = static_cast<std::vector<uint8_t>*>(handle);
          bytes->assign(static_cast<const uint8_t*>(value), static_cast<const uint8_t*>(value) + size);
          return LV2_STATE_SUCCESS;
        };
        ASSERT_EQ(state->save(instance, store, &blob, 0, nullptr), LV2_STATE_SUCCESS);
        ASSERT_FALSE(blob.empty());
        static std::vector<uint8_t>* restoring;
        static uint32_t chunkType;
        restoring = &blob;
        chunkType = urids.Map(LV2_ATOM__Chunk);
        auto retrieve = [](LV2_State_Handle, uint32_t, size_t* size, uint32_t* type,
                           uint32_t* flags) -> const void* {
          *size = restoring->size();
          *type = chunkType;
          *flags = LV2_STATE_IS_POD | LV2_STATE_IS_PORTABLE;
          return restoring->data();
        };
        std::lock_guard<std::mutex> running(runLock);
        state->restore(instance, retrieve, nullptr, 0, nullptr);
      },
      [&] {
        float uiPorts[lv2ports::kPortCount];
        {
          std::lock_guard<std::mutex> guard(hostLock);
          std::copy(shown, shown + lv2ports::kPortCount, uiPorts);
        }
        for (uint32_t p = lv2ports::kFirstParamPort; p < lv2ports::kPortCount; ++p)
          ui->port_event(uiHandle, p, sizeof(float), 0, &uiPorts[p]);
        idle->idle(uiHandle);
        inlineDisplay->render(instance, 64, 64);
      });
  ExpectEditorAt2x(parent);
  ui->cleanup(uiHandle);
  dsp->deactivate(instance);
  dsp->cleanup(instance);
  x_.Destroy(parent);
  dlclose(uiModule);
  dlclose(module);
}

}  // namespace

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  ::testing::AddGlobalTestEnvironment(new VirtualDisplay);
  return RUN_ALL_TESTS();
}
