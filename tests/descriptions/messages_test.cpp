// Message objects: owning and borrowing records, nested blocks built on demand and rebuilt for a
// new record, presence decided by the holding message, the raw text line, the fatal stop
// without a record, and one pass over every record type of the list.

#include "description_support.h"

#include "NuvrixEvent.h"

#include <QtCore/QSet>

namespace {

using namespace descriptions;
using namespace Kvt::Nuvrix;

using Messages = HostObjects;

QString thrownText(const std::function<void()> &read)
{
    try {
        read();
    } catch (const NuvrixEvent &event) {
        return event.getText();
    }
    return QStringLiteral("nothing thrown");
}

RTCM3_Message_Type_1013_s *newAnnouncements(int count)
{
    auto *record = new RTCM3_Message_Type_1013_s{};
    RTCM3_init_Message_Type_1013(record);
    for (int k = 0; k < count; ++k)
        RTCM3_append_Message_Type_1013_Announcements(record)->Message_ID = quint16(1005 + k);
    return record;
}

void setCells(RTCM3_Message_Type_1074_s &record, int satellites, int signalData,
              std::initializer_list<quint8> cells)
{
    record.Nsat = quint8(satellites);
    record.Nsig = quint8(signalData);
    record.Cell_Mask_Length = quint8(satellites * signalData);
    int ones = 0, k = 0;
    for (quint8 cell : cells) {
        record.Cell_Mask[k++] = cell;
        ones += cell;
    }
    record.Ncell = quint8(ones);
}

// ---- owning and borrowing ---------------------------------------------------------------------

TEST_F(Messages, OwningMessageReleasesItsRecordAndTheRecordsArrays)
{
    auto message = std::make_unique<RTCM3_Message_Type_1013_Message>(newAnnouncements(3), true);
    EXPECT_EQ(message->getNumberOfAnnouncements(), 3u);
    EXPECT_EQ(live("RTCM3_Message_Type_1013_Message"), 1);
    message->disposeRepresentation();   // a leak here shows in the sanitizer build
    EXPECT_FALSE(message->hasRepresentation());
    message.reset();
    EXPECT_EQ(live("RTCM3_Message_Type_1013_Message"), 0);
}

TEST_F(Messages, BorrowingMessageLeavesItsRecordAndArraysToTheOwner)
{
    std::unique_ptr<RTCM3_Message_Type_1013_s> record(newAnnouncements(2));
    {
        RTCM3_Message_Type_1013_Message message(record.get(), false);
        EXPECT_EQ(message.getAnnouncements(1)->getMessage_ID(), 1006);
    }
    EXPECT_EQ(record->Announcements[1].Message_ID, 1006);   // still there to be read
    RTCM3_free_Message_Type_1013_children(record.get());
}

// ---- nested blocks -----------------------------------------------------------------------------

TEST_F(Messages, BlocksHeldOnceAreNullUntilAGetterBuildsThemInFieldOrder)
{
    RTCM3_Message_Type_1074_s record{};
    RTCM3_init_Message_Type_1074(&record);
    RTCM3_Message_Type_1074_Message message(&record, false);
    const QList<const Message *> before = std::as_const(message).getSubMessages();
    ASSERT_EQ(before.size(), 2);
    EXPECT_EQ(before[0], nullptr);
    EXPECT_EQ(before[1], nullptr);
    const RTCM3_MSM_Signal_Data_Message *signalData = message.getMSM_Signal_Data();
    const QList<Message *> after = message.getSubMessages();
    ASSERT_EQ(after.size(), 2);
    EXPECT_EQ(after[0], message.getMSM_Satellite_Data());
    EXPECT_EQ(after[1], signalData);
    EXPECT_EQ(Message::getRawRepresentationOf(after[0]), &record.MSM_Satellite_Data);
    EXPECT_EQ(Message::getRawRepresentationOf(after[1]), &record.MSM_Signal_Data);
    EXPECT_EQ(signalData->getParentMessage(), &message);
}

TEST_F(Messages, RepeatedBlocksAppearOnlyOnceBuiltOneChildPerElementInOrder)
{
    RTCM3_Message_Type_1013_Message message(newAnnouncements(2), true);
    EXPECT_TRUE(message.getSubMessages().isEmpty());
    EXPECT_EQ(message.getAnnouncements(0)->getMessage_ID(), 1005);
    const QList<Message *> children = message.getSubMessages();
    ASSERT_EQ(children.size(), 2);
    EXPECT_EQ(Message::getRawRepresentationOf(children[0]), &message.getAnnouncementsArray()[0]);
    EXPECT_EQ(Message::getRawRepresentationOf(children[1]), &message.getAnnouncementsArray()[1]);
    const auto vector = std::as_const(message).getAnnouncementsVector();
    ASSERT_EQ(vector.size(), 2);
    EXPECT_EQ(vector[1], children[1]);
    EXPECT_EQ(thrownText([&] { message.getAnnouncements(2); }).left(30), QStringLiteral("Requesting value for an repeat"));
    // Children are reused until disposed and never outlive that call.
    const RTCM3_Announcement_Message *first = message.getAnnouncements(0);
    const auto *field = RTCM3_Message_Type_1013_Announcements_FieldInfo::getInstance();
    EXPECT_EQ(field->getValue(&message, 0).toSubMessage(), first);
    EXPECT_EQ(message.getAnnouncements(0), first);
    EXPECT_EQ(live("RTCM3_Announcement_Message"), 2);
    message.disposeSubMessages();
    EXPECT_EQ(live("RTCM3_Announcement_Message"), 0);
    EXPECT_TRUE(message.getSubMessages().isEmpty());
    EXPECT_EQ(message.getAnnouncements(1)->getMessage_ID(), 1006);
    EXPECT_EQ(live("RTCM3_Announcement_Message"), 2);
}

// A borrowed record stays with its owner (the sanitizer build sees a stack record freed).
TEST_F(Messages, AfterSetRepresentationTheMessageAndItsChildrenReadTheNewRecord)
{
    RTCM3_Message_Type_1077_s first{}, second{};
    RTCM3_init_Message_Type_1077(&first);
    RTCM3_init_Message_Type_1077(&second);
    second.Epoch_Time = 2;
    RTCM3_Message_Type_1077_Message message(&first, false);
    EXPECT_EQ(message.getMSM_Signal_Data()->getRawRepresentation(), &first.MSM_Signal_Data);
    message.setRepresentation(&second);
    EXPECT_EQ(message.getEpoch_Time(), 2u);
    EXPECT_EQ(std::as_const(message).getSubMessages()[1], nullptr);
    EXPECT_EQ(message.getMSM_Signal_Data()->getRawRepresentation(), &second.MSM_Signal_Data);
    EXPECT_EQ(live("RTCM3_MSM_Signal_Data_Message"), 1);
}

// A decoded record is copied out of the decoder's result: its blocks must then be read through
// the copy, not through links to the result that is gone.
TEST_F(Messages, CopiedRecordsBlocksAndElementsFollowTheCopyNotTheDecodeResult)
{
    DecodedMessage msm(RTCM3_MESSAGE_TYPE_1074);
    ASSERT_GT(msm.bits(), 0);
    const unsigned satellites = msm.result().Message_Type_1074.Nsat;
    const qsizetype cells = msm.result().Message_Type_1074.Ncell;
    ASSERT_GT(cells, 0);
    std::unique_ptr<RTCM3Message> adopted = msm.adopt();
    auto *message = dynamic_cast<RTCM3_Message_Type_1074_Message *>(adopted.get());
    ASSERT_NE(message, nullptr);
    EXPECT_EQ(message->getMSM_Satellite_Data()->getNumberOfSatellite_Rough_Range_Mod_1ms(), satellites);
    EXPECT_EQ(message->getMSM_Signal_Data()->getCNRVector().size(), cells);

    DecodedMessage glonass(RTCM3_MESSAGE_TYPE_1009);
    ASSERT_GT(glonass.bits(), 0);
    adopted = glonass.adopt();
    auto *observations = dynamic_cast<RTCM3_Message_Type_1009_Message *>(adopted.get());
    ASSERT_NE(observations, nullptr);
    ASSERT_EQ(observations->getNumberOfL1_Basic(), 2u);
    // Present for GLONASS only: decided through the element and the copy it belongs to.
    EXPECT_TRUE(observations->getL1_Basic(1)->getRefsig_Basic()->hasFrequency_Number());
}

// ---- presence and checks of the getters ------------------------------------------------------

struct SignalPresence
{
    quint16 number;
    bool finePseudoRange, extendedResolution, cnr, phaseRangeRate, glonass;
};

TEST_F(Messages, MsmFieldsArePresentByTheLevelAndSystemOfTheHoldingMessage)
{
    const SignalPresence cases[] = {
        {1071, true, false, false, false, false}, {1072, false, false, false, false, false},
        {1073, true, false, false, false, false}, {1074, true, false, true, false, false},
        {1075, true, false, true, true, false},   {1076, false, true, false, false, false},
        {1077, false, true, false, true, false},  {1127, false, true, false, true, false},
        {1085, true, false, true, true, true},
    };
    for (const SignalPresence &c : cases) {
        SCOPED_TRACE(c.number);
        RTCM3_Message_Type_1074_s record{};   // every MSM record has this layout
        RTCM3_init_Message_Type_1074(&record);
        record.Message_Number = c.number;
        RTCM3_Message_Type_1074_Message message(&record, false);
        const RTCM3_MSM_Signal_Data_Message *signalData = message.getMSM_Signal_Data();
        EXPECT_EQ(signalData->hasFine_PseudoRange(), c.finePseudoRange);
        EXPECT_EQ(signalData->hasFine_PseudoRange_Extended_Resolution(), c.extendedResolution);
        EXPECT_EQ(signalData->hasCNR(), c.cnr);
        EXPECT_EQ(signalData->hasFine_PhaseRangeRate(), c.phaseRangeRate);
        EXPECT_EQ(message.hasDay_of_Week(), c.glonass);
        EXPECT_EQ(message.getMSM_Satellite_Data()->hasGLONASS_Satellite_Frequency_Channel_Number(),
                  c.glonass && c.phaseRangeRate);
        EXPECT_EQ(message.getMSM_Satellite_Data()->hasExtended_Satellite_Information(),
                  !c.glonass && c.phaseRangeRate);
    }
}

TEST_F(Messages, GettersRefuseAbsentOptionalFieldsAndIndicesOutOfRange)
{
    RTCM3_Message_Type_1077_s record{};
    RTCM3_init_Message_Type_1077(&record);
    RTCM3_Message_Type_1077_Message message(&record, false);
    EXPECT_EQ(thrownText([&] { message.getDay_of_Week(); }),
              QStringLiteral("Requesting value for a non-present optional field Message Type "
                             "1077::Day_of_Week."));
    const unsigned crcBytes = message.getNumberOfCRC();
    EXPECT_EQ(crcBytes, 3u);
    EXPECT_EQ(thrownText([&] { message.getCRC(crcBytes); }),
              QStringLiteral("Requesting value for an repeated field Message Type 1077::CRC with "
                             "out of range index."));
    EXPECT_EQ(thrownText([&] { message.getMSM_Signal_Data()->getCNR(0); }),
              QStringLiteral("Requesting value for a non-present optional field MSM Signal Data::CNR."));
}

TEST(MessageWithoutRecord, StopsFatallyOnTheFirstRead)
{
    RTCM3_Message_Type_1077_Message message(nullptr, false);
    EXPECT_FALSE(message.hasRepresentation());
    EXPECT_DEATH(message.getEpoch_Time(),
                 "RTCM3_Message_Type_1077_Message::assertRepresentation\\(\\) failed when trying "
                 "to access data of an uninitialized message\\.");
    EXPECT_DEATH(RTCM3_Message_Type_1077_Epoch_Time_FieldInfo::getInstance()->getValue(&message, 0),
                 "assertRepresentation");
}

// ---- raw text line -----------------------------------------------------------------------------

class RawLine : public HostObjects
{
protected:
    void SetUp() override
    {
        HostObjects::SetUp();
        mStation = stationRecord();
    }

    RTCM3_Message_Type_1005_s mStation{};
    Restore<QString> mSeparator{Message::fieldSeparator};
    Restore<bool> mDoNotUse{Message::useDoNotUseString};
};

TEST_F(RawLine, WritesTheSelectedFieldsRawAndTheCrcBytesWithoutBlanks)
{
    const RTCM3_Message_Type_1005_Message message(&mStation, false);
    EXPECT_EQ(message.getRawString(),
              QStringLiteral("d3;00;19;1005;2003;0;01;00;00;00;-123456789;01;00;42;02;7;0abc01"));
    EXPECT_EQ(message.getRawStringFor({}), QString());
    EXPECT_EQ(message.getRawStringFor({true, true, true}), QStringLiteral("d3;00;19"));
    Message::fieldSeparator = QStringLiteral("|");
    EXPECT_EQ(message.getRawStringFor({false, true, false, true}), QStringLiteral("00|1005"));
}

TEST_F(RawLine, GroupsCellMaskBytesByFourWithOneBlank)
{
    RTCM3_Message_Type_1074_s record{};
    RTCM3_init_Message_Type_1074(&record);
    setCells(record, 2, 3, {1, 0, 1, 1, 0, 1});
    const RTCM3_Message_Type_1074_Message message(&record, false);
    const int cellMask = 16;
    ASSERT_EQ(message.getMessageInfo()->getFieldInfo(cellMask)->getName(), QStringLiteral("Cell Mask"));
    EXPECT_EQ(message.getRawStringFor(onlyFields(24, {cellMask})), QStringLiteral("01000101 0001"));
}

// Repeated numbers and blocks are separated by blanks, texts end at their NUL, computed values
// are written in raw notation.
TEST_F(RawLine, WritesRepeatedFieldsTextsAndComputedValuesRaw)
{
    RTCM3_Message_Type_1029_s text{};
    RTCM3_init_Message_Type_1029(&text);
    const quint8 units[] = {72, 105, 33};
    RTCM3_memcpy_Message_Type_1029_UTF_8_Character_Code_Units(&text, units, 3);
    text.Number_of_UTF_8_Code_Units = 3;
    const RTCM3_Message_Type_1029_Message textMessage(&text, false);
    EXPECT_EQ(textMessage.getRawStringFor(onlyFields(11, {9})), QStringLiteral("72 105 33"));

    const RTCM3_Message_Type_1013_Message announcements(newAnnouncements(2), true);
    EXPECT_EQ(announcements.getRawStringFor(onlyFields(11, {8, 9})), QStringLiteral("0;submsg submsg"));
    const RTCM3_Message_Type_1013_Message none(newAnnouncements(0), true);
    EXPECT_EQ(none.getRawStringFor(onlyFields(11, {9, 10})), QStringLiteral(";000000"));

    RTCM3_Message_Type_1008_s antenna{};
    RTCM3_init_Message_Type_1008(&antenna);
    RTCM3_strcpy_Message_Type_1008_Antenna_Descriptor(&antenna, "ABC");
    antenna.N = 8;
    const RTCM3_Message_Type_1008_Message antennaMessage(&antenna, false);
    EXPECT_EQ(antennaMessage.getRawStringFor(onlyFields(11, {5, 6, 8})), QStringLiteral("8;ABC;0"));

    RTCM3_Message_Type_1020_s ephemeris{};
    RTCM3_init_Message_Type_1020(&ephemeris);
    ephemeris.x = -0.00048828125;
    const RTCM3_Message_Type_1020_Message ephemerisMessage(&ephemeris, false);
    EXPECT_EQ(ephemerisMessage.getRawStringFor(onlyFields(69, {18})), QStringLiteral("-0.000488"));
}

TEST_F(RawLine, KeepsTheSeparatorsOfAbsentOptionalFieldsAndShowsDoNotUse)
{
    RTCM3_Message_Type_1230_s record{};
    RTCM3_init_Message_Type_1230(&record);
    record.GLONASS_FDMA_Signals_Mask = 5;   // L1 P and L2 P only
    record.GLONASS_L1_P_Code_Phase_Bias = -5;
    record.GLONASS_L2_P_Code_Phase_Bias = -32768;
    const RTCM3_Message_Type_1230_Message message(&record, false);
    const QList<bool> biases = onlyFields(13, {7, 8, 9, 10, 11});
    Message::useDoNotUseString = true;
    EXPECT_EQ(message.getRawStringFor(biases), QStringLiteral("05;;-5;;DNU"));
    Message::useDoNotUseString = false;
    EXPECT_EQ(message.getRawStringFor(biases), QStringLiteral("05;;-5;;-32768"));
}

// ---- every record type -------------------------------------------------------------------------

// Reads every field of a message and of its nested blocks the way a host walks a description,
// checking that what it reads agrees with itself.
void readEveryField(const Message *message, QSet<const MessageInfo *> &seen)
{
    const MessageInfo *info = message->getMessageInfo();
    seen.insert(info);
    for (const FieldInfo *field : info->getFieldInfos()) {
        SCOPED_TRACE((info->getName() + QStringLiteral("::") + field->getName()).toStdString());
        const unsigned count = field->getCount(message);
        EXPECT_EQ(field->isPresent(message), count > 0);
        for (unsigned k = 0; k < count; ++k) {
            const FieldValue value = field->getValue(message, k);
            EXPECT_EQ(value, field->getValueUnchecked(message, k));
            EXPECT_EQ(value.kind(), field->getType().kind());
            EXPECT_FALSE(field->getInterpretedString(message, k, true).isNull()
                         && !field->hasDoNotUseValue());
            if (value.kind() != FieldType::SubMessage)
                continue;
            const Message *child = value.toSubMessage();
            ASSERT_NE(child, nullptr);
            EXPECT_EQ(child->getMessageInfo(), field->getType().subMessageInfo());
            EXPECT_EQ(child->getParentMessage(), message);
            readEveryField(child, seen);
        }
        EXPECT_THROW(field->getValue(message, field->isRepeated() ? count : 1), NuvrixEvent);
    }
    EXPECT_FALSE(message->getRawString().isNull());
}

using EveryRecordType = HostObjects;

TEST_F(EveryRecordType, DecodesWrapsReadsEveryFieldAndReleasesEveryObject)
{
    QSet<const MessageInfo *> seen;
    QList<quint16> withoutClass;
    for (qint32 e = 1; const L::RecordLayout *layout = RTCM3_layout(e); ++e) {
        if (layout->messageNumber == 0)
            continue;
        SCOPED_TRACE(RTCM3_message_enum_to_string(e));
        DecodedMessage decoded(e);
        ASSERT_GT(decoded.bits(), 0);
        std::unique_ptr<RTCM3Message> message = decoded.adopt();
        if (!message) {
            withoutClass.append(layout->messageNumber);
            continue;
        }
        readEveryField(message.get(), seen);
    }
    std::sort(withoutClass.begin(), withoutClass.end());
    EXPECT_EQ(withoutClass, (QList<quint16>{1240, 1241, 1242, 1243, 1244, 1245, 1258, 1259, 1260,
                                            1261, 1262, 1263, 1265, 1266, 1267, 1270}));
    // The phase-bias blocks are nested by no main message.
    EXPECT_EQ(seen.size(), RTCM3_FormatInfo::getInstance()->getMessageInfos().size()
                               + RTCM3_FormatInfo::getInstance()->getSubMessageInfos().size() - 2);
    EXPECT_EQ(live("RTCM3_MSM_Signal_Data_Message"), 0);
}

// Sub-records that no main message nests reach the host only wrapped alone, as the decoder may
// wrap a block it meets on its own.
TEST_F(EveryRecordType, SubRecordsWrappedAloneHaveNoParentAndReadLikeNestedOnes)
{
    QSet<const MessageInfo *> seen;
    for (qint32 e = 1; const L::RecordLayout *layout = RTCM3_layout(e); ++e) {
        if (layout->messageNumber != 0)
            continue;
        SCOPED_TRACE(RTCM3_message_enum_to_string(e));
        std::vector<quint64> storage(layout->size / sizeof(quint64) + 1);
        L::initRecord(*layout, storage.data());
        _RTCM3_message_t father;   // counts kept in the father are zero
        std::memset(&father, 0, sizeof father);
        reinterpret_cast<RTCM3_kvtcg_header_s *>(storage.data())->kvtcg_father = &father.header;
        std::mt19937_64 random{quint64(e)};
        randomrecord::Filler{random, 0, 2}.fill(*layout, storage.data());
        std::unique_ptr<RTCM3Message> message =
            RTCM3_adoptRecord(reinterpret_cast<RTCM3_kvtcg_header_s *>(storage.data()));
        ASSERT_NE(message, nullptr);
        EXPECT_EQ(message->getParentMessage(), nullptr);
        readEveryField(message.get(), seen);
    }
    EXPECT_EQ(seen.size(), RTCM3_FormatInfo::getInstance()->getSubMessageInfos().size());
    EXPECT_EQ(RTCM3_adoptRecord(nullptr), nullptr);
}

} // namespace
