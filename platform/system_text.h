#ifndef PLATFORM_SYSTEM_TEXT_H
#define PLATFORM_SYSTEM_TEXT_H

// Windows only: what the system says about an error, and paths as the wide-character calls take
// them. The tool's texts are UTF-8 throughout.

#include <string>

namespace platform {

std::string systemText(unsigned long error);
std::string lastErrorText();
std::wstring wideText(const std::string &utf8);
std::string utf8Text(const std::wstring &wide);

} // namespace platform

#endif // PLATFORM_SYSTEM_TEXT_H
