// Built on the shared C++ runtime (libstdc++-6.dll), which Windows does not
// have: the load check must refuse this DLL.
#include <string>

extern "C" __declspec(dllexport) size_t ForeignLength(const char* text) { return std::string(text).size(); }
