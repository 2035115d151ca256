#pragma once
// The frame each window of the program asks the window manager for: a
// title bar with a close box, a title bar alone (fixed or resizable), or no
// frame at all. None has a minimise or maximise box.

class QWidget;

namespace varnel::qt {

enum class Frame { TitleAndClose, TitleOnly, ResizableTitleOnly, None };

// Sets the window's flags for the frame and, on X11, writes its decoration
// hints whole before every mapping: Qt's own hints cannot say "a title bar
// without buttons", and always allow resizing.
void SetFrame(QWidget& window, Frame frame);

}  // namespace varnel::qt
