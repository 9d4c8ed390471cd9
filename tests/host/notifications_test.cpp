#include "AbstractDecoder.h"
#include "AbstractSync.h"
#include "FormatInfo.h"
#include "HostObserver.h"
#include "Message.h"
#include "MessageInfo.h"
#include "NuvrixEvent.h"
#include "RecordingObserver.h"

#include <QtCore/QSet>

#include <gtest/gtest.h>

namespace {

class TestSync : public AbstractSync
{
public:
    bool appendBytes(const QByteArray &) override { return false; }
    bool hasBlock() const override { return false; }
    QByteArray getBlockBytes() override { return {}; }
    quint32 getNumberOfBytesLeft() const override { return 0; }
};

class TestDecoder : public AbstractDecoder
{
public:
    explicit TestDecoder(QObject *parent = nullptr) : AbstractDecoder(QStringLiteral("TEST"), parent) {}
    std::int32_t decodeMessage(const std::uint8_t *, uint) override { return 0; }
    void enableAllMessages() override {}
    void disableAllMessages() override { mEnabled.clear(); }
    void enableMessageEnum(int value) override { mEnabled.insert(value); }
    void disableMessageEnum(int value) override { mEnabled.remove(value); }
    bool isEnabledMessageEnum(int value) const override { return mEnabled.contains(value); }

private:
    QSet<int> mEnabled;
};

class CountingMessage : public Message
{
public:
    CountingMessage(const MessageInfo *info, bool *destroyed) : Message(info), mDestroyed(destroyed) {}
    ~CountingMessage() override { *mDestroyed = true; }

private:
    bool *mDestroyed;
};

// Sends one message the way a decoder does: holding a reference meanwhile.
void sendLikeADecoder(MessageSource &source, const Message *message)
{
    message->addReference();
    source.newMessageEarly(message);
    source.newMessage(message);
    source.newMessageLate(message);
    message->removeReference();
}

class Notifications : public ::testing::Test
{
protected:
    void TearDown() override { HostObserver::setGlobal(nullptr); }

    const FormatInfo mFormat{QStringLiteral("RTCM3")};
    const MessageInfo mInfo{QStringLiteral("Message Type 1005")};
};

TEST_F(Notifications, SynchronizerReportsReachItsObserverAndAreCounted)
{
    TestSync sync;
    RecordingObserver observer;
    sync.setObserver(&observer);
    sync.reportDroppedBytes(&mFormat, 2);
    sync.reportCRCError(&mFormat);
    sync.reportDroppedBytes(&mFormat, 1);
    EXPECT_EQ(observer.droppedReports(), (QList<unsigned int>{2, 1}));
    EXPECT_EQ(observer.totalDropped(), 3u);
    EXPECT_EQ(observer.crcErrors(), 1);
    EXPECT_EQ(observer.formats(), (QList<const FormatInfo *>{&mFormat, &mFormat, &mFormat}));
    EXPECT_EQ(sync.getDroppedByteCount(), 3u);
    EXPECT_EQ(sync.getCRCErrorCount(), 1u);
}

TEST_F(Notifications, OwnObserverWinsOverTheGlobalOneWhichServesTheRest)
{
    RecordingObserver global;
    RecordingObserver own;
    HostObserver::setGlobal(&global);
    MessageSource withOwn;
    MessageSource withoutOwn;
    TestSync sync;
    withOwn.setObserver(&own);
    withOwn.newUnknownMessage(&mFormat, QStringLiteral("Message type 999"));
    withoutOwn.newUnknownMessage(&mFormat, QStringLiteral("Message type 998"));
    sync.reportCRCError(&mFormat);
    EXPECT_EQ(own.unknownMessages(), QList<QString>{QStringLiteral("Message type 999")});
    EXPECT_EQ(global.unknownMessages(), QList<QString>{QStringLiteral("Message type 998")});
    EXPECT_EQ(global.crcErrors(), 1);
    withOwn.setObserver(nullptr);
    withOwn.newUnknownMessage(&mFormat, QStringLiteral("Message type 997"));
    EXPECT_EQ(global.unknownMessages().size(), 2);
}

TEST_F(Notifications, DestroyedGlobalObserverIsNoLongerCalled)
{
    MessageSource source;
    {
        RecordingObserver global;
        HostObserver::setGlobal(&global);
    }
    EXPECT_EQ(HostObserver::global(), nullptr);
    source.newEvent(NuvrixEvent(NuvrixEvent::DecodeError, QStringLiteral("RTCM3: x"), &mFormat));
}

TEST_F(Notifications, MessageStagesArriveInOrderAndEventsKeepTheirContent)
{
    MessageSource source;
    RecordingObserver observer;
    source.setObserver(&observer);
    bool destroyed = false;
    sendLikeADecoder(source, new CountingMessage(&mInfo, &destroyed));
    source.newEvent(NuvrixEvent(NuvrixEvent::UnknownMessage, QStringLiteral("RTCM3: unknown"), &mFormat));
    EXPECT_TRUE(destroyed);
    ASSERT_EQ(observer.deliveries().size(), 3);
    EXPECT_EQ(observer.deliveries().at(0).stage, RecordingObserver::Stage::Early);
    EXPECT_EQ(observer.deliveries().at(1).stage, RecordingObserver::Stage::Normal);
    EXPECT_EQ(observer.deliveries().at(2).stage, RecordingObserver::Stage::Late);
    EXPECT_EQ(observer.deliveries().at(1).info, &mInfo);
    ASSERT_EQ(observer.events().size(), 1);
    EXPECT_EQ(observer.events().at(0).getType(), NuvrixEvent::UnknownMessage);
    EXPECT_EQ(observer.events().at(0).getText(), QStringLiteral("RTCM3: unknown"));
    EXPECT_EQ(observer.events().at(0).getFormatInfo(), &mFormat);
}

TEST_F(Notifications, KeepingObserverHoldsMessagesUntilCleared)
{
    MessageSource source;
    RecordingObserver observer(true);
    source.setObserver(&observer);
    bool destroyed = false;
    const Message *message = new CountingMessage(&mInfo, &destroyed);
    sendLikeADecoder(source, message);
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(observer.messages(), QList<const Message *>{message});
    EXPECT_EQ(observer.messages().at(0)->getMessageInfo(), &mInfo);
    observer.clear();
    EXPECT_TRUE(destroyed);
    EXPECT_TRUE(observer.deliveries().isEmpty());
}

TEST_F(Notifications, KeepingObserverReleasesMessagesWhenDestroyed)
{
    MessageSource source;
    bool destroyed = false;
    {
        RecordingObserver observer(true);
        source.setObserver(&observer);
        sendLikeADecoder(source, new CountingMessage(&mInfo, &destroyed));
        source.setObserver(nullptr);
    }
    EXPECT_TRUE(destroyed);
}

TEST(DecoderRegistry, EnumsMapBothWaysAndReRegistrationReplacesOldPairs)
{
    const MessageInfo a(QStringLiteral("A"));
    const MessageInfo b(QStringLiteral("B"));
    TestDecoder decoder;
    EXPECT_EQ(decoder.getName(), QStringLiteral("TEST"));
    decoder.setMessageEnum(&a, 18);
    decoder.setMessageEnum(&b, 1);
    EXPECT_EQ(decoder.getMessageEnum(&a), 18);
    EXPECT_EQ(decoder.getMessageInfoForEnum(1), &b);
    EXPECT_EQ(decoder.getRegisteredMessageInfos(), (QList<const MessageInfo *>{&b, &a}));
    decoder.setMessageEnum(&a, 20);
    EXPECT_EQ(decoder.getMessageInfoForEnum(18), nullptr);
    EXPECT_EQ(decoder.getMessageInfoForEnum(20), &a);
    decoder.setMessageEnum(&b, 20);
    EXPECT_EQ(decoder.getMessageEnum(&a), -1);
    EXPECT_EQ(decoder.getMessageInfoForEnum(20), &b);
    EXPECT_EQ(decoder.getRegisteredMessageInfos(), QList<const MessageInfo *>{&b});
}

TEST(DecoderRegistry, SwitchingByDescriptionReachesTheFormatsEnumOnlyWhenRegistered)
{
    const MessageInfo known(QStringLiteral("Known"));
    const MessageInfo unknown(QStringLiteral("Unknown"));
    TestDecoder decoder;
    decoder.setMessageEnum(&known, 23);
    EXPECT_TRUE(decoder.setMessageEnabled(&known, true));
    EXPECT_TRUE(decoder.isEnabledMessageEnum(23));
    EXPECT_TRUE(decoder.isMessageEnabled(&known));
    EXPECT_TRUE(decoder.setMessageEnabled(&known, false));
    EXPECT_FALSE(decoder.isEnabledMessageEnum(23));
    EXPECT_FALSE(decoder.setMessageEnabled(&unknown, true));
    EXPECT_FALSE(decoder.isMessageEnabled(&unknown));
}

TEST(DecoderRegistry, BaseClassesCarryTheirOwnMetaObjects)
{
    const TestDecoder decoder;
    const TestSync sync;
    EXPECT_TRUE(decoder.inherits("AbstractDecoder"));
    EXPECT_TRUE(sync.inherits("AbstractSync"));
}

} // namespace
