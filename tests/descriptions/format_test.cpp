// The format description and its message and field descriptions: registration and
// discriminants, the published totals of every field property (a changed type or mark
// anywhere moves one of them), sub-fields, scales and symbolic values.

#include "description_support.h"

#include <QtCore/QSet>

#include <cmath>

namespace {

using namespace descriptions;

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new CLocaleEnvironment);

const RTCM3_FormatInfo *format()
{
    return RTCM3_FormatInfo::getInstance();
}

QList<const MessageInfo *> allDescriptions()
{
    return format()->getMessageInfos() + format()->getSubMessageInfos();
}

const MessageInfo *description(const char *name)
{
    const MessageInfo *info = format()->findMessageInfo(QString::fromUtf8(name));
    EXPECT_NE(info, nullptr) << name;
    return info;
}

const FieldInfo *field(const char *message, const char *name)
{
    const auto *info = dynamic_cast<const RTCM3MessageInfo *>(description(message));
    if (!info)
        return nullptr;
    for (const FieldInfo *f : info->getFieldInfos()) {
        if (std::strcmp(static_cast<const RTCM3FieldInfo *>(f)->name(), name) == 0)
            return f;
    }
    ADD_FAILURE() << message << " has no field " << name;
    return nullptr;
}

// ---- the format and its registration ------------------------------------------------------

// Main messages are told apart by their message number (the third field), the two SIGIL
// records sharing 4089 also by KVT_ID; nested blocks carry no identity of their own.
TEST(FormatDescription, RegistersEveryDescriptionOnceInItsPlaceWithItsIdentity)
{
    ASSERT_EQ(format()->getName(), QStringLiteral("RTCM3"));
    const QList<const MessageInfo *> &mains = format()->getMessageInfos();
    const QList<const MessageInfo *> &subs = format()->getSubMessageInfos();
    EXPECT_EQ(mains.size(), 107);
    EXPECT_EQ(subs.size(), 26);
    const QList<const MessageInfo *> all = allDescriptions();
    EXPECT_EQ(QSet<const MessageInfo *>(all.begin(), all.end()).size(), 133);
    EXPECT_EQ(RTCM3_Message_Type_1005_MessageInfo::getInstance(), description("Message Type 1005"));
    // The published order, where it is not that of the numbers.
    EXPECT_EQ(mains.indexOf(description("Message Type 1303")),
              mains.indexOf(description("Message Type 1031")) + 1);
    EXPECT_EQ(mains.back()->getName(), QStringLiteral("SIGIL 2"));
    for (const MessageInfo *info : mains) {
        SCOPED_TRACE(info->getName().toStdString());
        EXPECT_TRUE(info->isMain());
        EXPECT_EQ(info->getFormatInfo(), format());
        EXPECT_FALSE(info->getShortDescriptiveText().isEmpty());
        const auto &discriminants = info->getDiscriminants();
        const bool sigil = info->getName().startsWith(QStringLiteral("SIGIL"));
        ASSERT_EQ(discriminants.size(), sigil ? 2 : 1);
        EXPECT_EQ(discriminants[0].field, info->getFieldInfo(3));
        EXPECT_EQ(discriminants[0].field->getName(), QStringLiteral("Message Number"));
        const quint64 number = sigil ? 4089 : info->getName().mid(13).toULongLong();
        EXPECT_EQ(discriminants[0].value, FieldValue::u(number, 12));
        if (sigil) {
            EXPECT_EQ(discriminants[1].field, info->getFieldInfo(4));
            EXPECT_EQ(discriminants[1].field->getName(), QStringLiteral("KVT_ID"));
            EXPECT_EQ(discriminants[1].value, FieldValue::u(info->getName().mid(6).toULongLong(), 12));
        }
    }
    for (const MessageInfo *info : subs) {
        SCOPED_TRACE(info->getName().toStdString());
        EXPECT_FALSE(info->isMain());
        EXPECT_EQ(info->getFormatInfo(), format());
        EXPECT_TRUE(info->getDiscriminants().isEmpty());
        EXPECT_TRUE(info->getShortDescriptiveText().isEmpty());
    }
}

// A description or field touched before the format description must neither recurse into
// its own construction nor change the registration order.
TEST(FormatSetUp, ADescriptionTouchedFirstStillYieldsTheCompleteFormatInItsOrder)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            const auto *ecefX = RTCM3_Message_Type_1005_ECEF_X_FieldInfo::getInstance();
            const RTCM3_FormatInfo *formatInfo = RTCM3_FormatInfo::getInstance();
            const bool complete = formatInfo->getMessageInfos().size() == 107
                && formatInfo->getSubMessageInfos().size() == 26
                && formatInfo->getMessageInfos().front()->getName() == QStringLiteral("Message Type 1001")
                && formatInfo->getSubMessageInfos().front()->getName() == QStringLiteral("Refsig Basic")
                && RTCM3_Message_Type_1005_MessageInfo::getInstance()->getFieldInfo(10) == ecefX;
            std::exit(complete ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

// ---- field descriptions ----------------------------------------------------------------------

struct PropertyTotals
{
    int fields = 0, distinct = 0, u = 0, i = 0, byte = 0, ch = 0, f32 = 0, f64 = 0, sub = 0;
    int symbolic = 0, doNotUse = 0, scaled = 0, unit = 0, precision = 0;
    int optional = 0, repeated = 0, isVirtual = 0, subFields = 0;
    int role1 = 0, role2 = 0, noRole = 0, nesting = 0;
};

PropertyTotals totals()
{
    PropertyTotals t;
    QSet<const FieldInfo *> distinct;
    const QList<const MessageInfo *> &subs = format()->getSubMessageInfos();
    for (const MessageInfo *info : allDescriptions()) {
        bool nests = false;
        for (const FieldInfo *f : info->getFieldInfos()) {
            ++t.fields;
            distinct.insert(f);
            switch (f->getType().kind()) {
            case FieldType::Unsigned: ++t.u; break;
            case FieldType::Signed: ++t.i; break;
            case FieldType::Byte: ++t.byte; break;
            case FieldType::Char: ++t.ch; break;
            case FieldType::Float32: ++t.f32; break;
            case FieldType::Float64: ++t.f64; break;
            case FieldType::SubMessage:
                ++t.sub;
                nests = true;
                EXPECT_TRUE(subs.contains(f->getType().subMessageInfo())) << f->getName().toStdString();
                break;
            case FieldType::Invalid: break;
            }
            t.symbolic += f->hasSymbolicValues();
            t.doNotUse += f->hasDoNotUseValue();
            t.scaled += f->hasScaleFactor();
            t.unit += f->hasUnit();
            t.precision += f->hasPrecision();
            t.optional += f->isOptional();
            t.repeated += f->isRepeated();
            t.isVirtual += f->isVirtual();
            t.subFields += !f->getSubFieldInfos().isEmpty();
            t.role1 += f->getRole() == 1;
            t.role2 += f->getRole() == 2;
            t.noRole += f->getRole() == 0;
        }
        t.nesting += nests;
    }
    t.distinct = int(distinct.size());
    return t;
}

// Structure roles: the 14 sign and magnitude pairs of 1020, four masks of each of the 49
// Multiple Signal Messages, three counters and indicators of 1021 and 1022, two Status words.
TEST(FieldDescriptions, TotalsOfEveryPropertyMatchThePublishedCounts)
{
    const PropertyTotals t = totals();
    EXPECT_EQ(t.fields, 2330);
    EXPECT_EQ(t.distinct, 2330);
    EXPECT_EQ(t.u, 1215);
    EXPECT_EQ(t.i, 221);
    EXPECT_EQ(t.byte, 726);
    EXPECT_EQ(t.ch, 12);
    EXPECT_EQ(t.f32, 11);
    EXPECT_EQ(t.f64, 3);
    EXPECT_EQ(t.sub, 142);
    EXPECT_EQ(t.nesting, 88);
    EXPECT_EQ(t.symbolic, 335);
    EXPECT_EQ(t.doNotUse, 19);
    EXPECT_EQ(t.scaled, 196);
    EXPECT_EQ(t.unit, 203);
    EXPECT_EQ(t.precision, 2);
    EXPECT_EQ(t.optional, 113);
    EXPECT_EQ(t.repeated, 219);
    EXPECT_EQ(t.isVirtual, 210);
    EXPECT_EQ(t.subFields, 5);
    EXPECT_EQ(t.role2, 28 + 4 * 49 + 6 + 2);
    EXPECT_EQ(t.noRole, t.sub);
    EXPECT_EQ(t.role1 + t.role2 + t.noRole, t.fields);
}

struct SubFieldCase
{
    const char *message;
    const char *field;
    std::vector<const char *> subFields;
};

TEST(FieldDescriptions, ListTheDerivedPartsOfPackedFieldsAsSubFieldsThatAreFieldsToo)
{
    const SubFieldCase cases[] = {
        {"Message Type 1021", "Utilized_Transformation_Message_Indicator",
         {"Utilized 1023", "Utilized 1024", "Utilized 1025", "Utilized 1026", "Utilized 1027"}},
        {"SIGIL 1", "Status", {"Bit 0", "Bit 1", "Bit 2", "Bit 14", "Bit 15"}},
        {"SIGIL 2", "Status", {"Bit 0", "Bit 1", "Bit 2"}},
        {"SSR URA", "URA", {"URA CLASS", "URA VALUE"}},
    };
    for (const SubFieldCase &c : cases) {
        SCOPED_TRACE(std::string(c.message) + "::" + c.field);
        const FieldInfo *packed = field(c.message, c.field);
        ASSERT_NE(packed, nullptr);
        const QList<const FieldInfo *> &subs = packed->getSubFieldInfos();
        ASSERT_EQ(subs.size(), qsizetype(c.subFields.size()));
        for (qsizetype k = 0; k < subs.size(); ++k) {
            EXPECT_EQ(subs[k]->getName(), QString::fromUtf8(c.subFields[k]));
            EXPECT_GE(description(c.message)->indexOfFieldInfo(subs[k]), 0);
            EXPECT_FALSE(subs[k]->isVirtual());
        }
    }
}

TEST(FieldDescriptions, KeepExactScalesUnitsPrecisionAndDoNotUseValuesInTheFieldsKind)
{
    const FieldInfo *idot = field("Message Type 1019", "IDOT");
    const FieldInfo *gd = field("Message Type 1042", "T_GD1");
    const FieldInfo *gamma = field("Message Type 1020", "gamma");
    ASSERT_TRUE(idot && gd && gamma);
    EXPECT_EQ(idot->getScaleFactor(), std::ldexp(1.0, -43));
    EXPECT_EQ(idot->getUnit(), QStringLiteral("semicirclepersecond"));
    EXPECT_FALSE(idot->hasPrecision());
    EXPECT_EQ(gd->getScaleFactor(), 1e-10);
    EXPECT_FALSE(gamma->hasUnit() || gamma->hasScaleFactor());

    const auto *fine = field("MSM Signal Data", "Fine_PseudoRange");
    const auto *pseudorange = field("Refsig Basic", "Pseudorange");
    const auto *cnr = field("Deltasig Extended", "CNR");
    ASSERT_TRUE(fine && pseudorange && cnr);
    EXPECT_EQ(fine->getDoNotUseValue(), FieldValue::i(-16384, 15));
    EXPECT_EQ(pseudorange->getDoNotUseValue(), FieldValue::u(524288, 24));
    EXPECT_EQ(cnr->getDoNotUseValue(), FieldValue::u(0, 8));
    EXPECT_FALSE(field("Refsig Extended", "CNR")->hasDoNotUseValue());
}

} // namespace
