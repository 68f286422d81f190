// The transcoder's value parsers and the option-string splitter, on their own.
#include "engine/OptionParsers.h"
#include "engine/FFmpegException.h"

#include <gtest/gtest.h>

#include <stdexcept>

using namespace cw;

namespace {

template <typename F> std::string ErrorOf(F&& call) {
    try {
        call();
    } catch (const std::exception& error) {
        return error.what();
    }
    return {};
}

TEST(OptionParsersTest, NumbersAreStrict) {
    EXPECT_EQ(OptionInt("-12"), -12);
    EXPECT_EQ(OptionInt("+7"), 7);
    EXPECT_EQ(OptionInt64("5000000000"), 5000000000LL);
    EXPECT_THROW(OptionInt("12a"), std::invalid_argument);
    EXPECT_THROW(OptionInt(""), std::invalid_argument);
    EXPECT_THROW(OptionInt("+-3"), std::invalid_argument);
    EXPECT_THROW(OptionInt("3000000000"), std::invalid_argument);
    EXPECT_EQ(ErrorOf([] { OptionInt("x"); }), "'x' is not a valid integer value");
    EXPECT_DOUBLE_EQ(OptionFloat("0.44"), 0.44);
    EXPECT_DOUBLE_EQ(OptionFloat("-2e1"), -20.0);
    EXPECT_THROW(OptionFloat("0.4x"), std::invalid_argument);
    EXPECT_THROW(OptionFloat(" 1"), std::invalid_argument);
    EXPECT_THROW(OptionFloat("nan"), std::invalid_argument);
    EXPECT_TRUE(OptionBool(""));
    EXPECT_TRUE(OptionBool("no"));
    EXPECT_FALSE(OptionBool("0"));
}

TEST(OptionParsersTest, CodecTags) {
    EXPECT_EQ(ParseCodecTag("XVID"), 0x44495658u);
    EXPECT_EQ(ParseCodecTag("123"), 123u);
    EXPECT_EQ(ParseCodecTag("0x1F"), 31u);
    EXPECT_EQ(ParseCodecTag("$10"), 16u);
    EXPECT_EQ(ParseCodecTag("-1"), 0xFFFFFFFFu);
    EXPECT_EQ(ErrorOf([] { ParseCodecTag("XVI"); }), "tag parameter must be 4 chars or int value");
    EXPECT_THROW(ParseCodecTag("DIVX5"), FFmpegException);
}

TEST(OptionParsersTest, AspectRatios) {
    EXPECT_FLOAT_EQ(ParseAspectRatio("16:9"), 16.0f / 9.0f);
    EXPECT_FLOAT_EQ(ParseAspectRatio("1.5"), 1.5f);
    for (const char* bad : {"4:0", "4:-3", "a:3", "abc", "0"})
        EXPECT_EQ(ErrorOf([&] { ParseAspectRatio(bad); }), "Incorrect aspect ratio specification.")
            << bad;
}

TEST(OptionParsersTest, QuantMatrixNeedsSixtyFourCoefficients) {
    std::string text;
    for (int i = 1; i <= 63; ++i)
        text += std::to_string(i) + ",";
    std::string sixtyThree = text.substr(0, text.size() - 1);
    EXPECT_EQ(ErrorOf([&] { ParseQuantMatrix(sixtyThree); }),
              "Syntax error in matrix \"" + sixtyThree + "\" at coeff 62");
    TQuantMatrix matrix = ParseQuantMatrix(text + "64");
    EXPECT_EQ(matrix[0], 1);
    EXPECT_EQ(matrix[63], 64);
    EXPECT_EQ(ErrorOf([] { ParseQuantMatrix("8"); }), "Syntax error in matrix \"8\" at coeff 0");
}

TEST(OptionParsersTest, Maps) {
    EXPECT_EQ(ParseStreamMap("0.1:2.3"), (TStreamMap{0, 1, 2, 3}));
    EXPECT_EQ(ParseStreamMap("1:0"), (TStreamMap{1, 0, 1, 0}));
    EXPECT_EQ(ParseStreamMap("2"), (TStreamMap{2, 0, 2, 0}));

    TMetadataMap meta = ParseMetadataMap("0,s1:1,c2");
    EXPECT_EQ(meta.Output, (TMetadataMapSide{0, 's', 1}));
    EXPECT_EQ(meta.Input, (TMetadataMapSide{1, 'c', 2}));
    meta = ParseMetadataMap("1,g:0");
    EXPECT_EQ(meta.Output, (TMetadataMapSide{1, 'g', 0}));
    EXPECT_EQ(meta.Input, (TMetadataMapSide{0, 'g', 0}));
    EXPECT_EQ(ErrorOf([] { ParseMetadataMap("0,x:1"); }), "Invalid metadata type x.");

    EXPECT_EQ(ParseChapterMap("1:0"), (TChapterMap{1, 0}));
}

TEST(OptionParsersTest, StreamIdsAndTimestampScales) {
    int index = -1;
    int id = -1;
    ParseStreamId("streamid", "0:256", index, id);
    EXPECT_EQ(index, 0);
    EXPECT_EQ(id, 256);
    const std::string syntax =
        "Invalid value \"5\" for option \"streamid\", required syntax is \"index:value\"";
    EXPECT_EQ(ErrorOf([&] { ParseStreamId("streamid", "5", index, id); }), syntax);
    for (const char* bad : {"a:1", "1:", "-1:3", "20:1"})
        EXPECT_THROW(ParseStreamId("streamid", bad, index, id), FFmpegException) << bad;

    double scale = 0;
    ParseTimestampScale("1:0.5", index, scale);
    EXPECT_EQ(index, 1);
    EXPECT_DOUBLE_EQ(scale, 0.5);
    ParseTimestampScale("0x3,2", index, scale);
    EXPECT_EQ(index, 3);
    EXPECT_DOUBLE_EQ(scale, 2.0);
    EXPECT_EQ(ErrorOf([&] { ParseTimestampScale("20:0.5", index, scale); }),
              "stream index over MAX_STREAMS(20)");
    EXPECT_THROW(ParseTimestampScale("-1:2", index, scale), FFmpegException);
}

TEST(OptionParsersTest, OptionStringLines) {
    std::vector<std::string> lines = SplitOptionLines("  flags=+loop<CRLF>CRF=24\r\nA=b\rx\n ");
    ASSERT_EQ(lines, (std::vector<std::string>{"flags=+loop", "CRF=24", "A=b", "x"}));
    std::string key;
    std::string value;
    SplitOptionLine("CRF=Abc=d", key, value);
    EXPECT_EQ(key, "crf");
    EXPECT_EQ(value, "Abc=d");
    SplitOptionLine("NewVideo", key, value);
    EXPECT_EQ(key, "newvideo");
    EXPECT_EQ(value, "");
    EXPECT_EQ(SplitOptionLines("a=1<CRLF><CRLF>b=2").size(), 3u);
}

} // namespace
