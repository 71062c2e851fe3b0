#pragma once
#include <cstdio>
#include <string>
#include <vector>

namespace pv {

// pixvane-decode: --info FILE, or --out OUT FILE [--frame N] [--size WxH].
// Exit codes: 0 success, 1 the file failed (status on err), 2 bad usage.
int RunDecodeTool(const std::vector<std::wstring>& args, std::FILE* out, std::FILE* err);

}  // namespace pv
