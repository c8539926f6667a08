#pragma once

#include "client_commands.h"

#include <QHostAddress>
#include <QObject>
#include <QPointer>

class QTcpServer;
class QTcpSocket;

// Forwards value lines to one TCP client. The client may end the connection
// with the line "!exit\n"; everything else it sends is read and dropped.
//
// Nothing here blocks the GUI thread: lines are queued on the socket and
// leave as the client takes them. A client that stops reading is dropped
// once more than maxBacklog bytes wait for it; a newer client replaces the
// current one. Every socket given up is detached from the server first, so
// it can never reach the server's slots again.
//
// listen() while a client is connected drops that client (clientConnected(false)): it belongs to the old address and port.
class Server : public QObject
{
    Q_OBJECT
public:
    // Unsent bytes a client may have waiting before it is dropped.
    static constexpr qint64 maxBacklog = 64 * 1024;

    explicit Server(QObject *parent = nullptr);
    ~Server() override;

    // Listens on address and port, closing any earlier listening socket first
    // so that an edited address or port takes effect. Drops the current client
    // and clears connected whatever the result. Returns whether listening works.
    bool listen(const QHostAddress &address, quint16 port);

    // Stops listening and drops the current client, if any.
    void stop();

    bool isListening() const;
    // The port listened on (the chosen one when listening on port 0); 0 when idle.
    quint16 serverPort() const;

    // True while the current client is served; lines are sent only then.
    bool isConnected() const { return connected; }

    // Queues the text as Latin-1 bytes for the current client and returns at
    // once. Returns the value connected had before the call.
    bool send(const QString &text);

    // Diagnostics: bytes received from the current client so far, and bytes
    // of its unfinished line kept by the command reader.
    qint64 clientBytesRead() const { return bytesRead; }
    int pendingCommandBytes() const { return commands.pendingSize(); }

signals:
    // true when a client has been accepted, false when it has gone.
    void clientConnected(bool connect);

public slots:
    void on_newConnection();
    void on_readyRead();
    void on_disconnected();

private:
    // Detaches, aborts and releases the current client; emits
    // clientConnected(false) when there was one.
    void dropClient();
    void detach(QTcpSocket *s);

    QTcpServer *tcpServer;
    QPointer<QTcpSocket> socket;
    bool connected = false;
    ClientCommandReader commands;
    qint64 bytesRead = 0;
};
