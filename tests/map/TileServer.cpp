#include "TileServer.h"

#include <QBuffer>
#include <QHostAddress>
#include <QImage>
#include <QPainter>
#include <QRegularExpression>
#include <QTcpServer>
#include <QTcpSocket>

namespace velk::test {

namespace {
constexpr qsizetype kLongestRequest = 16 * 1024;
}

TileServer::TileServer() : m_server(new QTcpServer(this)) {
    QImage tile(256, 256, QImage::Format_RGB32);
    tile.fill(QColor::fromRgb(kTileColour));
    QPainter painter(&tile);
    painter.setPen(QColor(90, 150, 90));
    painter.drawRect(0, 0, 255, 255);
    painter.end();
    QBuffer buffer(&m_tile);
    buffer.open(QIODevice::WriteOnly);
    tile.save(&buffer, "PNG");

    connect(m_server, &QTcpServer::newConnection, this, [this] {
        while (QTcpSocket* socket = m_server->nextPendingConnection()) {
            if (++m_requests >= kLongestServe) m_server->close();
            connect(socket, &QTcpSocket::readyRead, socket, [this, socket] { serve(socket); });
            connect(socket, &QTcpSocket::disconnected, socket, &QObject::deleteLater);
        }
    });
    m_server->listen(QHostAddress::LocalHost, 0);
}

TileServer::~TileServer() { m_server->close(); }

bool TileServer::listening() const { return m_server->isListening(); }

QString TileServer::tileTemplate() const {
    return QStringLiteral("http://127.0.0.1:%1/{z}/{x}/{y}.png").arg(m_server->serverPort());
}

void TileServer::serve(QTcpSocket* socket) {
    QByteArray request = socket->property("request").toByteArray() + socket->readAll();
    if (request.size() > kLongestRequest) {
        socket->abort();
        return;
    }
    if (!request.contains("\r\n\r\n")) {
        socket->setProperty("request", request);
        return;
    }
    static const QRegularExpression tilePath(QStringLiteral("^GET /\\d+/\\d+/\\d+\\.png "));
    QByteArray response;
    if (tilePath.match(QString::fromLatin1(request)).hasMatch()) {
        ++m_served;
        response = "HTTP/1.1 200 OK\r\nContent-Type: image/png\r\nContent-Length: " +
                   QByteArray::number(m_tile.size()) +
                   "\r\nAccess-Control-Allow-Origin: *\r\nConnection: close\r\n\r\n" + m_tile;
    } else {
        response = "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
    }
    socket->write(response);
    socket->disconnectFromHost();
}

} // namespace velk::test
