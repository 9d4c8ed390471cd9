// Reading field values and their texts through the field descriptions: the five misuse texts,
// do-not-use values, symbolic texts, hexadecimal bytes, scaled and computed values, units on
// both sides and text fields (presence in MSM blocks is in the message tests).

#include "description_support.h"

#include "NuvrixEvent.h"

#include <functional>

namespace {

using namespace descriptions;
using namespace Kvt::Nuvrix;

// Records of several kinds with values in the fields the cases read.
class FieldValues : public HostObjects
{
protected:
    FieldValues()
    {
        RTCM3_init_Message_Type_1230(&mBias);
        mBias.GLONASS_FDMA_Signals_Mask = 1;   // L2 P only
        mBias.GLONASS_L2_P_Code_Phase_Bias = 7;
        RTCM3_init_Message_Type_1013(&mParameters);
        mParameters.Leap_Seconds = 255;
        RTCM3_init_Message_Type_1019(&mGps);
        mGps.C_rs = -33;   // -33 * 2^-5 m
        mGps.t_oc = 3;     // 3 * 16 s
        mGps.Week_Number = 2100;
        RTCM3_init_SIGIL_1(&mSigil);
        mSigil.TOW = 1500;
        mSigil.DTOW = 1500;
        RTCM3_init_Message_Type_1020(&mGlonass);
        mGlonass.x = -0.00048828125;   // x_SB 1, x_mag 1: -2^-11 km
        mGlonass.dx = 0.5f;
        RTCM3_init_Message_Type_1008(&mAntenna);
        std::memcpy(mAntenna.Antenna_Descriptor, "ABC\0\0\0\0\0XYZ", 12);
        mAntenna.N = 8;
        RTCM3_init_Message_Type_1029(&mText);
        RTCM3_init_Message_Type_1074(&mMsm);
    }

    // The text of the type 6 event that reading throws; fails when it throws nothing else.
    static QString misuseText(const std::function<void()> &read)
    {
        try {
            read();
        } catch (const NuvrixEvent &event) {
            EXPECT_EQ(event.getType(), NuvrixEvent::InvalidFieldAccess);
            EXPECT_EQ(event.getFormatInfo(), RTCM3_FormatInfo::getInstance());
            return event.getText();
        }
        ADD_FAILURE() << "nothing thrown";
        return QString();
    }

    // Message objects touch their descriptions: the format description comes first.
    const RTCM3_FormatInfo *mFormat = RTCM3_FormatInfo::getInstance();
    RTCM3_Message_Type_1005_s mStationRecord = stationRecord();
    RTCM3_Message_Type_1230_s mBias{};
    RTCM3_Message_Type_1013_s mParameters{};
    RTCM3_Message_Type_1019_s mGps{};
    RTCM3_SIGIL_1_s mSigil{};
    RTCM3_Message_Type_1020_s mGlonass{};
    RTCM3_Message_Type_1008_s mAntenna{};
    RTCM3_Message_Type_1029_s mText{};
    RTCM3_Message_Type_1074_s mMsm{};
    const RTCM3_Message_Type_1005_Message mStation{&mStationRecord, false};
    const RTCM3_Message_Type_1230_Message mBiases{&mBias, false};
    const RTCM3_Message_Type_1013_Message mSystem{&mParameters, false};
    const RTCM3_Message_Type_1019_Message mEphemeris{&mGps, false};
    const RTCM3_SIGIL_1_Message mPosition{&mSigil, false};
    const RTCM3_Message_Type_1020_Message mGlonassEphemeris{&mGlonass, false};
    const RTCM3_Message_Type_1008_Message mDescriptor{&mAntenna, false};
    const RTCM3_Message_Type_1029_Message mEmptyText{&mText, false};
    const RTCM3_Message_Type_1074_Message mObservations{&mMsm, false};
};

TEST_F(FieldValues, MisuseIsRefusedWithTheTextThatNamesIt)
{
    const auto *ecefX = RTCM3_Message_Type_1005_ECEF_X_FieldInfo::getInstance();
    const auto *bias = RTCM3_Message_Type_1230_GLONASS_L1_C_A_Code_Phase_Bias_FieldInfo::getInstance();
    const auto *units = RTCM3_Message_Type_1029_UTF_8_Character_Code_Units_FieldInfo::getInstance();
    const auto *crc = RTCM3_Message_Type_1005_CRC_FieldInfo::getInstance();
    const auto *descriptor = RTCM3_Message_Type_1008_Antenna_Descriptor_FieldInfo::getInstance();
    const QString otherKind = QStringLiteral(
        "Requesting value for a field Message Type 1005::ECEF_X that is not present in the given "
        "kind of message.");
    struct Case { std::function<void()> read; QString text; };
    const Case cases[] = {
        {[&] { ecefX->getValue(&mBiases, 0); }, otherKind},
        {[&] { ecefX->getValue(nullptr, 0); }, otherKind},
        {[&] { descriptor->getValueString(&mStation); },
         QStringLiteral("Requesting value for a field Message Type 1008::Antenna_Descriptor that is not "
                        "present in the given kind of message.")},
        // An absent optional field is refused before its index is looked at.
        {[&] { bias->getValue(&mBiases, 1); },
         QStringLiteral("Requesting value for an optional field Message Type 1230::"
                        "GLONASS_L1_C_A_Code_Phase_Bias that is not present.")},
        {[&] { ecefX->getValue(&mStation, 1); },
         QStringLiteral("Requesting value for a non-repeated field Message Type 1005::ECEF_X using "
                        "non-zero index.")},
        {[&] { units->getValue(&mEmptyText, 0); },
         QStringLiteral("Requesting value for an repeated field Message Type 1029::"
                        "UTF_8_Character_Code_Units that is repeated 0 times.")},
        {[&] { crc->getValue(&mStation, 3); },
         QStringLiteral("Requesting value for an repeated field Message Type 1005::CRC with out of "
                        "range index.")},
    };
    for (const Case &c : cases)
        EXPECT_EQ(misuseText(c.read), c.text);
    // Where reading is refused the other calls answer empty.
    EXPECT_FALSE(ecefX->isPresent(&mBiases));
    EXPECT_FALSE(ecefX->getValueUnchecked(&mBiases, 0).isValid());
    EXPECT_TRUE(ecefX->getInterpretedString(&mBiases, 0, true).isEmpty());
    EXPECT_EQ(bias->getCount(&mBiases), 0u);
    EXPECT_FALSE(crc->getValueUnchecked(&mStation, 3).isValid());
}

TEST_F(FieldValues, ValuesKeepTheirKindWidthAndSign)
{
    EXPECT_EQ(RTCM3_Message_Type_1005_ECEF_X_FieldInfo::getInstance()->getValue(&mStation, 0),
              FieldValue::i(-123456789, 38));
    EXPECT_EQ(RTCM3_Message_Type_1005_CRC_FieldInfo::getInstance()->getValue(&mStation, 2), FieldValue::byte(0x01));
    EXPECT_EQ(RTCM3_Message_Type_1019_C_rs_FieldInfo::getInstance()->getValue(&mEphemeris, 0), FieldValue::i(-33, 16));
    EXPECT_EQ(RTCM3_Message_Type_1020_x_FieldInfo::getInstance()->getValue(&mGlonassEphemeris, 0),
              FieldValue::f64(-0.00048828125));
    EXPECT_EQ(RTCM3_Message_Type_1020_dx_FieldInfo::getInstance()->getValue(&mGlonassEphemeris, 0),
              FieldValue::f32(0.5f));
    const auto *descriptor = RTCM3_Message_Type_1008_Antenna_Descriptor_FieldInfo::getInstance();
    EXPECT_EQ(descriptor->getCount(&mDescriptor), 8u);
    EXPECT_EQ(descriptor->getValue(&mDescriptor, 3), FieldValue::ch('\0'));
    EXPECT_EQ(descriptor->getValueString(&mDescriptor), QStringLiteral("ABC"));   // not "ABC" + NULs + "XYZ"
}

TEST_F(FieldValues, InterpretedTextFollowsTheFieldsRules)
{
    Restore<bool> restoreSwitch(Message::useDoNotUseString);
    Message::useDoNotUseString = true;
    struct Case { const FieldInfo *field; const Message *message; bool withUnit; const char *text; };
    const Case cases[] = {
        {RTCM3_Message_Type_1005_Quarter_Cycle_Indicator_FieldInfo::getInstance(), &mStation, true, "Not Corrected"},
        {RTCM3_Message_Type_1005_GPS_Indicator_FieldInfo::getInstance(), &mStation, true, "01"},
        {RTCM3_Message_Type_1013_Leap_Seconds_FieldInfo::getInstance(), &mSystem, true, "Not Provided"},
        {RTCM3_Message_Type_1230_GLONASS_L2_P_Code_Phase_Bias_FieldInfo::getInstance(), &mBiases, true, "7"},
        {RTCM3_Message_Type_1019_C_rs_FieldInfo::getInstance(), &mEphemeris, true, "-1.031250 meter"},
        {RTCM3_Message_Type_1019_t_oc_FieldInfo::getInstance(), &mEphemeris, true, "48.000000 second"},
        {RTCM3_Message_Type_1019_Week_Number_FieldInfo::getInstance(), &mEphemeris, true, "2100 week"},
        {RTCM3_SIGIL_1_TOW_FieldInfo::getInstance(), &mPosition, true, "1.500 second"},
        {RTCM3_SIGIL_1_DTOW_FieldInfo::getInstance(), &mPosition, false, "1.500000"},
        {RTCM3_Message_Type_1020_x_FieldInfo::getInstance(), &mGlonassEphemeris, true, "-0.000488 kilometer"},
        {RTCM3_Message_Type_1020_dx_FieldInfo::getInstance(), &mGlonassEphemeris, false, "0.500000"},
        {RTCM3_Message_Type_1008_Antenna_Descriptor_FieldInfo::getInstance(), &mDescriptor, true, "A"},
        {RTCM3_Message_Type_1074_MSM_Signal_Data_FieldInfo::getInstance(), &mObservations, true, "submsg"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.field->getInterpretedString(c.message, 0, c.withUnit), QLatin1String(c.text))
            << c.field->getName().toStdString();

    // A symbolic field shows other values as numbers: bytes as two hexadecimal digits.
    mStationRecord.Quarter_Cycle_Indicator = 0x0b;
    EXPECT_EQ(RTCM3_Message_Type_1005_Quarter_Cycle_Indicator_FieldInfo::getInstance()->getInterpretedString(
                  &mStation, 0, true), QStringLiteral("0b"));
    mParameters.Leap_Seconds = 18;
    EXPECT_EQ(RTCM3_Message_Type_1013_Leap_Seconds_FieldInfo::getInstance()->getInterpretedString(
                  &mSystem, 0, true), QStringLiteral("18"));
    // The do-not-use value follows the host's switch.
    const auto *bias = RTCM3_Message_Type_1230_GLONASS_L2_P_Code_Phase_Bias_FieldInfo::getInstance();
    mBias.GLONASS_L2_P_Code_Phase_Bias = -32768;
    EXPECT_EQ(bias->getInterpretedString(&mBiases, 0, true), Message::doNotUseString);
    Message::useDoNotUseString = false;
    EXPECT_EQ(bias->getInterpretedString(&mBiases, 0, true), QString());
    // The unit leads when the host places it before the value.
    auto *week = RTCM3_Message_Type_1019_Week_Number_FieldInfo::getInstance_nonconst();
    week->setUnitPlacedAfterValue(false);
    const QString leading = week->getInterpretedString(&mEphemeris, 0, true);
    week->setUnitPlacedAfterValue(true);
    EXPECT_EQ(leading, QStringLiteral("week 2100"));
}

} // namespace
