// EditorLink: what the plug-in base needs of its editor.
//
// The base owns the editor object but must not depend on the graphics
// library, so the editor (IGraphics) implements this small interface. All
// calls come from the plug-in side inside the plug-in lock; they only store
// values and set redraw flags, so they are safe from the audio thread.
#pragma once

class IEditorLink {
 public:
  virtual ~IEditorLink() = default;

  // Hands a parameter's value to every control bound to it, and to the first
  // auxiliary binding on it of each control that has such bindings. A plain
  // value is first converted to its normalised form.
  virtual void ShowParameterValue(int paramIndex, double value, bool isNormalized) = 0;

  // Number of controls, and a direct value for one of them (the meter).
  virtual int ControlCount() const = 0;
  virtual void SetControlValue(int controlIndex, double normalized) = 0;

  // Creates the back buffer the editor composes into; called once on attach.
  virtual void CreateBackBuffer() = 0;

  // Editor size in pixels, reported to hosts.
  virtual int Width() const = 0;
  virtual int Height() const = 0;

  // Opens the editor window as a child of the host's native window (an HWND
  // on Windows); false when it cannot. Called on the user-interface thread.
  virtual bool OpenWindow(void* parentWindow) = 0;
  virtual void CloseWindow() = 0;
};
