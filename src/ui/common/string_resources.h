#pragma once

// Every text the user can see, in one place. "\n" breaks a line in a message.

namespace pulsaro::res {

inline constexpr char kAppTitle[] = "Pulsaro";

// Status and measurement texts.
inline constexpr char kOn[] = "On";
inline constexpr char kOff[] = "Off";
inline constexpr char kTimeout[] = "Timeout";
inline constexpr char kTime[] = "Time:";
inline constexpr char kHalf[] = "1/2";
inline constexpr char kTwoThirds[] = "2/3";
inline constexpr char kThird[] = "1/3";
inline constexpr char kQuarter[] = "1/4";
inline constexpr char kEighth[] = "1/8";

// Errors.
inline constexpr char kErrorCaption[] = "Error";
inline constexpr char kErrorIn[] = "Error in %s";
// %s: the author's address, the same as the Help menu's.
inline constexpr char kErrorContact[] = "Please contact author, %s";
inline constexpr char kErrorInErrorHandler[] = "Error in ErrorHandler";

// Idle captions; several decisions compare a label with these.
inline constexpr char kIdleBpm[] = "000";
inline constexpr char kIdleBpmInMpm[] = "BPM: 000";
inline constexpr char kIdleTimer[] = "Time: 0";
inline constexpr char kIdleBeats[] = "Beat: 0";
inline constexpr char kIdlePitchRange[] = "Pitchrange(\u00b18%): 000 - 000";
inline constexpr char kIdleMpmSuffix[] = "=00";
inline constexpr char kIdleMpm23[] = "2/3=00";
inline constexpr char kIdleDelayMean[] = "Avg: 000";
inline constexpr char kBeatOne[] = "Beat: 1";
inline constexpr char kBeatsPrefix[] = "Beats: ";
inline constexpr char kAvgPrefix[] = "Avg: ";
inline constexpr char kDesignStatus[] = "OFF";
inline constexpr char kSaving[] = "Saving...";
inline constexpr char kTooFast[] = "Too fast!";
inline constexpr char kTriplets[] = "Triplets";

// Delay table captions, longest note first.
inline constexpr const char* kDelayPrefixes[] = {
    "2x Whole: ", "Whole: ", "Half: ", "Quarter: ", "Eighth: ", "Sixteenth: ", "Thirtysec: "};
inline constexpr char kDelayIdleValue[] = "0";
inline constexpr char kDelayUnknownValue[] = "?";

// Headings and buttons.
inline constexpr char kBpmHeading[] = "B P M";
inline constexpr char kMpmHeading[] = "M P M";
inline constexpr char kDelayHeading[] = "Delay Time Calc";
inline constexpr char kBeat[] = "Beat";
inline constexpr char kReset[] = "Reset (R)";
inline constexpr char kMetronomeButton[] = "M";
inline constexpr char kCredit[] = "Pulsaro 6.5 \u00a9 Orvik software";

// Hints.
inline constexpr char kHintTimer[] = "Last time when you pushed BEAT button.";
inline constexpr char kHintBeats[] = "Number of beats.";
inline constexpr char kHintDelayPanel[] = "Doubleclick to switch to triplets.";
inline constexpr char kHintBeat[] =
    "Click this on the beats. For easy counting, use SPACE when in focus.";
inline constexpr char kHintReset[] = "Reset counter. Shortcut R.";
inline constexpr char kHintBpmValue[] = "Current BPM.";
inline constexpr char kHintMean[] = "This is the mean average bpm value.";
inline constexpr char kHintPitch[] = "This is your BPM -8% and +8%.";
inline constexpr char kHintStatus[] = "Current Counter status.";
inline constexpr char kHintTooFast[] = "Your BPM is 251 or more.";
inline constexpr char kHintBpmInMpm[] = "Exact BPM value.";
inline constexpr char kHintDelayBox[] = "Enter BPM or use BEAT button to count a beat.";
inline constexpr char kHintMetronomeOff[] = "Activate metronome. Shortcut M.";
inline constexpr char kHintMetronomeOn[] = "Disable metronome. Shortcut M.";

// Menus (the key beside an item comes from its row of the command table).
inline constexpr char kMenuFile[] = "&File";
inline constexpr char kMenuSave[] = "&Save...";
inline constexpr char kMenuQuickSave[] = "&QuickSave";
inline constexpr char kMenuMetronome[] = "&Metronome (BPM/MPM)";
inline constexpr char kMenuCopy[] = "Copy to &clipboard";
inline constexpr char kMenuAnalyseFiles[] = "&Analyse files...";
inline constexpr char kMenuListen[] = "&Listen";
inline constexpr char kMenuUseHeardTempo[] = "Use the &heard tempo";
inline constexpr char kMenuAnalysePlaying[] = "Analyse the &playing file";
inline constexpr char kAnalyseFilesCaption[] = "Analyse files";
inline constexpr char kAudioFilesFilter[] =
    "Audio files (*.mp3 *.flac *.wav *.aif *.aiff *.ogg *.oga *.opus *.m4a *.mp4 *.aac *.wma "
    "*.wv *.ape);;All files (*)";
inline constexpr char kMenuSettings[] = "S&ettings...";
inline constexpr char kMenuExit[] = "E&xit";
inline constexpr char kMenuView[] = "&View";
inline constexpr char kMenuAlwaysOnTop[] = "&Always on top";
inline constexpr char kMenuTransparency[] = "&Transparency mode";
inline constexpr char kMenuPlayerOne[] = "Player &one";
inline constexpr char kMenuPlayerTwo[] = "Player &two";
inline constexpr char kMenuPlayerThree[] = "Player t&hree";
inline constexpr char kMenuBpmMode[] = "&BPM mode";
inline constexpr char kMenuMpmMode[] = "M&PM mode";
inline constexpr char kMenuDelayMode[] = "&Delay time calculator mode";
inline constexpr char kMenuHelp[] = "&Help";
inline constexpr char kMenuWebPage[] = "Pulsaro &Web page";
inline constexpr char kMenuSendMail[] = "Send &email to Author";
inline constexpr char kMenuAbout[] = "&About Pulsaro";
// The save panel.
inline constexpr char kSaveHeading[] = "S A V E";
inline constexpr char kSaveBpmCaption[] = "Save BPM: ";
inline constexpr char kSaveMpmCaption[] = "Save MPM";
inline constexpr char kArtistLabel[] = "Artist/&Group:";
inline constexpr char kAlbumLabel[] = "&Album:";
inline constexpr char kTrackLabel[] = "&Trackname:";
inline constexpr char kLock[] = "Lock";
inline constexpr char kSaveButton[] = "&Save";
inline constexpr char kCancelButton[] = "&Cancel";
inline constexpr char kNewButton[] = "&New";
inline constexpr char kHintLockArtist[] = "Lock Artist/group name. Shortcut CTRL-1.";
inline constexpr char kHintLockAlbum[] = "Lock Albumname. Shortcut CTRL-2.";
inline constexpr char kHintFileName[] = "Current file.";
inline constexpr char kHintSave[] = "Save all. Shortcut ENTER.";
inline constexpr char kHintCancel[] = "Abort saving. Shortcut ESC.";
inline constexpr char kHintNewFile[] = "Create a new file with a default name.";
inline constexpr char kSaveFailed[] = "SaveToFile: close file if you have opened it.";
inline constexpr char kNoResultFile[] =
    "No result file is chosen. Choose one with New in the save panel or in the settings.";
// The program's own window menu.
inline constexpr char kWindowAlwaysOnTop[] = "Always on top";
inline constexpr char kWindowTransparency[] = "Transparency mode";
inline constexpr char kWindowDeleteSettings[] = "Delete registry settings...";
inline constexpr char kWindowMinimize[] = "Mi&nimize";
inline constexpr char kWindowClose[] = "&Close";
// The tray icon's menu.
inline constexpr char kTrayRestore[] = "Restore";
inline constexpr char kTrayAlwaysOnTop[] = "Always on top";
inline constexpr char kTrayTransparency[] = "Transparency mode";
inline constexpr char kTrayAbout[] = "About Pulsaro";
inline constexpr char kTrayExit[] = "Exit";
// Player shortcuts.
inline constexpr const char* kRunPlayerCaptions[] = {"Run Player One", "Run Player Two",
                                                     "Run Player Three"};
inline constexpr char kCannotOpenRegistry[] = "Cannot open or read registry.";
inline constexpr char kCannotFind[] = "Cannot find %s.\nFile moved, deleted or renamed.";
// Help menu and About box.
inline constexpr char kVersionText[] = "Version %1.%2 (build %3)";
inline constexpr char kNoSoundOutput[] = "No sound output found";
inline constexpr char kSoundLost[] = "Sound lost: metronome off";
inline constexpr char kCreditLine[] = "Pulsaro \u00a9 Orvik software %s";
inline constexpr char kAboutCaption[] = "About";
inline constexpr char kAboutTitle[] = "Pulsaro - %s";
inline constexpr char kAboutCredit[] = "Copyright \u00a9 2002-2026 Orvik software";
inline constexpr char kCompiled[] = "Compiled: %s";
inline constexpr char kComponents[] =
    "Used third-party components:\n"
    "   Qt 6, https://download.qt.io/official_releases/qt/\n"
    "   PortAudio, https://github.com/PortAudio/portaudio\n"
    "   ALSA library, https://github.com/alsa-project/alsa-lib";
inline constexpr char kTesters[] = "Thanks to everyone who tapped along while it was tested.";
inline constexpr char kWebPageCaption[] = "Pulsaro web page";
inline constexpr char kCannotOpenWebPage[] = "Cannot open webpage.";
inline constexpr char kSendMailCaption[] = "Send eMail";
inline constexpr char kCannotSendMail[] = "Cannot send eMail.";
inline constexpr char kMailSubject[] = "?subject=Pulsaro (%s)";
// The clipboard.
inline constexpr char kClipboardError[] = "Clipboard error!";
inline constexpr char kBpmPrefix[] = "BPM: ";
inline constexpr char kMenuCopyPopup[] = "Copy to clipboard";

}  // namespace pulsaro::res

namespace pulsaro::res {

// Settings.
inline constexpr char kDeleteSettingsQuestion[] = "Delete registry settings made by Pulsaro?";
inline constexpr char kSettingsDeleted[] =
    "Registry settings made by Pulsaro deleted.\nPulsaro will now quit.";
inline constexpr char kCouldNotDeleteSettings[] = "Could not delete registry settings.";

}  // namespace pulsaro::res

namespace pulsaro::res {

// The settings dialog.
inline constexpr char kOptionsCaption[] = "Settings";
inline constexpr char kOptionsOk[] = "OK";
inline constexpr char kOptionsCancel[] = "Cancel";
inline constexpr char kTabFileSaving[] = "Fi&lesaving";
inline constexpr char kTabShortcuts[] = "S&hortcuts";
inline constexpr char kTabMisc[] = "&Misc.";
inline constexpr char kFileTypeLabel[] = "Default &filetype:";
inline constexpr const char* kFileTypes[] = {"CSV", "TXT", "PRN"};
inline constexpr char kDelimiterLabel[] = "&Delimiter:";
inline constexpr const char* kDelimiters[] = {"TAB", "Comma ( , )", "Semikolon ( ; )"};
inline constexpr char kFileNameLabel[] = "File&name when you save your beats:";
inline constexpr char kBrowse[] = "...";
inline constexpr char kQuickSaveNote[] =
    "Note: When you do a QuickSave (F2) the filename get a \"Q_\"-prefix.";
inline constexpr char kDefaultFileName[] = "D&efault filename";
inline constexpr char kHintDefaultFileName[] = "Generate a new filename using selected filetype.";
inline constexpr const char* kShortcutLabels[] = {"Shortcut &1:", "Shortcut &2:", "Shortcut &3:"};
inline constexpr char kMetronomeGroup[] = "Metronome";
inline constexpr char kSoundLabel[] = "Select a metronome &sound:";
inline constexpr const char* kSoundTypes[] = {"Type 1 (default)", "Type 2", "Type 3"};
inline constexpr char kHintPreview[] = "Preview sound.";
inline constexpr char kNoSoundCard[] = "No soundcard installed.";
inline constexpr char kOpacityGroup[] = "&Opacity";
inline constexpr char kHintOpacity[] = "Slide to select opacity.";
inline constexpr char kOpacityPercent[] = "%d %%";
inline constexpr char kOpacityNotAvailable[] = "Not available.";
inline constexpr char kHintOpacityNotAvailable[] = "Not available on this desktop.";
inline constexpr char kTrayGroup[] = "Trayicon";
inline constexpr char kUseTray[] = "Use tra&y when minimizing.";
inline constexpr char kTrayHint[] = "Hint: use SHIFT-ESC to minimize!";
inline constexpr char kCenterGroup[] = "Center window";
inline constexpr char kAlwaysCentered[] = "Always start &centered.";
inline constexpr char kSelectFileName[] = "Select a filename...";
inline constexpr char kResultFileFilter[] =
    "Text file (*.csv);;Text file (*.txt);;Text file (*.prn);;All files (*)";
inline constexpr const char* kProgramCaptions[] = {"Program One...", "Program Two...",
                                                   "Program Three..."};
inline constexpr char kProgramFilter[] = "Programs (*);;All files (*)";
inline constexpr char kClearTapKey[] = "Cl&ear";

}  // namespace pulsaro::res

namespace pulsaro::res {

// Analysing audio files: the window and the command line.
inline constexpr char kAnalysisCaption[] = "Analyse files";
inline constexpr char kAnalysisColumnFile[] = "File";
inline constexpr char kAnalysisColumnArtist[] = "Artist";
inline constexpr char kAnalysisColumnAlbum[] = "Album";
inline constexpr char kAnalysisColumnTitle[] = "Title";
inline constexpr char kAnalysisColumnBpm[] = "BPM";
inline constexpr char kAnalysisColumnUncertainty[] = "\u00b1";
inline constexpr char kAnalysisColumnTagBpm[] = "Tag BPM";
inline constexpr char kAnalysisColumnState[] = "State";
inline constexpr char kAnalysisWaiting[] = "waiting";
inline constexpr char kAnalysisDone[] = "done";
inline constexpr char kAnalysisCancelled[] = "cancelled";
inline constexpr char kTempoChanges[] = "tempo changes";
inline constexpr char kNoBeatFound[] = "no beat found";
inline constexpr char kAnalysisCancel[] = "&Cancel";
inline constexpr char kAnalysisSave[] = "&Save";
inline constexpr char kAnalysisClose[] = "Cl&ose";
inline constexpr char kAnalysisDropHint[] = "Drop audio files or folders here.";
inline constexpr char kHintAnalysisTable[] =
    "ENTER or a double-click takes the row's tempo into the main window.";
inline constexpr char kHintAnalysisCancel[] = "Stop the files still being analysed.";
inline constexpr char kHintAnalysisSave[] = "Save the selected rows' tempi to the result file.";
// %1 files analysed, %2 files in all.
inline constexpr char kAnalysisCount[] = "%1 of %2 files";
// The command line.
inline constexpr char kAnalyzeNoFiles[] = "no audio files found";
inline constexpr char kAnalyzeNeedsInput[] =
    "--analyze needs at least one file or folder\nTry 'pulsaro --help'.";

// Listening, on the line below the panels. %1 the tempo, %2 its +-, %3 the
// state; the line's accessible name begins with "Heard".
inline constexpr char kHeardTempo[] = "Heard: %1 BPM \u00b1 %2, %3";
inline constexpr char kHeardLocked[] = "locked";
inline constexpr char kHeardSettling[] = "listening";
inline constexpr char kHeardListening[] = "Heard: listening...";
inline constexpr char kHeardNoBeat[] = "Heard: no beat";
inline constexpr char kHeardSilence[] = "Heard: no beat, only silence";
// How the last tapped run and the heard beats came together.
inline constexpr char kHeardTapsLocked[] = ", taps on it";
inline constexpr char kHeardTapsOtherTempo[] = ", taps kept: other tempo";
inline constexpr char kHeardTapsOffBeat[] = ", taps kept: off the beat";
// %1 why.
inline constexpr char kListenStopped[] = "Not listening: %1";
inline constexpr char kListenNoServer[] = "no sound server to listen through";
// The visible mark while listening, in the picture strip.
inline constexpr char kListeningMark[] = "LIVE";
// The settings dialog's listening page.
inline constexpr char kTabListening[] = "Listen&ing";
inline constexpr char kListenInputLabel[] = "Listen t&o:";
inline constexpr char kListenDefaultInput[] = "What this computer plays";
inline constexpr char kNamesFromPlayer[] = "Fill in the names of the track a media &player plays";
inline constexpr char kListenHint[] =
    "Listen (F9) hears the tempo of the music; taps made while listening lock onto its "
    "beats. Nothing heard is recorded or kept.";

}  // namespace pulsaro::res
