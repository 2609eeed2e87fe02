// IEffectVST3View: the IPlugView through which a VST3 host embeds the editor.
//
// Made by IEffectVST3::createView("editor"); it holds a reference to its
// instance for as long as it lives and is listed in the instance's view list.
// The host then, on its user-interface thread: setFrame(frame), getSize
// (the editor's full size, also before attaching), attached(parent, type)
// which opens the editor window as a child of the host's window ("HWND" on
// Windows; "X11EmbedWindowID" on Linux, where the editor is also registered
// with the host's IRunLoop from the frame), any number of onSize calls,
// removed() which closes it, and finally releases the view. attached/removed
// may repeat on the same view.
//
// Size: the editor scales from 75 % to 300 % of its design size with its
// aspect ratio. The host resizes it (canResize, checkSizeConstraint, onSize)
// or gives its content scale (IPlugViewContentScaleSupport); either is the
// editor's chosen scale from then on, kept while the instance lives and not
// part of the plug-in's state. A scale the host gives is answered with a
// resize request on the editor's next redraw tick, not from inside the call.
#pragma once

#include "pluginterfaces/gui/iplugviewcontentscalesupport.h"
#include "public.sdk/source/common/pluginview.h"

class IEffectVST3;
class X11RunLoopLink;

class IEffectVST3View : public Steinberg::CPluginView,
                        public Steinberg::IPlugViewContentScaleSupport {
 public:
  explicit IEffectVST3View(IEffectVST3* plug);
  ~IEffectVST3View() override;

  Steinberg::tresult PLUGIN_API isPlatformTypeSupported(Steinberg::FIDString type) SMTG_OVERRIDE;
  Steinberg::tresult PLUGIN_API attached(void* parent, Steinberg::FIDString type) SMTG_OVERRIDE;
  Steinberg::tresult PLUGIN_API removed() SMTG_OVERRIDE;
  Steinberg::tresult PLUGIN_API getSize(Steinberg::ViewRect* size) SMTG_OVERRIDE;
  Steinberg::tresult PLUGIN_API onSize(Steinberg::ViewRect* newSize) SMTG_OVERRIDE;
  Steinberg::tresult PLUGIN_API setFrame(Steinberg::IPlugFrame* frame) SMTG_OVERRIDE;
  Steinberg::tresult PLUGIN_API canResize() SMTG_OVERRIDE;
  Steinberg::tresult PLUGIN_API checkSizeConstraint(Steinberg::ViewRect* rect) SMTG_OVERRIDE;
  Steinberg::tresult PLUGIN_API setContentScaleFactor(ScaleFactor factor) SMTG_OVERRIDE;

  OBJ_METHODS(IEffectVST3View, CPluginView)
  DEFINE_INTERFACES
    DEF_INTERFACE(IPlugViewContentScaleSupport)
  END_DEFINE_INTERFACES(CPluginView)
  REFCOUNT_METHODS(CPluginView)

  // Asks the host's frame to resize this view to the editor's new size.
  void RequestResize(int width, int height);
  Steinberg::IPlugFrame* Frame() const { return plugFrame; }

 private:
  bool AttachRunLoop();
  void DetachRunLoop();

  IEffectVST3* plug_;
  bool resizeExpected_ = false;
  bool windowOpen_ = false;
  X11RunLoopLink* runLoopLink_ = nullptr;  // Linux: while attached
};
