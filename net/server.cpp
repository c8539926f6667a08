#include "server.h"

#include <QTcpServer>
#include <QTcpSocket>

namespace {
// Chunk taken from the socket per read; also the most Qt buffers for it, so a
// flooding client cannot fill memory before its bytes reach the reader.
constexpr qint64 kReadChunk = 4096;
} // namespace

Server::Server(QObject *parent)
    : QObject(parent)
    , tcpServer(new QTcpServer(this))
{
    connect(tcpServer, SIGNAL(newConnection()), this, SLOT(on_newConnection()));
}

Server::~Server()
{
    // The sockets go with tcpServer; none may call back into a half-destroyed server.
    if (socket)
        detach(socket);
}

bool Server::listen(const QHostAddress &address, quint16 port)
{
    if (tcpServer->isListening())
        tcpServer->close();
    dropClient();
    connected = false;
    return tcpServer->listen(address, port);
}

void Server::stop()
{
    tcpServer->close();
    dropClient();
    connected = false;
}

bool Server::isListening() const
{
    return tcpServer->isListening();
}

quint16 Server::serverPort() const
{
    return tcpServer->isListening() ? tcpServer->serverPort() : 0;
}

bool Server::send(const QString &text)
{
    if (!connected)
        return false;
    if (!socket)
        return true;
    socket->write(text.toLatin1());
    if (socket->bytesToWrite() > maxBacklog)
        dropClient(); // the client has stopped reading
    return true;
}

void Server::on_newConnection()
{
    QTcpSocket *next = tcpServer->nextPendingConnection();
    if (!next)
        return;
    if (next->state() != QAbstractSocket::ConnectedState) {
        // Gone before it was taken: keep serving the current client.
        next->abort();
        next->deleteLater();
        return;
    }

    dropClient(); // one client at a time: the newest wins

    socket = next;
    commands.reset();
    bytesRead = 0;
    socket->setReadBufferSize(kReadChunk);
    // Without a bound the kernel queues megabytes for a client that has
    // stopped reading before the backlog bound above even starts to count.
    socket->setSocketOption(QAbstractSocket::SendBufferSizeSocketOption, int(maxBacklog));
    connect(socket, SIGNAL(disconnected()), this, SLOT(on_disconnected()));
    connect(socket, SIGNAL(readyRead()), this, SLOT(on_readyRead()));
    connected = true;
    emit clientConnected(true);
}

void Server::on_readyRead()
{
    if (!socket || sender() != socket)
        return;
    if (commands.exitRequested())
        return; // closing: whatever follows the command stays unread

    while (socket->bytesAvailable() > 0) {
        const QByteArray chunk = socket->read(kReadChunk);
        if (chunk.isEmpty())
            break;
        bytesRead += chunk.size();
        if (commands.feed(chunk)) {
            // No more lines for a client that has said goodbye, even while
            // the socket still flushes what was queued before.
            connected = false;
            socket->disconnectFromHost(); // may release the socket at once
            return;
        }
    }
}

void Server::on_disconnected()
{
    if (sender() && sender() != socket)
        return; // a socket already given up; it is detached, so this is only a guard
    if (socket) {
        QTcpSocket *gone = socket;
        socket = nullptr;
        detach(gone);
        gone->deleteLater();
    }
    connected = false;
    emit clientConnected(false);
}

void Server::dropClient()
{
    if (!socket)
        return;
    QTcpSocket *gone = socket;
    socket = nullptr;
    detach(gone);
    gone->abort();
    gone->deleteLater();
    connected = false;
    emit clientConnected(false);
}

void Server::detach(QTcpSocket *s)
{
    disconnect(s, nullptr, this, nullptr);
}
