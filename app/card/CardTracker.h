#pragma once
// The device card: which volume it is, and whether it is still there. Owned by the main window
// and used on the user-interface thread only. Only one card is followed at a time, the first
// one found; it stops being followed only when its own root is removed.
//
// The owner connects cardArrived (clear the three catalogue lists, ScanCatalogue(root), hand
// the lists to the list panels) and cardRemoved (clear and hand over the emptied lists; when a
// recording plays, stop it and enable the transport controls and the four title buttons), calls
// ScanDrives once at start-up, and passes each MsgDriveChange it receives to OnDeviceChange.

#include "VolumeLabel.h"
#include "WindowMessages.h"

#include <QObject>
#include <QString>

namespace velk {

enum class CardChange { None, Arrived, Removed };

class CardTracker : public QObject {
    Q_OBJECT
public:
    explicit CardTracker(LabelSources sources = {}, QObject* parent = nullptr);

    // Walks the volume mounts in table order and records the first card; emits cardArrived
    // for it. Returns whether one was found. A volume hidden under a later mount is passed by.
    bool ScanDrives();

    // Applies the recognition rule to the volume mounted at root ("/media/u/VELK-T/") and, on
    // success, records it as the card (without a signal). What root shows counts: the last
    // mount on it in the table.
    bool CheckCardVolume(const QString& root);

    // The drive-change rules. Arrival (0x100, 0x20) while no card is present: a root that
    // passes CheckCardVolume becomes the card, cardArrived is emitted. Removal (0x80, 0x40) of
    // exactly cardRoot: the card is forgotten, then cardRemoved is emitted. Everything else is
    // ignored. The result says which of the two happened.
    CardChange OnDeviceChange(std::uintptr_t eventCode, const QString& root);
    CardChange OnDeviceChange(const WindowMessage& message);

    const QString& cardRoot() const { return m_cardRoot; }
    bool cardPresent() const { return m_cardPresent; }

signals:
    void cardArrived(const QString& root);
    void cardRemoved(const QString& root);

private:
    bool checkVolume(const MountEntry& entry);

    LabelSources m_sources;
    QString m_cardRoot; // the card's mount root with its trailing "/"; empty without a card
    bool m_cardPresent = false;
};

} // namespace velk
