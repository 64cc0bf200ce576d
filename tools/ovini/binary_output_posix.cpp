// Linux: streams are already binary.
#include "binary_output.h"

void UseBinaryStandardOutput() {}
