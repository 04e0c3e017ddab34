#pragma once

#include <QString>

class QWidget;

namespace velk {

// Asks the user for a folder ("Select Directory"), starting at the desktop, with an edit box
// for typing a path. Returns the chosen folder's path, or an empty string when the user cancels
// or the choice is not a folder of the file system. Modal to owner; user-interface thread.
QString SelectFolder(QWidget* owner);

} // namespace velk
