// Puts standard output in binary mode, so that the bytes written are the
// bytes that arrive (the Windows C runtime would turn "\n" into "\r\n").
#pragma once

void UseBinaryStandardOutput();
