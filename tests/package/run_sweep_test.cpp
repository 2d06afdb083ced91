#include "package/run_sweep.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// The OffPlay folder as a set of facts, shared by any number of launchers.
struct World {
    std::set<int> folders;         // rec_N exists
    std::set<int> clients;         // rec_N\bin\velmar.exe exists
    std::set<int> runningClients;  // ... and is in use
    std::set<int> archives;        // rec_N.zip exists
    std::map<int, int> claims;     // number -> launcher holding it
    std::set<int> appearOnClaim;   // folders another launcher makes just before our claim
    std::vector<std::string> actions;
};

class FakeRuns : public RunFolderOperations {
  public:
    FakeRuns(World& world, int launcher) : world_(world), launcher_(launcher) {}

    bool NameExists(int number) override { return world_.folders.count(number) != 0; }
    bool Claim(int number) override {
        if (world_.appearOnClaim.erase(number) != 0) {
            world_.folders.insert(number);
        }
        auto held = world_.claims.find(number);
        if (held != world_.claims.end() && held->second != launcher_) {
            return false;
        }
        world_.claims[number] = launcher_;
        return true;
    }
    void Release(int number) override {
        EXPECT_EQ(world_.claims[number], launcher_) << "released a claim it did not hold";
        world_.claims.erase(number);
    }
    bool DeleteClient(int number) override {
        ExpectClaimed(number, "client");
        if (world_.clients.count(number) == 0 || world_.runningClients.count(number) != 0) {
            return false;
        }
        world_.clients.erase(number);
        return true;
    }
    void RemoveRunFolder(int number) override {
        ExpectClaimed(number, "folder");
        world_.folders.erase(number);
        world_.actions.push_back("remove " + std::to_string(number));
    }
    void DeleteArchive(int number) override {
        ExpectClaimed(number, "archive");
        world_.archives.erase(number);
        world_.actions.push_back("delete zip " + std::to_string(number));
    }

    std::set<int> HeldClaims() const {
        std::set<int> held;
        for (const auto& claim : world_.claims) {
            if (claim.second == launcher_) {
                held.insert(claim.first);
            }
        }
        return held;
    }

  private:
    void ExpectClaimed(int number, const char* what) {
        auto held = world_.claims.find(number);
        EXPECT_TRUE(held != world_.claims.end() && held->second == launcher_)
            << what << " of " << number << " touched without its claim";
    }

    World& world_;
    int launcher_;
};

std::set<int> AllNumbers() {
    std::set<int> numbers;
    for (int n = kFirstRunNumber; n <= kLastRunNumber; ++n) {
        numbers.insert(n);
    }
    return numbers;
}

}  // namespace

TEST(RunSweep, NoEarlierRunsGivesOneAndHoldsOnlyThatClaim) {
    World world;
    FakeRuns runs(world, 1);
    RunChoice choice = ChooseRunNumber(runs);
    EXPECT_EQ(choice.number, 1);
    EXPECT_TRUE(choice.claimed);
    EXPECT_EQ(runs.HeldClaims(), std::set<int>{1});
    EXPECT_TRUE(world.actions.empty());
}

TEST(RunSweep, SweptFolderDoesNotFreeItsNumberForThisRun) {
    World world;
    world.folders = {1, 2};
    world.clients = {1};
    world.archives = {1, 2, 5};
    FakeRuns runs(world, 1);
    RunChoice choice = ChooseRunNumber(runs);
    EXPECT_EQ(choice.number, 3);
    // rec_1 goes with its archive; rec_2 has no client and stays, its archive
    // goes; rec_5.zip has no folder and stays.
    EXPECT_EQ(world.actions,
              (std::vector<std::string>{"remove 1", "delete zip 1", "delete zip 2"}));
    EXPECT_EQ(world.folders, std::set<int>{2});
    EXPECT_EQ(world.archives, std::set<int>{5});
    EXPECT_EQ(runs.HeldClaims(), std::set<int>{3});
}

TEST(RunSweep, RunningClientKeepsFolderAndNumber) {
    World world;
    world.folders = {1};
    world.clients = {1};
    world.runningClients = {1};
    world.archives = {1};
    FakeRuns runs(world, 1);
    EXPECT_EQ(ChooseRunNumber(runs).number, 2);
    EXPECT_EQ(world.folders, std::set<int>{1});
    EXPECT_EQ(world.actions, std::vector<std::string>{"delete zip 1"});
}

TEST(RunSweep, SweepRunsThroughAllNumbersAfterTheChoice) {
    World world;
    world.folders = {2, 99};
    world.clients = {99};
    world.archives = {99};
    FakeRuns runs(world, 1);
    EXPECT_EQ(ChooseRunNumber(runs).number, 1);
    EXPECT_EQ(world.actions,
              (std::vector<std::string>{"delete zip 2", "remove 99", "delete zip 99"}));
}

TEST(RunSweep, RunInProgressIsNeitherSweptNorChosen) {
    World world;
    world.folders = {1};
    world.clients = {1};  // extracted already, not yet started
    world.archives = {1};
    world.claims[1] = 7;  // another launcher
    world.claims[2] = 7;  // another launcher, before it made its folder
    FakeRuns runs(world, 1);
    EXPECT_EQ(ChooseRunNumber(runs).number, 3);
    EXPECT_TRUE(world.actions.empty());
    EXPECT_EQ(world.clients, std::set<int>{1});
    EXPECT_EQ(world.archives, std::set<int>{1});
}

TEST(RunSweep, TwoLaunchersNeverShareANumber) {
    World world;
    FakeRuns first(world, 1);
    FakeRuns second(world, 2);
    EXPECT_EQ(ChooseRunNumber(first).number, 1);
    EXPECT_EQ(ChooseRunNumber(second).number, 2);
    // A folder that another launcher creates between the first look and the
    // claim is seen under the claim.
    World racing;
    racing.appearOnClaim = {1};
    FakeRuns late(racing, 3);
    EXPECT_EQ(ChooseRunNumber(late).number, 2);
    EXPECT_EQ(late.HeldClaims(), std::set<int>{2});
}

TEST(RunSweep, AllNumbersTakenFallsBackToLowestClaimable) {
    World world;
    world.folders = AllNumbers();
    world.archives = {1, 50};
    FakeRuns runs(world, 1);
    RunChoice choice = ChooseRunNumber(runs);
    EXPECT_EQ(choice.number, 1);
    EXPECT_TRUE(choice.claimed);
    EXPECT_TRUE(world.archives.empty());
    EXPECT_EQ(runs.HeldClaims(), std::set<int>{1});

    // Number 1 held by a run in progress: its archive must not be reused.
    World busy;
    busy.folders = AllNumbers();
    busy.claims[1] = 9;
    FakeRuns other(busy, 2);
    EXPECT_EQ(ChooseRunNumber(other).number, 2);

    // Every number held elsewhere: nothing may be written.
    World full;
    full.folders = AllNumbers();
    for (int n : AllNumbers()) {
        full.claims[n] = 9;
    }
    FakeRuns last(full, 2);
    RunChoice none = ChooseRunNumber(last);
    EXPECT_EQ(none.number, 1);
    EXPECT_FALSE(none.claimed);
    EXPECT_TRUE(last.HeldClaims().empty());
}
