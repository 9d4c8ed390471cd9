#include "FieldInfo.h"
#include "FormatInfo.h"
#include "Message.h"
#include "MessageInfo.h"
#include "NuvrixEvent.h"

#include <QtCore/QLocale>

#include <gtest/gtest.h>

namespace {

// A field whose values do not come from a message but from a list, so that
// the host's own text rules can be checked in isolation.
class ListFieldInfo : public FieldInfo
{
public:
    ListFieldInfo(const FieldType &type, QList<FieldValue> values, bool *destroyed = nullptr)
        : FieldInfo(QStringLiteral("Field"), type), mValues(std::move(values)), mDestroyed(destroyed)
    {
    }
    ~ListFieldInfo() override
    {
        if (mDestroyed)
            *mDestroyed = true;
    }

    unsigned getCount(const Message *) const override { return unsigned(mValues.size()); }
    FieldValue getValueUnchecked(const Message *, unsigned index) const override
    {
        return mValues.value(qsizetype(index));
    }

private:
    QList<FieldValue> mValues;
    bool *mDestroyed;
};

class InterpretedText : public ::testing::Test
{
protected:
    void SetUp() override { QLocale::setDefault(QLocale::c()); }
    void TearDown() override
    {
        QLocale::setDefault(mSavedLocale);
        Message::useDoNotUseString = mSavedUse;
        Message::doNotUseString = mSavedText;
    }

private:
    QLocale mSavedLocale;
    bool mSavedUse = Message::useDoNotUseString;
    QString mSavedText = Message::doNotUseString;
};

TEST_F(InterpretedText, DoNotUseValueWinsOverSymbolicTextAndFollowsTheSwitch)
{
    ListFieldInfo field(FieldType::i(15), {FieldValue::i(-16384, 15), FieldValue::i(-3, 15)});
    field.addSymbolicValue(FieldValue::i(-16384, 15), QStringLiteral("Symbol"));
    field.setDoNotUseValue(FieldValue::i(-16384, 15));
    field.setUnit(QStringLiteral("meter"));
    Message::doNotUseString = QStringLiteral("n/a");
    Message::useDoNotUseString = true;
    EXPECT_EQ(field.getInterpretedString(nullptr, 0, true), QStringLiteral("n/a"));
    Message::useDoNotUseString = false;
    EXPECT_EQ(field.getInterpretedString(nullptr, 0, true), QString());
    EXPECT_EQ(field.getInterpretedString(nullptr, 1, true), QStringLiteral("-3 meter"));
}

TEST_F(InterpretedText, SymbolicTextMatchesOnlyItsOwnKindAndWidth)
{
    ListFieldInfo field(FieldType::u(2), {FieldValue::u(2, 2), FieldValue::u(3, 2)});
    field.addSymbolicValue(FieldValue::u(2, 2), QStringLiteral("Not Corrected"));
    field.addSymbolicValue(FieldValue::u(3, 3), QStringLiteral("Wrong width"));
    field.setUnit(QStringLiteral("cycle"));
    EXPECT_EQ(field.getInterpretedString(nullptr, 0, true), QStringLiteral("Not Corrected"));
    EXPECT_EQ(field.getInterpretedString(nullptr, 1, false), QStringLiteral("3"));
}

TEST_F(InterpretedText, ByteWithoutSymbolIsTwoLowercaseHexDigits)
{
    ListFieldInfo field(FieldType::byte(), {FieldValue::byte(0x0b), FieldValue::byte(0xAB)});
    field.addSymbolicValue(FieldValue::byte(1), QStringLiteral("One"));
    EXPECT_EQ(field.getInterpretedString(nullptr, 0, true), QStringLiteral("0b"));
    EXPECT_EQ(field.getInterpretedString(nullptr, 1, true), QStringLiteral("ab"));
}

TEST_F(InterpretedText, ScaledIntegerUsesTheFieldPrecisionOrSix)
{
    ListFieldInfo field(FieldType::u(30), {FieldValue::u(1500, 30)});
    field.setScaleFactor(0.001);
    EXPECT_EQ(field.getInterpretedString(nullptr, 0, false), QStringLiteral("1.500000"));
    field.setPrecision(3);
    EXPECT_EQ(field.getInterpretedString(nullptr, 0, false), QStringLiteral("1.500"));
}

TEST_F(InterpretedText, UnitIsPlacedWhereTheFlagSaysAndOnlyWhenAsked)
{
    ListFieldInfo field(FieldType::i(16), {FieldValue::i(-7, 16)});
    field.setUnit(QStringLiteral("week"));
    EXPECT_EQ(field.getInterpretedString(nullptr, 0, true), QStringLiteral("-7 week"));
    EXPECT_EQ(field.getInterpretedString(nullptr, 0, false), QStringLiteral("-7"));
    field.setUnitPlacedAfterValue(false);
    EXPECT_EQ(field.getInterpretedString(nullptr, 0, true), QStringLiteral("week -7"));
}

TEST_F(InterpretedText, OtherKindsUseTheirOwnForm)
{
    ListFieldInfo floats(FieldType::f32(), {FieldValue::f32(0.5f)});
    EXPECT_EQ(floats.getInterpretedString(nullptr, 0, false), QStringLiteral("0.500000"));
    ListFieldInfo chars(FieldType::ch(), {FieldValue::ch('Z')});
    EXPECT_EQ(chars.getInterpretedString(nullptr, 0, true), QStringLiteral("Z"));
    ListFieldInfo nested(FieldType::subMessage(nullptr), {FieldValue::subMessage(nullptr)});
    nested.setUnit(QStringLiteral("meter"));
    EXPECT_EQ(nested.getInterpretedString(nullptr, 0, true), QStringLiteral("submsg"));
    ListFieldInfo large(FieldType::u(40), {FieldValue::u(1234567, 40)});
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(large.getInterpretedString(nullptr, 0, false), QStringLiteral("1,234,567"));
}

TEST(FieldInfoAccess, GetValueThrowsInvalidFieldAccessOutsideTheCount)
{
    ListFieldInfo empty(FieldType::u(8), {});
    ListFieldInfo two(FieldType::u(8), {FieldValue::u(1, 8), FieldValue::u(2, 8)});
    EXPECT_FALSE(empty.isPresent(nullptr));
    EXPECT_TRUE(two.isPresent(nullptr));
    EXPECT_EQ(two.getValue(nullptr, 1), FieldValue::u(2, 8));
    for (const auto &[field, index] : {std::pair<const FieldInfo *, unsigned>{&empty, 0}, {&two, 2}}) {
        try {
            field->getValue(nullptr, index);
            ADD_FAILURE() << "no event thrown for index " << index;
        } catch (const NuvrixEvent &event) {
            EXPECT_EQ(event.getType(), NuvrixEvent::InvalidFieldAccess);
            EXPECT_TRUE(event.getText().contains(QStringLiteral("Field")));
        }
    }
}

TEST(FieldInfoAccess, BaseFieldKnowsNoMessageAndIsAbsent)
{
    const FieldInfo field(QStringLiteral("Plain"), FieldType::u(4));
    const Message message(nullptr);
    EXPECT_FALSE(field.isPresent(&message));
    EXPECT_EQ(field.getCount(&message), 0u);
    EXPECT_THROW(field.getValue(&message, 0), NuvrixEvent);
    EXPECT_TRUE(field.getValueString(&message).isEmpty());
}

TEST(FieldInfoAccess, ValueStringStopsCharactersAtNulAndJoinsNumbersWithBlanks)
{
    ListFieldInfo text(FieldType::ch(), {FieldValue::ch('A'), FieldValue::ch('B'), FieldValue::ch('\0'),
                                         FieldValue::ch('C')});
    EXPECT_EQ(text.getValueString(nullptr), QStringLiteral("AB"));
    ListFieldInfo numbers(FieldType::i(8), {FieldValue::i(1, 8), FieldValue::i(-2, 8), FieldValue::i(3, 8)});
    EXPECT_EQ(numbers.getValueString(nullptr), QStringLiteral("1 -2 3"));
}

TEST(FieldInfoDescription, FirstMatchingSymbolWinsAndListsKeepTheirOrder)
{
    FieldInfo field(QStringLiteral("Status"), FieldType::u(16));
    const FieldInfo partA(QStringLiteral("A"), FieldType::u(8));
    const FieldInfo partB(QStringLiteral("B"), FieldType::u(8));
    field.addSubFieldInfo(&partA);
    field.addSubFieldInfo(&partB);
    field.addSymbolicValue(FieldValue::u(1, 16), QStringLiteral("one"));
    field.addSymbolicValue(FieldValue::u(1, 16), QStringLiteral("again"));
    EXPECT_EQ(field.getSubFieldInfos(), (QList<const FieldInfo *>{&partA, &partB}));
    EXPECT_EQ(field.getSymbolicValues().size(), 2);
    EXPECT_EQ(field.getSymbolicText(FieldValue::u(1, 16)), QStringLiteral("one"));
    EXPECT_TRUE(field.getSymbolicText(FieldValue::u(2, 16)).isEmpty());
    EXPECT_EQ(field.getEffectivePrecision(), 6);
    field.setPrecision(0);
    EXPECT_EQ(field.getEffectivePrecision(), 0);
}

TEST(MessageInfoFields, IndexPlacesTheFieldAndOutOfRangeIndicesClamp)
{
    MessageInfo info(QStringLiteral("Message Type 1005"));
    const FieldInfo a(QStringLiteral("A"), FieldType::u(1));
    const FieldInfo b(QStringLiteral("B"), FieldType::u(1));
    const FieldInfo c(QStringLiteral("C"), FieldType::u(1));
    const FieldInfo d(QStringLiteral("D"), FieldType::u(1));
    const FieldInfo e(QStringLiteral("E"), FieldType::u(1));
    info.addFieldInfo(&a, 0, false);
    info.addFieldInfo(&c, 1, false);
    info.addFieldInfo(&b, 1, false);
    info.addFieldInfo(&d, 99, false);
    info.addFieldInfo(&e, -4, false);
    info.addFieldInfo(nullptr, 0, false);
    EXPECT_EQ(info.getFieldInfos(), (QList<const FieldInfo *>{&e, &a, &b, &c, &d}));
    EXPECT_EQ(info.getFieldInfo(4), &d);
    EXPECT_EQ(info.getFieldInfo(5), nullptr);
    EXPECT_EQ(info.getFieldInfo(-1), nullptr);
    EXPECT_EQ(info.indexOfFieldInfo(&c), 3);
    EXPECT_EQ(info.findFieldInfo(QStringLiteral("B")), &b);
    EXPECT_EQ(info.findFieldInfo(QStringLiteral("X")), nullptr);
}

TEST(MessageInfoFields, DeletesOnlyTheFieldsItWasGiven)
{
    bool ownedGone = false;
    bool borrowedGone = false;
    ListFieldInfo borrowed(FieldType::u(1), {}, &borrowedGone);
    {
        MessageInfo info(QStringLiteral("M"));
        info.addFieldInfo(new ListFieldInfo(FieldType::u(1), {}, &ownedGone), 0, true);
        info.addFieldInfo(&borrowed, 1, false);
    }
    EXPECT_TRUE(ownedGone);
    EXPECT_FALSE(borrowedGone);
}

TEST(MessageInfoFields, KeepsDiscriminantsFormatTextAndMainFlag)
{
    const FormatInfo format(QStringLiteral("RTCM3"));
    MessageInfo info(QStringLiteral("SIGIL 1"));
    const FieldInfo number(QStringLiteral("Message_Number"), FieldType::u(12));
    const FieldInfo id(QStringLiteral("KVT_ID"), FieldType::u(12));
    EXPECT_TRUE(info.isMain());
    EXPECT_EQ(info.getFormatInfo(), nullptr);
    info.setFormatInfo(&format);
    info.setShortDescriptiveText(QStringLiteral("Position"));
    info.setIsMain(false);
    info.addDiscriminantValue(&number, FieldValue::u(4089, 12));
    info.addDiscriminantValue(&id, FieldValue::u(1, 12));
    EXPECT_EQ(info.getFormatInfo(), &format);
    EXPECT_EQ(info.getShortDescriptiveText(), QStringLiteral("Position"));
    EXPECT_FALSE(info.isMain());
    ASSERT_EQ(info.getDiscriminants().size(), 2);
    EXPECT_EQ(info.getDiscriminants().at(0).field, &number);
    EXPECT_EQ(info.getDiscriminants().at(0).value, FieldValue::u(4089, 12));
    EXPECT_EQ(info.getDiscriminants().at(1).field, &id);
    EXPECT_EQ(info.getDiscriminants().at(1).value, FieldValue::u(1, 12));
}

TEST(FormatInfoLists, KeepsMainAndSubMessagesApartInOrder)
{
    FormatInfo format(QStringLiteral("RTCM3"));
    const MessageInfo sub1(QStringLiteral("Refsig Basic"));
    const MessageInfo main1(QStringLiteral("Message Type 1001"));
    const MessageInfo sub2(QStringLiteral("Basic 1"));
    const MessageInfo main2(QStringLiteral("Message Type 1002"));
    format.addSubMessageInfo(&sub1);
    format.addMessageInfo(&main1);
    format.addSubMessageInfo(&sub2);
    format.addMessageInfo(&main2);
    EXPECT_EQ(format.getName(), QStringLiteral("RTCM3"));
    EXPECT_EQ(format.getMessageInfos(), (QList<const MessageInfo *>{&main1, &main2}));
    EXPECT_EQ(format.getSubMessageInfos(), (QList<const MessageInfo *>{&sub1, &sub2}));
    EXPECT_EQ(format.findMessageInfo(QStringLiteral("Basic 1")), &sub2);
    EXPECT_EQ(format.findMessageInfo(QStringLiteral("Message Type 1002")), &main2);
    EXPECT_EQ(format.findMessageInfo(QStringLiteral("Message Type 1003")), nullptr);
}

} // namespace
