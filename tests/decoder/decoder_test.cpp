// The decoder on single frames: what reaches the host (message objects through three
// notifications, or events that say why not), the results it returns, the enable set, the
// descriptions it registers and its meta-object.

#include "../support/live_objects.h"
#include "../support/random_record.h"
#include "../sync/sync_streams.h"

#include "nuvrixrtcm3.h"
#include "RTCM3_layout.h"
#include "RecordingObserver.h"

#include <QtCore/QMetaMethod>
#include <QtCore/QMetaObject>

#include <gtest/gtest.h>

#include <map>
#include <typeinfo>

using namespace Kvt::Nuvrix;

namespace {

// A station frame with every member of the record set, so that it is the same on every run.
using syncstreams::stationFrame;

const QByteArray kStation = stationFrame(2003, 11445234, -56784320, 42305501);

const uint8_t *bytesOf(const QByteArray &frame)
{
    return reinterpret_cast<const uint8_t *>(frame.constData());
}

// A frame of message number `number` with a few payload bytes behind the number.
QByteArray numberedFrame(int number, const QByteArray &rest = QByteArray(6, '\x5A'))
{
    QByteArray payload;
    payload.append(char(number >> 4)).append(char((number & 0x0F) << 4));
    return syncstreams::frame(payload + rest);
}

// A valid frame of enumerator e made by our encoder, with `groupSize` elements per group.
QByteArray encodedFrame(int e, int groupSize, unsigned seed = 5)
{
    std::mt19937_64 random(seed + unsigned(e));
    const randomrecord::Encoded encoded = randomrecord::randomFrame(e, random, groupSize);
    return QByteArray(reinterpret_cast<const char *>(encoded.frame.data()), qsizetype(encoded.frame.size()));
}

// One valid frame of every message enumerator, made once.
const std::map<int, QByteArray> &framesOfEveryMessage()
{
    static const std::map<int, QByteArray> frames = [] {
        std::map<int, QByteArray> made;
        for (const int e : randomrecord::messageEnumerators())
            made[e] = encodedFrame(e, 1);
        return made;
    }();
    return frames;
}

QString disabledName(int e)
{
    return QString::fromLatin1(RTCM3_error_to_string(RTCM3_layout(e)->disabledCode));
}

// Everything the decoder tells the host, as one log in calling order, so that order faults
// (an event after newUnknownMessage, a late notification first) show.
class LogObserver : public HostObserver
{
public:
    void messageEarly(const MessageSource *, const Message *message) override { note("early", message); }
    void message(const MessageSource *, const Message *message) override { note("message", message); }
    void messageLate(const MessageSource *, const Message *message) override { note("late", message); }
    void unknownMessage(const MessageSource *, const FormatInfo *format, const QString &text) override
    {
        log << QStringLiteral("unknown ") + text;
        formatsRight &= format == RTCM3_FormatInfo::getInstance();
    }
    void event(const MessageSource *, const NuvrixEvent &event) override
    {
        log << QStringLiteral("event %1 %2").arg(event.getType()).arg(event.getText());
        formatsRight &= event.getFormatInfo() == RTCM3_FormatInfo::getInstance();
    }

    QStringList log;
    QList<int> referencesHeld;
    bool formatsRight = true;

private:
    void note(const char *stage, const Message *message)
    {
        log << QString::fromLatin1(stage) + QLatin1Char(' ') + message->getMessageInfo()->getName();
        referencesHeld << message->getReferenceCount();
    }
};

class Decoder : public LiveHostObjects
{
protected:
    Decoder() { mDecoder.setObserver(&mLog); }

    void TearDown() override
    {
        EXPECT_TRUE(mLog.formatsRight) << "every report passes the format description";
        LiveHostObjects::TearDown();
    }

    int32_t decode(const QByteArray &frame, uint length)
    {
        return mDecoder.decodeMessage(bytesOf(frame), length);
    }
    int32_t decode(const QByteArray &frame) { return decode(frame, uint(frame.size())); }

    LogObserver mLog;
    RTCM3Decoder mDecoder;
};

QStringList messageLog(const QString &name)
{
    return {QStringLiteral("early ") + name, QStringLiteral("message ") + name, QStringLiteral("late ") + name};
}

QStringList decodeErrorLog(const QString &codeName)
{
    return {QStringLiteral("event 4 RTCM3: ") + codeName};
}

// ---- one frame: result and notifications ------------------------------------------------

struct FrameCase
{
    const char *fault;
    QByteArray frame;
    uint length;
    int32_t result;
    QStringList log;
};

TEST_F(Decoder, EachFrameGivesItsResultAndExactlyItsNotificationsInOrder)
{
    const QByteArray ssr1240 = encodedFrame(RTCM3_MESSAGE_TYPE_1240, 3);
    const QList<FrameCase> cases = {
        {"valid 1005 is not one message in three stages, or its result is not its 200 bits",
         kStation, 0, 200, messageLog(QStringLiteral("Message Type 1005"))},
        {"an unknown sub-type of a known number is not reported as that number",
         numberedFrame(4089, QByteArray::fromHex("0077665544")), 0, RTCM3_ERR_INVALID_MESSAGE,
         {QStringLiteral("event 3 RTCM3: Message type 4089 unknown to PC software"),
          QStringLiteral("unknown Message type 4089")}},
        {"a message decoded by the codec alone reaches the host or fails",
         ssr1240, 0, int32_t(ssr1240.size() * 8), {}},
        {"a frame cut inside ECEF-Z does not name that field's code",
         kStation, 21, RTCM3_ERR_MESSAGE_TYPE_1005_ECEF_Z_EXT_BUFFER_OVERFLOW,
         decodeErrorLog(QStringLiteral("RTCM3_ERR_MESSAGE_TYPE_1005_ECEF_Z_EXT_BUFFER_OVERFLOW"))},
        {"a length above 65535 is cut to its low 16 bits (here the whole frame) instead of refused",
         kStation, 65536 + 25, RTCM3_ERR_EOF, decodeErrorLog(QStringLiteral("RTCM3_ERR_EOF"))},
    };
    for (const FrameCase &c : cases) {
        SCOPED_TRACE(c.fault);
        mLog.log.clear();
        EXPECT_EQ(decode(c.frame, c.length ? c.length : uint(c.frame.size())), c.result);
        EXPECT_EQ(mLog.log, c.log);
    }
}

// A host that takes and drops a reference of its own during a notification must not destroy
// the message under the decoder's feet: the decoder holds one throughout.
class ReleasingObserver : public LogObserver
{
public:
    void messageEarly(const MessageSource *source, const Message *message) override
    {
        message->addReference();
        message->removeReference();
        LogObserver::messageEarly(source, message);
    }
};

TEST_F(Decoder, MessageSurvivesAHostThatDropsItsOwnReferenceDuringTheNotifications)
{
    ReleasingObserver host;
    mDecoder.setObserver(&host);
    const int before = live("RTCM3_Message_Type_1005_Message");
    EXPECT_EQ(decode(kStation), 200);
    EXPECT_EQ(host.log, messageLog(QStringLiteral("Message Type 1005")));
    EXPECT_EQ(host.referencesHeld, QList<int>({1, 1, 1}));
    // Nobody kept it: it is gone once the notifications are over.
    EXPECT_EQ(live("RTCM3_Message_Type_1005_Message"), before);
    mDecoder.setObserver(&mLog);
}

TEST_F(Decoder, MessageObjectOfItsClassKeptByTheHostOutlivesLaterFramesAndTheDecoder)
{
    RecordingObserver keeper(true);
    auto decoder = std::make_unique<RTCM3Decoder>();
    decoder->setObserver(&keeper);
    ASSERT_EQ(decoder->decodeMessage(bytesOf(kStation), 25), 200);
    const QByteArray other = stationFrame(77, 1, 2, 3);
    ASSERT_EQ(decoder->decodeMessage(bytesOf(other), uint(other.size())), 200);
    decoder.reset();
    ASSERT_EQ(keeper.deliveries().size(), 6);
    const Message *message = keeper.deliveries()[0].message;
    EXPECT_EQ(keeper.deliveries()[1].message, message);
    EXPECT_EQ(keeper.deliveries()[2].message, message);
    EXPECT_EQ(message->getMessageInfo(), RTCM3_Message_Type_1005_MessageInfo::getInstance());
    // The dynamic class, read from the object itself.
    EXPECT_TRUE(QByteArray(typeid(*message).name()).endsWith("31RTCM3_Message_Type_1005_Message"))
        << typeid(*message).name();
    const auto *first = static_cast<const RTCM3_Message_Type_1005_Message *>(message);
    EXPECT_EQ(first->getReference_Station_ID(), 2003);
    EXPECT_EQ(first->getGPS_Indicator(), 1);
    EXPECT_EQ(first->getECEF_X(), 11445234);
    EXPECT_EQ(first->getECEF_Y(), -56784320);
    EXPECT_EQ(first->getECEF_Z(), 42305501);
    EXPECT_EQ(live("RTCM3_Message_Type_1005_Message"), 2);
    keeper.clear();
    EXPECT_EQ(live("RTCM3_Message_Type_1005_Message"), 0);
}

TEST_F(Decoder, UnknownNumberIsTheNumberOfEachFrameNotOfTheFirst)
{
    for (const int number : {999, 4000, 0, 4095, 999}) {
        SCOPED_TRACE(number);
        mLog.log.clear();
        EXPECT_EQ(decode(numberedFrame(number)), RTCM3_ERR_INVALID_MESSAGE);
        EXPECT_EQ(mLog.log, QStringList({QStringLiteral("event 3 RTCM3: Message type %1 unknown to PC software").arg(number),
                                         QStringLiteral("unknown Message type %1").arg(number)}));
    }
}

TEST_F(Decoder, DisabledMessageCostsOneEventPerFrame)
{
    mDecoder.disableMessageEnum(RTCM3_MESSAGE_TYPE_1005);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(decode(kStation), -2799);
    EXPECT_EQ(mLog.log.size(), 3);
    EXPECT_EQ(mLog.log.count(QStringLiteral("event 4 RTCM3: RTCM3_ERR_MESSAGE_TYPE_1005_DISABLED")), 3);
}

// ---- the enable set ---------------------------------------------------------------------

bool isMessageEnumerator(int e)
{
    return RTCM3_layout(e) && RTCM3_layout(e)->messageNumber != 0;
}

// Disabling one message must stop that message and no other, for every message: a wrong byte
// or mask stops a neighbour, or nothing, or the codec reads another bit than the decoder set.
TEST(EnableSet, DisablingOneMessageStopsExactlyThatMessage)
{
    const std::map<int, QByteArray> &frames = framesOfEveryMessage();
    for (const auto &[disabled, unused] : frames) {
        SCOPED_TRACE(RTCM3_message_enum_to_string(disabled));
        RTCM3Decoder decoder;
        decoder.disableMessageEnum(disabled);
        for (int e = 0; e <= RTCM3_LAST_ENUMERATOR; ++e)
            EXPECT_EQ(decoder.isEnabledMessageEnum(e), isMessageEnumerator(e) && e != disabled) << e;
        for (const auto &[e, frame] : frames) {
            const int32_t r = decoder.decodeMessage(bytesOf(frame), uint(frame.size()));
            if (e == disabled)
                EXPECT_EQ(QString::fromLatin1(RTCM3_error_to_string(r)), disabledName(e));
            else
                EXPECT_EQ(r, frame.size() * 8) << RTCM3_message_enum_to_string(e);
        }
        decoder.enableMessageEnum(disabled);
        const QByteArray &frame = frames.at(disabled);
        EXPECT_EQ(decoder.decodeMessage(bytesOf(frame), uint(frame.size())), frame.size() * 8) << "enabled again";
    }
}

// The all-operations touch the message bits only: a sub-record bit a host set or cleared
// stays as it was.
TEST(EnableSet, AllOperationsSwitchEveryMessageAndLeaveOtherBitsAlone)
{
    RTCM3Decoder decoder;
    decoder.enableMessageEnum(RTCM3_MSM_SATELLITE_DATA);
    decoder.disableAllMessages();
    for (int e = 0; e <= RTCM3_LAST_ENUMERATOR; ++e)
        EXPECT_EQ(decoder.isEnabledMessageEnum(e), e == RTCM3_MSM_SATELLITE_DATA) << "all disabled " << e;
    for (const auto &[e, frame] : framesOfEveryMessage())
        EXPECT_EQ(QString::fromLatin1(RTCM3_error_to_string(decoder.decodeMessage(bytesOf(frame), uint(frame.size())))),
                  disabledName(e));

    decoder.disableMessageEnum(RTCM3_MSM_SATELLITE_DATA);
    decoder.enableAllMessages();
    for (int e = 0; e <= RTCM3_LAST_ENUMERATOR; ++e)
        EXPECT_EQ(decoder.isEnabledMessageEnum(e), isMessageEnumerator(e)) << "all enabled " << e;
    for (const auto &[e, frame] : framesOfEveryMessage())
        EXPECT_EQ(decoder.decodeMessage(bytesOf(frame), uint(frame.size())), frame.size() * 8)
            << RTCM3_message_enum_to_string(e);
}

// ---- registered descriptions ------------------------------------------------------------

QString expectedDescriptionName(int e)
{
    static const QHash<int, QString> subRecords = {
        {1, "Refsig Basic"}, {2, "Refsig Extended"}, {3, "Deltasig Basic"}, {4, "Deltasig Extended"},
        {5, "Announcement"}, {6, "SSR Orbit Correction"}, {7, "SSR Clock Correction"}, {8, "Code Bias"},
        {9, "Phase Bias"}, {10, "SSR Combined Orbit and Clock Corrections"}, {11, "SSR URA"},
        {12, "SSR High Rate Clock Correction"}, {13, "Ionospheric Correction Difference"},
        {14, "Geometric Correction Difference"}, {15, "Combined Correction Difference"},
        {16, "MSM Satellite Data"}, {17, "MSM Signal Data"}, {27, "llh Residual"}, {28, "enu Residual"},
        {34, "Network RTK Residual"}, {44, "SIGIL 1"}, {45, "SIGIL 2"}, {46, "Basic 1"}, {47, "Extended 1"},
        {48, "Basic 2"}, {49, "Extended 2"}, {50, "SSR Code Bias"}, {51, "SSR Phase Bias"},
    };
    if (subRecords.contains(e))
        return subRecords.value(e);
    return QStringLiteral("Message Type %1").arg(RTCM3_layout(e)->messageNumber);
}

TEST(Registration, EveryDescriptionIsPairedWithItsOwnEnumerator)
{
    // Which messages the codec alone decodes is checked with the descriptions.
    RTCM3Decoder decoder;
    QList<int> expected;
    for (int e = 1; e <= RTCM3_LAST_ENUMERATOR; ++e)
        if (RTCM3_messageInfoOf(e))
            expected << e;
    QList<int> registered;
    for (const MessageInfo *info : decoder.getRegisteredMessageInfos()) {
        registered << decoder.getMessageEnum(info);
        EXPECT_EQ(info->getFormatInfo(), RTCM3_FormatInfo::getInstance()) << info->getName().toStdString();
    }
    EXPECT_EQ(registered, expected);
    for (const int e : expected) {
        const MessageInfo *info = decoder.getMessageInfoForEnum(e);
        ASSERT_NE(info, nullptr) << e;
        EXPECT_EQ(info->getName(), expectedDescriptionName(e)) << e;
    }
    EXPECT_EQ(decoder.getMessageInfoForEnum(RTCM3_MESSAGE_TYPE_1005), RTCM3_Message_Type_1005_MessageInfo::getInstance());
    EXPECT_EQ(decoder.getMessageInfoForEnum(RTCM3_MSM_SIGNAL_DATA), RTCM3_MSM_Signal_Data_MessageInfo::getInstance());
    for (int e = 0; e <= RTCM3_LAST_ENUMERATOR; ++e)
        EXPECT_EQ(decoder.getMessageInfoForEnum(e) != nullptr, expected.contains(e)) << e;
}

// A host switches messages by description: the pairing must lead to the message's own bit.
TEST(Registration, SwitchingByDescriptionStopsThatMessage)
{
    RTCM3Decoder decoder;
    for (const auto &[e, frame] : framesOfEveryMessage()) {
        const MessageInfo *info = decoder.getMessageInfoForEnum(e);
        if (!info)
            continue;  // decoded by the codec alone, no description to switch by
        SCOPED_TRACE(info->getName().toStdString());
        ASSERT_TRUE(decoder.setMessageEnabled(info, false));
        EXPECT_FALSE(decoder.isEnabledMessageEnum(e));
        EXPECT_EQ(QString::fromLatin1(RTCM3_error_to_string(decoder.decodeMessage(bytesOf(frame), uint(frame.size())))),
                  disabledName(e));
        ASSERT_TRUE(decoder.setMessageEnabled(info, true));
        EXPECT_EQ(decoder.decodeMessage(bytesOf(frame), uint(frame.size())), frame.size() * 8);
    }
}

// ---- meta-object ------------------------------------------------------------------------

TEST(MetaObject, DeclaresOnlyTheDecodeSlotWithItsTypeAndParameterNames)
{
    RTCM3Decoder decoder;
    const QMetaObject *meta = decoder.metaObject();
    EXPECT_STREQ(meta->className(), "RTCM3Decoder");
    ASSERT_EQ(meta->methodCount() - meta->methodOffset(), 1);
    const QMetaMethod method = meta->method(meta->methodOffset());
    EXPECT_EQ(method.name(), QByteArray("decodeMessage"));
    EXPECT_EQ(method.methodType(), QMetaMethod::Slot);
    EXPECT_EQ(method.access(), QMetaMethod::Public);
    EXPECT_STREQ(method.typeName(), "int32_t");
    EXPECT_EQ(method.parameterTypes(), QList<QByteArray>({"const uint8_t*", "uint"}));
    EXPECT_EQ(method.parameterNames(), QList<QByteArray>({"buffer", "maxlength"}));
}

TEST(MetaObject, InvokingTheSlotDecodesAndReturnsTheResult)
{
    RTCM3Decoder decoder;
    RecordingObserver observer;
    decoder.setObserver(&observer);
    int32_t result = 0;
    const uint8_t *buffer = bytesOf(kStation);
    ASSERT_TRUE(QMetaObject::invokeMethod(&decoder, "decodeMessage", Qt::DirectConnection,
                                          Q_RETURN_ARG(int32_t, result), Q_ARG(const uint8_t *, buffer),
                                          Q_ARG(uint, 25u)));
    EXPECT_EQ(result, 200);
    ASSERT_EQ(observer.messages().size(), 1);
    EXPECT_EQ(observer.deliveries()[0].info, RTCM3_Message_Type_1005_MessageInfo::getInstance());

    // Through the base class the host knows: the call still reaches this decoder.
    AbstractDecoder &base = decoder;
    ASSERT_TRUE(QMetaObject::invokeMethod(&base, "decodeMessage", Qt::DirectConnection,
                                          Q_RETURN_ARG(int32_t, result), Q_ARG(const uint8_t *, buffer),
                                          Q_ARG(uint, 21u)));
    EXPECT_EQ(result, RTCM3_ERR_MESSAGE_TYPE_1005_ECEF_Z_EXT_BUFFER_OVERFLOW);
    EXPECT_EQ(observer.events().size(), 1);
}

TEST(Lifetime, DecoderAnnouncesItselfAndIsReleasedWithItsParent)
{
    MemLeakTracer *tracer = MemLeakTracer::getInstance();
    const int before = tracer->liveCount("RTCM3Decoder");
    {
        QObject parent;
        const auto *decoder = new RTCM3Decoder(&parent);
        EXPECT_EQ(tracer->liveCount("RTCM3Decoder"), before + 1);
        EXPECT_EQ(decoder->parent(), &parent);
        EXPECT_EQ(decoder->getName(), QStringLiteral("RTCM3"));
    }
    EXPECT_EQ(tracer->liveCount("RTCM3Decoder"), before);
}

} // namespace
