#include "client_commands.h"

#include <cstring>

namespace {
constexpr char kExitLine[] = "!exit"; // without its "\n"
constexpr qsizetype kExitLength = sizeof(kExitLine) - 1;
} // namespace

bool ClientCommandReader::feed(const char *data, qsizetype size)
{
    if (exitRequested_)
        return true;

    qsizetype pos = 0;
    while (pos < size) {
        const void *found = std::memchr(data + pos, '\n', size_t(size - pos));
        if (!found) {
            // An unfinished line: keep it unless it has grown too long.
            const qsizetype rest = size - pos;
            if (!skipping_) {
                if (pending_.size() + rest > maxLineLength) {
                    pending_.clear();
                    pending_.squeeze();
                    skipping_ = true;
                } else {
                    pending_.append(data + pos, int(rest));
                }
            }
            return false;
        }

        const qsizetype lineEnd = static_cast<const char *>(found) - data;
        const qsizetype segment = lineEnd - pos;
        if (skipping_) {
            // The "\n" that ends an overlong line: the line is gone, read on.
            skipping_ = false;
        } else if (pending_.size() + segment == kExitLength) {
            // Only a line of exactly the command's length can be the command;
            // longer ones are never copied into pending_.
            char line[kExitLength];
            std::memcpy(line, pending_.constData(), size_t(pending_.size()));
            std::memcpy(line + pending_.size(), data + pos, size_t(segment));
            if (std::memcmp(line, kExitLine, size_t(kExitLength)) == 0) {
                pending_.clear();
                exitRequested_ = true;
                return true;
            }
        }
        pending_.clear();
        pos = lineEnd + 1;
    }
    return false;
}

void ClientCommandReader::reset()
{
    pending_.clear();
    pending_.squeeze();
    skipping_ = false;
    exitRequested_ = false;
}
