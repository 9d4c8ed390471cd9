#include "FieldType.h"
#include "FieldValue.h"
#include "FloatRepresentation.h"
#include "Message.h"
#include "MessageInfo.h"

#include <QtCore/QLocale>

#include <gtest/gtest.h>

#include <limits>

namespace {

TEST(FieldType, FactoriesKeepKindWidthAndSubMessageDescription)
{
    const MessageInfo nested(QStringLiteral("Nested"));
    struct Case { FieldType type; FieldType::Kind kind; int bits; const char *text; };
    const Case cases[] = {
        {FieldType::u(12), FieldType::Unsigned, 12, "u12"},
        {FieldType::i(38), FieldType::Signed, 38, "i38"},
        {FieldType::byte(), FieldType::Byte, 8, "byte"},
        {FieldType::ch(), FieldType::Char, 8, "char"},
        {FieldType::f32(), FieldType::Float32, 32, "f32"},
        {FieldType::f64(), FieldType::Float64, 64, "f64"},
        {FieldType::subMessage(&nested), FieldType::SubMessage, 0, "submsg"},
        {FieldType(), FieldType::Invalid, 0, "invalid"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(c.type.kind(), c.kind);
        EXPECT_EQ(c.type.bits(), c.bits);
        EXPECT_EQ(c.type.toString(), QLatin1String(c.text));
    }
    EXPECT_EQ(FieldType::subMessage(&nested).subMessageInfo(), &nested);
    EXPECT_EQ(FieldType::u(12).subMessageInfo(), nullptr);
}

TEST(FieldType, TypesDifferingInKindWidthOrNestedDescriptionAreUnequal)
{
    const MessageInfo a(QStringLiteral("A"));
    const MessageInfo b(QStringLiteral("B"));
    EXPECT_EQ(FieldType::u(12), FieldType::u(12));
    EXPECT_NE(FieldType::u(12), FieldType::u(13));
    EXPECT_NE(FieldType::u(8), FieldType::i(8));
    EXPECT_NE(FieldType::u(8), FieldType::byte());
    EXPECT_NE(FieldType::subMessage(&a), FieldType::subMessage(&b));
    const FieldType copy = FieldType::subMessage(&a);
    EXPECT_EQ(copy, FieldType::subMessage(&a));
}

TEST(FieldValue, DefaultValueIsInvalidAndEqualOnlyToInvalid)
{
    const FieldValue none;
    EXPECT_FALSE(none.isValid());
    EXPECT_EQ(none, FieldValue());
    EXPECT_NE(none, FieldValue::u(0, 1));
    EXPECT_TRUE(none.toString().isEmpty());
}

TEST(FieldValue, ValuesOfOtherKindOrWidthNeverCompareEqual)
{
    EXPECT_EQ(FieldValue::u(3, 12), FieldValue::u(3, 12));
    EXPECT_NE(FieldValue::u(3, 12), FieldValue::u(3, 6));
    EXPECT_NE(FieldValue::u(3, 12), FieldValue::u(4, 12));
    EXPECT_NE(FieldValue::u(3, 8), FieldValue::i(3, 8));
    EXPECT_NE(FieldValue::u(3, 8), FieldValue::byte(3));
    EXPECT_NE(FieldValue::f32(1.5f), FieldValue::f64(1.5));
    EXPECT_EQ(FieldValue::ch('A'), FieldValue::ch('A'));
    Message first(nullptr);
    Message second(nullptr);
    EXPECT_EQ(FieldValue::subMessage(&first), FieldValue::subMessage(&first));
    EXPECT_NE(FieldValue::subMessage(&first), FieldValue::subMessage(&second));
}

TEST(FieldValue, ReadsBackTheStoredValueWithoutTruncation)
{
    const std::uint64_t big = std::numeric_limits<std::uint64_t>::max();
    const std::int64_t small = std::numeric_limits<std::int64_t>::min();
    EXPECT_EQ(FieldValue::u(big, 64).toUnsigned(), big);
    EXPECT_EQ(FieldValue::i(small, 64).toSigned(), small);
    EXPECT_EQ(FieldValue::i(-5, 8).toDouble(), -5.0);
    EXPECT_EQ(FieldValue::byte(0xfe).toUnsigned(), 0xfeu);
    EXPECT_EQ(FieldValue::ch('\xe9').toChar(), '\xe9');
    EXPECT_EQ(FieldValue::f32(0.1f).toDouble(), double(0.1f));
    EXPECT_EQ(FieldValue::f64(-2.25).toDouble(), -2.25);
    EXPECT_EQ(FieldValue::f64(-2.25).toUnsigned(), 0u);
    EXPECT_EQ(FieldValue::u(7, 3).bits(), 3);
    EXPECT_EQ(FieldValue::u(7, 3).toSubMessage(), nullptr);
}

TEST(FieldValue, RawTextFollowsTheKind)
{
    struct Case { FieldValue value; const char *text; };
    const Case cases[] = {
        {FieldValue::u(4095, 12), "4095"},
        {FieldValue::u(std::numeric_limits<std::uint64_t>::max(), 64), "18446744073709551615"},
        {FieldValue::i(-5, 8), "-5"},
        {FieldValue::byte(0x0b), "0b"},
        {FieldValue::byte(0xd3), "d3"},
        {FieldValue::ch('A'), "A"},
        {FieldValue::f64(-1.5), "-1.500000"},
        {FieldValue::f32(0.25f), "0.250000"},
        {FieldValue::subMessage(nullptr), "submsg"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(c.value.toString(), QLatin1String(c.text)) << c.text;
}

class FloatRepresentationTest : public ::testing::Test
{
protected:
    void TearDown() override { QLocale::setDefault(mSaved); }

private:
    QLocale mSaved;
};

TEST_F(FloatRepresentationTest, RawTextIgnoresTheDefaultLocale)
{
    QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
    EXPECT_EQ(FloatRepresentation::getString(1234.5, 'f', 3, false), QStringLiteral("1234.500"));
    EXPECT_EQ(FloatRepresentation::getString(1234.5, 'f', 3, true), QStringLiteral("1.234,500"));
}

TEST_F(FloatRepresentationTest, PrecisionAndRoundingOfFixedNotation)
{
    QLocale::setDefault(QLocale::c());
    struct Case { double value; int precision; const char *text; };
    const Case cases[] = {
        {1.5, 3, "1.500"},
        {1.5, 6, "1.500000"},
        {2.0005, 0, "2"},
        {2.675, 2, "2.67"}, // 2.675 is stored just below, and must not round up
        {-12.26, 1, "-12.3"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(FloatRepresentation::getString(c.value, 'f', c.precision, true), QLatin1String(c.text));
        EXPECT_EQ(FloatRepresentation::getString(c.value, 'f', c.precision, false), QLatin1String(c.text));
    }
}

} // namespace
