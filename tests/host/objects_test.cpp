#include "FieldInfo.h"
#include "FormatInfo.h"
#include "MemLeakTracer.h"
#include "Message.h"
#include "MessageInfo.h"
#include "NuvrixEvent.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

struct Record
{
    int value;
};

// A message that reports its destruction and answers like a format
// library's message does.
class ProbeMessage : public Message
{
public:
    ProbeMessage(const MessageInfo *info, bool *destroyed, const Record *record = nullptr)
        : Message(info), mDestroyed(destroyed), mRecord(record)
    {
    }
    ~ProbeMessage() override { *mDestroyed = true; }

    const void *getRawRepresentation() const override { return mRecord; }
    QString getRawStringFor(const QList<bool> &selection) const override
    {
        mLastSelection = selection;
        return QStringLiteral("raw");
    }

    mutable QList<bool> mLastSelection;

private:
    bool *mDestroyed;
    const Record *mRecord;
};

TEST(ReferenceCounting, LastRemovedReferenceDestroysTheObject)
{
    bool destroyed = false;
    const Message *message = new ProbeMessage(nullptr, &destroyed);
    message->addReference();
    message->addReference();
    EXPECT_EQ(message->getReferenceCount(), 2);
    EXPECT_TRUE(message->removeReference());
    EXPECT_FALSE(destroyed);
    EXPECT_FALSE(message->removeReference());
    EXPECT_TRUE(destroyed);
}

TEST(ReferenceCounting, RemovingAReferenceNeverAddedDoesNotDestroy)
{
    bool destroyed = false;
    auto message = std::make_unique<ProbeMessage>(nullptr, &destroyed);
    EXPECT_TRUE(message->removeReference());
    EXPECT_FALSE(destroyed);
    EXPECT_EQ(message->getReferenceCount(), 0);
    message.reset();
    EXPECT_TRUE(destroyed);
}

TEST(MessageBase, RawRepresentationIsAskedOfTheMessageAndNullSafe)
{
    bool destroyed = false;
    const Record record{42};
    const ProbeMessage withRecord(nullptr, &destroyed, &record);
    const Message plain(nullptr);
    EXPECT_EQ(Message::getRawRepresentationOf(&withRecord), &record);
    EXPECT_EQ(Message::getRawRepresentationOf(&plain), nullptr);
    EXPECT_EQ(Message::getRawRepresentationOf(nullptr), nullptr);
}

TEST(MessageBase, RawStringSelectsEveryFieldOfTheDescription)
{
    MessageInfo info(QStringLiteral("M"));
    const FieldInfo a(QStringLiteral("A"), FieldType::u(1));
    const FieldInfo b(QStringLiteral("B"), FieldType::u(1));
    const FieldInfo c(QStringLiteral("C"), FieldType::u(1));
    info.addFieldInfo(&a, 0, false);
    info.addFieldInfo(&b, 1, false);
    info.addFieldInfo(&c, 2, false);
    bool destroyed = false;
    const ProbeMessage message(&info, &destroyed);
    EXPECT_EQ(message.getRawString(), QStringLiteral("raw"));
    EXPECT_EQ(message.mLastSelection, (QList<bool>{true, true, true}));
}

TEST(MessageBase, PlainMessageHasNoSubMessagesParentOrRawText)
{
    const MessageInfo info(QStringLiteral("M"));
    Message parent(&info);
    Message child(&info);
    EXPECT_EQ(child.getMessageInfo(), &info);
    EXPECT_EQ(child.getParentMessage(), nullptr);
    child.setParentMessage(&parent);
    EXPECT_EQ(child.getParentMessage(), &parent);
    EXPECT_TRUE(parent.getSubMessages().isEmpty());
    EXPECT_TRUE(std::as_const(parent).getSubMessages().isEmpty());
    EXPECT_TRUE(parent.getRawString().isEmpty());
}

void throwAccessError(const FormatInfo *format)
{
    throw NuvrixEvent(NuvrixEvent::InvalidFieldAccess, QStringLiteral("Größe::Feld"), format);
}

TEST(Events, AccessErrorCrossesAsAnExceptionWithTypeTextAndFormat)
{
    const FormatInfo format(QStringLiteral("RTCM3"));
    try {
        throwAccessError(&format);
        FAIL() << "nothing thrown";
    } catch (const NuvrixEvent &event) {
        EXPECT_EQ(event.getType(), 6);
        EXPECT_EQ(event.getText(), QStringLiteral("Größe::Feld"));
        EXPECT_EQ(event.getFormatInfo(), &format);
    }
    try {
        throwAccessError(&format);
    } catch (const std::exception &error) {
        EXPECT_STREQ(error.what(), "Gr\xc3\xb6\xc3\x9f" "e::Feld");
    }
}

TEST(Events, EventTypesKeepTheNumbersFormatsSend)
{
    EXPECT_EQ(NuvrixEvent::UnknownMessage, 3);
    EXPECT_EQ(NuvrixEvent::DecodeError, 4);
    EXPECT_EQ(NuvrixEvent::InconsistentState, 5);
    const NuvrixEvent copy = NuvrixEvent(5, QStringLiteral("RTCM3: x"), nullptr);
    EXPECT_EQ(copy.getType(), NuvrixEvent::InconsistentState);
    EXPECT_EQ(copy.getText(), QStringLiteral("RTCM3: x"));
}

TEST(LeakTracer, CountsLiveObjectsPerClassAndShowsDoubleRelease)
{
    MemLeakTracer *tracer = MemLeakTracer::getInstance();
    ASSERT_EQ(tracer, MemLeakTracer::getInstance());
    const qint64 before = tracer->totalLive();
    tracer->doAllocateObject("TracerTestA");
    tracer->doAllocateObject("TracerTestA");
    tracer->doAllocateObject("TracerTestB");
    tracer->doDeallocateObject("TracerTestA");
    EXPECT_EQ(tracer->liveCount("TracerTestA"), 1);
    EXPECT_EQ(tracer->liveCount("TracerTestB"), 1);
    EXPECT_EQ(tracer->totalLive() - before, 2);
    EXPECT_EQ(tracer->liveCounts().value("TracerTestA"), 1);
    tracer->doDeallocateObject("TracerTestA");
    tracer->doDeallocateObject("TracerTestB");
    tracer->doDeallocateObject("TracerTestB");
    EXPECT_EQ(tracer->liveCount("TracerTestA"), 0);
    EXPECT_FALSE(tracer->liveCounts().contains("TracerTestA"));
    EXPECT_EQ(tracer->liveCount("TracerTestB"), -1);
    EXPECT_TRUE(tracer->report().contains(QStringLiteral("TracerTestB: -1")));
    EXPECT_FALSE(tracer->report().contains(QStringLiteral("TracerTestA")));
    tracer->doAllocateObject("TracerTestB");
    EXPECT_EQ(tracer->totalLive(), before);
}

TEST(LeakTracer, CountsANameWhereverItsTextLives)
{
    MemLeakTracer *tracer = MemLeakTracer::getInstance();
    const qint64 before = tracer->totalLive();
    char copy[] = "TracerTestD";  // the same name at another address, as from another library
    tracer->doAllocateObject(copy);
    tracer->doAllocateObject("TracerTestD");
    std::strcpy(copy, "TracerTestE");  // the text behind a pointer may change; the count stays
    EXPECT_EQ(tracer->liveCount("TracerTestD"), 2);
    EXPECT_EQ(tracer->liveCount("TracerTestE"), 0);
    tracer->doDeallocateObject("TracerTestD");
    tracer->doDeallocateObject("TracerTestD");
    EXPECT_EQ(tracer->liveCount("TracerTestD"), 0);
    EXPECT_EQ(tracer->totalLive(), before);
}

TEST(LeakTracer, ResetForgetsEveryCount)
{
    MemLeakTracer *tracer = MemLeakTracer::getInstance();
    const QHash<QByteArray, int> saved = tracer->liveCounts();
    tracer->doAllocateObject("TracerTestC");
    tracer->reset();
    EXPECT_EQ(tracer->liveCount("TracerTestC"), 0);
    EXPECT_EQ(tracer->totalLive(), 0);
    EXPECT_TRUE(tracer->report().isEmpty());
    for (auto it = saved.begin(); it != saved.end(); ++it) {
        for (int k = 0; k < it.value(); ++k)
            tracer->doAllocateObject(it.key().constData());
    }
}

} // namespace
