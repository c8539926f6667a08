#include "frame_synchronizer.h"

PacketCounters FrameSynchronizer::counters(FrameKind kind) const
{
    const int index = counterIndex(kind);
    return index >= 0 ? packetCounters[index] : PacketCounters{};
}
