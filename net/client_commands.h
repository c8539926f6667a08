#pragma once

#include <QByteArray>

// Reads what a forwarding client sends and recognises its one command, the
// line "!exit\n" (exactly these six bytes: case-sensitive, no carriage return).
// Every other complete line is dropped.
//
// Memory stays bounded whatever the client sends: at most maxLineLength bytes
// of an unfinished line are kept. When a line grows past that without its
// "\n", the kept part is dropped and so is the rest of that line, up to and
// including its "\n"; whatever that tail contains, it is never taken as
// "!exit". The next line is read normally again.
//
// No sockets here, so the reader can be driven by any byte stream.
class ClientCommandReader
{
public:
    static constexpr int maxLineLength = 1024;

    // Takes the next bytes from the client. Returns true once "!exit\n" has
    // arrived; bytes behind it are not looked at, and from then on the reader
    // takes nothing more and keeps answering true.
    bool feed(const char *data, qsizetype size);
    bool feed(const QByteArray &bytes) { return feed(bytes.constData(), bytes.size()); }

    bool exitRequested() const { return exitRequested_; }

    // Bytes of the current unfinished line being kept; never above maxLineLength.
    int pendingSize() const { return pending_.size(); }

    // True while the rest of an overlong line is being skipped.
    bool skippingOverlongLine() const { return skipping_; }

    // Forgets everything, ready for a new client.
    void reset();

private:
    QByteArray pending_;
    bool skipping_ = false;
    bool exitRequested_ = false;
};
