// The extension messages on the shared captures: the IGS SSR frames of one caster give the
// values that pyrtcm documents for the same frames, and the BeiDou SSR frames of one producer
// decode only with the 8-bit IOD layout asked for. Skips without the captures.

#include "RTCM3_extension.h"
#include "RTCM3_reflect.h"
#include "../frames.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>

using namespace Kvt::Nuvrix;
namespace fs = std::filesystem;

namespace {

const fs::path kRoot(NUVRIX_SAMPLES_DIR);

// The physical value at a path such as "Satellites[0].Biases[2].Code_Bias"; NaN if the
// path names no value of the record.
double valueAt(const reflect::RecordInfo& info, const void* record, const std::string& path)
{
    std::istringstream parts(path);
    std::string part;
    const reflect::RecordInfo* at = &info;
    const auto* base = static_cast<const uint8_t*>(record);
    while (std::getline(parts, part, '.')) {
        const size_t open = part.find('[');
        const reflect::FieldInfo* f = reflect::fieldOf(*at, part.substr(0, open));
        if (!f)
            return std::nan("");
        if (open == std::string::npos)
            return reflect::physical(*f, reflect::numberAt(*f, base + f->offset, 0));
        const uint8_t* elements;
        std::memcpy(&elements, base + f->offset, sizeof(elements));
        base = elements + std::stoul(part.substr(open + 1)) * f->sub->size;
        at = f->sub;
    }
    return std::nan("");
}

// Values pyrtcm's tests document for the frames of pygpsdata-NTRIP-4076.log, in its units.
struct Documented {
    int frame;  // among the capture's frames
    const char *path;
    double value, toSi;  // in pyrtcm's unit, and that unit in ours
};

const Documented kDocumented[] = {
    {0, "IGS_Message_Subtype", 23, 1},
    {0, "Epoch_Time", 30270, 1},
    {0, "Nr_of_Satellites", 28, 1},
    {0, "Satellites[0].Satellite_ID", 2, 1},
    {0, "Satellites[0].GNSS_IOD", 68, 1},
    {0, "Satellites[0].Delta_Radial", -424.2, 1e-3},
    {0, "Satellites[0].Delta_Along_Track", 926.4, 1e-3},
    {0, "Satellites[0].Dot_Delta_Radial", -0.125, 1e-3},
    {0, "Satellites[0].Delta_Clock_C0", -177.5, 1e-3},
    {0, "Satellites[27].Delta_Along_Track", 2084.8, 1e-3},
    {1, "Satellites[0].Dot_Delta_Cross_Track", 0.864, 1e-3},
    {3, "Satellites[0].Delta_Clock_C0", -13392.5, 1e-3},
    {4, "Layers[0].Layer_Height", 450, 1e3},
    {4, "Layers[0].Cosine_Coefficients[7].Coefficient", 0.955, 1},
    {5, "Epoch_Time", 311120, 1},
    {5, "Satellites[0].Biases[2].Signal_and_Tracking_Mode_Indicator", 16, 1},
    {5, "Satellites[0].Biases[2].Code_Bias", 0.59, 1},
    {10, "Satellites[0].Biases[3].Code_Bias", 3.91, 1},
};

} // namespace

TEST(ExtensionCaptures, IgsSsrFramesGiveTheValuesPyrtcmDocuments)
{
    const fs::path file = kRoot / "pyrtcm" / "pygpsdata-NTRIP-4076.log";
    if (!fs::exists(file))
        GTEST_SKIP() << "no capture " << file;
    const auto frames = testframes::validFrames(testframes::readFile(file.string()));
    ASSERT_EQ(frames.size(), 11u);
    for (const Documented& d : kDocumented) {
        SCOPED_TRACE(std::to_string(d.frame) + " " + d.path);
        const auto& frame = frames[size_t(d.frame)];
        _RTCM3_message_t record;
        ASSERT_EQ(RTCM3_decode_extended(nullptr, nullptr, frame.data(), uint16_t(frame.size()), &record),
                  int32_t(frame.size() * 8));
        const reflect::RecordInfo* info = reflect::recordInfo(record.header.kvtcg_message);
        ASSERT_NE(info, nullptr);
        EXPECT_NEAR(valueAt(*info, &record, d.path), d.value * d.toSi, 1e-9 * std::abs(d.value * d.toSi) + 1e-12);
        RTCM3_free_any_children(&record);
    }
}

TEST(ExtensionCaptures, BeidouSsrWithAnEightBitIodDecodesOnlyWhenAskedFor)
{
    const fs::path file = kRoot / "gnss-converters" / "bds-clk.rtcm";
    if (!fs::exists(file))
        GTEST_SKIP() << "no capture " << file;
    struct Row { bool iod8; int exact, failed; };  // 1261 frames read to their end, refused
    for (const Row row : {Row{false, 0, 120}, Row{true, 120, 0}}) {
        SCOPED_TRACE(row.iod8 ? "asked for" : "by default");
        const RTCM3_ext_context_s extension{row.iod8};
        int exact = 0, failed = 0;
        for (const auto& frame : testframes::validFrames(testframes::readFile(file.string()))) {
            if (((frame[3] << 4) | (frame[4] >> 4)) != 1261)
                continue;
            _RTCM3_message_t record;
            const int32_t r = RTCM3_decode_extended(nullptr, &extension, frame.data(), uint16_t(frame.size()), &record);
            exact += r == int32_t(frame.size() * 8);
            failed += r < 0;
            RTCM3_free_any_children(&record);
        }
        EXPECT_EQ(exact, row.exact);
        EXPECT_EQ(failed, row.failed);
    }
}
