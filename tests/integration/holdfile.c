/* Holds a file open without sharing, as a virus scanner or a backup tool
 * may, for the tests under Wine: no other process can open it meanwhile.
 *
 * Usage: holdfile FILE MARKER SECONDS. Once FILE is open it creates the
 * file MARKER, then waits SECONDS and ends. Exit status 1 when FILE cannot
 * be opened. */
#include <stdlib.h>
#include <windows.h>

int main(int argc, char** argv)
{
    if (argc != 4) return 2;
    HANDLE held =
        CreateFileA(argv[1], GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, NULL);
    if (held == INVALID_HANDLE_VALUE) return 1;
    HANDLE marker = CreateFileA(argv[2], GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, NULL);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
    Sleep((DWORD)atoi(argv[3]) * 1000);
    CloseHandle(held);
    return 0;
}
