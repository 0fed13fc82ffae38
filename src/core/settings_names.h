#pragma once

#include <cstdint>

// Every persisted setting: the key, the value names and their defaults.

namespace pulsaro::settings {

inline constexpr char kKeyPath[] = "Software\\Orvik software\\Pulsaro\\6.5";

inline constexpr char kLastUsedCounter[] = "LastUsedCounter";
inline constexpr char kMetronomeActive[] = "MetronomeActive";
inline constexpr char kPlayerOne[] = "PlayerOne";
inline constexpr char kPlayerTwo[] = "PlayerTwo";
inline constexpr char kPlayerThree[] = "PlayerThree";
inline constexpr char kAlwaysOnTop[] = "AlwaysOnTop";
inline constexpr char kMinimizeToTray[] = "MinimizeToTray";
inline constexpr char kCenterForm[] = "CenterForm";
// One value, two spellings: the names match without regard to case.
inline constexpr char kTransparencyLower[] = "transparency";
inline constexpr char kTransparency[] = "Transparency";
inline constexpr char kTransparencyActive[] = "TransparencyActive";
inline constexpr char kLeft[] = "Left";
inline constexpr char kTop[] = "Top";
inline constexpr char kFileName[] = "FileName";
inline constexpr char kFileType[] = "FileType";
inline constexpr char kDelimiter[] = "Delimiter";
// The tempo range analysis prefers where the music leaves the octave open.
inline constexpr char kAnalysisLowestBpm[] = "AnalysisLowestBpm";
inline constexpr char kAnalysisHighestBpm[] = "AnalysisHighestBpm";
inline constexpr char kMetronomeSound[] = "MetronomeSound";
// Listening: on (1) at the next start when left on; the input's name (empty:
// what this computer plays); names of the playing track offered (1, the
// default) or not (0).
inline constexpr char kListening[] = "Listening";
inline constexpr char kListenInput[] = "ListenInput";
inline constexpr char kNamesFromPlayer[] = "NamesFromPlayer";
inline constexpr char kArtist[] = "Artist";
inline constexpr char kAlbum[] = "Album";
// The tempo sent to other music software; each is off (0) until turned on.
inline constexpr char kLinkEnabled[] = "LinkEnabled";
inline constexpr char kLinkQuantum[] = "LinkQuantum";
inline constexpr char kMidiClockOut[] = "MidiClockOut";
inline constexpr char kMidiTapIn[] = "MidiTapIn";
inline constexpr char kMidiTapNote[] = "MidiTapNote";
inline constexpr char kMidiTapController[] = "MidiTapController";
inline constexpr char kGlobalTapKey[] = "GlobalTapKey";

inline constexpr std::int32_t kDefaultOpacity = 25;
inline constexpr std::int32_t kHighestOpacity = 99;
// The result-file type selector that looks at the stored "FileType".
inline constexpr std::int32_t kStoredFileType = 3;

}  // namespace pulsaro::settings
