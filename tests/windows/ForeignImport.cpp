// On the shared C++ runtime, which Windows lacks, so the load check must refuse this DLL.
#include <string>

extern "C" __declspec(dllexport) size_t ForeignLength(const char* text) { return std::string(text).size(); }
