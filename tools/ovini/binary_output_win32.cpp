// Windows: the C runtime translates line ends on text streams; switch it off.
#include "binary_output.h"

#include <cstdio>
#include <fcntl.h>
#include <io.h>

void UseBinaryStandardOutput() { _setmode(_fileno(stdout), _O_BINARY); }
