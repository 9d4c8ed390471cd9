// The whole road from received bytes to host messages: synchronizer, decoder, message
// objects and notifications, on the bundled sample stream and on the real captures; next to
// it the road of the codec alone: frames cut as views of the read buffer, then decoded.
// Both state their heap allocations per frame.

#include "HostObserver.h"
#include "RTCM3Decoder.h"
#include "RTCM3Synchronizer.h"
#include "RTCM3FrameSplitter.h"
#include "RTCM3_codec.h"
#include "RTCM3_layout.h"

#include "alloc_counter.h"

#include <benchmark/benchmark.h>

#include <QtCore/QByteArray>
#include <QtCore/QFile>

#include <filesystem>

using namespace Kvt::Nuvrix;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray sampleStream() { return readAll(QStringLiteral(NUVRIX_SAMPLE_STREAM)); }

QByteArray captures()
{
    QByteArray all;
    const std::filesystem::path root(NUVRIX_SAMPLES_DIR);
    if (!std::filesystem::exists(root))
        return all;
    for (const auto &entry : std::filesystem::recursive_directory_iterator(root)) {
        const auto ext = entry.path().extension().string();
        if (entry.is_regular_file() && ext != ".md" && ext != ".txt" && ext != ".chk" && ext != ".dcd")
            all += readAll(QString::fromStdString(entry.path().string()));
    }
    return all;
}

class Counter : public HostObserver
{
public:
    void message(const MessageSource *, const Message *) override { ++messages; }
    long messages = 0;
};

// Bytes in chunks of 4 KiB, as a host reading a file or socket would hand them over.
void wholePath(benchmark::State &state, const QByteArray &stream)
{
    if (stream.isEmpty()) {
        state.SkipWithError("no input");
        return;
    }
    Counter counter;
    RTCM3Decoder decoder;
    decoder.setObserver(&counter);
    long frames = 0;
    const long before = gAllocations;
    for (auto _ : state) {
        RTCM3Synchronizer sync;
        sync.setObserver(&counter);
        for (qsizetype at = 0; at < stream.size(); at += 4096) {
            sync.appendBytes(QByteArray::fromRawData(stream.constData() + at, qMin<qsizetype>(4096, stream.size() - at)));
            while (sync.hasBlock()) {
                const QByteArray frame = sync.getBlockBytes();
                decoder.decodeMessage(reinterpret_cast<const uint8_t *>(frame.constData()), uint(frame.size()));
                ++frames;
            }
        }
        sync.endOfStream();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * stream.size());
    state.SetItemsProcessed(frames);
    state.counters["messages/frame"] = double(counter.messages) / double(frames);
    state.counters["allocs/frame"] = double(gAllocations - before) / double(frames);
}

// The same bytes cut in place, every frame a view of them, and decoded into one record: whole,
// or as far as a summary reads (scalars, masks, strings).
void cutAndDecode(benchmark::State &state, const QByteArray &stream, bool scalars)
{
    if (stream.isEmpty()) {
        state.SkipWithError("no input");
        return;
    }
    const auto *data = reinterpret_cast<const uint8_t *>(stream.constData());
    const size_t size = size_t(stream.size());
    const layout::ArrayReuse reuse;
    _RTCM3_message_t record;
    long frames = 0;
    const long before = gAllocations;
    for (auto _ : state) {
        for (size_t at = 0; at < size;) {
            const RTCM3Cut cut = RTCM3_cut_frame(data + at, size - at, true);
            if (cut.kind == RTCM3Cut::Kind::Frame) {
                benchmark::DoNotOptimize(scalars ? RTCM3_decode_scalars(nullptr, data + at, uint16_t(cut.size), &record)
                                                 : RTCM3_decode(nullptr, data + at, uint16_t(cut.size), &record));
                RTCM3_free_message_children(&record);
                ++frames;
            }
            at += cut.size;
        }
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * stream.size());
    state.SetItemsProcessed(frames);
    state.counters["allocs/frame"] = double(gAllocations - before) / double(frames);
}

} // namespace

BENCHMARK_CAPTURE(wholePath, sample_stream, sampleStream());
BENCHMARK_CAPTURE(wholePath, real_captures, captures());
BENCHMARK_CAPTURE(cutAndDecode, sample_stream, sampleStream(), false);
BENCHMARK_CAPTURE(cutAndDecode, real_captures, captures(), false);
BENCHMARK_CAPTURE(cutAndDecode, scalars_sample_stream, sampleStream(), true);
BENCHMARK_CAPTURE(cutAndDecode, scalars_real_captures, captures(), true);

BENCHMARK_MAIN();
