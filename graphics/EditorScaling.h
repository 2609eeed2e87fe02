// EditorScaling: what a host binding needs to resize the editor, without
// depending on the graphics library (header only; IGraphics implements it).
#pragma once

class IEditorScaling {
 public:
  virtual ~IEditorScaling() = default;
  // False where the editor cannot change its size (it then stays at 1x).
  virtual bool Scalable() const = 0;
  // The editor's layout size, at scale 1.
  virtual int DesignWidth() const = 0;
  virtual int DesignHeight() const = 0;
  // The scale at which the editor comes nearest to width x height pixels.
  virtual double ScaleForSize(int width, int height) const = 0;
  // The largest scale at which the editor fits inside width x height pixels
  // (a size in its aspect ratio, to a pixel of rounding, taken as it is),
  // within the editor's scale range: a window the host gives.
  virtual double ScaleToFit(int width, int height) const = 0;
  // A size the host or the user chose, as a scale; false when nothing changed.
  virtual bool SetChosenScale(double scale) = 0;
  // A window size the host gave and keeps, whatever the editor answers (as
  // Ardour sizes its plug-in window): the editor takes the largest scale that
  // fits inside, aspect kept, and the rest of the window is filled. Until
  // the scale changes otherwise, that window is the editor's frame.
  virtual void FitHostWindow(int width, int height) = 0;
  // The frame: the host's window from FitHostWindow where it is larger than
  // the editor, else the editor's own size. What a host is told the view's
  // size is.
  virtual int FrameWidth() const = 0;
  virtual int FrameHeight() const = 0;
  // The host's content scale (pixels per logical unit on its side); the
  // chosen size stays on top of it. False when nothing changed.
  virtual bool SetContentScale(double scale) = 0;
  // Asks the host to fit its window to the editor's size, later, from the
  // editor's own redraw tick (never from inside the host's call).
  virtual void RequestHostResize() = 0;
};
