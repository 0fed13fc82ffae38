#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "media/audio_files.h"
#include "temp_dir.h"

namespace pulsaro::media::test {
namespace {

TEST(AudioFiles, FoldersWalkInByteOrderOnceEachWithProblemsAsRows) {
    TempDir dir;
    const auto root = dir / "crate";
    for (const char* folder : {"crate/sub", "crate/.git"}) {
        std::filesystem::create_directories(dir / folder);
    }
    for (const char* file :
         {"b.mp3", "A.MP3", "a.flac", "notes.txt", "cover.jpg", "b.mp3.part", ".hidden.mp3",
          "._b.mp3", "sub/d.wav", "sub/c.ogg", ".git/e.mp3", "z.Opus"}) {
        std::ofstream(root / file) << "x";
    }
    std::filesystem::create_directory_symlink("..", root / "sub/up");    // a loop
    std::filesystem::create_symlink("sub/c.ogg", root / "zz-link.mp3");  // c.ogg again
    std::filesystem::create_symlink("gone.flac", root / "dangling.mp3");
    const std::vector<InputEntry> expected = {
        {root / "A.MP3", ""},
        {root / "a.flac", ""},
        {root / "b.mp3", ""},
        {root / "dangling.mp3", "is a link that points nowhere"},
        {root / "sub/c.ogg", ""},
        {root / "sub/d.wav", ""},
        {root / "sub/up", "links back to " + root.string() + ", not followed"},
        {root / "z.Opus", ""},
        {root / "notes.txt", ""},  // named, so taken
        {root / ".hidden.mp3", ""},
        {dir / "missing", "does not exist"},
    };
    EXPECT_EQ(collectAudioFiles({root, root / "notes.txt", root / ".hidden.mp3", root / "sub",
                                 root / "b.mp3", dir / "missing"}),
              expected);
}

}  // namespace
}  // namespace pulsaro::media::test
