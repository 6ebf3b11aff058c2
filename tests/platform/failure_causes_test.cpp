// The one table of failure causes: every code names one cause, every
// sentence is filled in whole.
#include "platform/failure_causes.h"

#include <gtest/gtest.h>

#include <map>
#include <set>

using platform::FailureCause;

TEST(FailureCauses, EachCodeNamesTheCauseOfItsRowAndEverySentenceIsFilledInWhole) {
    std::map<uint32_t, const char*> owner;
    const platform::CauseDetails details{"drive 2", "/media/card", ", at \"x\" (11%)",
                                         "boot/bzImage differs from the payload", "4096",
                                         "300 MB"};
    for (const platform::FailureCauseRow& row : platform::failureCauses()) {
        SCOPED_TRACE(row.name);
        // A row without codes is told from what the run saw, on either
        // system; a guard held elsewhere and a busy volume have a Windows code
        // but no errno: the Linux backend tells them itself.
        EXPECT_EQ(row.linuxErrnos.empty(), row.windowsCodes.empty() ||
                                               row.cause == FailureCause::AnotherRun ||
                                               row.cause == FailureCause::VolumeBusy);
        for (uint32_t code : row.windowsCodes) {
            EXPECT_TRUE(owner.emplace(code, row.name).second) << code << " is also " << owner[code];
            EXPECT_EQ(platform::causeOfError(code), row.cause) << code;
        }
        const std::string sentence = platform::causeSentence(row.cause, details);
        EXPECT_EQ(sentence.find('{'), std::string::npos) << sentence;
        EXPECT_EQ(sentence.back(), '.') << sentence;
        EXPECT_EQ(&platform::failureCauseRow(row.cause), &row);
    }
    // Every cause but Unknown has its row, once.
    std::set<FailureCause> causes;
    for (const platform::FailureCauseRow& row : platform::failureCauses())
        EXPECT_TRUE(causes.insert(row.cause).second) << row.name;
    EXPECT_EQ(causes.count(FailureCause::Unknown), 0u);
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
