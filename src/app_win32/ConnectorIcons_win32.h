#pragma once

#include <windows.h>

namespace tallyport::desktop {

// The two images of the connection state: the connector in blue (connected, image 0) and the
// same connector crossed out in red (disconnected, image 1), drawn in code at 16 and 32 pixels.
// Owns its icons (owned by the window); user-interface thread only.
enum ConnectorImage { kImageConnected = 0, kImageDisconnected = 1 };

class ConnectorIcons {
public:
    ConnectorIcons();
    ~ConnectorIcons();
    ConnectorIcons(const ConnectorIcons&) = delete;
    ConnectorIcons& operator=(const ConnectorIcons&) = delete;

    HICON Small(ConnectorImage image) const { return small_[image]; }
    HICON Large(ConnectorImage image) const { return large_[image]; }

private:
    HICON small_[2];
    HICON large_[2];
};

}  // namespace tallyport::desktop
