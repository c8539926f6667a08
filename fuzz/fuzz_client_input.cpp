// Arbitrary client bytes, cut into chunks, fed to a ClientCommandReader.
//
// Input layout: the low three bits of the first byte give n - 1, the number of
// chunk-size bytes that follow (1 to 8); the rest is what the client sends. The
// chunk sizes are used in turn, over and over. A size byte below 0x80 is the
// size itself (0 to 127); from 0x80 on, its low seven bits count 16-byte steps
// (0 to 2032), so that lines longer than the reader's bound also arrive in few
// pieces.
//
// What the reader must do is worked out here from the bytes alone: the command
// is the first line that is exactly "!exit" followed by "\n", wherever the
// chunk borders fall; after each chunk the kept part of the unfinished line is
// that line if it is at most maxLineLength bytes long, and nothing (skipping
// the rest of the line) once it is longer. Any difference aborts.

#define FUZZ_HARNESS_NAME "fuzz_client_input"
#include "fuzz_check.h"

#include "net/client_commands.h"

#include <QByteArray>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr size_t kNone = size_t(-1);

// Index just past the "\n" of the first line that is exactly "!exit", or kNone.
size_t exitLineEnd(const std::uint8_t *s, size_t n)
{
    size_t lineStart = 0;
    for (size_t i = 0; i < n; ++i) {
        if (s[i] != '\n')
            continue;
        if (i - lineStart == 5 && std::memcmp(s + lineStart, "!exit", 5) == 0)
            return i + 1;
        lineStart = i + 1;
    }
    return kNone;
}

enum class Feed { Pointer, ByteArray };

// Feeds stream[0, n) in chunks of the given sizes (used in turn) and checks
// the reader after every chunk.
void runPass(ClientCommandReader &reader, const std::uint8_t *stream, size_t n,
             const std::vector<size_t> &sizes, Feed how, const char *pass)
{
    const size_t exitEnd = exitLineEnd(stream, n);
    const size_t bound = size_t(ClientCommandReader::maxLineLength);
    size_t lineStart = 0; // start of the line unfinished after the chunks so far
    size_t offset = 0;
    size_t chunk = 0;
    bool done = false;
    while (!done) {
        const size_t length = std::min(sizes[chunk++ % sizes.size()], n - offset);
        done = offset + length == n;

        // Each chunk in a buffer of its own exact size, so that a read past
        // its end is caught.
        std::unique_ptr<char[]> buffer(new char[length]);
        if (length)
            std::memcpy(buffer.get(), stream + offset, length);
        const bool result = how == Feed::Pointer
                                ? reader.feed(buffer.get(), qsizetype(length))
                                : reader.feed(QByteArray(buffer.get(), int(length)));
        buffer.reset();

        for (size_t i = offset; i < offset + length; ++i)
            if (stream[i] == '\n')
                lineStart = i + 1;
        offset += length;

        const bool exitExpected = exitEnd != kNone && offset >= exitEnd;
        CHECK(result == exitExpected, "%s: feed() gave %d after %zu of %zu bytes, expected %d",
              pass, int(result), offset, n, int(exitExpected));
        CHECK(reader.exitRequested() == exitExpected, "%s: exitRequested() is %d after %zu bytes",
              pass, int(reader.exitRequested()), offset);
        CHECK(reader.pendingSize() >= 0 && size_t(reader.pendingSize()) <= bound,
              "%s: %d bytes kept, bound %zu", pass, reader.pendingSize(), bound);
        if (exitExpected)
            continue;

        const size_t unfinished = offset - lineStart;
        const bool overlong = unfinished > bound;
        CHECK(reader.skippingOverlongLine() == overlong,
              "%s: skipping is %d with an unfinished line of %zu bytes", pass,
              int(reader.skippingOverlongLine()), unfinished);
        const size_t kept = overlong ? 0 : unfinished;
        CHECK(size_t(reader.pendingSize()) == kept, "%s: %d bytes kept, expected %zu", pass,
              reader.pendingSize(), kept);
    }

    // Once the command has arrived, nothing else is taken.
    if (exitEnd != kNone) {
        CHECK(reader.feed("x\n", 2), "%s: feed() after the command gave false", pass);
        CHECK(reader.exitRequested(), "%s: the command was forgotten", pass);
    }
}

void checkReset(ClientCommandReader &reader)
{
    reader.reset();
    CHECK(reader.pendingSize() == 0, "reset() kept %d bytes", reader.pendingSize());
    CHECK(!reader.skippingOverlongLine(), "reset() left the reader skipping");
    CHECK(!reader.exitRequested(), "reset() kept the command");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    const size_t sizeBytes = (data[0] & 7u) + 1;
    if (size < 1 + sizeBytes)
        return 0;
    std::vector<size_t> sizes;
    for (size_t i = 0; i < sizeBytes; ++i) {
        const std::uint8_t b = data[1 + i];
        sizes.push_back(b < 0x80 ? b : size_t(b & 0x7F) * 16);
    }
    // All sizes 0 would never move on: such a chunk list reads one byte at a time.
    bool allEmpty = true;
    for (size_t s : sizes)
        allEmpty = allEmpty && s == 0;
    if (allEmpty)
        sizes.push_back(1);

    const std::uint8_t *stream = data + 1 + sizeBytes;
    const size_t n = size - 1 - sizeBytes;

    ClientCommandReader reader;
    checkReset(reader);
    runPass(reader, stream, n, sizes, Feed::Pointer, "chunked");

    // The same bytes in one piece, and one byte at a time, after a reset: the
    // answer must not depend on where the chunks were cut.
    checkReset(reader);
    runPass(reader, stream, n, {n}, Feed::ByteArray, "whole");
    checkReset(reader);
    runPass(reader, stream, n, {1}, Feed::Pointer, "bytewise");
    return 0;
}
