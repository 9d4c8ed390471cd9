// Reading field values and their texts through the field descriptions: the five misuse texts,
// do-not-use values, symbolic texts, hexadecimal bytes, scaled and computed values, units on
// both sides and text fields.

#include "description_support.h"

#include "NuvrixEvent.h"

#include <functional>

namespace {

using namespace descriptions;
using namespace Kvt::Nuvrix;

class FieldValues : public HostObjects
{
protected:
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

    static RTCM3_Message_Type_1230_s biasRecord(quint8 mask)
    {
        RTCM3_Message_Type_1230_s record{};
        RTCM3_init_Message_Type_1230(&record);
        record.GLONASS_FDMA_Signals_Mask = mask;
        record.GLONASS_L1_P_Code_Phase_Bias = -5;
        record.GLONASS_L2_P_Code_Phase_Bias = 7;
        return record;
    }
};

// ---- the five misuse texts ---------------------------------------------------------------

TEST_F(FieldValues, MessageOfAnotherKindOrNoneIsRefusedByName)
{
    RTCM3_Message_Type_1006_s other{};
    RTCM3_init_Message_Type_1006(&other);
    const RTCM3_Message_Type_1006_Message wrong(&other, false);
    const auto *ecefX = RTCM3_Message_Type_1005_ECEF_X_FieldInfo::getInstance();
    const QString expected = QStringLiteral(
        "Requesting value for a field Message Type 1005::ECEF_X that is not present in the given "
        "kind of message.");
    EXPECT_EQ(misuseText([&] { ecefX->getValue(&wrong, 0); }), expected);
    EXPECT_EQ(misuseText([&] { ecefX->getValue(nullptr, 0); }), expected);
    EXPECT_FALSE(ecefX->isPresent(&wrong));
    EXPECT_EQ(ecefX->getCount(&wrong), 0u);
    EXPECT_FALSE(ecefX->getValueUnchecked(&wrong, 0).isValid());
    EXPECT_TRUE(ecefX->getInterpretedString(&wrong, 0, true).isEmpty());
}

TEST_F(FieldValues, AbsentOptionalFieldIsRefusedBeforeItsIndexIsLookedAt)
{
    auto record = biasRecord(0);
    const RTCM3_Message_Type_1230_Message message(&record, false);
    const auto *bias = RTCM3_Message_Type_1230_GLONASS_L1_C_A_Code_Phase_Bias_FieldInfo::getInstance();
    EXPECT_FALSE(bias->isPresent(&message));
    EXPECT_EQ(bias->getCount(&message), 0u);
    EXPECT_EQ(misuseText([&] { bias->getValue(&message, 1); }),
              QStringLiteral("Requesting value for an optional field Message Type 1230::"
                             "GLONASS_L1_C_A_Code_Phase_Bias that is not present."));
}

TEST_F(FieldValues, NonZeroIndexOfAPlainFieldIsRefusedEvenForTheRightMessage)
{
    auto record = stationRecord();
    const RTCM3_Message_Type_1005_Message message(&record, false);
    const auto *ecefX = RTCM3_Message_Type_1005_ECEF_X_FieldInfo::getInstance();
    EXPECT_EQ(misuseText([&] { ecefX->getValue(&message, 1); }),
              QStringLiteral("Requesting value for a non-repeated field Message Type 1005::ECEF_X "
                             "using non-zero index."));
    EXPECT_EQ(ecefX->getValue(&message, 0), FieldValue::i(-123456789, 38));
}

TEST_F(FieldValues, EmptyRepeatedFieldSaysRepeatedZeroTimesRatherThanOutOfRange)
{
    RTCM3_Message_Type_1029_s record{};
    RTCM3_init_Message_Type_1029(&record);
    const RTCM3_Message_Type_1029_Message message(&record, false);
    const auto *units = RTCM3_Message_Type_1029_UTF_8_Character_Code_Units_FieldInfo::getInstance();
    EXPECT_FALSE(units->isPresent(&message));
    EXPECT_EQ(misuseText([&] { units->getValue(&message, 0); }),
              QStringLiteral("Requesting value for an repeated field Message Type 1029::"
                             "UTF_8_Character_Code_Units that is repeated 0 times."));
}

TEST_F(FieldValues, IndexBeyondARepeatedFieldIsOutOfRange)
{
    auto record = stationRecord();
    const RTCM3_Message_Type_1005_Message message(&record, false);
    const auto *crc = RTCM3_Message_Type_1005_CRC_FieldInfo::getInstance();
    EXPECT_EQ(crc->getCount(&message), 3u);
    EXPECT_EQ(crc->getValue(&message, 2), FieldValue::byte(0x01));
    EXPECT_EQ(misuseText([&] { crc->getValue(&message, 3); }),
              QStringLiteral("Requesting value for an repeated field Message Type 1005::CRC with out "
                             "of range index."));
    EXPECT_FALSE(crc->getValueUnchecked(&message, 3).isValid());
}

// ---- interpreted texts -------------------------------------------------------------------

TEST_F(FieldValues, SymbolicByteShowsItsTextAndOtherwiseTwoHexDigits)
{
    auto record = stationRecord();
    const RTCM3_Message_Type_1005_Message message(&record, false);
    const auto *quarterCycle = RTCM3_Message_Type_1005_Quarter_Cycle_Indicator_FieldInfo::getInstance();
    EXPECT_EQ(quarterCycle->getInterpretedString(&message, 0, true), QStringLiteral("Not Corrected"));
    record.Quarter_Cycle_Indicator = 0x0b;
    EXPECT_EQ(quarterCycle->getInterpretedString(&message, 0, true), QStringLiteral("0b"));
    const auto *gps = RTCM3_Message_Type_1005_GPS_Indicator_FieldInfo::getInstance();
    EXPECT_EQ(gps->getInterpretedString(&message, 0, true), QStringLiteral("01"));
    EXPECT_EQ(gps->getValue(&message, 0), FieldValue::byte(1));
}

TEST_F(FieldValues, SymbolicIntegerWithoutTextShowsItsDecimalValue)
{
    RTCM3_Message_Type_1013_s record{};
    RTCM3_init_Message_Type_1013(&record);
    const RTCM3_Message_Type_1013_Message message(&record, false);
    const auto *leap = RTCM3_Message_Type_1013_Leap_Seconds_FieldInfo::getInstance();
    record.Leap_Seconds = 255;
    EXPECT_EQ(leap->getInterpretedString(&message, 0, true), QStringLiteral("Not Provided"));
    record.Leap_Seconds = 18;
    EXPECT_EQ(leap->getInterpretedString(&message, 0, true), QStringLiteral("18"));
}

TEST_F(FieldValues, DoNotUseValueFollowsTheHostSwitchAndOutranksTheSymbolicText)
{
    Restore<bool> restoreSwitch(Message::useDoNotUseString);
    auto record = biasRecord(1);
    const RTCM3_Message_Type_1230_Message message(&record, false);
    const auto *bias = RTCM3_Message_Type_1230_GLONASS_L2_P_Code_Phase_Bias_FieldInfo::getInstance();
    EXPECT_EQ(bias->getInterpretedString(&message, 0, true), QStringLiteral("7"));
    record.GLONASS_L2_P_Code_Phase_Bias = -32768;
    Message::useDoNotUseString = true;
    EXPECT_EQ(bias->getInterpretedString(&message, 0, true), Message::doNotUseString);
    Message::useDoNotUseString = false;
    EXPECT_EQ(bias->getInterpretedString(&message, 0, true), QString());
}

TEST_F(FieldValues, ScaledIntegerShowsSixDecimalsAndItsUnitAfterTheValue)
{
    RTCM3_Message_Type_1019_s record{};
    RTCM3_init_Message_Type_1019(&record);
    record.C_rs = -33;   // -33 * 2^-5 m
    record.t_oc = 3;     // 3 * 16 s
    record.Week_Number = 2100;
    const RTCM3_Message_Type_1019_Message message(&record, false);
    const auto *crs = RTCM3_Message_Type_1019_C_rs_FieldInfo::getInstance();
    EXPECT_EQ(crs->getInterpretedString(&message, 0, true), QStringLiteral("-1.031250 meter"));
    EXPECT_EQ(crs->getInterpretedString(&message, 0, false), QStringLiteral("-1.031250"));
    EXPECT_EQ(crs->getValue(&message, 0), FieldValue::i(-33, 16));
    const auto *toc = RTCM3_Message_Type_1019_t_oc_FieldInfo::getInstance();
    EXPECT_EQ(toc->getInterpretedString(&message, 0, true), QStringLiteral("48.000000 second"));
    const auto *week = RTCM3_Message_Type_1019_Week_Number_FieldInfo::getInstance();
    EXPECT_EQ(week->getInterpretedString(&message, 0, true), QStringLiteral("2100 week"));
}

TEST_F(FieldValues, UnitLeadsTheValueWhenTheHostPlacesItBefore)
{
    RTCM3_Message_Type_1019_s record{};
    RTCM3_init_Message_Type_1019(&record);
    record.Week_Number = 2100;
    const RTCM3_Message_Type_1019_Message message(&record, false);
    auto *week = RTCM3_Message_Type_1019_Week_Number_FieldInfo::getInstance_nonconst();
    week->setUnitPlacedAfterValue(false);
    const QString text = week->getInterpretedString(&message, 0, true);
    week->setUnitPlacedAfterValue(true);
    EXPECT_EQ(text, QStringLiteral("week 2100"));
}

TEST_F(FieldValues, FieldWithItsOwnPrecisionShowsThreeDecimals)
{
    RTCM3_SIGIL_1_s record{};
    RTCM3_init_SIGIL_1(&record);
    record.TOW = 1500;
    record.DTOW = 1500;
    const RTCM3_SIGIL_1_Message message(&record, false);
    const auto *tow = RTCM3_SIGIL_1_TOW_FieldInfo::getInstance();
    EXPECT_EQ(tow->getInterpretedString(&message, 0, false), QStringLiteral("1.500"));
    EXPECT_EQ(tow->getInterpretedString(&message, 0, true), QStringLiteral("1.500 second"));
    const auto *dtow = RTCM3_SIGIL_1_DTOW_FieldInfo::getInstance();
    EXPECT_EQ(dtow->getInterpretedString(&message, 0, false), QStringLiteral("1.500000"));
}

TEST_F(FieldValues, ComputedValuesAreSingleOrDoublePrecisionWithSixDecimals)
{
    RTCM3_Message_Type_1020_s record{};
    RTCM3_init_Message_Type_1020(&record);
    record.x = -0.00048828125;   // x_SB 1, x_mag 1: -2^-11 km
    record.dx = 0.5f;
    const RTCM3_Message_Type_1020_Message message(&record, false);
    const auto *x = RTCM3_Message_Type_1020_x_FieldInfo::getInstance();
    EXPECT_EQ(x->getValue(&message, 0), FieldValue::f64(-0.00048828125));
    EXPECT_EQ(x->getInterpretedString(&message, 0, true), QStringLiteral("-0.000488 kilometer"));
    const auto *dx = RTCM3_Message_Type_1020_dx_FieldInfo::getInstance();
    EXPECT_EQ(dx->getValue(&message, 0), FieldValue::f32(0.5f));
    EXPECT_EQ(dx->getInterpretedString(&message, 0, false), QStringLiteral("0.500000"));
}

TEST_F(FieldValues, TextFieldStopsAtTheFirstNulWithinItsCount)
{
    RTCM3_Message_Type_1008_s record{};
    RTCM3_init_Message_Type_1008(&record);
    std::memcpy(record.Antenna_Descriptor, "ABC\0\0\0\0\0XYZ", 12);
    record.N = 8;
    const RTCM3_Message_Type_1008_Message message(&record, false);
    const auto *descriptor = RTCM3_Message_Type_1008_Antenna_Descriptor_FieldInfo::getInstance();
    EXPECT_EQ(descriptor->getValueString(&message), QStringLiteral("ABC"));
    EXPECT_EQ(descriptor->getCount(&message), 8u);
    EXPECT_EQ(descriptor->getValue(&message, 0), FieldValue::ch('A'));
    EXPECT_EQ(descriptor->getValue(&message, 3), FieldValue::ch('\0'));
    EXPECT_EQ(descriptor->getInterpretedString(&message, 1, true), QStringLiteral("B"));
    const auto *serial = RTCM3_Message_Type_1008_Antenna_Serial_Number_FieldInfo::getInstance();
    EXPECT_EQ(serial->getValueString(&message), QString());
    EXPECT_FALSE(serial->isPresent(&message));
}

TEST_F(FieldValues, TextOfATextFieldIsRefusedForAnotherKindOfMessage)
{
    auto record = stationRecord();
    const RTCM3_Message_Type_1005_Message wrong(&record, false);
    const auto *descriptor = RTCM3_Message_Type_1008_Antenna_Descriptor_FieldInfo::getInstance();
    EXPECT_EQ(misuseText([&] { descriptor->getValueString(&wrong); }),
              QStringLiteral("Requesting value for a field Message Type 1008::Antenna_Descriptor "
                             "that is not present in the given kind of message."));
}

TEST_F(FieldValues, SignalFieldPresenceAndDoNotUseComeFromTheHoldingMessage)
{
    Restore<bool> restoreSwitch(Message::useDoNotUseString);
    Message::useDoNotUseString = true;
    RTCM3_Message_Type_1071_s record{};
    RTCM3_init_Message_Type_1071(&record);
    record.Satellite_Mask = 1;
    record.Signal_Mask = 1;
    record.Nsat = record.Nsig = record.Cell_Mask_Length = record.Ncell = 1;
    record.Cell_Mask[0] = 1;
    record.MSM_Signal_Data.Fine_PseudoRange[0] = -16384;
    RTCM3_Message_Type_1071_Message message(&record, false);
    const RTCM3_MSM_Signal_Data_Message *signalData = message.getMSM_Signal_Data();
    const auto *fine = RTCM3_MSM_Signal_Data_Fine_PseudoRange_FieldInfo::getInstance();
    ASSERT_EQ(fine->getCount(signalData), 1u);
    EXPECT_EQ(fine->getInterpretedString(signalData, 0, true), QStringLiteral("DNU"));
    Message::useDoNotUseString = false;
    EXPECT_EQ(fine->getInterpretedString(signalData, 0, true), QString());
    record.MSM_Signal_Data.Fine_PseudoRange[0] = 100;
    EXPECT_EQ(fine->getInterpretedString(signalData, 0, true), QStringLiteral("100"));
    const auto *cnr = RTCM3_MSM_Signal_Data_CNR_FieldInfo::getInstance();   // MSM4 and MSM5 only
    EXPECT_FALSE(cnr->isPresent(signalData));
    EXPECT_EQ(cnr->getCount(signalData), 0u);
}

TEST_F(FieldValues, NestedBlockIsItsChildObjectAndReadsSubmsg)
{
    RTCM3_Message_Type_1074_s record{};
    RTCM3_init_Message_Type_1074(&record);
    const RTCM3_Message_Type_1074_Message message(&record, false);
    const auto *block = RTCM3_Message_Type_1074_MSM_Signal_Data_FieldInfo::getInstance();
    const FieldValue value = block->getValue(&message, 0);
    EXPECT_EQ(value.toSubMessage(), message.getMSM_Signal_Data());
    EXPECT_EQ(block->getInterpretedString(&message, 0, true), QStringLiteral("submsg"));
}

} // namespace
