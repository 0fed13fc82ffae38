#pragma once

#include <QString>

namespace pulsaro {

// The program's version as the About box and the e-mail subject show it:
// "Version 6.5 (build 2968)"; empty when the build has no four-part version.
QString versionText();
// The credit line with the build date in the user's short date format.
QString creditLine();
// "mailto:<author>?subject=Pulsaro (<version text>)", not percent-encoded.
QString mailUri();
// The About box's text.
QString aboutText();

}  // namespace pulsaro
