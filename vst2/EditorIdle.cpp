#include "EditorIdle.h"

#include "EditorLink.h"
#if !defined(_WIN32)
#include "X11EventPump.h"
#endif

void IdleEditorWindow(IEditorLink* editor) {
#if defined(_WIN32)
  (void)editor;
#else
  if (auto* pump = dynamic_cast<X11EventPump*>(editor)) pump->Idle();
#endif
}
