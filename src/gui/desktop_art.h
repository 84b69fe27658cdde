// The window's pictures, drawn at run time: the logo (also the window and
// tray icon), the login image and the close image.
#pragma once

#include <QIcon>
#include <QPixmap>

namespace pellan::gui {

QPixmap LogoPixmap(int size);
QPixmap LoginPixmap(int size);
QPixmap ClosePixmap(int size);
QIcon ProgramIcon();

}  // namespace pellan::gui
