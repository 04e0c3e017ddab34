#pragma once
// A map tile server on 127.0.0.1 for the page tests: every /Z/X/Y.png is a generated 256x256
// PNG, light green with a darker border, so a screenshot can tell tiles from the panel's ground.
// It answers on the thread that owns it, while that thread runs its event loop, and stops by
// itself after a bounded number of requests.

#include <QByteArray>
#include <QColor>
#include <QObject>
#include <QString>

class QTcpServer;
class QTcpSocket;

namespace velk::test {

class TileServer : public QObject {
public:
    static constexpr int kLongestServe = 4000; // requests before it stops listening
    static constexpr QRgb kTileColour = 0xffb4e6b4;

    TileServer();
    ~TileServer() override;

    bool listening() const;
    // "http://127.0.0.1:PORT/{z}/{x}/{y}.png"
    QString tileTemplate() const;
    int tilesServed() const { return m_served; }

private:
    void serve(QTcpSocket* socket);

    QTcpServer* m_server;
    QByteArray m_tile;
    int m_requests = 0;
    int m_served = 0;
};

} // namespace velk::test
