// The extension messages on the shared captures: the IGS SSR frames of one caster give the
// values that pyrtcm documents for the same frames, and the BeiDou SSR frames of one producer
// decode only with the 8-bit IOD layout asked for. Skips without the captures.

#include "RTCM3_extension.h"
#include "RTCM3RecordWriter.h"
#include "../frames.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

using namespace Kvt::Nuvrix;
namespace fs = std::filesystem;

namespace {

const fs::path kRoot(NUVRIX_SAMPLES_DIR);

// Parts of pyrtcm's documented decode of the frames of pygpsdata-NTRIP-4076.log, its
// millimetres and kilometres turned into metres by hand, as our JSON lines write them.
const struct {
    int frame;  // among the capture's frames
    const char *json;
} kDocumented[] = {
    {0, R"("IGS_Message_Subtype":23,"Epoch_Time":30270,"SSR_Update_Interval":2,"Multiple_Message_Indicator":1,)"},
    {0, R"({"Satellite_ID":2,"GNSS_IOD":68,"Delta_Radial":-0.4242,"Delta_Along_Track":0.9264,"Delta_Cross_Track":-0.0616,)"
        R"("Dot_Delta_Radial":-0.000125,"Dot_Delta_Along_Track":-0.000396,"Dot_Delta_Cross_Track":-0.000196,)"
        R"("Delta_Clock_C0":-0.1775,)"},
    {0, R"({"Satellite_ID":30,"GNSS_IOD":4,"Delta_Radial":-0.3213,"Delta_Along_Track":2.0848,)"},
    {3, R"({"Satellite_ID":6,"GNSS_IOD":160,"Delta_Radial":2.3584,"Delta_Along_Track":1.288,)"},
    {4, R"("Layers":[{"Layer_Height":450000,"Degree_Minus_One":11,"Order_Minus_One":11,)"},
    {4, R"("Cosine_Coefficients":[{"Coefficient_TECU":35.36},{"Coefficient_TECU":2.34},{"Coefficient_TECU":-12.18},)"},
    {5, R"("Epoch_Time":311120,"SSR_Update_Interval":3,"Multiple_Message_Indicator":0,"IOD_SSR":1,)"},
    {5, R"({"Satellite_ID":2,"Nr_of_Biases":4,"Biases":[{"Signal_and_Tracking_Mode_Indicator":2,"Code_Bias":-0.25},)"
        R"({"Signal_and_Tracking_Mode_Indicator":6,"Code_Bias":-0.44},{"Signal_and_Tracking_Mode_Indicator":16,"Code_Bias":0.59},)"},
    {10, R"({"Signal_and_Tracking_Mode_Indicator":3,"Code_Bias":3.91}]})"},
};

} // namespace

TEST(ExtensionCaptures, IgsSsrFramesGiveTheValuesPyrtcmDocuments)
{
    const fs::path file = kRoot / "pyrtcm" / "pygpsdata-NTRIP-4076.log";
    if (!fs::exists(file))
        GTEST_SKIP() << "no capture " << file;
    const auto frames = testframes::validFrames(testframes::readFile(file.string()));
    ASSERT_EQ(frames.size(), 11u);
    for (const auto &d : kDocumented) {
        const auto &frame = frames[size_t(d.frame)];
        _RTCM3_message_t record;
        ASSERT_EQ(RTCM3_decode_extended(nullptr, nullptr, frame.data(), uint16_t(frame.size()), &record),
                  int32_t(frame.size() * 8));
        std::string line;
        EXPECT_TRUE(reflect::appendJson(line, record));
        EXPECT_NE(line.find(d.json), std::string::npos) << "frame " << d.frame << ": " << d.json << "\nin " << line;
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
