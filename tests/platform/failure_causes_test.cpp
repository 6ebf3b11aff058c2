// The one table of failure causes: every code names one cause, every
// sentence is filled in whole.
#include "platform/failure_causes.h"

#include <gtest/gtest.h>

#include <map>

using platform::FailureCause;

TEST(FailureCauses, EachCodeNamesTheCauseOfItsRowAndEverySentenceIsFilledInWhole) {
    std::map<uint32_t, const char*> owner;
    const platform::CauseDetails details{"drive 2", "/media/card", ", at \"x\" (11%)"};
    for (const platform::FailureCauseRow& row : platform::failureCauses()) {
        SCOPED_TRACE(row.name);
        EXPECT_FALSE(row.windowsCodes.empty());
        // A busy volume is told by the volume that refused, not by a code.
        EXPECT_EQ(row.linuxErrnos.empty(), row.cause == FailureCause::VolumeBusy);
        for (uint32_t code : row.windowsCodes) {
            EXPECT_TRUE(owner.emplace(code, row.name).second) << code << " is also " << owner[code];
            EXPECT_EQ(platform::causeOfError(code), row.cause) << code;
        }
        const std::string sentence = platform::causeSentence(row.cause, details);
        EXPECT_EQ(sentence.find('{'), std::string::npos) << sentence;
        EXPECT_EQ(sentence.back(), '.') << sentence;
        EXPECT_EQ(&platform::failureCauseRow(row.cause), &row);
    }
    EXPECT_EQ(platform::failureCauses().size(), 7u);
    EXPECT_EQ(platform::causeOfError(0), FailureCause::Unknown);
    EXPECT_EQ(platform::causeOfError(87), FailureCause::Unknown);  // a caller's mistake
    EXPECT_EQ(platform::causeSentence(FailureCause::SectorUnwritable, details),
              "A sector of the card in drive 2 could not be written: the card is failing. Use "
              "another card.");
    EXPECT_EQ(platform::causeSentence(FailureCause::DriveHeld, details),
              "Another program is using drive 2; close it (a file browser, a disk tool, an "
              "antivirus scan) and try again.");
    EXPECT_EQ(platform::causeSentence(FailureCause::CardRemoved, details),
              "The card in drive 2 was removed (or its reader disconnected) during the run, at "
              "\"x\" (11%).");
}
