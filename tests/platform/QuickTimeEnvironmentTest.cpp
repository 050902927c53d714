// QuickTimeEnvironment: start initialises the library and then the movie
// services, stop ends them in the reverse order; failures leave nothing
// behind.
#include "platform/QuickTimeEnvironment.h"

#include <gtest/gtest.h>

#include <vector>

#include "QuickTimeTestSupport.h"
#include "platform/QuickTimeLibrary.h"
#include "platform/QuickTimeServices.h"

namespace {

std::vector<uint32_t> selectorsSeen(const RecordingLibrary& recording) {
  std::vector<uint32_t> selectors;
  for (int32_t i = 0; i < recording.count(); ++i) selectors.push_back(recording.call(i)->selector);
  return selectors;
}

const uint32_t kInitialize = 0x001D0008, kTerminate = 0x001D0009;
const uint32_t kEnterMovies = 0x00020001, kExitMovies = 0x00020002;

class Environment : public ::testing::Test {
 protected:
  void SetUp() override {
    held_ = LoadLibraryA(testLibraryPath("recording").c_str());
    ASSERT_NE(held_, nullptr);
    recording_ = RecordingLibrary(held_);
    ASSERT_TRUE(recording_.ok());
    recording_.clear();
    recording_.setNextResult(0);
  }
  void TearDown() override {
    while (initCount > 0) TerminateQTML();
    if (held_) FreeLibrary(held_);
  }
  HMODULE held_ = nullptr;
  RecordingLibrary recording_{nullptr};
};

}  // namespace

TEST_F(Environment, StartAndStopInOrder) {
  QuickTimeEnvironment environment;
  EXPECT_EQ(recording_.count(), 0) << "construction calls nothing";
  ASSERT_TRUE(environment.start());
  EXPECT_EQ(selectorsSeen(recording_), (std::vector<uint32_t>{kInitialize, kEnterMovies}));
  EXPECT_EQ(recording_.call(0)->slots[0] & 0xFFFFFFFFu, 0u) << "flags 0";
  EXPECT_EQ(initCount, 1);
  environment.stop();
  EXPECT_EQ(selectorsSeen(recording_),
            (std::vector<uint32_t>{kInitialize, kEnterMovies, kExitMovies, kTerminate}));
  EXPECT_EQ(initCount, 0);
}

TEST_F(Environment, TwoEnvironmentsInitializeOnceAndTerminateAtTheLastStop) {
  QuickTimeEnvironment first, second;
  ASSERT_TRUE(first.start());
  ASSERT_TRUE(second.start());
  EXPECT_EQ(selectorsSeen(recording_), (std::vector<uint32_t>{kInitialize, kEnterMovies, kEnterMovies}));
  first.stop();
  EXPECT_EQ(initCount, 1);
  EXPECT_EQ(recording_.call(recording_.count() - 1)->selector, kExitMovies);
  second.stop();
  EXPECT_EQ(initCount, 0);
  EXPECT_EQ(recording_.call(recording_.count() - 1)->selector, kTerminate);
}

TEST_F(Environment, MovieServicesFailingMakeStartFailAndUndoItsInitialization) {
  recording_.setNextResult(memFullErr);  // what EnterMovies answers
  QuickTimeEnvironment environment;
  EXPECT_FALSE(environment.start());
  EXPECT_EQ(selectorsSeen(recording_), (std::vector<uint32_t>{kInitialize, kEnterMovies, kTerminate}));
  EXPECT_EQ(initCount, 0);
}

TEST(EnvironmentChild, DISABLED_NoLibrary) {
  QuickTimeEnvironment environment;
  EXPECT_FALSE(environment.start());
  EXPECT_EQ(initCount, 0);
  EXPECT_FALSE(anyQuickTimeLibraryLoaded());
  // Harmless after a failed start.
  environment.stop();
  EXPECT_EQ(initCount, 0);
  EXPECT_EQ(GetMoviesError(), errQtNotInitialized);
}

TEST(EnvironmentWithoutLibrary, StartFailsAndStopIsHarmless) {
  removeRegistryFolders();
  TempFolder folder;
  std::string output;
  EXPECT_EQ(runChildTest("EnvironmentChild.DISABLED_NoLibrary", &folder, &output), 0u) << output;
}
