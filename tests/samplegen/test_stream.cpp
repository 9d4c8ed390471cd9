// The bundled sample as a stream: content and repeatability (every decode checks the length).

#include "sample.h"

#include <QFile>

#include <gtest/gtest.h>

#include <map>
#include <set>

using namespace samplegen_test;

namespace {

std::map<uint16_t, int> messageCounts()
{
    std::map<uint16_t, int> counts;
    for (const Frame& frame : framesOf(sampleStream()))
        ++counts[frame.number];
    return counts;
}

} // namespace

// The file is written by the program at build time: a program that wrote in text mode, cut the
// output short or ran from a stale build would differ here.
TEST(SampleStream, BundledFileIsWhatTheGeneratorMakes)
{
    QFile file(QStringLiteral(NUVRIX_SAMPLE_STREAM));
    ASSERT_TRUE(file.open(QIODevice::ReadOnly)) << NUVRIX_SAMPLE_STREAM << " missing: build rtcm3_sample";
    EXPECT_TRUE(file.readAll() == sampleStream());
}

// 1013 lists each message with its interval in tenths of a second; over the ten seconds of the
// sample a message announced every T seconds must appear 10 / T times, and only observations
// are synchronous.
TEST(SampleStream, SystemParametersAnnounceExactlyWhatIsSent)
{
    const std::map<uint16_t, int> counts = messageCounts();
    int lists = 0;
    forEachDecoded([&](const Frame& frame, const _RTCM3_message_t& m, int32_t) {
        if (frame.number != 1013)
            return;
        ++lists;
        const auto& r = m.Message_Type_1013;
        std::set<uint16_t> announced;
        for (int i = 0; i < r.No_of_Announcements; ++i) {
            const RTCM3_Announcement_s& a = r.Announcements[i];
            announced.insert(a.Message_ID);
            ASSERT_GT(a.Transmission_Interval, 0);
            const auto sent = counts.find(a.Message_ID);
            ASSERT_NE(sent, counts.end()) << "announced but never sent: " << a.Message_ID;
            EXPECT_EQ(sent->second * a.Transmission_Interval, 100) << "message " << a.Message_ID;
            const bool observation = a.Message_ID >= 1071 && a.Message_ID <= 1137;
            EXPECT_EQ(a.Sync_Flag, observation) << "message " << a.Message_ID;
        }
        EXPECT_EQ(announced.size(), counts.size()) << "a message is sent without being announced";
        EXPECT_EQ(r.Leap_Seconds, 18);
    });
    EXPECT_EQ(lists, 1);
}

TEST(SampleStream, TextMessageCountsCharactersAndCodeUnitsApart)
{
    int texts = 0;
    forEachDecoded([&](const Frame& frame, const _RTCM3_message_t& m, int32_t) {
        if (frame.number != 1029)
            return;
        ++texts;
        const auto& r = m.Message_Type_1029;
        const QByteArray units(reinterpret_cast<const char*>(r.UTF_8_Character_Code_Units),
                               r.Number_of_UTF_8_Code_Units);
        const QString text = QString::fromUtf8(units);
        EXPECT_FALSE(text.contains(QChar::ReplacementCharacter)) << "not valid UTF-8";
        EXPECT_EQ(r.Number_of_Characters_to_Follow, text.toUcs4().size());
        EXPECT_GT(r.Number_of_UTF_8_Code_Units, r.Number_of_Characters_to_Follow) << "no multi-byte character";
        EXPECT_TRUE(text.contains(QStringLiteral("Zürich")));
    });
    EXPECT_EQ(texts, 1);
}
