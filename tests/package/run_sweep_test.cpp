#include "package/run_sweep.h"

#include "common/file_retry.h"

#include <gtest/gtest.h>

#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// The OffPlay folder as a set of facts, shared by any number of launchers.
struct World {
    std::set<int> folders;          // rec_N exists
    std::set<int> clients;          // rec_N\bin\velmar.exe or launcher.exe exists
    std::set<int> runningClients;   // ... and is in use
    std::set<int> heldFiles;        // rec_N holds a file another program keeps open
    std::set<int> archives;         // rec_N.zip exists
    std::set<int> blockedArchives;  // rec_N.zip cannot be created (a folder, a link, held open)
    std::map<int, int> claims;      // number -> launcher holding it
    std::set<int> appearOnClaim;    // folders another launcher makes just before our claim
    // rec_N has no attributes to read, for this reason: not there, or being
    // deleted while a scanner still holds it (Windows says access denied).
    std::map<int, DWORD> unreadable;
    std::vector<std::string> actions;
};

class FakeRuns : public RunFolderOperations {
  public:
    FakeRuns(World& world, int launcher) : world_(world), launcher_(launcher) {}

    bool NameExists(int number) override {
        auto unreadable = world_.unreadable.find(number);
        if (unreadable != world_.unreadable.end()) {
            return PresenceFromAnswer(INVALID_FILE_ATTRIBUTES, unreadable->second) !=
                   NamePresence::Absent;
        }
        return world_.folders.count(number) != 0;
    }
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
    bool DeleteClients(int number) override {
        ExpectClaimed(number, "client");
        if (world_.runningClients.count(number) != 0) {
            return false;
        }
        world_.clients.erase(number);
        return true;
    }
    void RemoveRunFolder(int number) override {
        ExpectClaimed(number, "folder");
        world_.actions.push_back("remove " + std::to_string(number));
        if (world_.heldFiles.count(number) == 0) {
            world_.folders.erase(number);
        }
    }
    bool CreateArchive(int number) override {
        ExpectClaimed(number, "new archive");
        if (world_.blockedArchives.count(number) != 0) {
            return false;
        }
        world_.archives.insert(number);
        world_.actions.push_back("create zip " + std::to_string(number));
        return true;
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
    EXPECT_TRUE(choice.found);
    EXPECT_EQ(runs.HeldClaims(), std::set<int>{1});
    EXPECT_EQ(world.actions, std::vector<std::string>{"create zip 1"});
}

TEST(RunSweep, ANameBeingDeletedIsTakenNeverChosen) {
    const std::pair<DWORD, int> rows[] = {{ERROR_ACCESS_DENIED, 2},
                                          {ERROR_DELETE_PENDING, 2},
                                          {ERROR_FILE_NOT_FOUND, 1},
                                          {ERROR_PATH_NOT_FOUND, 1}};
    for (const auto& row : rows) {
        World world;
        world.unreadable[1] = row.first;
        FakeRuns runs(world, 1);
        EXPECT_EQ(ChooseRunNumber(runs).number, row.second) << row.first;
    }
}

TEST(RunSweep, FinishedRunsGoWholeButTheirNumbersStayTakenForThisRun) {
    World world;
    world.folders = {1, 2, 4};
    world.clients = {1};  // 2 and 4 never got as far as their client
    world.archives = {1, 2, 5};
    FakeRuns runs(world, 1);
    RunChoice choice = ChooseRunNumber(runs);
    EXPECT_EQ(choice.number, 3);
    // rec_5.zip has no folder and stays.
    EXPECT_EQ(world.actions,
              (std::vector<std::string>{"remove 1", "delete zip 1", "remove 2", "delete zip 2",
                                        "create zip 3", "remove 4", "delete zip 4"}));
    EXPECT_TRUE(world.folders.empty());
    EXPECT_EQ(world.archives, (std::set<int>{3, 5}));
    EXPECT_EQ(runs.HeldClaims(), std::set<int>{3});
}

TEST(RunSweep, RunningClientOrHeldFileKeepsFolderAndNumber) {
    World world;
    world.folders = {1, 2};
    world.clients = {1, 2};
    world.runningClients = {1};
    world.heldFiles = {2};  // a scanner holds one of its files open
    world.archives = {1};
    FakeRuns runs(world, 1);
    EXPECT_EQ(ChooseRunNumber(runs).number, 3);
    EXPECT_EQ(world.folders, (std::set<int>{1, 2}));
    EXPECT_EQ(world.actions, (std::vector<std::string>{"delete zip 1", "remove 2", "delete zip 2",
                                                       "create zip 3"}));
    // Released: the next sweep retries the folder that has no client any more.
    world.heldFiles.clear();
    world.claims.clear();
    world.folders.insert(3);  // the run that took 3, its client still running
    world.clients.insert(3);
    world.runningClients.insert(3);
    FakeRuns next(world, 2);
    EXPECT_EQ(ChooseRunNumber(next).number, 4);
    EXPECT_EQ(world.folders, (std::set<int>{1, 3}));
}

TEST(RunSweep, SweepRunsThroughAllNumbersAfterTheChoice) {
    World world;
    world.folders = {2, 99};
    world.clients = {99};
    world.archives = {99};
    FakeRuns runs(world, 1);
    EXPECT_EQ(ChooseRunNumber(runs).number, 1);
    EXPECT_EQ(world.actions, (std::vector<std::string>{"create zip 1", "remove 2", "delete zip 2",
                                                       "remove 99", "delete zip 99"}));
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
    EXPECT_EQ(world.actions, std::vector<std::string>{"create zip 3"});
    EXPECT_EQ(world.clients, std::set<int>{1});
    EXPECT_EQ(world.archives, (std::set<int>{1, 3}));
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

TEST(RunSweep, ArchiveThatCannotBeCreatedPassesTheNumberOn) {
    World world;
    world.blockedArchives = {1, 2};
    FakeRuns runs(world, 1);
    RunChoice choice = ChooseRunNumber(runs);
    EXPECT_EQ(choice.number, 3);
    EXPECT_EQ(runs.HeldClaims(), std::set<int>{3});
    EXPECT_EQ(world.archives, std::set<int>{3});
}

TEST(RunSweep, NoFreeNumberBeforeTheSweepTakesTheLowestItCleared) {
    struct Row {
        const char* what;
        std::set<int> running;  // numbers whose client still runs
        std::set<int> claimedElsewhere;
        std::set<int> blocked;
        int expected;  // 0: no number at all
    };
    std::set<int> all = AllNumbers();
    std::set<int> allBut50 = all;
    allBut50.erase(50);
    const Row rows[] = {
        {"every run finished", {}, {}, {}, 1},
        {"one finished run among running clients", allBut50, {}, {}, 50},
        {"1 held by a run in progress", {}, {1}, {}, 2},
        {"every client running", all, {}, {}, 0},
        {"every number held by runs in progress", {}, all, {}, 0},
        {"no archive can be created", {}, {}, all, 0},
    };
    for (const Row& row : rows) {
        World world;
        world.folders = all;
        world.clients = all;
        world.runningClients = row.running;
        world.blockedArchives = row.blocked;
        for (int n : row.claimedElsewhere) {
            world.claims[n] = 9;
        }
        FakeRuns runs(world, 1);
        RunChoice choice = ChooseRunNumber(runs);
        EXPECT_EQ(choice.found, row.expected != 0) << row.what;
        EXPECT_EQ(choice.number, row.expected) << row.what;
        std::set<int> held = row.expected != 0 ? std::set<int>{row.expected} : std::set<int>{};
        EXPECT_EQ(runs.HeldClaims(), held) << row.what;
        EXPECT_EQ(world.archives, held) << row.what;
    }
}
