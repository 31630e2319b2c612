#pragma once

#include <QIcon>
#include <QPixmap>

namespace tallyport {

// The image list of the tray icon and the connect button.
enum ConnectorImageIndex : int {
    kImageConnected = 0,     // a connector drawn in blue
    kImageDisconnected = 1,  // the same connector crossed out in red
};

// One image of the list, drawn at `size` pixels square (16 is the list's size).
QPixmap ConnectorImage(int index, int size = 16);
// The image at the sizes a tray and a button ask for.
QIcon ConnectorIcon(int index);

}  // namespace tallyport
