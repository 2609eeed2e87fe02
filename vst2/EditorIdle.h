// The VST2 editor's idle entry: on Linux the editor has no event loop of its
// own, so the host's effEditIdle calls (on its user-interface thread) handle
// the editor's X events and run its redraw ticks. Windows runs the editor
// from its own window messages and needs nothing here.
#pragma once

class IEditorLink;

void IdleEditorWindow(IEditorLink* editor);
