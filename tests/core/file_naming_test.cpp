#include "core/file_naming.h"

#include <gtest/gtest.h>

#include <set>
#include <stdexcept>
#include <vector>

namespace pulsaro {
namespace {

TEST(ExtensionFor, FollowsTheSelectorAndTheStoredFileType) {
    struct Case {
        const char* extension;
        std::int32_t selector;
        std::optional<std::int32_t> stored;
        const char* expected;
    };
    const Case cases[] = {
        {"dat", 0, 2, "csv"},
        {"dat", 1, 2, "txt"},
        {"dat", 2, 1, "prn"},
        {"dat", 3, 2, "dat"},
        {"", 3, 1, "txt"},
        {"", 3, 2, "prn"},
        {"", 3, 0, "csv"},
        {"", 3, 7, "csv"},
        {"", 3, -1, "csv"},
        {"", 3, std::nullopt, "csv"},
        {"dat", 4, 1, "dat"},
        {"", -1, 1, ""},
        {"TXT", 99, std::nullopt, "TXT"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(extensionFor(c.extension, c.selector, c.stored), c.expected)
            << c.extension << " " << c.selector << " " << c.stored.value_or(-999);
    }
}

struct FakeDisk {
    std::set<std::string> files;
    std::vector<std::string> asked;
    bool exists(const std::string& name) {
        asked.push_back(name);
        return files.count(name) != 0;
    }
};

std::string nameFor(const std::string& extension, const std::string& folder, FakeDisk& disk) {
    return newResultFileName(
        extension, [&] { return folder; },
        [&](const std::string& name) { return disk.exists(name); });
}

TEST(NewResultFileName, TakesTheFirstFreeNumberFillingGaps) {
    struct Case {
        std::set<std::string> present;
        const char* extension;
        const char* expected;
    };
    const Case cases[] = {
        {{}, "csv", "/home/me/Desktop/beats (1).csv"},
        {{"/home/me/Desktop/beats (1).csv", "/home/me/Desktop/beats (3).csv"},
         "csv",
         "/home/me/Desktop/beats (2).csv"},
        {{"/home/me/Desktop/beats (1).csv", "/home/me/Desktop/beats (2).csv"},
         "csv",
         "/home/me/Desktop/beats (3).csv"},
        {{"/home/me/Desktop/beats (1).csv", "/home/me/Desktop/beats (2).txt"},
         "txt",
         "/home/me/Desktop/beats (1).txt"},
    };
    for (const Case& c : cases) {
        FakeDisk disk{c.present, {}};
        EXPECT_EQ(nameFor(c.extension, "/home/me/Desktop/", disk), c.expected);
    }
}

TEST(NewResultFileName, LowerCasesOnlyTheFileNameAndTestsExactlyThatName) {
    FakeDisk disk{{"/Home/Me/Skrivbord/beats (1).txt"}, {}};
    const std::string name = nameFor("TXT", "/Home/Me/Skrivbord/", disk);
    EXPECT_EQ(name, "/Home/Me/Skrivbord/beats (2).txt");
    EXPECT_EQ(disk.asked, (std::vector<std::string>{"/Home/Me/Skrivbord/beats (1).txt",
                                                    "/Home/Me/Skrivbord/beats (2).txt"}));
}

TEST(NewResultFileName, NameAlwaysHasARootedFolder) {
    struct Case {
        const char* folder;
        const char* expected;  // nullptr: refused
    };
    const Case cases[] = {
        {"/home/me", "/home/me/beats (1).csv"},
        {"/", "/beats (1).csv"},
        {"C:\\Users\\me", "C:\\Users\\me\\beats (1).csv"},
        {"\\\\server\\share\\", "\\\\server\\share\\beats (1).csv"},
        {"", nullptr},
        {"Desktop/", nullptr},
        {"./", nullptr},
        {"C:Desktop\\", nullptr},
    };
    for (const Case& c : cases) {
        FakeDisk disk{{"beats (1).csv"}, {}};
        if (c.expected == nullptr) {
            EXPECT_THROW(nameFor("csv", c.folder, disk), std::invalid_argument) << c.folder;
            EXPECT_TRUE(disk.asked.empty()) << c.folder;
        } else {
            EXPECT_EQ(nameFor("csv", c.folder, disk), c.expected) << c.folder;
        }
    }
}

TEST(NewResultFileName, AsksForTheFolderAgainForEveryCandidate) {
    const std::vector<std::string> folders = {"C:\\Old\\", "D:\\New\\", "E:\\Newer\\"};
    std::size_t calls = 0;
    const std::string name = newResultFileName(
        "csv", [&] { return folders[std::min(calls++, folders.size() - 1)]; },
        [](const std::string& candidate) { return candidate == "C:\\Old\\beats (1).csv"; });
    EXPECT_EQ(name, "D:\\New\\beats (2).csv");
    EXPECT_EQ(calls, 2u);
}

int characters(const std::string& text) {
    return static_cast<int>(text.size());
}

// Each step of a path, from the whole path to the bare file name; a width
// just big enough for one step must give exactly that step.
void expectSteps(const std::vector<std::string>& steps) {
    const std::string& path = steps.front();
    for (std::size_t i = 0; i < steps.size(); ++i) {
        const int fits = characters(steps[i]);
        EXPECT_EQ(shortenFileName(path, fits, characters), steps[i]) << "width " << fits;
        if (i + 1 < steps.size()) {
            EXPECT_EQ(shortenFileName(path, fits - 1, characters), steps[i + 1])
                << "width " << fits - 1;
        }
    }
    EXPECT_EQ(shortenFileName(path, 0, characters), steps.back());
    EXPECT_EQ(shortenFileName(path, 1000, characters), path);
}

TEST(ShortenFileName, PosixPathGoesThroughEveryStep) {
    expectSteps({"/home/alice/music/name.csv", "/.../alice/music/name.csv", "/.../music/name.csv",
                 "/.../name.csv", ".../name.csv", "name.csv"});
}

TEST(ShortenFileName, WindowsPathKeepsItsBackslashes) {
    expectSteps({"C:\\Users\\alice\\Music\\name.csv", "C:\\...\\alice\\Music\\name.csv",
                 "C:\\...\\Music\\name.csv", "C:\\...\\name.csv", "...\\name.csv", "name.csv"});
}

TEST(ShortenFileName, RelativePathHasNoRootToDrop) {
    expectSteps({"music/live/beats (1).csv", ".../live/beats (1).csv", ".../beats (1).csv",
                 "beats (1).csv"});
}

TEST(ShortenFileName, PathThatFitsIsUnchanged) {
    const std::string path = "/home/me/Desktop/beats (1).csv";
    EXPECT_EQ(shortenFileName(path, characters(path), characters), path);
}

TEST(ShortenFileName, UsesTheGivenWidthNotTheLength) {
    // A "W" counts double, as if drawn in a wider font.
    const auto width = [](const std::string& text) {
        int total = 0;
        for (const char c : text) {
            total += c == 'W' ? 2 : 1;
        }
        return total;
    };
    EXPECT_EQ(shortenFileName("/WWWW/b/name.csv", 16, width), "/.../b/name.csv");
}

TEST(ShortenFileName, RootedFileWithoutFoldersDropsStraightToTheName) {
    EXPECT_EQ(shortenFileName("C:\\name.csv", 10, characters), "name.csv");
    EXPECT_EQ(shortenFileName("/name.csv", 8, characters), "name.csv");
}

}  // namespace
}  // namespace pulsaro
