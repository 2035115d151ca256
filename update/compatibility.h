#pragma once
// The checks an image must pass before anything is written to the card:
// does it name the card's platform, and would it put older firmware on the
// card than the card holds now (a downgrade is noted, not refused).

#include <string>

namespace varnel {

class CAdapter;
class CFirmwareFile;
class CPda;
class Host;

// True when the image may be written; then its lines have been appended to
// `summary`. Refusals and questions are message boxes of the main window.
// The adapter must be open. `cancelled` tells a refusal the user chose (Cancel
// on an unreadable RID) from one the check made.
bool CheckImage(const CFirmwareFile& file, const CPda& pda, CAdapter& adapter, Host& host, std::string& summary,
                bool* cancelled = nullptr);

struct CComponentVersion;
// The summary's downgrade line when `image` is older than `card` ("" else):
// "Warning! This is a downgrade for Primary firmware. (1.3.6 --> 1.3.5)\n".
std::string DowngradeLine(const char* component, const CComponentVersion& card, const CComponentVersion& image);
// "1.3.6" as a version (major.minor.variant); nothing when it is not one.
bool ParseComponentVersion(const std::string& text, CComponentVersion& version);

}  // namespace varnel
