// Throughput of the frame synchronizer over a stream with the bus's mix of
// frame kinds, a few bad and cut frames and noise between them.
#include "bus/frame_stream.h"
#include "bus/frame_synchronizer.h"

#include <benchmark/benchmark.h>

namespace {

QByteArray realisticStream()
{
    FrameStreamBuilder builder(42);
    std::mt19937 &rng = builder.random();
    QByteArray stream;
    while (stream.size() < (4 << 20)) {
        // Per second of bus time: one data frame, then the other kinds.
        for (FrameKind kind : kAllFrameKinds) {
            const bool bad = rng() % 50 == 0;
            while (!builder.addFrame(kind, builder.randomBody(kind), bad)) {
            }
            builder.addNoise(int(rng() % 8));
        }
        if (rng() % 20 == 0)
            builder.addCutFrame(FrameKind::SyncFC3E, 20);
        stream += builder.takeBytes();
    }
    return stream;
}

void BM_pushByte(benchmark::State &state)
{
    const QByteArray stream = realisticStream();
    const auto *bytes = reinterpret_cast<const std::uint8_t *>(stream.constData());
    const int size = stream.size();
    FrameSynchronizer sync;
    std::uint64_t frames = 0;
    for (auto _ : state) {
        for (int i = 0; i < size; ++i)
            if (auto frame = sync.pushByte(bytes[i]))
                frames += frame->length;
        benchmark::DoNotOptimize(frames);
    }
    state.SetBytesProcessed(std::int64_t(state.iterations()) * size);
}

} // namespace

BENCHMARK(BM_pushByte)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
