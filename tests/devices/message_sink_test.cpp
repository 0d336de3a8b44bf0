// The library's user-facing lines: on standard output exactly as they always
// were while no sink is set, and to the application's sink, line by line, once
// one is.

#include <kinetra/driver.h>
#include <kinetra/message_sink.h>

#include "interface/log_sink.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

constexpr const char* kIncompatibleLine =
    "Incompatible encoder has been configured. Please use either MA702, MA732 or MA600\n";

/// Restores the default sink whatever a test did.
class MessageSinkTest : public ::testing::Test {
protected:
    void TearDown() override { kinetra::setMessageSink({}); }
};

TEST_F(MessageSinkTest, WithoutASinkTheLinesGoToStandardOutputAsBefore) {
    testing::internal::CaptureStdout();
    Driver unconnected(1, nullptr);
    unconnected.clearMAxxxOffAxisCalibration(false);
    {
        kinetra::MessageStream out;
        out << "first" << std::endl << "second\nunended";
    }
    kinetra::writeMessage("API Timeout Error. Make sure your Zarvo is updated to the latest firmware.");
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string(kIncompatibleLine) + "first\nsecond\nunended\n" +
                  "API Timeout Error. Make sure your Zarvo is updated to the latest firmware.\n");
}

TEST_F(MessageSinkTest, ASinkReceivesEachLineWithoutItsEndAndNothingReachesStandardOutput) {
    std::vector<std::string> lines;
    kinetra::setMessageSink([&](const std::string& line) { lines.push_back(line); });
    testing::internal::CaptureStdout();
    Driver unconnected(1, nullptr);
    unconnected.clearMAxxxOffAxisCalibration(true);
    {
        kinetra::MessageStream out;
        out << "a" << std::endl << "\nb";
    }
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "");
    const std::string incompatible(kIncompatibleLine);
    EXPECT_EQ(lines, (std::vector<std::string>{incompatible.substr(0, incompatible.size() - 1), "a", "", "b"}));

    kinetra::setMessageSink({});
    testing::internal::CaptureStdout();
    kinetra::writeMessage("back");
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "back\n");
    EXPECT_EQ(lines.size(), 4u);
}

}  // namespace
