// The quality codes, the attempt rule over the preference order, and the order repair.
#include "download/Quality.h"
#include "app/GlobalVars.h"

#include <gtest/gtest.h>

using namespace cw;

TEST(Quality, SummaryListsTheOrderOrNamesTheDefaultStream) {
    EXPECT_EQ(PreferenceSummary(true, DefaultPreferenceOrder),
              "Prefer: [HQ18] > [HQ35] > [HQ22] > [HQ6] > [HQ13] > [HQ17] > [HQ34] > [HQ37]");
    EXPECT_EQ(PreferenceSummary(true, BestAvailablePreferenceOrder),
              "Prefer: [HQ37] > [HQ22] > [HQ35] > [HQ18] > [HQ6] > [HQ34] > [HQ13] > [HQ17]");
    EXPECT_EQ(PreferenceSummary(false, DefaultPreferenceOrder),
              "[Default Quality - HQ5 - (FLV, 400 x 240, Mono 44KHz MP3)]");
}

TEST(Quality, NamesDescriptionsAndExtensionsFallBackToTheDefault) {
    EXPECT_EQ(QualityShortName(3), "[HQ22]");
    EXPECT_EQ(QualityShortName(8), DefaultQualityDescription);
    EXPECT_EQ(QualityDescription("[HQ18]"), "[HQ18] - (MP4(H.264), 640 x 360, Stereo 44KHz AAC)");
    EXPECT_EQ(QualityDescription("[hq18]"), DefaultQualityDescription);
    EXPECT_EQ(QualityExtension(4), ".3gp");
    EXPECT_EQ(QualityExtension(200), ".flv");
    EXPECT_EQ(QualityCodeOfName("[HQ37]"), 7);
    EXPECT_EQ(QualityCodeOfName("[HQ99]"), 0);
    EXPECT_STREQ(QualityInfo(0)->Video, "480 x 36"); // the dialog's row as it reads
}

TEST(Quality, AttemptsWalkTheOrderAndAttemptZeroIsTheDefaultStream) {
    const TPreferenceOrder order = BestAvailablePreferenceOrder; // 37, 22, 35, 18, 6, 34, 13, 17
    EXPECT_EQ(AttemptSlot(0, order), 0);                         // itag 5
    EXPECT_EQ(AttemptName(0, order), DefaultQualityDescription);
    EXPECT_EQ(AttemptExtension(0, order), ".flv");
    EXPECT_EQ(AttemptSlot(1, order), StreamSlotOfItag(37));
    EXPECT_EQ(AttemptName(1, order), "[HQ37]");
    EXPECT_EQ(AttemptExtension(1, order), ".mp4");
    EXPECT_EQ(AttemptSlot(8, order), StreamSlotOfItag(17));
    EXPECT_EQ(AttemptExtension(8, order), ".3gp");
    EXPECT_EQ(StreamSlotOfItag(36), -1);

    TPreferenceOrder damaged = DefaultPreferenceOrder;
    damaged[2] = 9;
    EXPECT_EQ(AttemptSlot(3, damaged), -1); // no address: the attempt fails
    EXPECT_EQ(AttemptExtension(3, damaged), ".flv");
}

TEST(Quality, OrderIsKeptInTheEightSettingsAndRepairedWhenDamaged) {
    TGlobalVars vars;
    SetPreferenceOrder(vars, BestAvailablePreferenceOrder);
    EXPECT_EQ(vars.PreferYouTube1, 7);
    EXPECT_EQ(vars.PreferYouTube18, 5);
    EXPECT_EQ(PreferenceOrder(vars), BestAvailablePreferenceOrder);

    EXPECT_EQ(RepairedPreferenceOrder(BestAvailablePreferenceOrder), BestAvailablePreferenceOrder);
    EXPECT_EQ(RepairedPreferenceOrder({7, 7, 200, 3, 0, 0, 0, 0}),
              (TPreferenceOrder{7, 3, 0, 1, 2, 4, 5, 6}));
}
