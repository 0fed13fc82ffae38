#pragma once

class QLabel;
class QString;

namespace pulsaro {

class MainWindow;

// Gives the window's controls names and descriptions a screen reader can read
// aloud, and makes its value labels read as what they mean ("120.0 BPM",
// "Quarter note: 500 milliseconds"). The labels' names are worked out from
// their current text whenever they are asked for, so they follow every
// setText without being told. Every label also offers, through its text
// interface, exactly the text it draws (for braille displays and flat review).
// Call once, when the window's controls exist.
void makeAccessible(MainWindow& form);

// What a value label of the window reads as, from its object name and current
// text; the text itself for a label it does not know.
QString accessibleReading(const QLabel& label);

}  // namespace pulsaro
