// The window classes of the setup window and its title strip: other programs (the test probe, the
// notes benchmark, the NT-road injector) find the running launcher by them.
#pragma once

namespace setup {

inline constexpr wchar_t kSetupWindowClassName[] = L"TarvinSetupWindow";
inline constexpr wchar_t kTitleStripClassName[] = L"TarvinTitleStrip";

}  // namespace setup
