// Worked examples of the message layouts: positions, lengths, codes and derived values
// computed by hand from the layout tables.

#include "RTCM3_codec.h"
#include "frames.h"
#include "reference_decode.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using namespace Kvt::Nuvrix;
using testframes::Bytes;

namespace {

// Builds frames bit by bit: header, fields, zero pad, CRC.
class FrameBuilder {
public:
    explicit FrameBuilder(uint16_t number) { put(0xD3, 8).put(0, 6).put(0, 10).put(number, 12); }
    // Fields wider than 64 bits are zero above the value's 64 bits.
    FrameBuilder& put(uint64_t value, unsigned width)
    {
        for (unsigned i = width; i-- > 0;)
            mBits.push_back(i < 64 && ((value >> i) & 1));
        return *this;
    }
    Bytes frame() const
    {
        std::vector<bool> bits = mBits;
        while (bits.size() % 8)
            bits.push_back(false);
        const size_t length = bits.size() / 8 - 3;
        Bytes out(bits.size() / 8 + 3, 0);
        for (size_t i = 0; i < bits.size(); ++i)
            out[i / 8] |= static_cast<uint8_t>(bits[i] << (7 - i % 8));
        out[1] = static_cast<uint8_t>(length >> 8);
        out[2] = static_cast<uint8_t>(length);
        testframes::setCrc(out);
        return out;
    }

private:
    std::vector<bool> mBits;
};

int32_t decode(const Bytes& frame, _RTCM3_message_t& out, RTCM3_context_s* context = nullptr)
{
    std::vector<uint8_t> exact(frame);
    return RTCM3_decode(context, exact.data(), static_cast<uint16_t>(exact.size()), &out);
}

Bytes frame1005(uint64_t ecefX)
{
    return FrameBuilder(1005).put(2003, 12).put(0, 6).put(1, 1).put(0, 1).put(1, 1).put(0, 1)
        .put(ecefX, 38).put(1, 1).put(0, 1).put(123456789, 38).put(2, 2).put(0x3FFFFFFFFFull, 38).frame();
}

} // namespace

TEST(Decode, Complete1005ReadsSignExtendedCoordinates)
{
    const Bytes f = frame1005(uint64_t(1) << 37);
    _RTCM3_message_t m;
    EXPECT_EQ(decode(f, m), 200);
    const auto& r = m.Message_Type_1005;
    EXPECT_EQ(r.Reference_Station_ID, 2003);
    EXPECT_EQ(r.ECEF_X, -137438953472);
    EXPECT_EQ(r.ECEF_Y, 123456789);
    EXPECT_EQ(r.ECEF_Z, -1);
    EXPECT_EQ(r.Quarter_Cycle_Indicator, 2);
    EXPECT_EQ(r.Message_Length, 19);
    EXPECT_EQ(std::memcmp(r.CRC, &f[22], 3), 0);
}

TEST(Decode, Disabled1005GivesItsCode)
{
    RTCM3_context_s context;
    RTCM3_init_context(&context);
    context.enabled[2] &= static_cast<uint8_t>(~0x20);
    _RTCM3_message_t m;
    EXPECT_EQ(decode(frame1005(5), m, &context), RTCM3_ERR_MESSAGE_TYPE_1005_DISABLED);
}

TEST(Decode, UnknownNumbersAndShortFramesAreInvalid)
{
    RTCM3_context_s context;
    RTCM3_init_context(&context);
    _RTCM3_message_t m;
    EXPECT_EQ(decode(Bytes{0xD3, 0x00, 0x00, 0x47, 0xEA, 0x4B}, m, &context), RTCM3_ERR_INVALID_MESSAGE);
    EXPECT_EQ(context.unknown_message_number, 1150) << "the 12 bits at bit 24 come from the CRC";
    EXPECT_EQ(decode(Bytes{0xD3, 0x00, 0x00, 0x47}, m, &context), RTCM3_ERR_INVALID_MESSAGE);
    // 4089 is a SIGIL message only with at least 7 bytes (and sub-type 1 or 2).
    const Bytes shortSigil = {0xD3, 0x00, 0x00, 0xFF, 0x90, 0x01};
    EXPECT_EQ(decode(shortSigil, m, &context), RTCM3_ERR_INVALID_MESSAGE);
}

TEST(Decode, SigilStatusBitsAreSplit)
{
    FrameBuilder b(4089);
    b.put(1, 12).put(1000, 32).put(2200, 16).put(0xC005, 16);
    for (int i = 0; i < 3; ++i) b.put(uint64_t(-5) & 0xFFFFFFFFFFull, 40);
    b.put(0, 8);
    for (int i = 0; i < 3; ++i) b.put(7, 32);
    b.put(1, 16);
    for (int i = 0; i < 3; ++i) b.put(9, 32);
    _RTCM3_message_t m;
    const Bytes f = b.frame();
    EXPECT_EQ(decode(f, m), 472);
    const auto& s = m.SIGIL_1;
    EXPECT_EQ(s.kvtcg_message, RTCM3_SIGIL_1);
    EXPECT_EQ(s.X, -5);
    EXPECT_EQ(s.Bit_0 + 2 * s.Bit_1 + 4 * s.Bit_2 + 8 * s.Bit_14 + 16 * s.Bit_15, 1 + 4 + 8 + 16);
    EXPECT_EQ(decode(Bytes(f.begin(), f.begin() + 40), m), RTCM3_ERR_SIGIL_1_DELTAZ_EXT_BUFFER_OVERFLOW);
}

TEST(Decode, GlonassEphemerisSignMagnitudeValues)
{
    RTCM3_Message_Type_1020_s r;
    std::memset(&r, 0x55, sizeof(r));
    RTCM3_init_Message_Type_1020(&r);
    EXPECT_EQ(r.x, 0.0);
    r.x_SB = 1;
    r.x_mag = 1;
    r.dx_SB = 0;
    r.dx_mag = 3;
    Bytes buffer(64);
    ASSERT_EQ(RTCM3_encode_Message_Type_1020(buffer.data(), 64, &r), 8 * 51);
    _RTCM3_message_t m;
    ASSERT_EQ(decode(Bytes(buffer.begin(), buffer.begin() + 51), m), 8 * 51);
    EXPECT_EQ(m.Message_Type_1020.x, -0.00048828125);
    EXPECT_FLOAT_EQ(m.Message_Type_1020.dx, 3.0f / (1 << 20));
}

TEST(Decode, UraIsSplitIntoClassAndValue)
{
    RTCM3_Message_Type_1061_s r;
    RTCM3_init_Message_Type_1061(&r);
    RTCM3_SSR_URA_s* e = RTCM3_append_Message_Type_1061_URA(&r);
    e->Satellite_ID = 7;
    e->URA = 43;
    Bytes buffer(64);
    const int32_t bits = RTCM3_encode_Message_Type_1061(buffer.data(), 64, &r);
    ASSERT_GT(bits, 0);
    _RTCM3_message_t m;
    ASSERT_EQ(decode(Bytes(buffer.begin(), buffer.begin() + bits / 8), m), bits);
    EXPECT_EQ(m.Message_Type_1061.URA[0].URA_CLASS, 5);
    EXPECT_EQ(m.Message_Type_1061.URA[0].URA_VALUE, 3);
    RTCM3_free_message_children(&m);
    RTCM3_free_Message_Type_1061_children(&r);
}

TEST(Decode, MsmCountsAndTheCellLimit)
{
    // 16 satellites and 5 signals: 80 cells, 64 stored, the cell mask's capacity code.
    FrameBuilder b(1074);
    b.put(1, 12).put(2, 30).put(0, 1).put(0, 3).put(0, 7).put(0, 2).put(0, 2).put(0, 1).put(0, 3);
    b.put(0xFFFF, 64).put(0x1F, 32);
    for (int c = 0; c < 80; ++c) b.put(1, 1);
    _RTCM3_message_t m;
    EXPECT_EQ(decode(b.frame(), m), RTCM3_ERR_MESSAGE_TYPE_1074_CELL_MASK_INT_BUFFER_OVERFLOW);
    EXPECT_EQ(m.Message_Type_1074.Nsat, 16);
    EXPECT_EQ(m.Message_Type_1074.Cell_Mask_Length, 80);
    EXPECT_EQ(m.Message_Type_1074.Ncell, 64);

    // 16 x 16 = 256 cells, kept as 0: no cell is read.
    FrameBuilder c(1074);
    c.put(1, 12).put(2, 30).put(0, 1).put(0, 3).put(0, 7).put(0, 2).put(0, 2).put(0, 1).put(0, 3);
    c.put(0xFFFF, 64).put(0xFFFF, 32).put(0, 16 * 18);  // satellite data, no signal data
    const Bytes f = c.frame();
    EXPECT_EQ(decode(f, m), static_cast<int32_t>(8 * f.size()));
    EXPECT_EQ(m.Message_Type_1074.Cell_Mask_Length, 0);
    EXPECT_EQ(m.Message_Type_1074.Ncell, 0);
}

// Frames whose counts exceed a member's capacity, cut at every length: the end of the frame
// wins over the capacity for an element that is not there.
TEST(Decode, OverfullFramesCutAtEveryLength)
{
    FrameBuilder descriptor(1007);
    descriptor.put(1, 12).put(32, 8);
    for (int i = 0; i < 32; ++i) descriptor.put('a' + i % 26, 8);
    descriptor.put(0, 8);

    FrameBuilder cells(1074);
    cells.put(1, 12).put(2, 30).put(0, 1).put(0, 3).put(0, 7).put(0, 2).put(0, 2).put(0, 1).put(0, 3);
    cells.put(0xFFFF, 64).put(0x1F, 32);
    for (int c = 0; c < 80; ++c) cells.put(c % 3 != 0, 1);
    cells.put(0x5A5A5A5A, 32);

    const std::pair<int, Bytes> frames[] = {{RTCM3_MESSAGE_TYPE_1007, descriptor.frame()},
                                           {RTCM3_MESSAGE_TYPE_1074, cells.frame()}};
    for (const auto& [e, frame] : frames)
        EXPECT_EQ(referencedecode::cutMismatch(*RTCM3_layout(e), frame), "") << RTCM3_message_enum_to_string(e);
}

TEST(Encode, MsmLengthsFollowTheMasks)
{
    RTCM3_Message_Type_1074_s r;
    RTCM3_init_Message_Type_1074(&r);
    r.Satellite_Mask = 0;
    r.Signal_Mask = 0;
    Bytes buffer(1024);
    EXPECT_GT(RTCM3_encode_Message_Type_1074(buffer.data(), 1024, &r), 0);
    EXPECT_EQ(r.Message_Length, 22);

    r.Satellite_Mask = 0x3;
    r.Signal_Mask = 0x3;
    r.Nsat = 2;
    r.Nsig = 2;
    r.Cell_Mask_Length = 4;
    const uint8_t cells[4] = {1, 1, 0, 1};
    RTCM3_memcpy_Message_Type_1074_Cell_Mask(&r, cells, 4);
    r.Ncell = 3;
    EXPECT_EQ(RTCM3_encode_Message_Type_1074(buffer.data(), 1024, &r), 8 * 51);
    EXPECT_EQ(r.Message_Length, 45);

    r.Ncell = 65;  // more cells than the arrays hold
    EXPECT_EQ(RTCM3_encode_Message_Type_1074(buffer.data(), 1024, &r),
              RTCM3_ERR_MSM_SIGNAL_DATA_FINE_PSEUDORANGE_INT_BUFFER_OVERFLOW);
}

TEST(Encode, GlonassMsm7CarriesDayOfWeekAndChannelNumbers)
{
    RTCM3_Message_Type_1087_s r;
    RTCM3_init_Message_Type_1087(&r);
    r.Day_of_Week = 5;
    r.Epoch_Time = 0x7FFFFFF;
    r.Multiple_Message_Flag = 1;
    r.Satellite_Mask = 1;
    r.Signal_Mask = 1;
    r.Nsat = r.Nsig = r.Ncell = r.Cell_Mask_Length = 1;
    r.Cell_Mask[0] = 1;
    Bytes buffer(256);
    const int32_t bits = RTCM3_encode_Message_Type_1087(buffer.data(), 256, &r);
    ASSERT_GT(bits, 0);
    EXPECT_EQ((buffer[78 / 8] >> (7 - 78 % 8)) & 1, 1) << "Multiple_Message_Flag at bit 78";
    // 169 + 1 cell + 36 satellite bits + 80 cell bits = 286, 2 pad bits: 36 bytes.
    EXPECT_EQ(r.Message_Length, 36);
}

TEST(Encode, BufferSizesAroundTheFrame)
{
    RTCM3_Message_Type_1005_s r;
    RTCM3_init_Message_Type_1005(&r);
    Bytes buffer(25);
    EXPECT_EQ(RTCM3_encode_Message_Type_1005(buffer.data(), 0, &r),
              RTCM3_ERR_MESSAGE_TYPE_1005_ECEF_Z_EXT_BUFFER_OVERFLOW);
    EXPECT_EQ(RTCM3_encode_Message_Type_1005(buffer.data(), 25, &r), 200);
}

TEST(Encode, DescriptorStringsAndTheirCapacity)
{
    RTCM3_Message_Type_1007_s r;
    RTCM3_init_Message_Type_1007(&r);
    EXPECT_EQ(RTCM3_strcpy_Message_Type_1007_Antenna_Descriptor(&r, "ABC"), 0);
    EXPECT_EQ(r.N, 3);
    r.Reference_Station_ID = 1;
    r.Antenna_Setup_ID = 9;
    Bytes buffer(64);
    EXPECT_EQ(RTCM3_encode_Message_Type_1007(buffer.data(), 64, &r), 112);
    EXPECT_EQ(r.Message_Length, 8);

    const std::string forty(40, 'x');
    RTCM3_strcpy_Message_Type_1007_Antenna_Descriptor(&r, forty.c_str());
    EXPECT_EQ(r.N, 31);
    EXPECT_EQ(std::string(r.Antenna_Descriptor), std::string(31, 'x'));
    r.N = 32;
    EXPECT_EQ(RTCM3_encode_Message_Type_1007(buffer.data(), 64, &r),
              RTCM3_ERR_MESSAGE_TYPE_1007_ANTENNA_DESCRIPTOR_INT_BUFFER_OVERFLOW);
}

TEST(Encode, AnnouncementsPadAndOverflowTheirCount)
{
    RTCM3_Message_Type_1013_s r;
    std::memset(&r, 0xFF, sizeof(r));
    RTCM3_init_Message_Type_1013(&r);
    for (int i = 0; i < 3; ++i)
        RTCM3_append_Message_Type_1013_Announcements(&r)->Message_ID = static_cast<uint16_t>(1004 + i);
    EXPECT_EQ(r.Announcements[2].kvtcg_father, RTCM3_AS_KVTCG_HEADER(&r));
    Bytes buffer(256);
    EXPECT_EQ(RTCM3_encode_Message_Type_1013(buffer.data(), 256, &r), 208);
    EXPECT_EQ(r.Message_Length, 20);
    while (r.No_of_Announcements < 32)
        RTCM3_append_Message_Type_1013_Announcements(&r);
    const int32_t bits = RTCM3_encode_Message_Type_1013(buffer.data(), 256, &r);
    EXPECT_EQ(bits, 8 * (6 + (70 + 29 * 32 + 2) / 8));
    EXPECT_EQ((buffer[10] >> 2) & 0x1F, 0) << "only the low 5 bits of 32 reach the wire (bits 81 to 85)";
    EXPECT_EQ(buffer[10] & 0x80, 0x80) << "the bit before them is Seconds_of_Day's last";
    RTCM3_free_Message_Type_1013_children(&r);
}

TEST(Append, ElementsLinkTheirEmbeddedSubRecords)
{
    RTCM3_Message_Type_1004_s r;
    RTCM3_init_Message_Type_1004(&r);
    RTCM3_Extended_2_s* first = RTCM3_append_Message_Type_1004_L1_L2_Extended(&r);
    ASSERT_NE(first, nullptr);
    RTCM3_append_Message_Type_1004_L1_L2_Extended(&r);  // moves the array
    EXPECT_EQ(r.Nr_Of_Satellites, 2);
    const RTCM3_Extended_2_s& e = r.L1_L2_Extended[0];
    EXPECT_EQ(e.kvtcg_father, RTCM3_AS_KVTCG_HEADER(&r));
    EXPECT_EQ(e.Refsig_Basic.kvtcg_message, RTCM3_REFSIG_BASIC);
    EXPECT_EQ(e.Refsig_Extended.kvtcg_message, RTCM3_REFSIG_EXTENDED);
    EXPECT_EQ(e.Deltasig_Basic.kvtcg_message, RTCM3_DELTASIG_BASIC);
    EXPECT_EQ(e.Deltasig_Extended.kvtcg_message, RTCM3_DELTASIG_EXTENDED);
    EXPECT_EQ(e.Deltasig_Extended.kvtcg_father, RTCM3_AS_KVTCG_HEADER(&e)) << "re-linked after the array moved";
    Bytes buffer(128);
    // 64 + 2 x 125 = 314 payload bits, 6 pad bits: 40 bytes.
    EXPECT_EQ(RTCM3_encode_Message_Type_1004(buffer.data(), 128, &r), 8 * 46);
    EXPECT_EQ(r.Message_Length, 40);
    RTCM3_free_Message_Type_1004_children(&r);
}

TEST(Decode, TransformationFlagsAndGlonassBiases)
{
    RTCM3_Message_Type_1021_s t;
    RTCM3_init_Message_Type_1021(&t);
    t.Utilized_Transformation_Message_Indicator = 21;
    Bytes buffer(128);
    const int32_t bits = RTCM3_encode_Message_Type_1021(buffer.data(), 128, &t);
    EXPECT_EQ(t.Message_Length, 52);
    _RTCM3_message_t m;
    ASSERT_EQ(decode(Bytes(buffer.begin(), buffer.begin() + bits / 8), m), bits);
    const auto& d = m.Message_Type_1021;
    EXPECT_EQ(std::vector<int>({d.Utilized_1023, d.Utilized_1024, d.Utilized_1025, d.Utilized_1026, d.Utilized_1027}),
              std::vector<int>({1, 0, 1, 0, 1}));

    RTCM3_Message_Type_1230_s g;
    RTCM3_init_Message_Type_1230(&g);
    g.GLONASS_FDMA_Signals_Mask = 5;
    g.GLONASS_L1_P_Code_Phase_Bias = -2;
    g.GLONASS_L2_P_Code_Phase_Bias = 3;
    EXPECT_EQ(RTCM3_encode_Message_Type_1230(buffer.data(), 128, &g), 8 * 14);
    EXPECT_EQ(g.Message_Length, 8);
    EXPECT_EQ(buffer[7], 0xFF);
    EXPECT_EQ(buffer[8], 0xFE);
    g.GLONASS_FDMA_Signals_Mask = 0x18;  // above 15: no bias at all
    EXPECT_EQ(RTCM3_encode_Message_Type_1230(buffer.data(), 128, &g), 8 * 10);
}

TEST(Encode, ProprietaryNumbersAreHeaderOnly)
{
    RTCM3_Message_Type_4090_s r;
    RTCM3_init_Message_Type_4090(&r);
    Bytes buffer(8);
    EXPECT_EQ(RTCM3_encode_Message_Type_4090(buffer.data(), 8, &r), 64);
}

TEST(Encode, SsrHeadersFollowTheMessageNumber)
{
    RTCM3_Message_Type_1057_s r;
    RTCM3_init_Message_Type_1057(&r);
    Bytes buffer(64);
    EXPECT_EQ(RTCM3_encode_Message_Type_1057(buffer.data(), 64, &r), 8 * 15);
    EXPECT_EQ(r.Message_Length, 9);

    RTCM3_Message_Type_1015_s n;
    RTCM3_init_Message_Type_1015(&n);
    RTCM3_append_Message_Type_1015_Corrections(&n);
    RTCM3_append_Message_Type_1015_Corrections(&n);
    EXPECT_GT(RTCM3_encode_Message_Type_1015(buffer.data(), 64, &n), 0);
    EXPECT_EQ(n.Message_Length, 17);
    RTCM3_free_Message_Type_1015_children(&n);
}

TEST(StructuralChecks, SubRecordsWithoutAnMsmParentStopTheProcess)
{
    RTCM3_Message_Type_1074_s r;
    RTCM3_init_Message_Type_1074(&r);
    r.MSM_Satellite_Data.kvtcg_father = nullptr;
    Bytes buffer(64);
    EXPECT_EXIT(
        {
            dup2(2, 1);
            RTCM3_encode_Message_Type_1074(buffer.data(), 64, &r);
        },
        ::testing::ExitedWithCode(1), "Assertion failed 'RTCM3_AS_KVTCG_HEADER\\(p\\)->kvtcg_father != NULL'");
}
