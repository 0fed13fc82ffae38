// pulsaro --analyze through its function: a scripted analyser for the
// columns and exit codes, and real files made with the ffmpeg tool.

#include "ui/analysis/command_line_analysis.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <cstdlib>
#include <sstream>

#include "fake_analyser.h"

namespace pulsaro::testing {
namespace {

constexpr char kHeader[] = "file\tbpm\tuncertainty\tfirst_beat_s\tartist\talbum\ttitle\tnote\n";

struct Printed {
    int exit;
    std::string out, err;
};

Printed analyze(const std::vector<std::string>& inputs, FileAnalyser* analyser = nullptr) {
    std::ostringstream out, err;
    const int exit = analyser != nullptr ? runAnalyzeCommand(inputs, out, err, *analyser, 3)
                                         : runAnalyzeCommand(inputs, out, err);
    return {exit, out.str(), err.str()};
}

TEST(AnalyzeCommand, PrintsOneLinePerFileInInputOrderAndExitsByWhetherAllHadATempo) {
    QTemporaryDir dir;
    FakeAnalyser analyser;
    analyser.scripts["a.mp3"] = {128.456, "", {}, {"Tab\there", "Line\nbreak", "T", 128}};
    analyser.scripts["b.mp3"] = {90, "", analysis::Outcome::TempoChanges, {}};
    analyser.scripts["bad.mp3"].error = "Invalid data found";
    const std::string a = touch(dir, "a.mp3").toStdString();
    const std::string b = touch(dir, "b.mp3").toStdString();
    const std::string bad = touch(dir, "bad.mp3").toStdString();
    const std::string quiet = touch(dir, "quiet.wav").toStdString();
    const std::string missing = dir.filePath("missing.mp3").toStdString();
    QDir(dir.path()).mkdir("empty");
    const std::string empty = dir.filePath("empty").toStdString();

    const std::string aLine = a + "\t128.46\t0.25\t0.123\tTab here\tLine break\tT\t\n";
    const std::string bLine = b + "\t90.00\t0.25\t0.123\t\t\t\ttempo changes\n";
    struct Case {
        std::vector<std::string> inputs;
        int exit;
        std::string out, err;
    };
    const Case cases[] = {
        {{a, b}, 0, kHeader + aLine + bLine, ""},
        {{b, missing, a, bad, quiet},
         1,
         kHeader + bLine + missing + "\t\t\t\t\t\t\tdoes not exist\n" + aLine + bad +
             "\t\t\t\t\t\t\tInvalid data found\n" + quiet + "\t\t\t\t\t\t\tno beat found\n",
         "pulsaro: " + missing + ": does not exist\npulsaro: " + bad +
             ": Invalid data found\npulsaro: " + quiet + ": no beat found\n"},
        {{empty}, 1, "", "pulsaro: no audio files found\n"},
        {{},
         2,
         "",
         "pulsaro: --analyze needs at least one file or folder\nTry 'pulsaro --help'.\n"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.inputs.empty() ? "no inputs" : c.inputs.front());
        const Printed run = analyze(c.inputs, &analyser);
        EXPECT_EQ(run.exit, c.exit);
        EXPECT_EQ(run.out, c.out);
        EXPECT_EQ(run.err, c.err);
    }
}

TEST(AnalyzeCommand, FindsTheTempoOfARealClickTrackAndNoBeatInSilence) {
    if (std::system("ffmpeg -version > /dev/null 2>&1") != 0) {
        GTEST_SKIP() << "the ffmpeg tool is missing: no test files can be made";
    }
    const auto ffmpeg = [](const std::string& arguments) {
        return std::system(("ffmpeg -nostdin -v error -y " + arguments).c_str()) == 0;
    };
    QTemporaryDir dir;
    const std::string clicks = dir.filePath("clicks.flac").toStdString();
    const std::string silence = dir.filePath("silence.wav").toStdString();
    // A short burst every half second from 0.25 s on: 120 BPM.
    ASSERT_TRUE(
        ffmpeg("-f lavfi -i \"aevalsrc='0.9*sin(2*PI*1500*t)*exp(-mod(t+0.25,0.5)*80)"
               "':s=22050:d=20\" -metadata artist=Drummer -metadata title=Clicks " +
               clicks));
    ASSERT_TRUE(ffmpeg("-f lavfi -i anullsrc=r=22050:cl=mono -t 5 " + silence));

    const Printed run = analyze({clicks, silence});
    EXPECT_EQ(run.exit, 1);
    EXPECT_EQ(run.err, "pulsaro: " + silence + ": no beat found\n");
    const QStringList lines = QString::fromStdString(run.out).split('\n');
    ASSERT_EQ(lines.size(), 4) << run.out;  // header, two files, the final newline
    const QStringList fields = lines[1].split('\t');
    ASSERT_EQ(fields.size(), 8);
    EXPECT_NEAR(fields[1].toDouble(), 120.0, 0.5);
    EXPECT_TRUE(QRegularExpression("^\\d+\\.\\d\\d$").match(fields[2]).hasMatch())
        << fields[2].toStdString();
    EXPECT_TRUE(QRegularExpression("^0\\.2\\d\\d$").match(fields[3]).hasMatch())
        << fields[3].toStdString();
    EXPECT_EQ(fields[4] + fields[6] + fields[7], "DrummerClicks");

    // The same analyser reports rising progress and stops on the flag.
    AudioFileAnalyser analyser;
    std::vector<double> steps;
    const std::atomic<bool> go{false}, stop{true};
    EXPECT_TRUE(analyser
                    .analyse(
                        clicks, [&](double p) { steps.push_back(p); }, go)
                    .hasTempo());
    ASSERT_GT(steps.size(), 10u);
    EXPECT_TRUE(std::is_sorted(steps.begin(), steps.end()));
    EXPECT_DOUBLE_EQ(steps.back(), 1.0);
    EXPECT_THROW(analyser.analyse(clicks, {}, stop), analysis::AnalysisCancelled);
}

}  // namespace
}  // namespace pulsaro::testing
