// A library for the library-search tests.
#include <cstdint>

extern "C" int32_t ProbeAnswer() { return 42; }
