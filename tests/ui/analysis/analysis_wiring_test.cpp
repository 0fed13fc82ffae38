// The main window with its results window: F8 and a drop open it, a chosen
// row's tempo becomes the current tempo and its names go to the save panel,
// Save appends the selected rows to the result file.

#include <gtest/gtest.h>

#include <QCheckBox>
#include <QFile>
#include <QLineEdit>
#include <QMimeData>
#include <QPushButton>
#include <QSignalSpy>
#include <QTableView>
#include <QTest>
#include <QUrl>

#include "core/settings_names.h"
#include "fake_analyser.h"
#include "ui/analysis/analysis_window.h"
#include "ui/fakes.h"
#include "ui/saving/result_saver.h"

namespace pulsaro::testing {
namespace {

QString fileText(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? QString::fromUtf8(file.readAll()) : QString();
}

void drop(QWidget& target, const QStringList& files) {
    QMimeData data;
    QList<QUrl> urls;
    for (const QString& file : files) {
        urls << QUrl::fromLocalFile(file);
    }
    data.setUrls(urls);
    const QPointF at(10, 10);
    QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &enter);
    ASSERT_TRUE(enter.isAccepted());
    QDropEvent dropped(at, Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &dropped);
}

TEST(AnalysisInTheWindow, ChosenTempoAndNamesReachThePanelsAndSavedRowsTheFile) {
    QTemporaryDir dir;
    FakeAnalyser analyser;
    analyser.scripts["one.flac"] = {
        127.98, "", {}, {"Crosby, Stills & Nash", "CSN", "Helplessly", {}}};
    analyser.scripts["two.mp3"] = {92.5, "", {}, {"B", "Album B", "Song B", 92}};
    analyser.scripts["bad.mp3"].error = "Invalid data found when processing input";
    WindowRig rig(1, [](RegistryKey& key) { key.writeInteger(settings::kDelimiter, 1); });
    rig.analyser = &analyser;
    rig.restart();
    MainWindow& form = *rig.form;

    // F8 asks for files; cancelled, nothing opens.
    rig.key(Qt::Key_F8);
    ASSERT_EQ(rig.dialogs.fileRequests.size(), 1U);
    auto* window = form.findChild<AnalysisWindow*>();
    ASSERT_NE(window, nullptr);
    EXPECT_FALSE(window->isVisible());
    rig.dialogs.fileAnswers.push_back(touch(dir, "one.flac"));
    rig.key(Qt::Key_F8);
    EXPECT_TRUE(window->isVisible());
    QSignalSpy done(&window->batch(), &AnalysisBatch::batchFinished);
    ASSERT_TRUE(done.wait(5000));
    // Dropped on the main window, files join the same batch.
    drop(form, {touch(dir, "two.mp3"), touch(dir, "bad.mp3")});
    ASSERT_TRUE(done.wait(5000));
    ASSERT_EQ(window->batch().rowCount(), 3);

    // Enter on the first row: its tempo is current, its names wait in the
    // save panel, an album locked before stays.
    child<QCheckBox>(form, "chkLockAlbumName")->setChecked(true);
    child<QLineEdit>(form, "txtAlbumName")->setText(QStringLiteral("Locked"));
    auto* table = window->findChild<QTableView*>();
    table->setCurrentIndex(table->model()->index(0, 0));
    QTest::keyClick(table, Qt::Key_Return);
    EXPECT_EQ(form.tap().currentBpmValue, 1'279'800);
    EXPECT_EQ(rig.text("lblBPM_Value"), "128.0");
    EXPECT_EQ(child<QLineEdit>(form, "txtNameOfArtist")->text(), "Crosby, Stills & Nash");
    EXPECT_EQ(child<QLineEdit>(form, "txtAlbumName")->text(), "Locked");
    EXPECT_EQ(child<QLineEdit>(form, "txtTrackName")->text(), "Helplessly");

    // Save with every row selected: one record a file with a tempo, names
    // from the tags, a name holding the delimiter quoted.
    table->selectAll();
    window->findChild<QPushButton*>(QStringLiteral("btnAnalysisSave"))->click();
    const QStringList lines =
        fileText(form.parts().saver.resultFile()).split(QStringLiteral("\r\n"));
    ASSERT_EQ(lines.size(), 4) << fileText(form.parts().saver.resultFile()).toStdString();
    EXPECT_EQ(lines[1], "128,118 - 138,\"Crosby, Stills & Nash\",CSN,Helplessly,468.8");
    EXPECT_EQ(lines[2], "92.5,85 - 100,B,Album B,Song B,648.6");
}

}  // namespace
}  // namespace pulsaro::testing
