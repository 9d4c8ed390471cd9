// The format description and its message and field descriptions, checked against the
// published tables: registration order, names, texts, discriminants, field counts, the totals
// of every field property and the field types that were decided where the tables differ.

#include "description_support.h"

#include <QtCore/QSet>

#include <cmath>

namespace {

using namespace descriptions;

const auto *const kEnvironment = ::testing::AddGlobalTestEnvironment(new CLocaleEnvironment);

struct MainMessage
{
    const char *name;
    const char *text;
    int fields;
};

// In registration order.
const MainMessage kMainMessages[] = {
    {"Message Type 1001", "L1-Only GPS RTK Observables", 12},
    {"Message Type 1002", "Extended L1-Only GPS RTK Observables", 12},
    {"Message Type 1003", "L1&L2 GPS RTK Observables", 12},
    {"Message Type 1004", "Extended L1&L2 GPS RTK Observables", 12},
    {"Message Type 1005", "Stationary RTK Reference Station ARP", 17},
    {"Message Type 1006", "Stationary RTK Reference Station ARP with Antenna Height", 18},
    {"Message Type 1007", "Antenna Descriptor", 9},
    {"Message Type 1008", "Antenna Descriptor & Serial Number", 11},
    {"Message Type 1009", "L1-Only GLONASS RTK Observables", 12},
    {"Message Type 1010", "Extended L1-Only GLONASS RTK Observables", 12},
    {"Message Type 1011", "L1&L2 GLONASS RTK Observables", 12},
    {"Message Type 1012", "Extended L1&L2 GLONASS RTK Observables", 12},
    {"Message Type 1013", "System Parameters", 11},
    {"Message Type 1014", "Network Auxiliary Station Data", 13},
    {"Message Type 1015", "GPS Ionospheric Correction Differences", 13},
    {"Message Type 1016", "GPS Geometric Correction Differences", 13},
    {"Message Type 1017", "GPS Combined Geometric and Ionospheric Correction Differences", 13},
    {"Message Type 1019", "GPS Satellite Ephemeris Data", 35},
    {"Message Type 1020", "GLONASS Satellite Ephemeris Data", 69},
    {"Message Type 1021", "Helmert / Abridged Molodenski Transformation Parameters", 37},
    {"Message Type 1022", "Molodenski-Badekas Transformation Parameters", 40},
    {"Message Type 1023", "Residuals, Ellipsoidal Grid Representation", 22},
    {"Message Type 1024", "Residuals, Plane Grid Representation", 21},
    {"Message Type 1025", "Projection message, Lambert Conic Conformal", 12},
    {"Message Type 1026", "Projection message", 13},
    {"Message Type 1027", "Projection message, Lambert Conic Conformal", 15},
    {"Message Type 1029", "Unicode Text String", 11},
    {"Message Type 1030", "GPS Network RTK Residual", 10},
    {"Message Type 1031", "GLONASS Network RTK Residual", 10},
    {"Message Type 1303", "BeiDou Network RTK Residual", 10},
    {"Message Type 1304", "Galileo Network RTK Residual", 10},
    {"Message Type 1032", "Physical Reference Station Position Information", 11},
    {"Message Type 1033", "Receiver and Antenna Descriptors", 17},
    {"Message Type 1037", "GLONASS Ionospheric Correction Differences", 13},
    {"Message Type 1038", "GLONASS Geometric Correction Differences", 13},
    {"Message Type 1039", "GLONASS Combined Geometric and Ionospheric Correction Differences", 13},
    {"Message Type 1041", "NavIC/IRNSS Satellite Ephemeris Data", 35},
    {"Message Type 1042", "BeiDou Satellite Ephemeris Data", 33},
    {"Message Type 1044", "QZSS Satellite Ephemeris Data", 34},
    {"Message Type 1045", "Galileo F/NAV Satellite Ephemeris Data", 33},
    {"Message Type 1046", "Galileo I/NAV Satellite Ephemeris Data", 36},
    {"Message Type 1057", "SSR GPS Orbit Correction", 16},
    {"Message Type 1058", "SSR GPS Clock Correction", 16},
    {"Message Type 1059", "SSR GPS Satellite Code Bias", 16},
    {"Message Type 1060", "SSR GPS Combined Orbit and Clock Corrections", 16},
    {"Message Type 1061", "SSR GPS URA", 16},
    {"Message Type 1062", "SSR GPS High Rate Clock Correction", 16},
    {"Message Type 1063", "SSR GLONASS Orbit Correction", 16},
    {"Message Type 1064", "SSR GLONASS Clock Correction", 16},
    {"Message Type 1065", "SSR GLONASS Satellite Code Bias", 16},
    {"Message Type 1066", "SSR GLONASS Combined Orbit and Clock Corrections", 16},
    {"Message Type 1067", "SSR GLONASS URA", 16},
    {"Message Type 1068", "SSR GLONASS High Rate Clock Correction", 16},
    {"Message Type 1071", "GPS MSM1", 24}, {"Message Type 1072", "GPS MSM2", 24},
    {"Message Type 1073", "GPS MSM3", 24}, {"Message Type 1074", "GPS MSM4", 24},
    {"Message Type 1075", "GPS MSM5", 24}, {"Message Type 1076", "GPS MSM6", 24},
    {"Message Type 1077", "GPS MSM7", 24},
    {"Message Type 1081", "GLONASS MSM1", 24}, {"Message Type 1082", "GLONASS MSM2", 24},
    {"Message Type 1083", "GLONASS MSM3", 24}, {"Message Type 1084", "GLONASS MSM4", 24},
    {"Message Type 1085", "GLONASS MSM5", 24}, {"Message Type 1086", "GLONASS MSM6", 24},
    {"Message Type 1087", "GLONASS MSM7", 24},
    {"Message Type 1091", "Galileo MSM1", 24}, {"Message Type 1092", "Galileo MSM2", 24},
    {"Message Type 1093", "Galileo MSM3", 24}, {"Message Type 1094", "Galileo MSM4", 24},
    {"Message Type 1095", "Galileo MSM5", 24}, {"Message Type 1096", "Galileo MSM6", 24},
    {"Message Type 1097", "Galileo MSM7", 24},
    {"Message Type 1101", "SBAS MSM1", 24}, {"Message Type 1102", "SBAS MSM2", 24},
    {"Message Type 1103", "SBAS MSM3", 24}, {"Message Type 1104", "SBAS MSM4", 24},
    {"Message Type 1105", "SBAS MSM5", 24}, {"Message Type 1106", "SBAS MSM6", 24},
    {"Message Type 1107", "SBAS MSM7", 24},
    {"Message Type 1111", "QZSS MSM1", 24}, {"Message Type 1112", "QZSS MSM2", 24},
    {"Message Type 1113", "QZSS MSM3", 24}, {"Message Type 1114", "QZSS MSM4", 24},
    {"Message Type 1115", "QZSS MSM5", 24}, {"Message Type 1116", "QZSS MSM6", 24},
    {"Message Type 1117", "QZSS MSM7", 24},
    {"Message Type 1121", "BeiDou MSM1", 24}, {"Message Type 1122", "BeiDou MSM2", 24},
    {"Message Type 1123", "BeiDou MSM3", 24}, {"Message Type 1124", "BeiDou MSM4", 24},
    {"Message Type 1125", "BeiDou MSM5", 24}, {"Message Type 1126", "BeiDou MSM6", 24},
    {"Message Type 1127", "BeiDou MSM7", 24},
    {"Message Type 1131", "NavIC/IRNSS MSM1", 24}, {"Message Type 1132", "NavIC/IRNSS MSM2", 24},
    {"Message Type 1133", "NavIC/IRNSS MSM3", 24}, {"Message Type 1134", "NavIC/IRNSS MSM4", 24},
    {"Message Type 1135", "NavIC/IRNSS MSM5", 24}, {"Message Type 1136", "NavIC/IRNSS MSM6", 24},
    {"Message Type 1137", "NavIC/IRNSS MSM7", 24},
    {"Message Type 1230", "GLONASS L1 and L2 Code-Phase Biases", 13},
    {"Message Type 4090", "Proprietary message Geo++", 5},
    {"Message Type 4091", "Proprietary message Topcon", 5},
    {"SIGIL 1", "Position, velocity and delta position", 25},
    {"SIGIL 2", "Covariance of position and velocity", 30},
};

struct SubMessage
{
    const char *name;
    int fields;
};

// In registration order.
const SubMessage kSubMessages[] = {
    {"Refsig Basic", 6}, {"Refsig Extended", 2}, {"Deltasig Basic", 4}, {"Deltasig Extended", 1},
    {"Basic 1", 1}, {"Extended 1", 2}, {"Basic 2", 2}, {"Extended 2", 4}, {"Announcement", 3},
    {"SSR Orbit Correction", 11}, {"SSR Clock Correction", 4}, {"Code Bias", 2},
    {"SSR Code Bias", 3}, {"Phase Bias", 5}, {"SSR Phase Bias", 5},
    {"SSR Combined Orbit and Clock Corrections", 14}, {"SSR URA", 4},
    {"SSR High Rate Clock Correction", 2}, {"Ionospheric Correction Difference", 4},
    {"Geometric Correction Difference", 5}, {"Combined Correction Difference", 6},
    {"MSM Satellite Data", 5}, {"MSM Signal Data", 10}, {"llh Residual", 3},
    {"enu Residual", 3}, {"Network RTK Residual", 6},
};

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
        if (std::strcmp(static_cast<const RTCM3FieldInfo *>(f)->spec().name, name) == 0)
            return f;
    }
    ADD_FAILURE() << message << " has no field " << name;
    return nullptr;
}

// ---- the format and its registration ------------------------------------------------------

TEST(FormatDescription, RegistersTheMainMessagesInTheFixedOrderWithTheirTextsAndFieldCounts)
{
    ASSERT_EQ(format()->getName(), QStringLiteral("RTCM3"));
    const QList<const MessageInfo *> &infos = format()->getMessageInfos();
    ASSERT_EQ(infos.size(), qsizetype(std::size(kMainMessages)));
    for (qsizetype k = 0; k < infos.size(); ++k) {
        SCOPED_TRACE(kMainMessages[k].name);
        EXPECT_EQ(infos[k]->getName(), QString::fromUtf8(kMainMessages[k].name));
        EXPECT_EQ(infos[k]->getShortDescriptiveText(), QString::fromUtf8(kMainMessages[k].text));
        EXPECT_EQ(infos[k]->getFieldCount(), kMainMessages[k].fields);
        EXPECT_TRUE(infos[k]->isMain());
        EXPECT_EQ(infos[k]->getFormatInfo(), format());
    }
}

TEST(FormatDescription, RegistersTheSubMessagesInTheFixedOrderAsNestedBlocks)
{
    const QList<const MessageInfo *> &infos = format()->getSubMessageInfos();
    ASSERT_EQ(infos.size(), qsizetype(std::size(kSubMessages)));
    for (qsizetype k = 0; k < infos.size(); ++k) {
        SCOPED_TRACE(kSubMessages[k].name);
        EXPECT_EQ(infos[k]->getName(), QString::fromUtf8(kSubMessages[k].name));
        EXPECT_EQ(infos[k]->getFieldCount(), kSubMessages[k].fields);
        EXPECT_FALSE(infos[k]->isMain());
        EXPECT_TRUE(infos[k]->getDiscriminants().isEmpty());
        EXPECT_TRUE(infos[k]->getShortDescriptiveText().isEmpty());
        EXPECT_EQ(infos[k]->getFormatInfo(), format());
    }
}

TEST(FormatDescription, LaterCallsReturnTheSameObjectWithoutRegisteringAgain)
{
    const RTCM3_FormatInfo *first = format();
    EXPECT_EQ(RTCM3_FormatInfo::getInstance(), first);
    EXPECT_EQ(first->getMessageInfos().size(), 107);
    EXPECT_EQ(first->getSubMessageInfos().size(), 26);
    const QList<const MessageInfo *> all = allDescriptions();
    EXPECT_EQ(QSet<const MessageInfo *>(all.begin(), all.end()).size(), 133);
    EXPECT_EQ(RTCM3_Message_Type_1005_MessageInfo::getInstance(), description("Message Type 1005"));
    EXPECT_EQ(RTCM3_MSM_Signal_Data_MessageInfo::getInstance(), description("MSM Signal Data"));
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

TEST(MessageDescriptions, IdentifyMainMessagesByTheirTwelveBitMessageNumber)
{
    for (const MainMessage &main : kMainMessages) {
        const MessageInfo *info = description(main.name);
        if (!info)
            continue;
        SCOPED_TRACE(main.name);
        const auto &discriminants = info->getDiscriminants();
        const bool sigil = QByteArray(main.name).startsWith("SIGIL");
        ASSERT_EQ(discriminants.size(), sigil ? 2 : 1);
        EXPECT_EQ(discriminants[0].field, info->getFieldInfo(3));
        EXPECT_EQ(discriminants[0].field->getName(), QStringLiteral("Message Number"));
        const quint64 number = sigil ? 4089 : QByteArray(main.name).mid(13).toULongLong();
        EXPECT_EQ(discriminants[0].value, FieldValue::u(number, 12));
    }
}

TEST(MessageDescriptions, TellTheTwoSigilRecordsApartOnlyByKvtId)
{
    const MessageInfo *first = description("SIGIL 1");
    const MessageInfo *second = description("SIGIL 2");
    ASSERT_TRUE(first && second);
    EXPECT_EQ(first->getDiscriminants()[0].value, second->getDiscriminants()[0].value);
    EXPECT_EQ(first->getDiscriminants()[1].field, first->getFieldInfo(4));
    EXPECT_EQ(first->getDiscriminants()[1].field->getName(), QStringLiteral("KVT_ID"));
    EXPECT_EQ(first->getDiscriminants()[1].value, FieldValue::u(1, 12));
    EXPECT_EQ(second->getDiscriminants()[1].value, FieldValue::u(2, 12));
}

TEST(MessageDescriptions, RegisterSsrPhaseBiasThoughNoMainMessageNestsIt)
{
    const MessageInfo *phaseBias = description("SSR Phase Bias");
    for (const MessageInfo *info : format()->getMessageInfos()) {
        for (const FieldInfo *f : info->getFieldInfos())
            EXPECT_NE(f->getType().subMessageInfo(), phaseBias) << info->getName().toStdString();
    }
    EXPECT_EQ(format()->findMessageInfo(QStringLiteral("Message Type 1240")), nullptr);
    EXPECT_EQ(format()->findMessageInfo(QStringLiteral("Message Type 1265")), nullptr);
}

TEST(MessageDescriptions, NestOnlyRegisteredSubMessageDescriptionsInEightyEightRecords)
{
    const QList<const MessageInfo *> &subs = format()->getSubMessageInfos();
    int nesting = 0;
    for (const MessageInfo *info : allDescriptions()) {
        bool nests = false;
        for (const FieldInfo *f : info->getFieldInfos()) {
            if (f->getType().kind() != FieldType::SubMessage)
                continue;
            nests = true;
            EXPECT_TRUE(subs.contains(f->getType().subMessageInfo()))
                << info->getName().toStdString() << "::" << f->getName().toStdString();
        }
        nesting += nests;
    }
    EXPECT_EQ(nesting, 88);
}

// ---- field descriptions ----------------------------------------------------------------------

struct PropertyTotals
{
    int fields = 0, u = 0, i = 0, byte = 0, ch = 0, f32 = 0, f64 = 0, sub = 0;
    int symbolic = 0, doNotUse = 0, scaled = 0, unit = 0, precision = 0;
    int optional = 0, repeated = 0, isVirtual = 0, subFields = 0;
    int role1 = 0, role2 = 0, noRole = 0;
};

PropertyTotals totals()
{
    PropertyTotals t;
    for (const MessageInfo *info : allDescriptions()) {
        for (const FieldInfo *f : info->getFieldInfos()) {
            ++t.fields;
            switch (f->getType().kind()) {
            case FieldType::Unsigned: ++t.u; break;
            case FieldType::Signed: ++t.i; break;
            case FieldType::Byte: ++t.byte; break;
            case FieldType::Char: ++t.ch; break;
            case FieldType::Float32: ++t.f32; break;
            case FieldType::Float64: ++t.f64; break;
            case FieldType::SubMessage: ++t.sub; break;
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
    }
    return t;
}

TEST(FieldDescriptions, TypeTotalsMatchThePublishedCounts)
{
    const PropertyTotals t = totals();
    EXPECT_EQ(t.fields, 2330);
    EXPECT_EQ(t.u, 1215);
    EXPECT_EQ(t.i, 221);
    EXPECT_EQ(t.byte, 726);
    EXPECT_EQ(t.ch, 12);
    EXPECT_EQ(t.f32, 11);
    EXPECT_EQ(t.f64, 3);
    EXPECT_EQ(t.sub, 142);
}

TEST(FieldDescriptions, PropertyTotalsMatchThePublishedCounts)
{
    const PropertyTotals t = totals();
    EXPECT_EQ(t.symbolic, 335);
    EXPECT_EQ(t.doNotUse, 19);
    EXPECT_EQ(t.scaled, 196);
    EXPECT_EQ(t.unit, 203);
    EXPECT_EQ(t.precision, 2);
    EXPECT_EQ(t.optional, 113);
    EXPECT_EQ(t.repeated, 219);
    EXPECT_EQ(t.isVirtual, 210);
    EXPECT_EQ(t.subFields, 5);
}

// Structure roles: the 14 sign and magnitude pairs of 1020, four masks of each of the 49
// Multiple Signal Messages, three counters and indicators of 1021 and 1022, two Status words.
TEST(FieldDescriptions, GiveStructureRolesToRawPartsAndNoRoleToNestedBlocks)
{
    const PropertyTotals t = totals();
    EXPECT_EQ(t.role2, 28 + 4 * 49 + 6 + 2);
    EXPECT_EQ(t.noRole, t.sub);
    EXPECT_EQ(t.role1 + t.role2 + t.noRole, t.fields);
}

TEST(FieldDescriptions, AreOneObjectPerFieldOfEveryRecord)
{
    QSet<const FieldInfo *> distinct;
    for (const MessageInfo *info : allDescriptions()) {
        for (const FieldInfo *f : info->getFieldInfos())
            distinct.insert(f);
    }
    EXPECT_EQ(distinct.size(), 2330);
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
        {"Message Type 1022", "Utilized_Transformation_Message_Indicator",
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

struct TypeCase
{
    const char *message;
    const char *field;
    const char *type;
};

// Where the tables fix a type, or widths differ by message, and where the list was wrong.
TEST(FieldDescriptions, HaveTheDecidedTypeAndWidth)
{
    const TypeCase cases[] = {
        {"Message Type 1005", "Preamble", "byte"},
        {"Message Type 1005", "Reserved", "byte"},
        {"Message Type 1005", "Message_Length", "u10"},
        {"Message Type 1005", "Message_Number", "u12"},
        {"Message Type 1005", "CRC", "byte"},
        {"Message Type 1005", "Reserved1", "u6"},
        {"Message Type 1005", "ECEF_X", "i38"},
        {"SSR URA", "URA_CLASS", "u3"},
        {"SSR URA", "URA_VALUE", "u3"},
        {"SSR URA", "Satellite_ID", "u6"},
        {"SSR Orbit Correction", "Satellite_ID", "u6"},
        {"Message Type 1021", "Utilized_1023", "u1"},
        {"Message Type 1022", "Utilized_1027", "u1"},
        {"SIGIL 1", "Bit_15", "u1"},
        {"SIGIL 2", "Bit_0", "u1"},
        {"SIGIL 1", "KVT_ID", "u12"},
        {"Message Type 1057", "Epoch_Time", "u20"},
        {"Message Type 1063", "Epoch_Time", "u17"},
        {"Message Type 1015", "Epoch_Time", "u23"},
        {"Message Type 1037", "Epoch_Time", "u20"},
        {"Message Type 1030", "Epoch_Time", "u20"},
        {"Message Type 1031", "Epoch_Time", "u17"},
        {"Message Type 1009", "Epoch_Time", "u30"},
        {"Message Type 1081", "Epoch_Time", "u30"},
        {"Message Type 1081", "Day_of_Week", "u3"},
        {"Refsig Basic", "Pseudorange", "u24"},
        {"Refsig Extended", "Modulus_Ambiguity", "u8"},
        {"Message Type 1077", "Nsat", "u8"},
        {"Message Type 1077", "Cell_Mask", "byte"},
        {"Message Type 1077", "Satellite_Mask", "u64"},
        {"Message Type 1020", "x", "f64"},
        {"Message Type 1020", "dx", "f32"},
        {"Message Type 1020", "dx_SB", "byte"},
        {"Message Type 1020", "dx_mag", "u23"},
        {"Message Type 1008", "Antenna_Descriptor", "char"},
        {"Message Type 1023", "Residuals", "submsg"},
        {"Message Type 1041", "Reserved1", "u10"},
        {"Message Type 1230", "Reserved1", "byte"},
    };
    for (const TypeCase &c : cases) {
        const FieldInfo *f = field(c.message, c.field);
        ASSERT_NE(f, nullptr);
        EXPECT_EQ(f->getType().toString(), QString::fromUtf8(c.type)) << c.message << "::" << c.field;
    }
}

struct FlagCase
{
    const char *message;
    const char *field;
    const char *display;
    bool optional, repeated, isVirtual;
    int role;
};

TEST(FieldDescriptions, CarryTheDecidedDisplayNamesPresenceMarksAndRoles)
{
    const FlagCase cases[] = {
        {"Refsig Basic", "Code_Indicator", "Code Indicator", true, false, false, 1},
        {"SSR Combined Orbit and Clock Corrections", "IOD", "IOD", true, false, false, 1},
        {"SSR Combined Orbit and Clock Corrections", "IODnav", "IODnav", true, false, false, 1},
        {"SSR Combined Orbit and Clock Corrections", "IOD_CRC", "IOD CRC", true, false, false, 1},
        {"Phase Bias", "Signal_and_Tracking_Mode_Indicator", "Signal and Tracking Mode Indicator",
         false, false, false, 1},
        {"Message Type 1023", "Residuals", "Residuals", false, true, false, 0},
        {"Message Type 1077", "MSM_Signal_Data", "MSM Signal Data", false, false, false, 0},
        {"Message Type 1077", "Cell_Mask_Length", "Cell Mask Length", false, false, true, 2},
        {"Message Type 1077", "Ncell", "Ncell", false, false, true, 1},
        {"MSM Satellite Data", "Satellite_Rough_Range_Mod_1ms", "Satellite Rough Range Mod 1ms",
         false, true, false, 1},
        {"MSM Signal Data", "Fine_PseudoRange", "Fine PseudoRange", true, true, false, 1},
        {"Message Type 1020", "x", "x", false, false, true, 1},
        {"Message Type 1020", "x_SB", "x SB", false, false, false, 2},
        {"SSR URA", "URA_CLASS", "URA CLASS", false, false, false, 1},
        {"Message Type 1021", "Source_Name_Counter", "Source-Name Counter", false, false, false, 2},
        {"Message Type 1021", "Source_Name", "Source-Name", false, true, false, 1},
        {"SIGIL 2", "Rho_VxVy", "Rho_VxVy", false, false, false, 1},
        {"Message Type 1046", "E1_B_DVS", "E1-B DVS", false, false, false, 1},
        {"Message Type 1005", "CRC", "CRC", false, true, false, 1},
    };
    for (const FlagCase &c : cases) {
        const FieldInfo *f = field(c.message, c.field);
        if (!f)
            continue;
        SCOPED_TRACE(std::string(c.message) + "::" + c.field);
        EXPECT_EQ(f->getName(), QString::fromUtf8(c.display));
        EXPECT_EQ(f->isOptional(), c.optional);
        EXPECT_EQ(f->isRepeated(), c.repeated);
        EXPECT_EQ(f->isVirtual(), c.isVirtual);
        EXPECT_EQ(f->getRole(), c.role);
    }
}

TEST(FieldDescriptions, KeepExactPowerOfTwoScalesUnitsAndPrecision)
{
    const FieldInfo *idot = field("Message Type 1019", "IDOT");
    ASSERT_NE(idot, nullptr);
    EXPECT_EQ(idot->getScaleFactor(), std::ldexp(1.0, -43));
    EXPECT_EQ(idot->getUnit(), QStringLiteral("semicirclepersecond"));
    EXPECT_FALSE(idot->hasPrecision());
    const FieldInfo *tow = field("SIGIL 2", "TOW");
    ASSERT_NE(tow, nullptr);
    EXPECT_EQ(tow->getScaleFactor(), 0.001);
    EXPECT_EQ(tow->getPrecision(), 3);
    EXPECT_EQ(tow->getUnit(), QStringLiteral("second"));
    const FieldInfo *gd = field("Message Type 1042", "T_GD1");
    ASSERT_NE(gd, nullptr);
    EXPECT_EQ(gd->getScaleFactor(), 1e-10);
    const FieldInfo *gamma = field("Message Type 1020", "gamma");
    ASSERT_NE(gamma, nullptr);
    EXPECT_FALSE(gamma->hasUnit());
    EXPECT_FALSE(gamma->hasScaleFactor());
}

TEST(FieldDescriptions, KeepSymbolicValuesInTableOrderInTheirKindAndInTheirOwnHash)
{
    const auto *quarterCycle = RTCM3_Message_Type_1005_Quarter_Cycle_Indicator_FieldInfo::getInstance();
    EXPECT_EQ(quarterCycle, RTCM3_Message_Type_1005_Quarter_Cycle_Indicator_FieldInfo::getInstance_nonconst());
    EXPECT_EQ(quarterCycle, description("Message Type 1005")->getFieldInfo(14));
    const QStringList texts = {"Unspecified", "Corrected", "Not Corrected", "Reserved"};
    const auto &symbols = quarterCycle->getSymbolicValues();
    ASSERT_EQ(symbols.size(), 4);
    ASSERT_NE(quarterCycle->symbolTexts(), nullptr);
    for (int v = 0; v < 4; ++v) {
        EXPECT_EQ(symbols[v].first, FieldValue::byte(quint8(v)));
        EXPECT_EQ(symbols[v].second, texts[v]);
        EXPECT_EQ(quarterCycle->symbolTexts()->value(v), texts[v]);
    }
    EXPECT_EQ(RTCM3_Message_Type_1005_ECEF_X_FieldInfo::getInstance()->symbolTexts(), nullptr);
    const FieldInfo *plates = field("Message Type 1022", "Plate_Number");
    ASSERT_NE(plates, nullptr);
    EXPECT_EQ(plates->getSymbolicValues().size(), 17);
    EXPECT_EQ(plates->getSymbolicValues().last().first, FieldValue::u(16, 5));
}

TEST(FieldDescriptions, KeepDoNotUseValuesInTheFieldsOwnKindAndWidth)
{
    const auto *finePseudoRange = field("MSM Signal Data", "Fine_PseudoRange");
    const auto *pseudorange = field("Refsig Basic", "Pseudorange");
    const auto *bias = field("Message Type 1230", "GLONASS_L1_C_A_Code_Phase_Bias");
    const auto *cnr = field("Deltasig Extended", "CNR");
    ASSERT_TRUE(finePseudoRange && pseudorange && bias && cnr);
    EXPECT_EQ(finePseudoRange->getDoNotUseValue(), FieldValue::i(-16384, 15));
    EXPECT_EQ(pseudorange->getDoNotUseValue(), FieldValue::u(524288, 24));
    EXPECT_EQ(bias->getDoNotUseValue(), FieldValue::i(-32768, 16));
    EXPECT_EQ(cnr->getDoNotUseValue(), FieldValue::u(0, 8));
    EXPECT_FALSE(field("Refsig Extended", "CNR")->hasDoNotUseValue());
}

TEST(FieldDescriptions, DescribeNestedBlocksByTheirSubMessageDescription)
{
    const FieldInfo *signalData = field("Message Type 1077", "MSM_Signal_Data");
    ASSERT_NE(signalData, nullptr);
    EXPECT_EQ(signalData->getType(), FieldType::subMessage(RTCM3_MSM_Signal_Data_MessageInfo::getInstance()));
    EXPECT_EQ(signalData->getRole(), 0);
    const FieldInfo *biases = field("SSR Code Bias", "Code_Bias");
    ASSERT_NE(biases, nullptr);
    EXPECT_EQ(biases->getType().subMessageInfo(), RTCM3_Code_Bias_MessageInfo::getInstance());
    EXPECT_TRUE(biases->isRepeated());
}

} // namespace
