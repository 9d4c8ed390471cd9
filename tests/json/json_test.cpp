// JSON and text lines of decoded records. The oracle for every record type with a host
// description is that description: its presence rules, counts, values, scales and widths,
// read through the host's own code path, must be what the line says.

#include "FieldValue.h"
#include "Message.h"
#include "MessageInfo.h"
#include "RTCM3RecordWriter.h"
#include "RTCM3_FieldInfoT.h"
#include "RTCM3_MessageT.h"
#include "RTCM3_reflect.h"
#include "RTCM3_units.h"
#include "../codec/frames.h"
#include "../support/random_record.h"

#include <gtest/gtest.h>

#include <QtCore/QJsonArray>
#include <QtCore/QJsonDocument>
#include <QtCore/QJsonObject>
#include <QtCore/QSet>


using namespace Kvt::Nuvrix;
using RTCM3Field::Kind;

namespace {

const QSet<QString> kFrameFields{"Preamble", "Reserved", "Message_Length", "Message_Number", "CRC"};

QJsonObject parseLine(const std::string &line)
{
    EXPECT_EQ(line.find('\n'), std::string::npos) << line;
    QJsonParseError error;
    const QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
    EXPECT_EQ(error.error, QJsonParseError::NoError) << error.errorString().toStdString() << "\n" << line;
    EXPECT_TRUE(doc.isObject()) << line;
    return doc.object();
}

const reflect::Field *fieldNamed(const reflect::RecordLayout &info, const QString &name)
{
    for (uint16_t k = 0; k < info.fieldCount; ++k)
        if (name == QLatin1String(info.fields[k].name))
            return &info.fields[k];
    return nullptr;
}

// The line holds the physical value the list gives: raw times the list's scale (the correctly
// rounded product, or for a scale no decimal writes, that product to the decimals that read
// back to the raw value), null for the raw value that means none.
bool keyed(const reflect::RecordLayout &info, const QString &key)
{
    for (uint16_t k = 0; k < info.fieldCount; ++k)
        if (key == QLatin1String(info.fields[k].key))
            return true;
    return false;
}

double scaleOf(const reflect::Field &row)
{
    return row.decimals >= 0 ? row.scaleNumerator / std::pow(10.0, row.decimals) : row.scaleNumerator;
}

// Raw times the scale, or where the list says more (a raw value that means zero, a packed
// field, a scale per message), what its unit constant makes of the raw value.
double expected(const reflect::Field &row, double raw, uint16_t number)
{
    if (row.extra)
        return units::value(units::in(*row.extra->physical, number), int64_t(raw)).value_or(NAN);
    return raw * scaleOf(row);
}

void expectValue(const QJsonValue &json, const RTCM3FieldInfo *f, const reflect::Field &row, const FieldValue &v,
                 uint16_t number, const std::string &where)
{
    const RTCM3Field::Spec &s = f->spec();
    const bool isSigned = s.kind == Kind::Signed;
    const bool isReal = s.kind == Kind::Float32 || s.kind == Kind::Float64;
    const double raw = isReal ? v.toDouble() : isSigned ? double(v.toSigned()) : double(v.toUnsigned());
    if ((row.flags & reflect::HasInvalid) && !isReal && raw == double(row.invalid))
        EXPECT_TRUE(json.isNull()) << where;
    else if (reflect::isScaled(row) && (isReal || row.resolution < 0))
        EXPECT_DOUBLE_EQ(json.toDouble(), expected(row, raw, number)) << where;
    else if (reflect::isScaled(row)) {  // written to its resolution: within half a step, and back to raw
        EXPECT_NEAR(json.toDouble(), raw * scaleOf(row), std::fabs(scaleOf(row)) / 2) << where;
        EXPECT_EQ(double(std::llround(json.toDouble() / scaleOf(row))), raw) << where;
    }
    else if (s.kind == Kind::Float32)
        EXPECT_EQ(float(json.toDouble()), float(v.toDouble())) << where;
    else if (s.kind == Kind::Float64)
        EXPECT_EQ(json.toDouble(), v.toDouble()) << where;
    else if (isSigned)
        EXPECT_EQ(json.toInteger(), v.toSigned()) << where;
    else if (row.flags & reflect::Hex)
        EXPECT_EQ(json.toString(), "0x" + QString::number(v.toUnsigned(), 16)) << where;
    else
        EXPECT_EQ(json.toInteger(-1), qint64(v.toUnsigned())) << where;
}

// Every present field of the host message, reserved and frame fields left out, and nothing
// else, under its member name.
void compareWithHost(const QJsonObject &json, const Message *message, const reflect::RecordLayout &info,
                     uint16_t number, const QString &where)
{
    QSet<QString> expected;
    for (const FieldInfo *field : message->getMessageInfo()->getFieldInfos()) {
        const auto *f = static_cast<const RTCM3FieldInfo *>(field);
        const QString name = f->name();
        const reflect::Field *row = fieldNamed(info, name);
        if (kFrameFields.contains(name) || (row && (row->flags & reflect::Reserved)))
            continue;
        const QString key = QString::fromLatin1(row->key);
        if (!f->isPresent(message)) {
            // The host calls an empty string, array or group absent; JSON may show it empty.
            const QJsonValue empty = json.value(key);
            if (f->isRepeated() && (empty.toArray().isEmpty() && empty.toString().isEmpty()) && !empty.isUndefined())
                expected.insert(key);
            continue;
        }
        expected.insert(key);
        const QString at = where + "." + key;
        const QJsonValue value = json.value(key);
        const unsigned count = f->getCount(message);
        if (f->spec().kind == Kind::SubMessage && !f->isRepeated()) {
            compareWithHost(value.toObject(), f->getValue(message, 0).toSubMessage(), *row->sub, number, at);
        } else if (f->spec().kind == Kind::Char) {
            EXPECT_EQ(value.toString(), f->getValueString(message)) << at.toStdString();
        } else if ((row->flags & reflect::Text)) {  // bytes the list shows as text
            QByteArray bytes;
            for (unsigned i = 0; i < count; ++i)
                bytes += char(f->getValue(message, i).toUnsigned());
            const QString text = QString::fromUtf8(bytes);
            if (text.toUtf8() == bytes)
                EXPECT_EQ(value.toString(), text) << at.toStdString();
            else
                EXPECT_TRUE(value.isString()) << at.toStdString();
        } else if (!f->isRepeated()) {
            expectValue(value, f, *row, f->getValue(message, 0), number, at.toStdString());
        } else {
            const QJsonArray array = value.toArray();
            ASSERT_EQ(unsigned(array.size()), count) << at.toStdString();
            for (unsigned i = 0; i < count; ++i) {
                const FieldValue v = f->getValue(message, i);
                if (f->spec().kind == Kind::SubMessage)
                    compareWithHost(array[i].toObject(), v.toSubMessage(), *row->sub, number, at + QString("[%1]").arg(i));
                else
                    expectValue(array[i], f, *row, v, number, at.toStdString());
            }
        }
    }
    const QStringList names = json.keys();
    QSet<QString> keys(names.begin(), names.end());
    keys.remove("number");
    keys.remove("name");
    QStringList got(keys.begin(), keys.end()), want(expected.begin(), expected.end());
    got.sort();
    want.sort();
    EXPECT_EQ(got.join(' ').toStdString(), want.join(' ').toStdString()) << where.toStdString();
}

// Reads a record's text back field by field: each line under its field's name, each scaled
// value raw times the list's scale (within half a step where written to a resolution) and
// the unit after the last.
struct TextCheck final : reflect::Visitor
{
    QStringList lines;
    uint16_t number = 0;
    qsizetype at = 1;  // after the heading
    template <class Get>
    void check(const reflect::Field &f, uint32_t count, Get get)
    {
        const QString line = lines.value(at++).trimmed(), label = QLatin1String(f.display) + QLatin1Char(':');
        ASSERT_TRUE(line.startsWith(label)) << line.toStdString();
        const QString values = line.mid(label.size());
        const QStringList tokens = count == 1 ? QStringList{values} : values.split(QLatin1Char(','));
        ASSERT_EQ(uint32_t(tokens.size()), std::max(count, 1u)) << line.toStdString();
        for (uint32_t i = 0; i < count; ++i) {
            const reflect::Number n = get(i);
            if (!reflect::isScaled(f) || reflect::isInvalid(f, n))
                continue;
            const double want = expected(f, reflect::toDouble(n), number);
            const QStringList valueAndUnit = tokens[int(i)].trimmed().split(QLatin1Char(' '));
            EXPECT_NEAR(valueAndUnit[0].toDouble(), want, f.decimals < 0 && f.resolution >= 0 ? std::fabs(scaleOf(f)) / 2
                                                                                             : std::fabs(want) * 1e-15)
                << line.toStdString();
            EXPECT_EQ(valueAndUnit.value(1), QLatin1String(f.unit && i + 1 == count ? f.unit : "")) << line.toStdString();
        }
    }
    void value(const reflect::Field &f, reflect::Number n) override { check(f, 1, [n](uint32_t) { return n; }); }
    void array(const reflect::Field &f, const void *e, uint32_t count) override
    {
        check(f, count, [&](uint32_t i) { return reflect::numberAt(f, e, i); });
    }
    void string(const reflect::Field &, std::string_view) override { ++at; }
    void beginEmbed(const reflect::Field &) override { ++at; }
    void beginElement(const reflect::Field &, uint32_t) override { ++at; }
    void endEmbed(const reflect::Field &) override {}
    void beginGroup(const reflect::Field &, uint32_t) override {}
    void endElement(const reflect::Field &, uint32_t) override {}
    void endGroup(const reflect::Field &) override {}
};

// Writes the decoded record as a line and checks it; the record is released.
void checkDecoded(_RTCM3_message_t &record, uint16_t number)
{
    std::string line;
    ASSERT_TRUE(reflect::appendJson(line, record));
    const std::string head = "{\"number\":" + std::to_string(number) + ",\"name\":\"";
    EXPECT_EQ(line.compare(0, head.size(), head), 0) << line;
    const QJsonObject json = parseLine(line);
    const reflect::RecordLayout &info = *reflect::recordInfo(record.header.kvtcg_message);
    std::string text;
    ASSERT_TRUE(reflect::appendText(text, record));
    TextCheck reader;
    reader.number = number;
    reader.lines = QString::fromStdString(text).split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    reflect::walkMessage(record, reader);
    EXPECT_EQ(reader.at, reader.lines.size()) << text;
    if (auto message = RTCM3_adoptRecord(&record.header)) {
        compareWithHost(json, message.get(), info, number, info.name);
        return;
    }
    // Records without host descriptions: every key is a member of the record.
    for (const QString &key : json.keys())
        EXPECT_TRUE(key == "number" || key == "name" || keyed(info, key)) << key.toStdString();
    RTCM3_free_message_children(&record);
}

TEST(Json, EveryMessageTypeOfTheSampleStreamMatchesItsDescription)
{
    const auto frames = testframes::validFrames(testframes::readFile(NUVRIX_SAMPLE_STREAM));
    ASSERT_FALSE(frames.empty());
    QSet<int> types;
    for (const auto &frame : frames) {
        _RTCM3_message_t record;
        ASSERT_EQ(RTCM3_decode(nullptr, frame.data(), uint16_t(frame.size()), &record), int32_t(frame.size() * 8));
        const uint16_t number = uint16_t(frame[3] << 4 | frame[4] >> 4);
        if (!types.contains(number) || number / 10 == 107)  // every type once, GPS MSM every time
            checkDecoded(record, number);
        else
            RTCM3_free_message_children(&record);
        types.insert(number);
    }
    EXPECT_GT(types.size(), 20);
}

TEST(Json, RandomRecordOfEveryLayoutMatchesItsDescription)
{
    std::mt19937_64 rng(20240613);
    for (int e : randomrecord::messageEnumerators()) {
        for (int groupSize : {0, 1, 3}) {
            const auto encoded = randomrecord::randomFrame(e, rng, groupSize);
            ASSERT_GT(encoded.bits, 0) << e;
            _RTCM3_message_t record;
            ASSERT_EQ(RTCM3_decode(nullptr, encoded.frame.data(), uint16_t(encoded.frame.size()), &record),
                      encoded.bits) << e;
            checkDecoded(record, RTCM3_layout(e)->messageNumber);
        }
    }
}

// A 1240 entry: presence rules of a number that has no host description.
TEST(Json, SsrRecordWithoutHostDescriptionUsesTheRulesOfItsNumber)
{
    _RTCM3_message_t m;
    std::memset(&m, 0, sizeof m);
    auto &r = m.Message_Type_1240;
    RTCM3_init_Message_Type_1240(&r);
    r.Epoch_Time = 345600;
    auto *e = RTCM3_append_Message_Type_1240_Corrections(&r);
    std::memset(reinterpret_cast<uint8_t *>(e) + sizeof(RTCM3_kvtcg_header_s), 0, sizeof(*e) - sizeof(RTCM3_kvtcg_header_s));
    e->Satellite_ID = 7;
    e->IODnav = 300;
    e->Delta_Radial = -1234;
    e->Dot_Delta_Radial = -5;
    std::string line;
    ASSERT_TRUE(reflect::appendJson(line, m));
    const QJsonObject sat = parseLine(line).value("Corrections").toArray().at(0).toObject();
    EXPECT_EQ(sat.value("IODnav").toInteger(), 300);
    for (const char *exact : {"\"Delta_Radial\":-0.1234,", "\"Dot_Delta_Radial\":-0.000005,", "\"Delta_Along_Track\":0,"})
        EXPECT_NE(line.find(exact), std::string::npos) << exact << "\n" << line;
    EXPECT_FALSE(sat.contains("IOD") || sat.contains("IOD_CRC") || sat.contains("t_oe_modulo"));
    RTCM3_free_message_children(&m);
}

// The typed constants give back the raw value a physical one came from, and nothing for the
// marker of a missing value.
TEST(Units, PhysicalValuesReadBackToTheirRawValues)
{
    struct Row { units::Physical physical; int64_t raw; };
    const Row rows[] = {
        {units::Message_Type_1005::ECEF_X, -137438953471},
        {units::Message_Type_1006::Height, 65535},
        {units::MSM_Signal_Data::Fine_PseudoRange, -16383},
        {units::MSM_Signal_Data::Fine_PhaseRangeRate, -2995},  // x / scale falls just short of -2995
        {units::MSM_Signal_Data::Fine_PhaseRange_Extended_Resolution, 8388607},
        {units::MSM_Satellite_Data::Satellite_Rough_Range_Mod_1ms, 1023},
        {units::Refsig_Extended::CNR, 255},
        {units::Message_Type_1019::M_0, -2147483647},
    };
    for (const Row &row : rows) {
        const std::optional<double> value = units::value(row.physical, row.raw);
        ASSERT_TRUE(value) << row.raw;
        EXPECT_EQ(units::rawOf<int64_t>(row.physical, *value), row.raw) << *value;
    }
    EXPECT_FALSE(units::value(units::MSM_Signal_Data::Fine_PseudoRange, int16_t(-16384)));
    EXPECT_FALSE(units::value(units::Deltasig_Extended::CNR, uint8_t(0)));
}

} // namespace
