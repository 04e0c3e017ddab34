#pragma once

#include "PanelWidget.h"

namespace velk {

class VideoHost;

// The large picture: a native video host the engine draws the main picture into, and the
// placeholder picture while no recording is shown. The main window places and sizes it for the
// normal and the full-screen layout. User-interface thread only.
class CFrontViewerDlg : public PanelWidget {
public:
    explicit CFrontViewerDlg(QWidget* parent);

    // Creates the native host and publishes it as Globals().frontVideoHost. Call once.
    void Initialise();

    // The host is mapped only while a recording is shown, so the placeholder shows otherwise.
    void SetVideoShown(bool shown);
    bool isVideoShown() const;

    // Panel and host to rect (the main window's layouts).
    void PlaceAt(const QRect& rect);

    VideoHost* videoHost() const { return m_host; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    VideoHost* m_host = nullptr;
};

} // namespace velk
