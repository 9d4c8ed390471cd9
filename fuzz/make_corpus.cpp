// Writes the fuzz seed corpora from our own encoder: several random records of every
// message, with groups of several sizes, each framed as its target reads input; for the
// stream target also pieces of the sample stream, cut anywhere, under several chunkings.
//   fuzz_make_corpus OUTDIR [SAMPLE]  seeds into OUTDIR/<target>
//   fuzz_make_corpus --dict FILE      the libFuzzer dictionary of message numbers

#include "codec_targets.h"
#include "stream_target.h"
#include "../tests/support/random_record.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <set>
#include <string>

namespace fs = std::filesystem;
using nuvrixfuzz::Bytes;

namespace {

constexpr int kGroupSizes[] = {0, 1, 2, 3, 4, 6, 9, 14};
constexpr int kRecordsPerSize = 2;

bool writeFile(const fs::path& path, const Bytes& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

// Only the message itself enabled, so seeds also reach the enable check with a real set.
Bytes decodeInputOnlyEnabled(int enumerator, const Bytes& frame)
{
    uint8_t prefix[nuvrixfuzz::kEnablePrefix] = {};
    Kvt::Nuvrix::layout::setEnabled(prefix, enumerator, true);
    return nuvrixfuzz::decodeInput(prefix, frame);
}

Bytes decodeSeed(int variant, int enumerator, const Bytes& frame)
{
    switch (variant % 3) {
    case 0: return nuvrixfuzz::decodeInputAllEnabled(frame);
    case 1: return nuvrixfuzz::decodeInputWithoutContext(frame);
    default: return decodeInputOnlyEnabled(enumerator, frame);
    }
}

// Buffers that fit exactly, with slack, and one byte short.
Bytes reencodeSeed(int variant, const Bytes& frame)
{
    const size_t n = frame.size();
    const size_t capacity = variant % 3 == 0 ? n : variant % 3 == 1 ? n + nuvrixfuzz::kBufferSlack : n - 1;
    return nuvrixfuzz::reencodeInput(nuvrixfuzz::selectorFor(n, capacity), frame);
}

// Chunkings and modes the stream seeds cycle through: one chunk, single bytes, uneven
// chunks, a new stream after every chunk, reading inside the notification, half the
// messages switched off, reads past the values.
struct StreamHeader {
    uint8_t flags;
    std::vector<uint8_t> chunkSizes;
    bool halfEnabled;
};

const std::vector<StreamHeader>& streamHeaders()
{
    static const std::vector<StreamHeader> headers = {
        {0, {}, false},
        {0, {1}, false},
        {0, {200, 17, 0}, false},
        {nuvrixfuzz::kFlagEndEveryChunk, {64}, false},
        {nuvrixfuzz::kFlagReadInsideNotification, {37, 250}, false},
        {0, {0}, true},
        {nuvrixfuzz::kFlagTryMisuse, {5, 0}, false},
    };
    return headers;
}

Bytes streamSeed(size_t variant, const Bytes& stream)
{
    const StreamHeader& h = streamHeaders()[variant % streamHeaders().size()];
    uint8_t halfSet[nuvrixfuzz::kStreamEnableBytes];
    std::memset(halfSet, 0xAA, sizeof halfSet);
    return nuvrixfuzz::streamInput(h.flags, h.chunkSizes, stream, h.halfEnabled ? halfSet : nullptr);
}

constexpr size_t kSamplePiece = 1200;   // a few dozen frames: small inputs run and mutate faster
constexpr size_t kSampleStride = 900;   // pieces overlap and start anywhere in a frame

Bytes readFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Pieces of the sample stream, and for every message two encoded records back to back.
// The engineering view reads whole frames: the sample cut at frame boundaries into pieces
// that each begin with the sample's first frames (station, date), so that epochs get dated.
int writeViewSeeds(const fs::path& dir, const fs::path& sample)
{
    fs::create_directories(dir);
    const Bytes whole = sample.empty() ? Bytes() : readFile(sample);
    std::vector<Bytes> frames;
    for (size_t at = 0; at + 6 <= whole.size();) {
        const size_t length = size_t(whole[at + 1] & 0x03) << 8 | whole[at + 2];
        frames.emplace_back(whole.begin() + long(at), whole.begin() + long(std::min(whole.size(), at + length + 6)));
        at += length + 6;
    }
    constexpr size_t kHead = 5;  // 1006, 1033, 1013, 1230, 1029
    int written = 0;
    Bytes seed;
    for (size_t i = kHead; i < frames.size(); ++i) {
        if (seed.empty())
            for (size_t h = 0; h < kHead && h < frames.size(); ++h)
                seed.insert(seed.end(), frames[h].begin(), frames[h].end());
        seed.insert(seed.end(), frames[i].begin(), frames[i].end());
        if (seed.size() > 3000 || i + 1 == frames.size()) {
            if (!writeFile(dir / ("sample_" + std::to_string(written)), seed))
                return -1;
            ++written;
            seed.clear();
        }
    }
    return written;
}

int writeStreamSeeds(const fs::path& dir, const fs::path& sample)
{
    fs::create_directories(dir);
    int written = 0;
    size_t variant = 0;
    const Bytes whole = sample.empty() ? Bytes() : readFile(sample);
    if (!sample.empty() && whole.empty()) {
        std::fprintf(stderr, "cannot read the sample stream %s\n", sample.c_str());
        return -1;
    }
    for (size_t at = 0; at < whole.size(); at += kSampleStride, ++variant) {
        const Bytes piece(whole.begin() + long(at), whole.begin() + long(std::min(whole.size(), at + kSamplePiece)));
        if (!writeFile(dir / ("sample_" + std::to_string(at)), streamSeed(variant, piece)))
            return -1;
        ++written;
    }
    for (const int e : randomrecord::messageEnumerators()) {
        std::mt19937_64 rng(static_cast<uint64_t>(e));
        Bytes stream;
        for (const int groupSize : {0, 3}) {
            const randomrecord::Encoded encoded = randomrecord::randomFrame(e, rng, groupSize);
            stream.insert(stream.end(), encoded.frame.begin(), encoded.frame.end());
        }
        if (stream.empty())
            continue;
        const std::string name = std::string("frames_") + Kvt::Nuvrix::RTCM3_message_enum_to_string(e);
        if (!writeFile(dir / name, streamSeed(variant++, stream)))
            return -1;
        ++written;
    }
    return written;
}

int writeCorpora(const fs::path& out, const fs::path& sample)
{
    const fs::path decodeDir = out / "fuzz_codec_decode";
    const fs::path reencodeDir = out / "fuzz_codec_reencode";
    fs::create_directories(decodeDir);
    fs::create_directories(reencodeDir);
    int written = 0;
    for (const int e : randomrecord::messageEnumerators()) {
        std::mt19937_64 rng(static_cast<uint64_t>(e));
        int variant = 0;
        for (const int groupSize : kGroupSizes) {
            for (int r = 0; r < kRecordsPerSize; ++r, ++variant) {
                const randomrecord::Encoded encoded = randomrecord::randomFrame(e, rng, groupSize);
                if (encoded.bits <= 0)
                    continue;  // too many elements for one frame
                const std::string name = std::string(Kvt::Nuvrix::RTCM3_message_enum_to_string(e)) + "_"
                    + std::to_string(groupSize) + "_" + std::to_string(r);
                if (!writeFile(decodeDir / name, decodeSeed(variant, e, encoded.frame))
                    || !writeFile(reencodeDir / name, reencodeSeed(variant, encoded.frame))) {
                    std::fprintf(stderr, "cannot write seeds into %s\n", out.c_str());
                    return 1;
                }
                ++written;
            }
        }
    }
    const int streamSeeds = writeStreamSeeds(out / "fuzz_stream", sample);
    if (streamSeeds <= 0 || writeViewSeeds(out / "fuzz_view", sample) < 0) {
        std::fprintf(stderr, "cannot write the stream seeds into %s\n", out.c_str());
        return 1;
    }
    std::printf("%d seeds per codec target, %d stream seeds in %s\n", written, streamSeeds, out.c_str());
    return written > 0 ? 0 : 1;
}

std::string hexByte(unsigned b)
{
    char text[5];
    std::snprintf(text, sizeof text, "\\x%02X", b & 0xFF);
    return text;
}

// Message numbers as they stand at bit 24 of a frame, and the sub-types at bit 36 of the
// numbers that carry one.
int writeDictionary(const fs::path& file)
{
    std::ofstream out(file, std::ios::trunc);
    out << "# RTCM 3 frames: the preamble, then every message number as it stands at bit 24\n"
           "# (number >> 4, (number & 0xF) << 4), and number plus sub-type where one selects the record.\n"
        << "preamble=\"" << hexByte(Kvt::Nuvrix::layout::kPreamble) << "\"\n";
    std::set<uint16_t> numbers;
    for (const int e : randomrecord::messageEnumerators()) {
        const Kvt::Nuvrix::layout::RecordLayout& l = *Kvt::Nuvrix::RTCM3_layout(e);
        const unsigned n = l.messageNumber;
        if (numbers.insert(l.messageNumber).second)
            out << "msg_" << n << "=\"" << hexByte(n >> 4) << hexByte((n & 0xF) << 4) << "\"\n";
        if (l.subtype >= 0) {
            const unsigned s = static_cast<unsigned>(l.subtype);
            out << "msg_" << n << "_" << s << "=\"" << hexByte(n >> 4) << hexByte(((n & 0xF) << 4) | (s >> 8))
                << hexByte(s) << "\"\n";
        }
    }
    return out ? 0 : 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--dict")
        return writeDictionary(argv[2]);
    if (argc == 2 || argc == 3)
        return writeCorpora(argv[1], argc == 3 ? argv[2] : "");
    std::fprintf(stderr, "usage: %s OUTDIR [SAMPLE] | --dict FILE\n", argv[0]);
    return 2;
}
