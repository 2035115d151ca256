#pragma once
// The program's artwork, drawn as vectors so that it is sharp at any scale
// (an icon is drawn anew for the size and pixel ratio asked for): the
// application icon, the file list's type icons, the warning picture and the
// message boxes' pictures.

#include <QIcon>
#include <QPixmap>

namespace varnel::qt {

QIcon AppIcon();
// The message boxes' pictures.
enum class MessageArt { Error, Warning, Question, Information };
QIcon MessageIcon(MessageArt art);
// The menu bar's button for the entries it has no room for.
QIcon ExtensionIcon();
// The 16-pixel icon of a file-list entry type (0 PDA file ... 4 Primary and
// Station image).
QIcon TypeIcon(int type);
// The warning dialog's picture, `size` pixels square at this pixel ratio.
QPixmap WarningPicture(int size, qreal devicePixelRatio);

// Draws the application icon into a square of `size` pixels.
QImage RenderAppIcon(int size);

}  // namespace varnel::qt
